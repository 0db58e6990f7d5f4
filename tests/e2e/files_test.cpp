// End-to-end tests of -x (extract files) and -w (insert host files), checked
// against independent tools: cc1541 and cbmconvert write the images kestrel
// extracts from and read back the images kestrel writes; the files' own bytes,
// lengths and zlib CRCs are the facts. Block layouts are read with the test's
// own zone table, apart from kestrel's geometry.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/cc1541.h"
#include "support/d64_builder.h"
#include "support/d64_zones.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

const size_t kMap = zoneOffset(18, 0);

struct HostFile {
    std::string name;  // host file name: lower-case letters, digits, spaces; the extension gives the type
    std::vector<uint8_t> data;
};

// prefix, number, suffix ("file " 3 ".prg"), built by appending (GCC 12
// warns wrongly about a + that begins with a literal).
std::string numbered(const char *prefix, size_t number, const char *suffix = "") {
    std::string text = prefix;
    text += std::to_string(number);
    text += suffix;
    return text;
}

// Files of the sizes that matter to a chain (one byte, a block's payload and
// one more, several blocks), typed by turns.
std::vector<HostFile> hostFiles(const std::vector<size_t> &sizes, uint32_t seed) {
    const char *types[] = {"prg", "seq", "usr"};
    std::vector<HostFile> files;
    for (size_t i = 0; i < sizes.size(); ++i)
        files.push_back({numbered("file ", i, ".") + types[i % 3],
                         randomBytes(sizes[i], seed + static_cast<uint32_t>(i))});
    return files;
}

const std::vector<size_t> kSizes = {1, 2, 253, 254, 255, 508, 509, 3000, 10160, 20000};

// CRC-32 (ISO-HDLC) bit by bit, as the standard defines it.
uint32_t crc32Of(const std::vector<uint8_t> &data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

std::string upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string stemOf(const std::string &name) { return name.substr(0, name.rfind('.')); }
std::string extensionOf(const std::string &name) { return name.substr(name.rfind('.') + 1); }

int run(const std::string &command, std::string *out = nullptr) {
    int status = -1;
    std::string text = shellOutput(command + " 2>&1", &status);
    if (out) *out = text;
    return status;
}

// A blank 35-track image written by cc1541.
void makeBlank(const TempDir &dir, const std::string &image) {
    ASSERT_EQ(run("cd '" + dir.path + "' && cc1541 -q -n blank -i 'bk' " + image), 0);
}

// The blocks of a chain, "t/s" each, followed with the test's own zone table.
std::vector<std::string> chainOf(const std::vector<uint8_t> &image, int track, int sector) {
    std::vector<std::string> blocks;
    while (track != 0 && blocks.size() < 800) {
        blocks.push_back(std::to_string(track) + "/" + std::to_string(sector));
        size_t at = zoneOffset(track, sector);
        track = image[at];
        sector = image[at + 1];
    }
    return blocks;
}

// The directory's used slots (32 bytes each, from 18/0's link on; from 40/0's
// on a D81, told by its size, whose directory lies on track 40 alone).
std::vector<std::vector<uint8_t>> usedSlots(const std::vector<uint8_t> &image) {
    std::vector<std::vector<uint8_t>> slots;
    bool d81 = image.size() == 819200;
    auto offset = [&](int track, int sector) { return d81 ? (39 * 40 + sector) * 256u : zoneOffset(track, sector); };
    int track = image[offset(18, 0)], sector = image[offset(18, 0) + 1];
    for (int blocks = 0; track != 0 && blocks < 40; ++blocks) {
        size_t at = offset(track, sector);
        for (int i = 0; i < 8; ++i)
            if (image[at + 32 * i + 2] != 0) slots.emplace_back(image.begin() + at + 32 * i, image.begin() + at + 32 * i + 32);
        track = image[at];
        sector = image[at + 1];
    }
    return slots;
}

// Every track's stored free count agrees with its bits; returns the sum over
// tracks 1-35 without 18, the blocks-free figure.
int consistentFreeCount(const std::vector<uint8_t> &image) {
    int free = 0;
    for (int track = 1; track <= 35; ++track) {
        const uint8_t *entry = &image[kMap + 4 * track];
        int bits = 0;
        for (int sector = 0; sector < zoneSectors(track); ++sector) bits += entry[1 + sector / 8] >> (sector % 8) & 1;
        EXPECT_EQ(entry[0], bits) << "track " << track;
        if (track != 18) free += bits;
    }
    return free;
}

// Extracts every file of `image` (as PC64 files with pc64) into a fresh
// folder `into` (inside dir) and returns the files by name.
std::map<std::string, std::vector<uint8_t>> extractAll(const TempDir &dir, const std::string &image,
                                                       const std::string &into, RunResult *result = nullptr,
                                                       bool pc64 = false) {
    run("mkdir '" + dir.file(into) + "'");
    std::vector<std::string> args = {"-x", dir.file(image)};
    if (pc64) args.push_back("-p00");
    RunResult extracted = runBinary(args, dir.file(into));
    EXPECT_EQ(extracted.status, 0) << extracted.out << extracted.err;
    if (result) *result = extracted;
    std::map<std::string, std::vector<uint8_t>> files;
    for (const std::string &name : listFolder(dir.file(into))) files[name] = readBytes(dir.file(into + "/" + name));
    return files;
}

// The same file names, and under each the same bytes (named when they differ).
void expectSameFiles(const std::map<std::string, std::vector<uint8_t>> &actual,
                     const std::map<std::string, std::vector<uint8_t>> &expected) {
    std::vector<std::string> actualNames, expectedNames;
    for (const auto &[name, data] : actual) actualNames.push_back(name);
    for (const auto &[name, data] : expected) expectedNames.push_back(name);
    ASSERT_EQ(actualNames, expectedNames);
    for (const auto &[name, data] : expected) EXPECT_TRUE(actual.at(name) == data) << name << " differs";
}

std::map<std::string, std::vector<uint8_t>> byName(const std::vector<HostFile> &files) {
    std::map<std::string, std::vector<uint8_t>> map;
    for (const HostFile &file : files) map[file.name] = file.data;
    return map;
}

}  // namespace

// ================================================================ extraction

// Images written by cc1541 and by cbmconvert from host files: -x gives back
// exactly those files, under the names the tools were given, and prints one
// line per file with its entry number and length.
TEST(Extract, GivesBackTheFilesOtherToolsWrote) {
    if (!haveProgram("cc1541") || !haveProgram("cbmconvert")) GTEST_SKIP() << "cc1541 or cbmconvert missing";
    std::vector<HostFile> files = hostFiles(kSizes, 100);
    for (const char *maker : {"cc1541", "cbmconvert"}) {
        SCOPED_TRACE(maker);
        TempDir dir;
        std::string command = "cd '" + dir.path + "/in' && ";
        run("mkdir '" + dir.file("in") + "'");
        std::vector<HostFile> made = files;
        if (std::string(maker) == "cbmconvert") made.push_back({"empty.prg", {}});  // cc1541 refuses empty files
        for (const HostFile &file : made) writeBytes(dir.file("in/" + file.name), file.data);
        if (std::string(maker) == "cc1541") {
            command += "cc1541 -q";
            for (const HostFile &file : made)
                command += " -T " + upper(extensionOf(file.name)) + " -f '" + stemOf(file.name) + "' -w '" + file.name + "'";
            command += " ../disk.d64";
        } else {
            command += "cbmconvert -n -D4 ../disk.d64";
            for (const HostFile &file : made) command += " '" + file.name + "'";
        }
        std::string out;
        ASSERT_EQ(run(command, &out), 0) << out;

        RunResult result;
        expectSameFiles(extractAll(dir, "disk.d64", "out", &result), byName(made));
        std::vector<std::string> lines = splitLines(result.out);
        ASSERT_EQ(lines.size(), made.size());
        for (size_t i = 0; i < made.size(); ++i) {
            char line[120];
            size_t bytes = made[i].data.size();
            std::snprintf(line, sizeof line, "%3zu: %s (%zu byte%s)", i, made[i].name.c_str(), bytes, bytes == 1 ? "" : "s");
            EXPECT_EQ(lines[i], line);
        }
    }
}

