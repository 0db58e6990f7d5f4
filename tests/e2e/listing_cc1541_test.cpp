// The listing and the entry edits checked against an independent D64 tool:
// Debian's cc1541 writes the images from local files, and its own listing,
// the files' lengths and their zlib CRC-32 are the facts kestrel must match.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "support/cc1541.h"
#include "support/d64_builder.h"
#include "support/d64_zones.h"
#include "support/run_binary.h"
#include "support/shell.h"

#ifdef KESTREL_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

std::string upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

uint32_t crc32Of(const std::string &path, const std::vector<uint8_t> &data) {
#ifdef KESTREL_HAVE_ZLIB
    (void)path;
    return static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
#else
    (void)data;
    std::string out = shellOutput("python3 -c 'import sys,zlib; print(zlib.crc32(open(sys.argv[1],\"rb\").read()))' " + path);
    return static_cast<uint32_t>(std::stoul(out));
#endif
}

// One row of "kestrel -vntsfbc": number, then 28 characters of block count
// and name part, then the columns.
struct Row {
    std::string namePart;
    int track = -1, sector = -1;
    std::string start, bytes, blocks, crc;
};

Row parseRow(const std::string &line) {
    Row row;
    if (line.size() < 33 + 33) return row;
    row.namePart = line.substr(5, 28);
    row.track = std::stoi(line.substr(34, 2));
    row.sector = std::stoi(line.substr(37, 2));
    row.start = line.substr(40, 5);
    row.bytes = line.substr(46, 5);
    row.blocks = line.substr(52, 3);
    row.crc = line.substr(56, 10);
    return row;
}

struct LocalFile {
    std::string name;  // local file name, also the name given to cc1541 (lower case)
    const char *type;
    std::vector<uint8_t> data;
    std::string placement = "";  // cc1541 options for this file alone (e.g. "-r 36")
};

std::vector<LocalFile> makeFiles(const std::vector<size_t> &sizes) {
    const char *types[] = {"PRG", "SEQ", "USR", "PRG"};
    std::vector<LocalFile> files;
    for (size_t i = 0; i < sizes.size(); ++i)
        files.push_back({"file " + std::to_string(sizes[i]), types[i % 4],
                         randomBytes(sizes[i], static_cast<uint32_t>(1000 + i))});
    return files;
}

// Writes the files and builds the image with cc1541; false when cc1541 fails.
bool buildImage(const TempDir &dir, const std::vector<LocalFile> &files, const std::string &image,
                const std::string &extra) {
    std::string command = "cd " + dir.path + " && cc1541 -q -n 'cross check' -i 'k7' " + extra;
    for (const LocalFile &file : files) {
        writeBytes(dir.file(file.name), file.data);
        command += " -T " + std::string(file.type) + " -f '" + file.name + "' " + file.placement + " -w '" +
                   file.name + "'";
    }
    int status = -1;
    std::string out = shellOutput(command + " " + image + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return status == 0;
}

std::string startOf(const std::vector<uint8_t> &data) {
    char text[8];
    std::snprintf(text, sizeof text, "$%02x%02x", data[1], data[0]);
    return text;
}

// Checks kestrel's full listing of `image` against cc1541's listing and the local files.
void expectListingMatches(const TempDir &dir, const std::string &image, const std::vector<LocalFile> &files) {
    CcListing cc = ccList(dir, image);
    RunResult run = runBinary({"-vntsfbc", image}, dir.path);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines = splitLines(run.out);
    ASSERT_EQ(lines.size(), files.size() + 2) << run.out;
    ASSERT_EQ(cc.entries.size(), files.size());

    // Header: "  #: " then what cc1541 shows, in upper case, then the titles.
    EXPECT_EQ(lines[0], "  #: " + upper(cc.header) + "   t# s# start bytes blk check-sum ");
    EXPECT_EQ(lines.back(), upper(cc.blocksFree));
    for (size_t i = 0; i < files.size(); ++i) {
        const LocalFile &file = files[i];
        SCOPED_TRACE(file.name);
        char number[24];
        std::snprintf(number, sizeof number, "%3zu: ", i);
        EXPECT_EQ(lines[1 + i].substr(0, 5), number);
        Row row = parseRow(lines[1 + i]);
        // Block count, quoted name, splat, type and lock mark as cc1541 lists them.
        EXPECT_EQ(row.namePart, upper(cc.entries[i]));
        EXPECT_EQ(row.namePart.substr(24, 3), file.type);
        EXPECT_EQ(std::stoul(row.bytes), file.data.size());
        size_t realBlocks = file.data.empty() ? 1 : (file.data.size() + 253) / 254;
        EXPECT_EQ(std::stoul(row.blocks), realBlocks);
        EXPECT_EQ(std::stoul(row.namePart.substr(0, 5)), realBlocks);
        EXPECT_EQ(std::stoul(row.crc), crc32Of(dir.file(file.name), file.data));
        if (file.data.size() >= 2) {
            EXPECT_EQ(row.start, startOf(file.data));
        }
    }
}

const std::vector<size_t> kSizes = {1, 2, 253, 254, 255, 508, 509, 762, 1016, 1017, 3000, 10160, 25400, 40000};

}  // namespace