// Names as the rule gives them, whatever bytes the disk holds: separators,
// dots, control codes, '%', 0x00, graphics, device names, trailing dots and
// spaces, an empty name, bytes after the first 0xA0, and names shared by two
// entries; in a directory that loops. Everything lands in the working folder
// and nowhere else.
TEST(Extract, HostileNamesGiveSafeNamesInsideTheFolder) {
    struct Case {
        std::string name;  // 16 disk bytes at most (0xA0 ends it)
        uint8_t type;
        std::string host;
    };
    const std::vector<Case> cases = {
        {"A/B", 0x82, "a%2Fb.prg"},
        {"..", 0x81, ".%2E.seq"},
        {".", 0x82, "%2E.prg"},
        {"..%2F..%2FX", 0x82, "..%252f..%252fx.prg"},
        {"A\\B:C", 0x83, "a%5Cb%3Ac.usr"},
        {std::string("\x01\x0d\x1b[2J", 6), 0x82, "%01%0D%1B[2j.prg"},
        {std::string("NUL\0BYTE", 8), 0x82, "nul%00byte.prg"},
        {"CON", 0x82, "co%4E.prg"},
        {"NUL.TXT", 0x82, "nu%4C.txt.prg"},
        {"COM1", 0x81, "co%4D1.seq"},
        {"LPT9 .X", 0x82, "lp%549 .x.prg"},
        {"COM0", 0x82, "co%4D0.prg"},
        {"LPT0", 0x81, "lp%540.seq"},
        {"DOT.", 0x82, "dot%2E.prg"},
        {"SPACE ", 0x82, "space%20.prg"},
        {"", 0x82, "%A0.prg"},
        {"AB\xa0" "CD", 0x82, "ab.prg"},
        {"*?\"<>|~", 0x84, "%2A%3F%22%3C%3E%7C%7E.rel"},
        {"\xc1\x61\xff", 0x85, "%C1%61%FF.bin"},
        {"SAME", 0x82, "same~1.prg"},
        {"SAME", 0x82, "same~2.prg"},
        {"SAME", 0x81, "same.seq"},
        {"1!#$&'()+,-;=@[", 0x82, "1!#$&'()+,-;=@[.prg"},
        {"]^_", 0x80, "]^_.del"},
    };
    ImageBuffer image = formatImage();
    std::map<std::string, std::vector<uint8_t>> expected;
    for (size_t i = 0; i < cases.size(); ++i) {
        std::vector<uint8_t> data = randomBytes(40 + 97 * i, static_cast<uint32_t>(i));
        addFile(image, data, cases[i].name, cases[i].type);
        expected[cases[i].host] = data;
    }
    // The directory's last block leads back to its first, through 17/22, a
    // sector beyond track 17 whose bytes are those of 18/1: the listing shows
    // the entries again and again, yet each is one file.
    std::string last = chainOf(bytesOf(image), 18, 1).back();
    linkBlock(image, 18, std::stoi(last.substr(3)), 17, 22);
    TempDir dir;
    writeImage(dir.file("hostile.d64"), image);
    expectSameFiles(extractAll(dir, "hostile.d64", "out"), expected);
    EXPECT_EQ(listFolder(dir.path), (std::vector<std::string>{"hostile.d64", "out"}));
}

// The payload written is the one the listing measures (-vf bytes, -vc CRC),
// also for chains that stop early: a loop, a link beyond the image, a chain
// through a sector past its track's end, a REL file (its data chain only).
TEST(Extract, WritesThePayloadTheListingMeasures) {
    ImageBuffer image = formatImage();
    TrackSector loop = addFile(image, randomBytes(1000, 1), "LOOP");
    std::string last = chainOf(bytesOf(image), loop.track, loop.sector).back();
    linkBlock(image, std::stoi(last), std::stoi(last.substr(last.find('/') + 1)), loop.track, loop.sector);
    TrackSector cut = addFile(image, randomBytes(700, 2), "CUT");
    linkBlock(image, cut.track, cut.sector, 36, 0);  // a 35-track image holds no track 36
    addFile(image, randomBytes(600, 3), "REL", 0x84);
    TrackSector odd = addFile(image, randomBytes(300, 4), "ODD");
    linkBlock(image, odd.track, odd.sector, 17, 25);  // sector 25 of 17 lies where 18/4 does
    linkBlock(image, 18, 4, 0, 101);
    TempDir dir;
    writeImage(dir.file("damaged.d64"), image);
    RunResult listing = runBinary({"-vnfc", "damaged.d64"}, dir.path);
    ASSERT_EQ(listing.status, 0);
    std::map<std::string, std::vector<uint8_t>> files = extractAll(dir, "damaged.d64", "out");
    ASSERT_EQ(files.size(), 4u);
    std::vector<std::string> lines = splitLines(listing.out);
    const char *names[] = {"loop.prg", "cut.prg", "rel.rel", "odd.prg"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        const std::vector<uint8_t> &data = files[names[i]];
        // The line ends with the bytes and check-sum columns.
        std::string line = lines[1 + i];
        size_t crcAt = line.find_last_of(' ') + 1;
        size_t bytesAt = line.find_last_not_of(' ', crcAt - 1);
        bytesAt = line.find_last_of(' ', bytesAt) + 1;
        EXPECT_EQ(std::stoul(line.substr(bytesAt)), data.size()) << line;
        EXPECT_EQ(std::stoul(line.substr(crcAt)), crc32Of(data)) << line;
    }
    EXPECT_EQ(files["rel.rel"], randomBytes(600, 3));
    // A range takes its last entry too.
    run("mkdir '" + dir.file("range") + "'");
    ASSERT_EQ(runBinary({"-x", "1", "2", dir.file("damaged.d64")}, dir.file("range")).status, 0);
    EXPECT_EQ(listFolder(dir.file("range")), (std::vector<std::string>{"cut.prg", "rel.rel"}));
    EXPECT_EQ(readBytes(dir.file("range/rel.rel")), files["rel.rel"]);
}

// A disk whose directory lists one 600-block chain `times` times, as
// aliases (cc1541 -l makes a few; a hostile directory makes many).
ImageBuffer aliasedImage(int times) {
    ImageBuffer image = formatImage();
    TrackSector start = addFile(image, randomBytes(600 * 254, 3), "BIG");
    for (int i = 1; i < times; ++i) addRawEntry(image, 0x82, start.track, start.sector, "BIG " + std::to_string(i), 600);
    return image;
}

// Refusals write nothing: an existing file of a name (not replaced, nothing
// else written), numbers that name no file, an entry edit that needs the
// listing -x replaces, files that would come to more than 8 times the
// image's size (the files written before the bound taken back).
TEST(Extract, RefusesWithoutWritingAnything) {
    ImageBuffer image = formatImage();
    addFile(image, randomBytes(100, 1), "FIRST");
    addFile(image, randomBytes(3000, 2), "SECOND");
    addRawEntry(image, 0x80, 0, 0, "NO FILE", 0);
    ImageBuffer aliased = aliasedImage(10);  // 10 x 152,400 bytes: past 8 x 174,848
    struct Case {
        const char *what;
        std::vector<std::string> args;
        bool existing;  // second.prg is there before the run
        std::string message;
        const ImageBuffer *disk = nullptr;  // disk.d64, when not `image`
    };
    const std::vector<Case> cases = {
        {"an existing file", {"-x", "disk.d64"}, true, "ERROR: 'second.prg' exists already"},
        {"numbers without an entry", {"-x", "3", "9", "disk.d64"}, false, "ERROR: No entry numbered 3 to 9"},
        {"an entry without a file", {"-x", "2", "disk.d64"}, false, "ERROR: No entry numbered 2 to 2"},
        {"an entry edit", {"-rd", "0", "-x", "disk.d64"}, false, "ERROR: '-rd' cannot be combined with '-x'"},
        {"-into without -x", {"-into", "out", "disk.d64"}, false, "ERROR: '-into' names the folder for '-x'"},
        {"a folder named as an image", {"-x", "disk.d64", "."}, false, "ERROR: '.' is a folder, not an image"},
        {"one chain listed many times", {"-x", "disk.d64"}, false,
         "ERROR: The files would come to more than 1398784 bytes, 8 times the image's size (its directory names "
         "the same blocks many times); nothing was extracted.", &aliased},
        {"and so over many images", {"-x", "disk.d64", "disk.d64", "-into", "out"}, false,
         "ERROR: The files would come to more than 1398784 bytes", &aliased},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeImage(dir.file("disk.d64"), c.disk ? *c.disk : image);
        if (c.existing) writeBytes(dir.file("second.prg"), {1, 2, 3});
        std::vector<std::string> before = listFolder(dir.path);
        RunResult result = runBinary(c.args, dir.path);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(contains(result.err, c.message)) << result.err;
        EXPECT_EQ(listFolder(dir.path), before);
        if (c.existing) {
            EXPECT_EQ(readBytes(dir.file("second.prg")), (std::vector<uint8_t>{1, 2, 3}));
        }
    }
    // A few aliases stay below the bound: each is written.
    TempDir dir;
    writeImage(dir.file("disk.d64"), aliasedImage(3));
    RunResult few = runBinary({"-x", "disk.d64"}, dir.path);
    EXPECT_EQ(few.status, 0) << few.err;
    EXPECT_EQ(listFolder(dir.path), (std::vector<std::string>{"big 1.prg", "big 2.prg", "big.prg", "disk.d64"}));
}

// -x over many images, and -into: each image's files in a folder of its own,
// named by the host-name rule ("~1", "~2" where names meet in any case) inside
// the -into folder, made where missing; an image that fails writes nothing,
// the others are extracted all the same.
TEST(Extract, IntoFoldersOfTheirOwn) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 missing";
    std::vector<HostFile> files = hostFiles({300, 2000}, 60);  // "file 0.prg", "file 1.seq"
    struct Case {
        const char *what;
        std::vector<std::string> args;
        std::vector<std::string> folders;  // those holding the files, in the order of the images
        int status;
        std::string err;
        const char *existing;  // a file there before the run, or ""
    };
    const std::vector<Case> cases = {
        {"one image into a folder made for it", {"-x", "one.d64", "-into", "out/deep"}, {"out/deep"}, 0, "", ""},
        {"a folder each, named by the rule", {"-x", "one.d64", "two disk.d64", "Trail .d64", "-into", "out/"},
         {"out/one", "out/two disk", "out/Trail%20"}, 0, "", ""},
        {"names meet in any case", {"-x", "one.d64", "sub/one.D64", "-into", "."}, {"./one~1", "./one~2"}, 0, "", ""},
        {"an image that cannot be read", {"-x", "one.d64", "missing.d64", "Trail .d64"}, {"one", "Trail%20"}, 1,
         "ERROR: File 'missing.d64' not found.\n", ""},
        {"a file there already", {"-x", "one.d64", "two disk.d64"}, {"one"}, 1,
         "ERROR: 'two disk/file 1.seq' exists already; nothing was extracted.\n", "two disk/file 1.seq"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string command = "cd '" + dir.path + "' && cc1541 -q";
        for (const HostFile &file : files) {
            writeBytes(dir.file(file.name), file.data);
            command += " -T " + upper(extensionOf(file.name)) + " -f '" + stemOf(file.name) + "' -w '" + file.name + "'";
        }
        ASSERT_EQ(run(command + " one.d64 && mkdir sub && cp one.d64 sub/one.D64 && cp one.d64 'two disk.d64' && "
                                "cp one.d64 'Trail .d64'"), 0);
        if (*c.existing) {
            ASSERT_EQ(run("cd '" + dir.path + "' && mkdir -p \"$(dirname '" + c.existing + "')\" && touch '" +
                          c.existing + "'"), 0);
        }
        RunResult result = runBinary(c.args, dir.path);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
        for (const std::string &folder : c.folders) {
            std::map<std::string, std::vector<uint8_t>> written;
            for (const std::string &name : listFolder(dir.file(folder)))
                written[name] = readBytes(dir.file(folder + "/" + name));
            expectSameFiles(written, byName(files));
            EXPECT_TRUE(contains(result.out, "  1: " + folder + "/file 1.seq (2000 bytes)\n")) << result.out;
        }
        if (*c.existing) {
            std::string folder = c.existing;
            EXPECT_EQ(listFolder(dir.file(folder.substr(0, folder.rfind('/')))), std::vector<std::string>{"file 1.seq"});
        }
    }
}

// A file that cannot be written halfway through (a file-size limit lets the
// 100-byte file through, not the 3000-byte one): the file written before it
// is taken back, status 1.
TEST(Extract, FileSizeLimitTakesBackTheFilesWritten) {
    ImageBuffer image = formatImage();
    addFile(image, randomBytes(100, 1), "FIRST");
    addFile(image, randomBytes(3000, 2), "SECOND");
    TempDir dir;
    writeImage(dir.file("disk.d64"), image);
    int status = -1;
    shellOutput("cd '" + dir.path + "' && ulimit -f 2 && '" + kestrelBinary() + "' -x disk.d64 >/dev/null 2>err.txt",
                &status);
    std::vector<uint8_t> err = readBytes(dir.file("err.txt"));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_TRUE(contains(std::string(err.begin(), err.end()), "ERROR: Could not write 'second.prg'"));
    EXPECT_EQ(listFolder(dir.path), (std::vector<std::string>{"disk.d64", "err.txt"}));
}

// ================================================================= insertion

namespace {

// One entry of cc1541's listing: blocks, name and type as it shows them.
struct CcEntry {
    int blocks;
    std::string name;
    std::string type;
    bool operator==(const CcEntry &other) const = default;
};

std::vector<CcEntry> ccEntries(const TempDir &dir, const std::string &image, std::string *blocksFree = nullptr) {
    CcListing listing = ccList(dir, image);
    if (blocksFree) *blocksFree = listing.blocksFree;
    std::vector<CcEntry> entries;
    for (const std::string &line : listing.entries) {
        size_t open = line.find('"'), close = line.find('"', open + 1);
        size_t type = line.find_first_not_of(' ', close + 1);
        entries.push_back({std::stoi(line), line.substr(open + 1, close - open - 1), line.substr(type, 3)});
    }
    return entries;
}

// kestrel's own check of an image it wrote: no error, no warning.
void expectCheckFindsNothing(const TempDir &dir, const std::string &image) {
    RunResult check = runBinary({"-check", image}, dir.path);
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_EQ(check.out.rfind("0 errors, 0 warnings;", 0), 0u) << check.out;
}

int blocksOf(size_t bytes) { return bytes == 0 ? 1 : static_cast<int>((bytes + 253) / 254); }

// Runs kestrel -w for each file (written into dir first, its -w... options
// from `settings` before it) on `image`, writing out.d64.
RunResult insert(const TempDir &dir, const std::string &image, const std::vector<HostFile> &files,
                 const std::vector<std::vector<std::string>> &settings = {}) {
    std::vector<std::string> args;
    for (size_t i = 0; i < files.size(); ++i) {
        const HostFile &file = files[i];
        if (i < settings.size()) args.insert(args.end(), settings[i].begin(), settings[i].end());
        writeBytes(dir.file(file.name), file.data);
        args.push_back("-w");
        args.push_back(file.name);
    }
    args.push_back(image);
    args.push_back("out.d64");
    return runBinary(args, dir.path);
}

}  // namespace

// Files inserted into a blank image: cc1541 lists them with their names, types
// and block counts and the right free count, cbmconvert extracts exactly their
// bytes, the map's counts agree with its bits, and -check finds nothing. One
// set is files of many sizes, one a file of 664 blocks, which fills every
// track, track 1 included.
TEST(Insert, OtherToolsReadBackWhatWasInserted) {
    if (!haveProgram("cc1541") || !haveProgram("cbmconvert")) GTEST_SKIP() << "cc1541 or cbmconvert missing";
    std::vector<HostFile> sizes = hostFiles(kSizes, 200);
    sizes.push_back({"empty.prg", {}});
    const std::vector<HostFile> fileSets[] = {sizes, {{"whole disk.prg", randomBytes(664 * 254, 201)}}};
    for (const std::vector<HostFile> &files : fileSets) {
        SCOPED_TRACE(files[0].name);
        TempDir dir;
        makeBlank(dir, "blank.d64");
        RunResult result = insert(dir, "blank.d64", files);
        ASSERT_EQ(result.status, 0) << result.err;
        std::vector<uint8_t> image = readBytes(dir.file("out.d64"));
        std::vector<std::vector<uint8_t>> slots = usedSlots(image);
        std::vector<std::string> lines = splitLines(result.out);
        ASSERT_EQ(slots.size(), files.size());
        std::vector<CcEntry> expected;
        int used = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(files[i].name);
            int blocks = blocksOf(files[i].data.size());
            used += blocks;
            std::string type = extensionOf(files[i].name);
            expected.push_back({blocks, stemOf(files[i].name), type});
            // "  N: "NAME" TYPE, B blocks from T/S, interleave 10", the start being the entry's.
            std::string upperName = upper(stemOf(files[i].name)), upperType = upper(type);
            char line[120];
            std::snprintf(line, sizeof line, "%3zu: \"%s\" %s, %i block%s from %i/%i, interleave 10", i,
                          upperName.c_str(), upperType.c_str(), blocks, blocks == 1 ? "" : "s", slots[i][3],
                          slots[i][4]);
            EXPECT_EQ(lines[i], line);
            EXPECT_EQ(chainOf(image, slots[i][3], slots[i][4]).size(), static_cast<size_t>(blocks));
            EXPECT_EQ(std::vector<uint8_t>(slots[i].begin() + 21, slots[i].begin() + 30), std::vector<uint8_t>(9, 0));
        }
        std::string blocksFree;
        EXPECT_EQ(ccEntries(dir, "out.d64", &blocksFree), expected);
        EXPECT_EQ(blocksFree, std::to_string(664 - used) + " blocks free.");
        EXPECT_EQ(consistentFreeCount(image), 664 - used);
        expectCheckFindsNothing(dir, "out.d64");

        run("mkdir '" + dir.file("cbm") + "'");
        std::string out;
        ASSERT_EQ(run("cd '" + dir.file("cbm") + "' && cbmconvert -N -d ../out.d64", &out), 0) << out;
        std::map<std::string, std::vector<uint8_t>> extracted;
        for (const std::string &name : listFolder(dir.file("cbm")))
            extracted[name] = readBytes(dir.file("cbm/" + name));
        expectSameFiles(extracted, byName(files));
    }
}