// Files of many sizes, written with several interleaves: sizes, blocks, CRCs,
// start addresses, names, types and free blocks agree with the independent facts.
TEST(ListingCc1541, FilesOfManySizesAndInterleaves) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    std::vector<LocalFile> files = makeFiles(kSizes);
    for (const char *interleave : {"", "-S 1", "-S 4", "-S 17"}) {
        SCOPED_TRACE(interleave);
        TempDir dir;
        if (!buildImage(dir, files, "disk.d64", interleave)) continue;
        expectListingMatches(dir, "disk.d64", files);
    }
}

// Locked and unclosed files and an entry without a file (cc1541 -L, start 0/0).
TEST(ListingCc1541, MarksAndEntriesWithoutBlocks) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    writeBytes(dir.file("data"), randomBytes(700, 7));
    int status = -1;
    std::string out = shellOutput(
        "cd " + dir.path + " && cc1541 -q -f locked -P -w data -f open -O -w data -f 'no file' -L disk.d64 2>&1",
        &status);
    ASSERT_EQ(status, 0) << out;
    CcListing cc = ccList(dir, "disk.d64");
    ASSERT_EQ(cc.entries.size(), 3u);
    RunResult run = runBinary({"-vtsfbc", "disk.d64"}, dir.path);
    std::vector<std::string> lines = splitLines(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lines[1 + i].substr(0, 28), upper(cc.entries[i]));
    EXPECT_EQ(lines[1].substr(23, 5), " PRG<");
    EXPECT_EQ(lines[2].substr(23, 5), "*PRG ");
    EXPECT_EQ(lines[3].substr(28), "  0  0 ----- ----- --- ----------");
    EXPECT_EQ(lines.back(), upper(cc.blocksFree));
}

// -rd, -sd and -start on a cc1541 image: the written image differs from the
// source in exactly the bytes the edit names, and cc1541 lists it as expected.
TEST(ListingCc1541, EditsChangeExactlyTheNamedBytes) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    std::vector<LocalFile> files = makeFiles({300, 1000, 2, 5000, 254, 800});
    ASSERT_TRUE(buildImage(dir, files, "src.d64", ""));
    const std::vector<uint8_t> source = readBytes(dir.file("src.d64"));
    ASSERT_EQ(source.size(), 174848u);
    CcListing before = ccList(dir, "src.d64");

    // cc1541 puts the six entries into the first directory block, slots 0..5.
    size_t map = zoneOffset(18, 0);
    size_t directory = zoneOffset(source[map], source[map + 1]);
    auto slot = [&](int index) { return directory + 32 * static_cast<size_t>(index); };

    {  // Remove entries 1 to 3: bytes 2..31 of those slots become 0.
        RunResult run = runBinary({"-rd", "1", "3", "src.d64", "rd.d64"}, dir.path);
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<uint8_t> expected = source;
        for (int i = 1; i <= 3; ++i) std::fill(expected.begin() + slot(i) + 2, expected.begin() + slot(i) + 32, 0);
        EXPECT_EQ(readBytes(dir.file("rd.d64")), expected);
        CcListing after = ccList(dir, "rd.d64");
        EXPECT_EQ(after.entries, (std::vector<std::string>{before.entries[0], before.entries[4], before.entries[5]}));
        EXPECT_EQ(after.blocksFree, before.blocksFree);  // the files' blocks stay allocated
    }
    {  // Scratch entry 4: only its type byte becomes 0.
        RunResult run = runBinary({"-sd", "4", "src.d64", "sd.d64"}, dir.path);
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<uint8_t> expected = source;
        expected[slot(4) + 2] = 0;
        EXPECT_EQ(readBytes(dir.file("sd.d64")), expected);
        CcListing after = ccList(dir, "sd.d64");
        std::vector<std::string> kept = before.entries;
        kept.erase(kept.begin() + 4);
        EXPECT_EQ(after.entries, kept);
        EXPECT_EQ(after.blocksFree, before.blocksFree);
    }
    {  // New start address for entry 3: bytes 2 and 3 of its first block.
        RunResult run = runBinary({"-start", "3", "0x1234", "src.d64", "start.d64"}, dir.path);
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<uint8_t> expected = source;
        size_t first = zoneOffset(source[slot(3) + 3], source[slot(3) + 4]);
        expected[first + 2] = 0x34;
        expected[first + 3] = 0x12;
        EXPECT_EQ(readBytes(dir.file("start.d64")), expected);
        EXPECT_EQ(ccList(dir, "start.d64").entries, before.entries);

        // The printed line shows the old address, then the new one.
        std::vector<std::string> lines = splitLines(run.out);
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(lines[4], upper(before.entries[3]) + " " + startOf(files[3].data) + " -> $1234");

        // The file as it now is on the disk: its first two bytes replaced.
        files[3].data[0] = 0x34;
        files[3].data[1] = 0x12;
        writeBytes(dir.file(files[3].name), files[3].data);
        expectListingMatches(dir, "start.d64", files);
    }
}