// Where the blocks go, as a 1541 places them: the first block on the track
// nearest the directory with room (17, 19, 16, ...), at its lowest free
// sector; every next one ten sectors on, wrapped round the way the drive
// wraps (20 + 10 on 21 sectors is 8); a full track passes on to the next one
// outwards with the same count, and past track 1 the file crosses to 19
// (starting over from sector 0, so 10 comes first). Never track 18, never a
// block that a listed file uses though the map calls it free. Also: the
// entry's slot and number, and a directory that grows by a block. The -w...
// options move the first block and change the step; the drive's arithmetic
// stays (17/20 + 4 wraps to 17/2). A replaced file keeps its slot, and its
// blocks are free only afterwards.
TEST(Insert, PlacesBlocksAsA1541Does) {
    struct Case {
        const char *what;
        ImageBuffer image;
        std::vector<size_t> sizes;                  // one host file each, inserted in order
        std::vector<std::vector<std::string>> chains;  // expected chain of each
        std::vector<int> numbers;                   // expected entry number of each
        std::string warning;                        // on standard error ("" for none)
        std::vector<std::vector<std::string>> settings = {};  // options before each -w
        int interleave = 10;                        // the lines show it
        int blocksFree = -1;                        // by the map afterwards; -1: not looked at
        const char *type = "PRG";                   // the first file's type as its line shows it
    };
    std::vector<Case> cases;
    cases.push_back({"a blank disk", formatImage(), {25 * 254, 2 * 254},
                     {{"17/0", "17/10", "17/20", "17/8", "17/18", "17/6", "17/16", "17/4", "17/14", "17/2", "17/12",
                       "17/1", "17/11", "17/3", "17/13", "17/5", "17/15", "17/7", "17/17", "17/9", "17/19", "16/7",
                       "16/17", "16/5", "16/15"},
                      {"19/0", "19/10"}},
                     {0, 1},
                     ""});
    {
        ImageBuffer image = formatImage();
        for (int track = 1; track <= 17; ++track)
            for (int sector = 0; sector < zoneSectors(track); ++sector)
                if (!(track == 17 && sector == 5)) markBlock(image, track, sector, false);
        cases.push_back({"the lower side full", image, {3 * 254}, {{"17/5", "19/10", "19/0"}}, {0}, ""});
    }
    {
        ImageBuffer image = formatImage();
        addFile(image, randomBytes(600, 1), "OLD");  // 17/0, 17/10, 17/20 by the builder
        markBlock(image, 17, 0, true);               // a wrong map: a used block marked free
        cases.push_back({"a block in use marked free", image, {254, 1}, {{"17/1"}, {"17/2"}}, {1, 2},
                         "WARNING: The map marks block 17/0 free, but it is in use; it is left alone."});
    }
    {
        // A GEOS file of structure byte 2 may be sequential or VLIR: the
        // record its first block lists as an index (17/1, marked free) is
        // left alone too.
        ImageBuffer image = formatImage();
        addFile(image, {}, "GEOS");  // 17/0
        uint8_t *slot = slotBytes(image, 18, 1, 0);
        slot[0x17] = 2;
        slot[0x18] = 4;
        linkBlock(image, 17, 0, 0, 255);
        linkBlock(image, 17, 1, 0, 100);
        image.bytes[zoneOffset(17, 0) + 2] = 17;
        image.bytes[zoneOffset(17, 0) + 3] = 1;
        cases.push_back({"a GEOS record marked free", image, {254}, {{"17/2"}}, {1},
                         "WARNING: The map marks block 17/1 free, but it is in use; it is left alone."});
    }
    {
        ImageBuffer image = formatImage();
        for (int i = 0; i < 8; ++i) addRawEntry(image, 0x82, 0, 0, numbered("E", static_cast<size_t>(i)), 0);
        slotBytes(image, 18, 1, 2)[2] = 0;  // a scratched entry: its slot is free again
        cases.push_back({"a full directory block", image, {0, 0}, {{"17/0"}, {"17/1"}}, {2, 8}, ""});
    }
    cases.push_back({"a first block and an interleave", formatImage(), {3 * 254, 3 * 254},
                     {{"17/20", "17/2", "17/6"}, {"5/4", "5/8", "5/12"}}, {0, 1}, "",
                     {{"-wtrack", "17/20", "-wil", "4"}, {"-wtrack", "5/4", "-wil", "4"}}, 4});
    {
        ImageBuffer image = formatImage();
        for (int sector = 0; sector < 21; ++sector) markBlock(image, 16, sector, false);
        cases.push_back({"a full first track passes outwards", image, {2 * 254}, {{"15/7", "15/17"}}, {0}, "",
                         {{"-wtrack", "16/7"}}});
    }
    cases.push_back({"the directory track", formatImage(), {3 * 254}, {{"18/2", "18/5", "18/8"}}, {0}, "",
                     {{"-dirtrack", "-il", "3", "-wtrack", "18"}}, 3, 664});  // track 18 is not counted
    {
        ImageBuffer image = formatImage();
        addFile(image, randomBytes(600, 1), "F0");  // 17/0, 17/10, 17/20
        cases.push_back({"a replaced file", image, {254}, {{"17/1"}}, {0}, "", {{"-wreplace"}}, 10, 663});
        slotBytes(image, 18, 1, 0)[2] = 0xC2;  // locked
        cases.push_back({"a replaced locked file stays locked", image, {254}, {{"17/1"}}, {0}, "", {{"-wreplace"}}, 10,
                         663, "PRG<"});
        addRawEntry(image, 0x82, 17, 20, "CROSS", 1);  // F0's last block is CROSS's too
        cases.push_back({"a replaced file's block that another file uses stays used", image, {254}, {{"17/1"}}, {0},
                         "", {{"-wreplace"}}, 10, 662, "PRG<"});
    }
    {
        // 21 blocks fill track 17; once the file is replaced, the track is free again.
        ImageBuffer image = formatImage();
        addFile(image, randomBytes(21 * 254, 1), "F0");
        cases.push_back({"a track a replaced file frees takes the next file", image, {254, 254}, {{"19/0"}, {"17/0"}},
                         {0, 1}, "", {{"-wreplace"}, {}}, 10, 662});
    }
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeImage(dir.file("disk.d64"), c.image);
        std::vector<HostFile> files;
        for (size_t i = 0; i < c.sizes.size(); ++i)
            files.push_back({numbered("f", i, ".prg"), randomBytes(c.sizes[i], static_cast<uint32_t>(i))});
        RunResult result = insert(dir, "disk.d64", files, c.settings);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, c.warning.empty() ? "" : c.warning + "\n");
        std::vector<uint8_t> image = readBytes(dir.file("out.d64"));
        std::vector<std::string> lines = splitLines(result.out);
        for (size_t i = 0; i < files.size(); ++i) {
            const std::vector<std::string> &chain = c.chains[i];
            int track = std::stoi(chain[0]), sector = std::stoi(chain[0].substr(chain[0].find('/') + 1));
            EXPECT_EQ(chainOf(image, track, sector), chain);
            char line[80];
            std::snprintf(line, sizeof line, "%3i: \"F%zu\" %s, %zu block%s from %s, interleave %i", c.numbers[i], i,
                          i == 0 ? c.type : "PRG", chain.size(), chain.size() == 1 ? "" : "s", chain[0].c_str(),
                          c.interleave);
            EXPECT_EQ(lines[i], line);
            // The last block: link 0 and the index of its last data byte (1 for an empty file).
            std::string last = chain.back();
            size_t at = zoneOffset(std::stoi(last), std::stoi(last.substr(last.find('/') + 1)));
            size_t tail = c.sizes[i] - (chain.size() - 1) * 254;
            EXPECT_EQ(image[at], 0);
            EXPECT_EQ(image[at + 1], tail + 1);
            std::vector<uint8_t> data = files[i].data;
            EXPECT_TRUE(std::equal(data.end() - static_cast<long>(tail), data.end(), image.begin() + at + 2));
            EXPECT_EQ(std::count(image.begin() + at + 2 + tail, image.begin() + at + 256, 0), 254 - tail);
        }
        int blocksFree = consistentFreeCount(image);
        if (c.blocksFree >= 0) {
            EXPECT_EQ(blocksFree, c.blocksFree);
        }
    }
}

// -x (bare files, PC64 files with -p00, and cbmconvert -P's PC64 files), then
// -w of every file into a blank image, then -x again: the same entry names
// (byte for byte, also bytes the rule escapes, 0x00 inside and at the end,
// an inner 0xA0 and the bytes after it),
// types and contents, in the same order. -x -p00 writes what cbmconvert -P
// writes, but for the name's padding (0x00 where cbmconvert has 0xA0).
TEST(Insert, ExtractThenInsertGivesBackNamesTypesAndContents) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    run("mkdir '" + dir.file("in") + "'");
    // cc1541 writes "#hh" as the byte hh.
    const std::vector<std::pair<std::string, const char *>> names = {
        {"plain name", "PRG"}, {"a#2fb#00c", "SEQ"}, {"con", "USR"}, {"dot.", "PRG"}, {"sp#20", "PRG"},
        {"#c1#d2#ff#25x", "SEQ"}, {"..", "PRG"}, {"0123456789abcdef", "DEL"}, {"#a0", "PRG"}, {"lpt1.x", "PRG"}, {"end#00", "USR"},
        {"ab#a0cd", "PRG"}, {"x#a0#a0y#a0z", "SEQ"}};
    std::string command = "cd '" + dir.file("in") + "' && cc1541 -q";
    for (size_t i = 0; i < names.size(); ++i) {
        writeBytes(dir.file(numbered("in/", i)), randomBytes(100 + 300 * i, static_cast<uint32_t>(i)));
        command += std::string(" -T ") + names[i].second + " -f '" + names[i].first + "' -w " + std::to_string(i);
    }
    std::string out;
    ASSERT_EQ(run(command + " ../source.d64", &out), 0) << out;
    makeBlank(dir, "blank.d64");
    std::map<std::string, std::vector<uint8_t>> files;
    std::multiset<std::string> pc64Files[2];  // -x -p00's, cbmconvert's: bytes, padding as 0x00
    for (const std::string form : {"bare", "p00", "cbm"}) {
        SCOPED_TRACE(form);
        if (form == "cbm" && !haveProgram("cbmconvert")) continue;
        std::vector<std::string> args;  // -w of every file, in directory order
        RunResult extracted;
        if (form == "cbm") {
            ASSERT_EQ(run("cd '" + dir.path + "' && mkdir cbm && cd cbm && cbmconvert -P -d ../source.d64"), 0);
            // A PC64 file's host name says nothing of its entry: neutral names
            // (cbmconvert's "con.u00" is a device on Windows).
            int number = 0;
            for (const std::string &name : listFolder(dir.file("cbm")))
                std::filesystem::rename(dir.file("cbm/" + name),
                                        dir.file("cbm/f" + std::to_string(number++) + name.substr(name.rfind('.'))));
        } else {
            std::map<std::string, std::vector<uint8_t>> made = extractAll(dir, "source.d64", form, &extracted, form == "p00");
            if (form == "bare") files = made;
        }
        for (const std::string &line : splitLines(extracted.out))  // "  N: NAME (B bytes)", in directory order
            args.insert(args.end(), {"-w", form + "/" + line.substr(5, line.rfind(" (") - 5)});
        std::vector<std::string> pc64Names = form == "bare" ? std::vector<std::string>{} : listFolder(dir.file(form));
        auto size = [&](const std::string &name) { return readBytes(dir.file("cbm/" + name)).size(); };
        if (form == "cbm")  // its names say nothing of the order, but the files grow with it
            std::sort(pc64Names.begin(), pc64Names.end(), [&](auto &a, auto &b) { return size(a) < size(b); });
        for (const std::string &name : pc64Names) {
            std::vector<uint8_t> bytes = readBytes(dir.file(form + "/" + name));
            for (size_t at = 23; at >= 8 && (bytes[at] == 0 || bytes[at] == 0xA0); --at) bytes[at] = 0;
            pc64Files[form == "cbm"].emplace(bytes.begin(), bytes.end());
            if (form == "cbm") args.insert(args.end(), {"-w", form + "/" + name});
        }
        EXPECT_TRUE(form != "cbm" || pc64Files[0] == pc64Files[1]);
        args.insert(args.end(), {"blank.d64", form + ".d64"});
        RunResult inserted = runBinary(args, dir.path);
        ASSERT_EQ(inserted.status, 0) << inserted.err;

        std::vector<std::vector<uint8_t>> before = usedSlots(readBytes(dir.file("source.d64")));
        std::vector<std::vector<uint8_t>> after = usedSlots(readBytes(dir.file(form + ".d64")));
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(after[i][2], before[i][2] | 0x80) << i;  // the type, closed
            std::vector<uint8_t> name(before[i].begin() + 5, before[i].begin() + 21);
            // A bare file's host name ends at the first 0xA0; a PC64 file keeps every byte.
            if (form == "bare") std::fill(std::find(name.begin() + 1, name.end(), 0xA0), name.end(), 0xA0);
            EXPECT_EQ(std::vector<uint8_t>(after[i].begin() + 5, after[i].begin() + 21), name) << i;
        }
        expectSameFiles(extractAll(dir, form + ".d64", form + "-copy"), files);
        expectCheckFindsNothing(dir, form + ".d64");
    }
}

// -copy between families: the chosen entries that have a file come over with
// their 16 name bytes (an inner 0xA0 and the bytes after it too) and type byte
// (locked, open) as cc1541 wrote them, and the same data: each file -x takes
// off the copy is the source's of that name, and cbmconvert reads a whole
// copy as it reads the source. An entry without a file (cc1541 -L) is passed over.
TEST(Copy, KeepsNameAndTypeBytesAndDataAcrossFamilies) {
    if (!haveProgram("cc1541") || !haveProgram("cbmconvert")) GTEST_SKIP() << "cc1541 or cbmconvert missing";
    struct Case {
        const char *source, *target;
        std::vector<std::string> range;  // after "-copy source"
        size_t first, last;              // the source's slots copied
    } const cases[] = {
        {"s.d64", "t.d64", {}, 0, 5}, {"s.d64", "t.d81", {"1", "3"}, 1, 3}, {"s.d81", "t.d71", {}, 0, 5},
        {"s.d71", "t.d64", {"5"}, 5, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.source) + " to " + c.target);
        TempDir dir;
        for (size_t i = 0; i < 4; ++i) writeBytes(dir.file(numbered("f", i)), randomBytes(1 + 1000 * i, 7 + i));
        ASSERT_EQ(run("cd '" + dir.path + "' && cc1541 -q -n source -f plain -w f0 -P -T SEQ -f 'ab#a0cd#01' -w f3 "
                      "-f nofile -L -T USR -f 'u#a0#a0x' -w f1 -T DEL -f del -w f2 -O -f open -w f1 " + c.source +
                      " && cc1541 -q -n target " + c.target), 0);
        std::vector<std::string> args = {"-copy", c.source};
        args.insert(args.end(), c.range.begin(), c.range.end());
        const std::string out = std::string("out") + (c.target + 1);
        args.insert(args.end(), {c.target, out});
        RunResult copied = runBinary(args, dir.path);
        ASSERT_EQ(copied.status, 0) << copied.err;

        std::vector<std::vector<uint8_t>> from = usedSlots(readBytes(dir.file(c.source)));
        std::vector<std::vector<uint8_t>> to = usedSlots(readBytes(dir.file(out)));
        std::vector<std::vector<uint8_t>> expected;
        for (size_t i = c.first; i <= c.last; ++i)
            if (from[i][3] != 0) expected.push_back(from[i]);
        ASSERT_EQ(to.size(), expected.size());
        for (size_t i = 0; i < to.size(); ++i) {
            EXPECT_EQ(to[i][2], expected[i][2]) << i;
            EXPECT_TRUE(std::equal(to[i].begin() + 5, to[i].begin() + 21, expected[i].begin() + 5)) << i;
        }
        std::map<std::string, std::vector<uint8_t>> all = extractAll(dir, c.source, "all");
        std::map<std::string, std::vector<uint8_t>> copy = extractAll(dir, out, "copy");
        EXPECT_EQ(copy.size(), expected.size());
        for (const auto &[name, data] : copy) EXPECT_TRUE(all.count(name) && all.at(name) == data) << name;
        if (!c.range.empty()) continue;
        // cbmconvert writes an empty file for the entry without one, which is not copied.
        ASSERT_EQ(run("cd '" + dir.path + "' && mkdir a b && cd a && cbmconvert -N -d ../" + c.source +
                      " 2>/dev/null; rm nofile.prg && cd ../b && cbmconvert -N -d ../" + out + " 2>/dev/null"), 0);
        EXPECT_EQ(listFolder(dir.file("a")), listFolder(dir.file("b")));
        for (const std::string &name : listFolder(dir.file("a")))
            EXPECT_TRUE(readBytes(dir.file("a/" + name)) == readBytes(dir.file("b/" + name))) << name;
    }
}