// A 40-track image (cc1541 -4) read whole: a file that crosses from track 35
// into track 36 and one that lies on tracks 36-40 alone list the files' own
// sizes, block counts and CRCs.
TEST(ListingCc1541, FortyTrackImageIsReadWhole) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    std::vector<LocalFile> files = makeFiles({90000, 80000, 3000});
    files[2].placement = "-r 36";
    ASSERT_TRUE(buildImage(dir, files, "forty.d64", "-4"));
    const std::vector<uint8_t> image = readBytes(dir.file("forty.d64"));
    ASSERT_EQ(image.size(), 196608u);
    expectListingMatches(dir, "forty.d64", files);

    // The image holds what the test is about, by the zone layout alone: the
    // second file's chain runs into track 36, the third starts above 35.
    size_t directory = zoneOffset(18, 1);
    auto entryStart = [&](int index) { return image.data() + directory + 32 * static_cast<size_t>(index) + 3; };
    bool reaches36 = false;
    int track = entryStart(1)[0], sector = entryStart(1)[1];
    for (int steps = 0; track != 0 && steps < 768 && !reaches36; ++steps) {
        reaches36 = track >= 36;
        size_t at = zoneOffset(track, sector);
        track = image[at];
        sector = image[at + 1];
    }
    EXPECT_TRUE(reaches36);
    EXPECT_GE(entryStart(2)[0], 36);
}

// The error bytes behind the blocks of a 175,531-byte image are no block: a
// link to 36/0 there names a block the image does not hold, as on the same
// image without them. Every action must see the two images alike.
TEST(ErrorBytes, AreNeverReadAsTrackThirtySix) {
    TempDir dir;
    ImageBuffer image = formatImage();
    TrackSector file = addFile(image, randomBytes(600, 7), "ONE");
    linkBlock(image, file.track, file.sector, 36, 0);   // the file runs on into "track 36"
    linkBlock(image, 18, 1, 36, 0);                      // and so does the directory
    std::vector<uint8_t> plain = bytesOf(image);
    std::vector<uint8_t> withErrors = plain;
    withErrors.resize(175531, 0x01);
    withErrors[174848] = 0x00;   // what a block 36/0 would link to: the end of a chain
    withErrors[174849] = 0xFF;
    writeBytes(dir.file("plain.d64"), plain);
    writeBytes(dir.file("errors.d64"), withErrors);

    struct Case {
        std::vector<std::string> args;
        std::string keys;
    };
    const Case cases[] = {
        {{"-vntsfbc"}, ""},
        {{"-csv"}, ""},
        {{"-block", "35", "0"}, "\033[Aq"},                                   // up stays on track 35
        {{"-block", std::to_string(file.track), std::to_string(file.sector)}, "jq"},  // j does nothing
        {{"-adel"}, ""},                                                       // refused: leaves the image
    };
    for (const Case &c : cases) {
        std::vector<std::string> plainArgs = c.args, errorArgs = c.args;
        plainArgs.push_back("plain.d64");
        errorArgs.push_back("errors.d64");
        RunResult onPlain = runBinary(plainArgs, dir.path, c.keys);
        RunResult onErrors = runBinary(errorArgs, dir.path, c.keys);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(onErrors.status, onPlain.status);
        EXPECT_EQ(onErrors.out.find("Block 36/0"), std::string::npos);
        std::string expected = onPlain.out, plainName = "plain", errorName = "errors";
        for (size_t at; (at = expected.find(plainName)) != std::string::npos;) expected.replace(at, plainName.size(), errorName);
        EXPECT_EQ(onErrors.out, expected);
    }
    EXPECT_EQ(readBytes(dir.file("errors.d64")), withErrors);
    EXPECT_TRUE(readBytes(dir.file("errors.out.d64")).empty());
}