// A T64 tape image gives every tape file it lists, a PRG with its start
// address in front. A file ends at its end address when the rest of its room
// (up to the next file or the end) is zero padding; else, and when the end
// address cannot be (before the start, beyond the room), it takes the whole
// room, with a warning that names it as the listing does where the two
// disagree. A disk image's extension (".d71") names a plain file.
TEST(Insert, TapeImageGivesEveryFile) {
    std::vector<uint8_t> first = randomBytes(200, 1), second = randomBytes(300, 2), data = randomBytes(70, 3);
    std::vector<uint8_t> payload = randomBytes(1000, 4), zeros(50, 0);
    auto cut = [&](size_t length) { return std::vector<uint8_t>(payload.begin(), payload.begin() + length); };
    auto padded = [&](size_t length) {
        std::vector<uint8_t> bytes = cut(length);
        bytes.insert(bytes.end(), zeros.begin(), zeros.end());
        return bytes;
    };
    auto prg = [](int start, std::vector<uint8_t> bytes) {
        bytes.insert(bytes.begin(), {static_cast<uint8_t>(start), static_cast<uint8_t>(start >> 8)});
        return bytes;
    };
    struct Case {
        const char *what;
        std::vector<TapeFile> tape;
        std::map<std::string, std::vector<uint8_t>> files;  // besides small.prg
        std::vector<std::string> warnings;
    } const cases[] = {
        {"end addresses right and one short of its data",
         {{"FIRST", 0x82, 0x0801, 0x0801 + 200, first}, {"SECOND", 0x01, 0xC000, 0xC002, second},
          {"DATA", 0x81, 0, 70, data}},
         {{"first.prg", prg(0x0801, first)}, {"second.prg", prg(0xC000, second)}, {"data.seq", data}},
         {"WARNING: 'tape.t64': entry 1 (\"SECOND\") ends at $C002 by its header, but its data holds 300 bytes"}},
        {"zero padding after the last file", {{"PAD", 0x82, 0x1000, 0x1000 + 100, padded(100)}},
         {{"pad.prg", prg(0x1000, cut(100))}}, {}},
        {"zero padding before the next file",
         {{"ONE", 0x82, 0x0801, 0x0801 + 10, padded(10)}, {"TWO", 0x82, 0x2000, 0x2000 + 70, data}},
         {{"one.prg", prg(0x0801, cut(10))}, {"two.prg", prg(0x2000, data)}}, {}},
        {"a last file of 1000 bytes whose end address says 256",
         {{"LONG", 0x82, 0x0801, 0x0801 + 256, payload}}, {{"long.prg", prg(0x0801, payload)}},
         {"entry 0 (\"LONG\") ends at $0901 by its header, but its data holds 1000 bytes"}},
        {"an end address before the start", {{"BACK", 0x82, 0xC000, 0x0801, padded(100)}},
         {{"back.prg", prg(0xC000, padded(100))}}, {"entry 0 (\"BACK\") ends at $0801"}},
        {"an end address beyond the data", {{"OVER", 0x82, 0x0801, 0x0801 + 400, padded(100)}},
         {{"over.prg", prg(0x0801, padded(100))}}, {"entry 0 (\"OVER\") ends at $0991"}},
        {"$0000 for the end of memory", {{"TOP", 0x82, 0xFF00, 0, cut(256)}}, {{"top.prg", prg(0xFF00, cut(256))}},
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeBytes(dir.file("tape.t64"), tapeImage(c.tape, 5));
        writeImage(dir.file("disk.d64"), formatImage());
        std::vector<uint8_t> plain = randomBytes(90, 4);
        writeBytes(dir.file("small.d71"), plain);
        RunResult result = runBinary({"-w", "tape.t64", "-w", "small.d71", "disk.d64", "out.d64"}, dir.path);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(splitLines(result.err).size(), c.warnings.size()) << result.err;
        for (const std::string &warning : c.warnings) EXPECT_TRUE(contains(result.err, warning)) << result.err;
        std::map<std::string, std::vector<uint8_t>> files = c.files;
        files["small.prg"] = plain;
        expectSameFiles(extractAll(dir, "out.d64", "out"), files);
    }
}

// Tape entries that share their data share it in memory: 40,000 entries of
// one 60,000-byte file would be 2.4 GB as copies. Under a 1 GB address space
// the run fills the disk with the first files and ends as a full disk does.
TEST(Insert, TapeEntriesThatShareDataAreNotCopied) {
    TempDir dir;
    const size_t entries = 40000, size = 60000;
    std::vector<uint8_t> tape = tapeImage({{"F0", 0x82, 0x1000, 0x1000 + static_cast<int>(size), {}}}, entries);
    tape[0x22] = entries & 0xFF;
    tape[0x23] = entries >> 8;
    tape[0x24] = entries & 0xFF;
    tape[0x25] = entries >> 8;
    uint32_t offset = static_cast<uint32_t>(tape.size());
    for (size_t i = 0; i < entries; ++i) {  // names F0, F1, ...; every offset the same
        std::copy_n(tape.begin() + 64, 16, tape.begin() + 64 + 32 * static_cast<long>(i));
        for (int at = 0; at < 4; ++at) tape[64 + 32 * i + 8 + at] = static_cast<uint8_t>(offset >> 8 * at);
        std::string name = (numbered("F", i) + std::string(16, ' ')).substr(0, 16);
        std::copy(name.begin(), name.end(), tape.begin() + 64 + 32 * static_cast<long>(i) + 16);
    }
    std::vector<uint8_t> data = randomBytes(size, 9);
    tape.insert(tape.end(), data.begin(), data.end());
    writeBytes(dir.file("shared.t64"), tape);
    writeImage(dir.file("disk.d64"), formatImage());
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory needs far more address space
    struct rlimit saved, lowered;
    getrlimit(RLIMIT_AS, &saved);
    lowered = saved;
    lowered.rlim_cur = 1ull << 30;
    setrlimit(RLIMIT_AS, &lowered);
#endif
    RunResult result = runBinary({"-w", "shared.t64", "disk.d64", "out.d64"}, dir.path, "", 120);
#ifndef __SANITIZE_ADDRESS__
    setrlimit(RLIMIT_AS, &saved);
#endif
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_EQ(result.err, "ERROR: Disk full 'disk.d64'! 'shared.t64' needs 237 blocks, 47 are missing.\n");
    EXPECT_EQ(splitLines(result.out).size(), 2u) << result.out;  // F0 and F1 fit
}

// Refusals: status 1 (the name cannot be read, is on the disk already, the
// host file cannot be read, the directory loops or leaves the image; -copy of a
// REL or GEOS file or a chain that breaks off) or 2 (the
// disk is full, also for a new directory block), and no image written, also
// when only the second of two inserts fails.
TEST(Insert, RefusesWithoutWritingAnImage) {
    ImageBuffer withFile = formatImage();
    addFile(withFile, randomBytes(100, 1), "GAME");
    ImageBuffer nearlyFull = formatImage();
    for (int track = 1; track <= 35; ++track)
        for (int sector = 0; sector < zoneSectors(track); ++sector)
            if (!(track == 30 && sector < 3)) markBlock(nearlyFull, track, sector, false);
    ImageBuffer fullDirectory = nearlyFull;
    for (int i = 0; i < 8; ++i) addRawEntry(fullDirectory, 0x82, 0, 0, numbered("E", static_cast<size_t>(i)), 0);
    for (int sector = 0; sector < 3; ++sector) markBlock(fullDirectory, 30, sector, false);
    ImageBuffer trailing = formatImage();
    addRawEntry(trailing, 0x82, 17, 0, "AB\xa0" "CD", 1);  // a drive's name "AB": the rest is past its end
    ImageBuffer looping = formatImage();
    for (int i = 0; i < 8; ++i) addRawEntry(looping, 0x82, 0, 0, numbered("E", static_cast<size_t>(i)), 0);
    linkBlock(looping, 18, 1, 18, 1);
    ImageBuffer leaving = formatImage();
    for (int i = 0; i < 8; ++i) addRawEntry(leaving, 0x82, 0, 0, numbered("E", static_cast<size_t>(i)), 0);
    linkBlock(leaving, 18, 1, 39, 0);
    ImageBuffer gameOnFullDisk = formatImage();  // GAME's 3 blocks, and 2 free: too few for a new GAME of 3
    addFile(gameOnFullDisk, randomBytes(600, 4), "GAME");
    for (int track = 1; track <= 35; ++track)
        for (int sector = 0; sector < zoneSectors(track); ++sector)
            if (!(track == 30 && sector < 2)) markBlock(gameOnFullDisk, track, sector, false);
    ImageBuffer fullTrack18 = formatImage();  // 144 entries in 18/1-18/18, room elsewhere
    ImageBuffer other = formatImage("OTHER");  // -copy's: NEW, GAME, a REL, a GEOS file, a chain into track 36
    for (const char *name : {"NEW", "GAME", "REL", "GEOS"}) addFile(other, randomBytes(300, 4), name);
    slotBytes(other, 18, 1, 2)[2] = 0x84;
    slotBytes(other, 18, 1, 3)[24] = 0x06;
    TrackSector cut = addFile(other, randomBytes(600, 5), "CUT");
    linkBlock(other, cut.track, cut.sector, 36, 0);
    for (size_t i = 0; i < 144; ++i) addRawEntry(fullTrack18, 0x82, 0, 0, numbered("E", i), 0);
    ImageBuffer fortyTracks = formatImage("FORTY", "ft", 40);

    struct Case {
        const char *what;
        const ImageBuffer &image;
        std::vector<std::string> args;  // before "disk.d64"
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a name on the disk", withFile, {"-w", "game.seq"}, 1,
         "ERROR: 'disk.d64' holds \"GAME\" PRG (entry 0), the name 'game.seq' gives; give '-wreplace' before its "
         "'-w', or '-clash skip' or '-clash replace'.\n"},
        {"a name that the disk holds up to its padding", trailing, {"-w", "ab.prg"}, 1,
         "holds \"AB\"CD PRG (entry 0), the name 'ab.prg' gives"},
        {"the second name on the disk", withFile, {"-w", "new.prg", "-w", "new.prg"}, 1,
         "holds \"NEW\" PRG (entry 1), the name 'new.prg' gives"},
        {"the name of a file in a folder", withFile, {"-w", "in"}, 1, "holds \"GAME\" PRG (entry 0), the name 'in/game.prg'"},
        {"no host file", withFile, {"-w", "missing.prg"}, 1, "ERROR: Could not read 'missing.prg'."},
        {"an empty folder", withFile, {"-w", "folder.prg"}, 1, "ERROR: No file for '-w folder.prg': the folder holds no file.\n"},
        {"17 bytes of name", withFile, {"-w", "seventeen letters.prg"}, 1, "longer than 16 bytes"},
        {"a bad escape", withFile, {"-w", "bad%4g.prg"}, 1, "'%' is not followed by two hexadecimal digits"},
        {"a cut escape", withFile, {"-w", "bad%4"}, 1, "'%' is not followed by two hexadecimal digits"},
        {"a non-ASCII name", withFile, {"-w", "caf\xc3\xa9.prg"}, 1, "a character the name rule cannot read"},
        {"a control character", withFile, {"-w", "tab\t.prg"}, 1, "a character the name rule cannot read"},
        {"the disk full", nearlyFull, {"-w", "new.prg", "-w", "big.prg"}, 2,
         "ERROR: Disk full 'disk.d64'! 'big.prg' needs 3 blocks, 2 are missing.\n"},
        {"no block for the directory", fullDirectory, {"-w", "new.prg"}, 2, "ERROR: Disk full 'disk.d64'!"},
        {"a looping directory", looping, {"-w", "new.prg"}, 1, "loops"},
        {"a directory leaving the image", leaving, {"-w", "new.prg"}, 1, "39/0"},
        {"no name before the dot", withFile, {"-w", ".prg"}, 1,
         "ERROR: The name of '.prg' gives an empty entry name, which a drive cannot address"},
        {"a hidden file", withFile, {"-w", ".hidden"}, 1, "The name of '.hidden' gives an empty entry name"},
        {"144 entries", fullTrack18, {"-w", "new.prg"}, 2, "ERROR: Disk full 'disk.d64'! Its directory is full"},
        {"a cut tape header", withFile, {"-w", "new.prg", "-w", "cut.t64"}, 1, "'cut.t64' is too short for a T64"},
        {"a tape offset past the end", withFile, {"-w", "far.t64"}, 1, "'far.t64' lies: the data of entry 0 (\"A\")"},
        {"a tape without entries", withFile, {"-w", "none.t64"}, 1, "directory has no entries"},
        {"a directory past the end", withFile, {"-w", "long.t64"}, 1, "'long.t64' is cut short"},
        {"a PC64 name without header", withFile, {"-w", "new.p07"}, 1, "'new.p07' has no PC64 header"},
        {"a REL PC64 file of record length 0", withFile, {"-w", "rel.R00"}, 1,
         "ERROR: 'rel.R00' holds a REL file of record length 0 (its byte 25); a drive writes records of 1 to 254 "
         "bytes; nothing was written.\n"},
        {"a REL PC64 file of record length 255", withFile, {"-w", "long.r01"}, 1, "of record length 255"},
        {"a REL file of more data blocks than 6 side sectors list", withFile, {"-wrel", "254", "-w", "huge.prg"}, 1,
         "ERROR: REL file 'huge.prg' needs 721 data blocks; the 6 side sectors a REL file on 'disk.d64' may have "
         "list at most 720.\n"},
        {"-wrel with another type", withFile, {"-wrel", "10", "-wtype", "seq", "-w", "new.prg"}, 1,
         "'-wrel' makes 'new.prg' a REL file, but '-wtype' gives it another type"},
        {"-wrel with a container", withFile, {"-wrel", "10", "-w", "rel.R00"}, 1, "do not apply to it"},
        {"a REL PC64 file", withFile, {"-w", "rel.R00"}, 1, "'rel.R00' holds a REL file"},
        {"a Lynx archive cut short", withFile, {"-w", "cut.lnx"}, 1,
         "ERROR: 'cut.lnx' lies: the data of entry 0 (\"A\") would end at byte 257, past the archive's end at 256; "
         "nothing was written.\n"},
        {"a Lynx archive of a REL file of record length 0", withFile, {"-w", "rel.lnx"}, 1,
         "'rel.lnx' lies: entry 0 (\"A\") is a REL file without a record length of 1 to 254"},
        {"a Lynx archive without its signature", withFile, {"-w", "none.lnx"}, 1,
         "'none.lnx' is no Lynx archive (no \"LYNX\" in its signature line)"},
        {"a Lynx directory cut short", withFile, {"-w", "short.lnx"}, 1, "'short.lnx' is cut short: its directory"},
        {"a replacement without room beside the old file", gameOnFullDisk, {"-wreplace", "-wname", "game", "-w", "big.prg"},
         2, "ERROR: Disk full 'disk.d64'! 'big.prg' needs 3 blocks, 1 is missing ('-wreplace' frees the old file's "
         "blocks once the new file is whole).\n"},
        {"so with -clash replace", gameOnFullDisk, {"-clash", "replace", "-wname", "game", "-w", "big.prg"}, 2,
         "1 is missing ('-wreplace' frees"},
        {"the directory track not allowed", withFile, {"-wtrack", "18", "-w", "new.prg"}, 1, "(give '-dirtrack'"},
        {"a sector beyond the track", withFile, {"-wtrack", "35/17", "-w", "new.prg"}, 1, "track 35 has sectors 0 to 16"},
        {"tracks 36-40 of 35", withFile, {"-tracks40", "-w", "new.prg"}, 1, "keeps no map of them"},
        {"track 36 without -tracks40", fortyTracks, {"-wtrack", "36", "-w", "new.prg"}, 1,
         "may take blocks of tracks 1 to 35 except the directory's, not 36 (give '-tracks40' to let them take tracks "
         "36-40 of a SpeedDOS or DolphinDOS map).\n"},
        {"a REL type without a record length", withFile, {"-wtype", "rel", "-w", "new.prg"}, 1,
         "ERROR: '-wtype' gives 'new.prg' a REL type; give its record length with '-wrel N' (1 to 254) before the "
         "'-w'.\n"},
        {"an empty slot's type", withFile, {"-wtype", "*del", "-w", "new.prg"}, 1, "gives type byte 0"},
        {"no -w after -wname", withFile, {"-w", "new.prg", "-wname", "x"}, 1, "but no '-w' follows it"},
        {"-il without -w", withFile, {"-il", "3"}, 1, "'-il' sets how '-w' inserts files"},
        {"-wname with a tape", withFile, {"-wname", "x", "-w", "none.t64"}, 1, "do not apply to it"},
        {"a copied name on the disk", withFile, {"-copy", "other.d64", "1"}, 1,
         "ERROR: 'disk.d64' holds \"GAME\" PRG (entry 0), the name 'other.d64 entry 1' gives"},
        {"a copy after a -w of its name", withFile, {"-w", "new.prg", "-copy", "other.d64", "0"}, 1,
         "holds \"NEW\" PRG (entry 1), the name 'other.d64 entry 0' gives"},
        {"a -w after a copy of its name", withFile, {"-copy", "other.d64", "0", "-w", "new.prg"}, 1,
         "holds \"NEW\" PRG (entry 1), the name 'new.prg' gives"},
        {"a copied REL file of record length 0", withFile, {"-copy", "other.d64", "0", "2"}, 1,
         "ERROR: 'other.d64' entry 2 is a REL file of record length 0, which no drive writes; nothing was written.\n"},
        {"a copied GEOS file without an info block", withFile, {"-copy", "other.d64", "3"}, 1,
         "'other.d64' entry 3 is a GEOS file whose info block (bytes 15-16) lies on no block of the disk"},
        {"every entry, a REL one among them", withFile, {"-copy", "other.d64"}, 1, "entry 2 is a REL file of record"},
        {"a copied chain that breaks off", withFile, {"-copy", "other.d64", "4"}, 1, "entry 4 has a chain that breaks"},
        {"no entry to copy", withFile, {"-copy", "other.d64", "9"}, 1, "'other.d64' has no entry numbered 9 to 9"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeImage(dir.file("disk.d64"), c.image);
        writeBytes(dir.file("new.prg"), randomBytes(300, 2));
        writeBytes(dir.file("big.prg"), randomBytes(600, 3));  // 3 blocks: one too many after new.prg
        writeBytes(dir.file("game.seq"), {1});
        writeImage(dir.file("other.d64"), other);
        writeBytes(dir.file("ab.prg"), {1});
        for (const char *name :
             {"seventeen letters.prg", "bad%4g.prg", "bad%4", "caf\xc3\xa9.prg", "tab\t.prg", ".prg", ".hidden"})
            writeBytes(dir.file(name), {1});
        run("mkdir '" + dir.file("folder.prg") + "' '" + dir.file("in") + "'");
        writeBytes(dir.file("in/a.prg"), {1});
        writeBytes(dir.file("in/game.prg"), {2});
        std::vector<uint8_t> tape = tapeImage({{"A", 0x82, 0x0801, 0x0802, {1}}}, 1), far = tape, none = tape;
        far[64 + 9] = 1;  // its data at 256 + 96, past the end
        none[0x22] = 0;   // a directory of no entries
        std::vector<uint8_t> rel = {'C', '6', '4', 'F', 'i', 'l', 'e', 0, 'R', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        std::vector<uint8_t> longRecords = rel;
        longRecords[25] = 255;
        writeBytes(dir.file("huge.prg"), randomBytes(720 * 254 + 1, 6));
        // A Lynx archive of one file "A" of 3 bytes, without a BASIC stub.
        auto lynx = [](const std::string &type) {
            std::string text = " 1  *LYNX BY CBMCONVERT 2.0*\r 1 \rA" + std::string(15, '\xa0') + "\r 1\r" + type +
                               "\r 4 \r";
            std::vector<uint8_t> bytes(text.begin(), text.end());
            bytes.resize(254, 0);
            for (uint8_t byte : {1, 8, 7}) bytes.push_back(byte);
            return bytes;
        };
        std::vector<uint8_t> good = lynx("P"), noSignature = good;
        noSignature[7] = 'X';  // "LYNX" becomes "LYXX"
        writeBytes(dir.file("cut.lnx"), std::vector<uint8_t>(good.begin(), good.end() - 1));
        writeBytes(dir.file("rel.lnx"), lynx("R\r 0 "));
        writeBytes(dir.file("none.lnx"), noSignature);
        writeBytes(dir.file("short.lnx"), std::vector<uint8_t>(good.begin(), good.begin() + 40));
        for (auto [name, bytes] : {std::pair{"cut.t64", std::vector<uint8_t>(tape.begin(), tape.begin() + 63)},
                                   {"long.t64", std::vector<uint8_t>(tape.begin(), tape.begin() + 95)},
                                   {"far.t64", far}, {"none.t64", none}, {"new.p07", tape}, {"rel.R00", rel},
                                   {"long.r01", longRecords}})
            writeBytes(dir.file(name), bytes);
        std::vector<std::string> before = listFolder(dir.path);
        std::vector<std::string> args = c.args;
        args.push_back("disk.d64");
        RunResult result = runBinary(args, dir.path);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(contains(result.err, c.message)) << result.err;
        EXPECT_EQ(result.out.find("A tool to view"), std::string::npos) << "no usage";
        EXPECT_EQ(listFolder(dir.path), before);
    }
}

// -w of a folder (its regular files in name order: no sub-folder, no name
// beginning with '.') and of a quoted pattern (kestrel matches '*' and '?'),
// and the run-wide choice for a name the disk holds already: -clash skip
// leaves the disk's file with a warning, replace puts the new one in its
// slot; a -wreplace before one -w replaces whatever -clash says.
TEST(Insert, FoldersPatternsAndNameClashes) {
    const std::vector<uint8_t> a = randomBytes(300, 1), b = randomBytes(600, 2), c = randomBytes(50, 3),
                               old = randomBytes(100, 4);
    ImageBuffer withCee = formatImage();
    addFile(withCee, old, "CEE");
    std::vector<uint8_t> pc64 = {'C', '6', '4', 'F', 'i', 'l', 'e', 0, 'C', 'E', 'E'};
    pc64.resize(26, 0);
    pc64.insert(pc64.end(), c.begin(), c.end());
    struct Case {
        std::vector<std::string> args;  // before the images
        bool holdsCee;                  // the disk holds CEE (the old bytes) before
        std::vector<std::string> slots; // the entries' names afterwards, in directory order
        std::vector<uint8_t> bytesOfCee;
        const char *warning;            // on standard error, or ""
    } const cases[] = {
        {{"-w", "in"}, false, {"A", "B", "CEE"}, c, ""},
        {{"-w", "in/"}, false, {"A", "B", "CEE"}, c, ""},
        {{"-w", "in/*.prg"}, false, {"B"}, c, ""},
        {{"-w", "in/?.*"}, false, {"A", "B", "CEE"}, c, ""},
        {{"-w", "in/*.?0?", "-w", "in/*q"}, false, {"CEE", "A"}, c, ""},
        {{"-clash", "skip", "-w", "in"}, true, {"CEE", "A", "B"}, old,
         "WARNING: 'disk.d64' holds \"CEE\" PRG (entry 0), the name 'in/c.p00' gives; 'in/c.p00' is skipped.\n"},
        {{"-clash", "replace", "-w", "in"}, true, {"CEE", "A", "B"}, c, ""},
        {{"-clash", "skip", "-wreplace", "-w", "in/c.p00"}, true, {"CEE"}, c, ""},
        {{"-clash", "refuse", "-w", "in/a.seq"}, true, {"CEE", "A"}, old, ""},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.args));
        TempDir dir;
        run("mkdir -p '" + dir.file("in/sub") + "'");
        writeBytes(dir.file("in/a.seq"), a);
        writeBytes(dir.file("in/b.prg"), b);
        writeBytes(dir.file("in/c.p00"), pc64);
        writeBytes(dir.file("in/.hidden"), {1});
        writeBytes(dir.file("in/sub/d.prg"), {1});
        writeImage(dir.file("disk.d64"), k.holdsCee ? withCee : formatImage());
        std::vector<std::string> args = k.args;
        args.insert(args.end(), {"disk.d64", "out.d64"});
        RunResult result = runBinary(args, dir.path);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, k.warning);
        std::vector<std::string> names;
        for (const std::vector<uint8_t> &slot : usedSlots(readBytes(dir.file("out.d64"))))
            names.emplace_back(slot.begin() + 5, std::find(slot.begin() + 5, slot.begin() + 21, 0xA0));
        EXPECT_EQ(names, k.slots);
        std::map<std::string, std::vector<uint8_t>> files = extractAll(dir, "out.d64", "x");
        auto listed = [&](const char *name) { return std::count(k.slots.begin(), k.slots.end(), name) > 0; };
        EXPECT_TRUE(!listed("B") || files["b.prg"] == b);
        EXPECT_TRUE(!listed("A") || files["a.seq"] == a);
        EXPECT_TRUE(!listed("CEE") || files["cee.prg"] == k.bytesOfCee);
        expectCheckFindsNothing(dir, "out.d64");
    }
}

// The placement options against cc1541 doing the same on each family: a
// first block (-r, -b), an interleave (-s) that never wraps round a track,
// where the drive's arithmetic and cc1541's agree, the directory track (-t),
// tracks 36-40 with a SpeedDOS or DolphinDOS map (-4, -5), a type (-T), also
// set by an edit that names the entry inserted in the same run. The images
// must be the same byte for byte, but for 53/0 beyond the map of a D71, which
// cc1541 writes and kestrel leaves.
TEST(Insert, PlacementOptionsGiveCc1541sImage) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    struct Case {
        const char *image;
        const char *format;                // cc1541's options for the blank disk
        const char *cc;                    // cc1541's options for the file
        std::vector<std::string> kestrel;  // kestrel's, "-w g.prg" at the place of "W"
        const char *line;                  // the insert line from its type on
    };
    const Case cases[] = {
        {"d.d64", "", "-r 17 -b 5 -s 4", {"-wtrack", "17/5", "-wil", "4", "W"}, "PRG, 4 blocks from 17/5, interleave 4"},
        {"d.d64", "", "-r 3 -b 0 -s 3", {"-il", "3", "-wtrack", "3", "W"}, "PRG, 4 blocks from 3/0, interleave 3"},
        {"d.d64", "-t", "-t -r 18 -b 3 -s 3", {"-dirtrack", "-wtrack", "18/3", "-wil", "3", "W"}, "PRG, 4 blocks from 18/3, interleave 3"},
        {"d.d64", "-4", "-4 -r 36 -b 0 -s 5", {"-tracks40", "-wtrack", "36/0", "-wil", "5", "W"}, "PRG, 4 blocks from 36/0, interleave 5"},
        {"d.d64", "-5", "-5 -r 38 -b 2 -s 3", {"-tracks40", "-wtrack", "38/2", "-wil", "3", "W"}, "PRG, 4 blocks from 38/2, interleave 3"},
        {"d.d71", "", "-r 40 -b 1 -s 6", {"-wtrack", "40/1", "W"}, "PRG, 4 blocks from 40/1, interleave 6"},
        {"d.d81", "", "-r 41", {"-wtrack", "41", "W"}, "PRG, 4 blocks from 41/0, interleave 1"},
        {"d.d81", "", "-r 3 -T 194", {"-wtrack", "3", "-wtype", "prg<", "W"}, "PRG<, 4 blocks from 3/0, interleave 1"},
        {"d.d64", "", "-r 17 -b 0 -s 3 -T 193", {"-wtrack", "17/0", "-wil", "3", "W", "-type", "0", "SEQ<"},
         "PRG, 4 blocks from 17/0, interleave 3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cc);
        TempDir dir;
        writeBytes(dir.file("g.prg"), randomBytes(4 * 254, 9));
        std::string out;
        std::string cd = "cd '" + dir.path + "' && ";
        ASSERT_EQ(run(cd + "cc1541 -q " + c.format + " -n disk -i id blank." + c.image, &out), 0) << out;
        ASSERT_EQ(run(cd + "cp blank." + c.image + " " + c.image + " && cc1541 -q " + c.cc + " -f g -w g.prg " +
                          c.image, &out), 0) << out;
        std::vector<std::string> args;
        for (const std::string &arg : c.kestrel) {
            if (arg == "W") args.insert(args.end(), {"-w", "g.prg"});
            else args.push_back(arg);
        }
        args.insert(args.end(), {std::string("blank.") + c.image, "out.img"});
        RunResult result = runBinary(args, dir.path);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(splitLines(result.out)[0], std::string("  0: \"G\" ") + c.line);
        std::vector<uint8_t> theirs = readBytes(dir.file(c.image)), ours = readBytes(dir.file("out.img"));
        ASSERT_EQ(ours.size(), theirs.size());
        if (std::string(c.image) == "d.d71") {
            const size_t map53 = 174848 + 91392 + 105;  // 53/0, after its 35 tracks of 3 bytes
            std::fill(theirs.begin() + map53, theirs.begin() + map53 + 151, 0);
            std::fill(ours.begin() + map53, ours.begin() + map53 + 151, 0);
        }
        EXPECT_TRUE(ours == theirs);
    }
}

// A 40-track SpeedDOS disk that cc1541 wrote a 50-block file to has 614 free
// blocks on tracks 1-35 and 85 on 36-40: a 650-block file needs both, and
// -tracks40 lets it have them. The check then finds the map right, and -x
// gives the file back (cbmconvert reads no 40-track image).
TEST(Insert, TracksThirtySixToFortyTakeWhatTracksOneToThirtyFiveCannot) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    std::vector<uint8_t> big = randomBytes(650 * 254, 5);
    writeBytes(dir.file("first.prg"), randomBytes(50 * 254, 6));
    writeBytes(dir.file("big.prg"), big);
    std::string out;
    ASSERT_EQ(run("cd '" + dir.path + "' && cc1541 -q -4 -n speed -i sp -w first.prg speed.d64", &out), 0) << out;
    RunResult without = runBinary({"-w", "big.prg", "speed.d64", "out.d64"}, dir.path);
    EXPECT_EQ(without.status, 2);
    EXPECT_TRUE(contains(without.err, "ERROR: Disk full 'speed.d64'!")) << without.err;
    RunResult with = runBinary({"-tracks40", "-w", "big.prg", "speed.d64", "out.d64"}, dir.path);
    ASSERT_EQ(with.status, 0) << with.err;
    EXPECT_TRUE(contains(with.out, "\"BIG\" PRG, 650 blocks from 17/0")) << with.out;
    RunResult check = runBinary({"-check", "out.d64"}, dir.path);
    EXPECT_TRUE(contains(check.out, "0 errors, 0 warnings; 702 blocks used by files and the directory; 49 blocks "
                                    "free by the map, 49 by the chains (tracks 36-40 by the SpeedDOS map)"))
        << check.out;
    std::map<std::string, std::vector<uint8_t>> files = extractAll(dir, "out.d64", "back");
    EXPECT_EQ(files["big.prg"], big);
}
