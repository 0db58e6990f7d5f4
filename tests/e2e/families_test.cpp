// D71 and D81 images end to end: images made by Debian's cc1541 and
// cbmconvert, and blank ones built byte by byte as the 1571 and 1581 format
// them, are listed, extracted (compared with the files put in), written to
// (read back by cbmconvert) and checked; a table of sizes and headers shows
// how each is detected.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/cc1541.h"
#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tools.h"

namespace {

// A blank disk as the drive formats it: name "BLANK", id "AB".
std::vector<uint8_t> blankD71() {
    std::vector<uint8_t> image(349696, 0);
    ImageBuffer side1 = formatImage("BLANK", "AB");  // 18/0 and 18/1 as a 1541 formats them
    std::copy(side1.bytes.begin(), side1.bytes.end(), image.begin());
    uint8_t *header = image.data() + 0x16500;
    header[3] = 0x80;
    for (int track = 36; track <= 70; ++track) {
        int sectors = track <= 52 ? 21 : track <= 59 ? 19 : track <= 65 ? 18 : 17;
        uint8_t *bits = image.data() + 0x41000 + 3 * (track - 36);  // 53/0
        if (track == 53) continue;
        header[0xDD + track - 36] = static_cast<uint8_t>(sectors);
        for (int sector = 0; sector < sectors; ++sector) bits[sector / 8] |= static_cast<uint8_t>(1 << sector % 8);
    }
    return image;
}

// A D81 with partition "PART" (tracks 41-45, formatted "INNER"), inside it
// "SUB" (43-45, formatted "DEEP"); in the root also "ODD" (50-51, too small).
std::vector<uint8_t> partitionedD81() {
    std::vector<uint8_t> image = blankD81();
    addPartition(image, 40, 0, "PART", 41, 45);
    formatD81(image, 41, 41, 45, "INNER");
    addPartition(image, 41, 0, "SUB", 43, 45);
    formatD81(image, 43, 43, 45, "DEEP");
    addPartition(image, 40, 1, "ODD", 50, 51);
    return image;
}

// Number of `part` in `text`.
int count(const std::string &text, const std::string &part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The "N error(s)" figure of a check's last line.
int checkErrors(const RunResult &check) { return std::stoi(splitLines(check.out).back()); }

struct FamilyCase {
    const char *what;
    const char *image;    // the image's name
    const char *make;     // shell command that makes it in the folder from BIG and SMALL; empty: a blank disk
    const char *format;   // -json "format"
    int tracks;           // -json "tracks"
    int blocksFree;       // on the disk as made
    const char *written;  // where -w puts the first block of a new file, as its line shows it
    size_t firstBlock;    // that block's offset in the image
    int secondSector;     // the sector on the same track the drive's interleave gives the second block
    const char *fault;    // a part of the -check line on the tool's known fault; empty: none
    bool faultStays;      // a header byte -fix reports and leaves, not a map fault it mends
    int errors;           // the check's errors on the disk as made: the tool's faults, each once
};

const FamilyCase kFamilyCases[] = {
    {"cc1541 D71", "c.d71", "cc1541 -n DISK -f BIG -w big.prg -f SMALL -w small.prg c.d71", "d71", 70, 505,
     "from 17/0", 0x15000, 6, "error: 53/0 bytes DD-FF hold side 2's free counts and 18/0 DD-FF are 0", false, 2},
    {"cbmconvert D71", "b.d71", "cbmconvert -v0 -n -D7 b.d71 BIG SMALL", "d71", 70, 1187, "from 17/0", 0x15000, 6,
     "error: track 53: 18 blocks marked free in 53/0, count 18 at 18/0 $EE", false, 1},
    {"cc1541 D81", "c.d81", "cc1541 -n DISK -f BIG -w big.prg -f SMALL -w small.prg c.d81", "d81", 80, 3001,
     "from 39/0", 389120, 1, "warning: 40/0: bytes 19-1A are $32 $41, not \"3D\" (\"2A\", as cc1541", true, 0},
    {"cbmconvert D81", "b.d81", "cbmconvert -v0 -n -D8 b.d81 BIG SMALL", "d81", 80, 3001, "from 39/0", 389120, 1,
     "warning: 40/0: bytes 1D-1E are $A0 $A0, where the 1581 writes $00", true, 0},
    {"blank D71 as the 1571 formats it", "blank.d71", "", "d71", 70, 1328, "from 17/0", 0x15000, 6, "", false, 0},
    {"blank D81 as the 1581 formats it", "blank.d81", "", "d81", 80, 3160, "from 39/0", 389120, 1, "", false, 0},
};

TEST(Families, ListExtractWriteAndCheckAgainstCc1541AndCbmconvert) {
    REQUIRE_TOOL("command -v cc1541", "cc1541");
    REQUIRE_TOOL("command -v cbmconvert", "cbmconvert");
    const std::vector<uint8_t> big = randomBytes(40000, 71), small = {0x01, 0x08, 'H', 'I'};
    for (const FamilyCase &c : kFamilyCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeBytes(dir.file("big.prg"), big);
        writeBytes(dir.file("BIG"), big);
        writeBytes(dir.file("small.prg"), small);
        writeBytes(dir.file("SMALL"), small);
        writeBytes(dir.file("NEW.prg"), big);
        bool blank = *c.make == '\0';
        if (blank) writeBytes(dir.file(c.image), std::string(c.image).ends_with("d71") ? blankD71() : blankD81());
        else shellOutput("cd " + shellWord(dir.path) + " && " + c.make + " >/dev/null 2>&1");

        RunResult json = runBinary({"-json", c.image}, dir.path);
        ASSERT_EQ(json.status, 0) << json.err;
        EXPECT_TRUE(contains(json.out, std::string("\"format\":\"") + c.format + "\",\"tracks\":" +
                                           std::to_string(c.tracks) + ","))
            << json.out;
        EXPECT_TRUE(contains(json.out, "\"blocks_free\":" + std::to_string(c.blocksFree) + ",")) << json.out;
        EXPECT_EQ(count(json.out, "\"bytes\":40000,\"blocks\":158,"), blank ? 0 : 1) << json.out;
        EXPECT_EQ(json.err, "");

        RunResult bam = runBinary({"-bam", c.image}, dir.path);
        for (const std::string &line : splitLines(bam.out)) EXPECT_LE(line.size(), 80u) << line;

        if (!blank) {
            RunResult extract = runBinary({"-x", c.image, "-into", "out"}, dir.path);
            ASSERT_EQ(extract.status, 0) << extract.err;
            std::vector<std::string> files = listFolder(dir.file("out"));
            ASSERT_EQ(files.size(), 2u);
            EXPECT_EQ(readBytes(dir.file("out/" + files[0])), big);  // BIG sorts before SMALL
            EXPECT_EQ(readBytes(dir.file("out/" + files[1])), small);
        }

        RunResult before = runBinary({"-check", c.image}, dir.path);
        EXPECT_TRUE(contains(before.out, c.fault)) << before.out;
        EXPECT_EQ(checkErrors(before), c.errors) << before.out;
        RunResult fix = runBinary({"-fix", c.image, "fixed.img"}, dir.path);
        ASSERT_EQ(fix.status, 0) << fix.err;
        RunResult fixed = runBinary({"-check", "fixed.img"}, dir.path);
        EXPECT_EQ(checkErrors(fixed), 0) << fixed.out;
        EXPECT_EQ(*c.fault && contains(fixed.out, c.fault), c.faultStays) << fixed.out;
        RunResult write = runBinary({c.image, "-w", "NEW.prg", "new.img"}, dir.path);
        ASSERT_EQ(write.status, 0) << write.err;
        EXPECT_TRUE(contains(write.out, std::string("\"NEW\" PRG, 158 blocks ") + c.written)) << write.out;
        std::vector<uint8_t> written = readBytes(dir.file("new.img"));
        ASSERT_GT(written.size(), c.firstBlock + 1);
        EXPECT_EQ(written[c.firstBlock + 1], c.secondSector);
        RunResult after = runBinary({"-check", "new.img"}, dir.path);
        EXPECT_EQ(checkErrors(after), checkErrors(before)) << before.out << after.out;
        EXPECT_TRUE(contains(after.out, c.fault)) << after.out;  // the fault as it was, not spread
        RunResult writeFixed = runBinary({"fixed.img", "-w", "NEW.prg", "new2.img"}, dir.path);
        ASSERT_EQ(writeFixed.status, 0) << writeFixed.err;
        EXPECT_EQ(checkErrors(runBinary({"-check", "new2.img"}, dir.path)), 0);
        std::string left = std::to_string(c.blocksFree - 158);
        if (blank) {
            EXPECT_EQ(after.out, "0 errors, 0 warnings; " + std::string(c.tracks == 70 ? "179" : "162") +
                                     " blocks used by files and the directory; " + left + " blocks free by the map, " +
                                     left + " by the chains\n");
        }
        shellOutput("mkdir " + shellWord(dir.file("back")) + " && cd " + shellWord(dir.file("back")) +
                    " && cbmconvert -v0 -N -d ../new.img >/dev/null 2>&1");
        EXPECT_EQ(readBytes(dir.file("back/new.prg")), big);
    }
}

// A blank disk "BLANK,AB" byte by byte as each drive formats it: a D64 of 35
// tracks, or of 40 with the map of tracks 36-40 at `extension` of 18/0
// (SpeedDOS C0, DolphinDOS AC), a D71, a D81; error bytes ($01) when asked.
std::vector<uint8_t> blankImage(const std::string &family, int extension, bool errorBytes) {
    std::vector<uint8_t> image = family == "d71"   ? blankD71()
                                 : family == "d81" ? blankD81()
                                                   : bytesOf(formatImage("BLANK", "AB", extension ? 40 : 35));
    const uint8_t freeTrack[] = {0x11, 0xFF, 0xFF, 0x01};  // 17 sectors free
    for (int i = 0; extension && i < 5; ++i) std::copy(freeTrack, freeTrack + 4, image.begin() + 0x16500 + extension + 4 * i);
    if (errorBytes) image.resize(image.size() + image.size() / 256, 0x01);
    return image;
}

struct BlankCase {
    const char *what;
    std::vector<std::string> options;  // after -new BLANK,AB
    const char *image;
    const char *family;
    int extension;     // 18/0 offset of the map of tracks 36-40; 0: 35 tracks
    bool errorBytes;
    size_t cbmBytes;   // the leading bytes cbmconvert reads as an image (it takes neither 40 tracks nor error bytes)
};

const BlankCase kBlankCases[] = {
    {"D64", {}, "n.d64", "d64", 0, false, 174848},
    {"D64 with error bytes, named in capitals", {"-errorbytes"}, "n.D64", "d64", 0, true, 174848},
    {"D64 of 40 tracks, SpeedDOS map", {"-40", "speeddos"}, "s.d64", "d64", 0xC0, false, 174848},
    {"D64 of 40 tracks, DolphinDOS map", {"-40", "DolphinDOS", "-errorbytes"}, "d.d64", "d64", 0xAC, true, 174848},
    {"D71", {}, "n.d71", "d71", 0, false, 349696},
    {"D71 with error bytes", {"-errorbytes"}, "e.d71", "d71", 0, true, 349696},
    {"D81", {}, "n.d81", "d81", 0, false, 819200},
    {"D81 with error bytes", {"-errorbytes"}, "e.D81", "d81", 0, true, 819200},
};

// -new makes each family's blank disk byte for byte; cc1541 accepts and
// lists it; filled in the same run, cbmconvert gives every file back; and a
// second -new onto it is refused and leaves it as it was.
TEST(Families, NewDiskIsTheDrivesFormatAndTakesFiles) {
    REQUIRE_TOOL("command -v cc1541", "cc1541");
    REQUIRE_TOOL("command -v cbmconvert", "cbmconvert");
    const std::vector<uint8_t> intro = randomBytes(3000, 5), part = randomBytes(20000, 6);
    for (const BlankCase &c : kBlankCases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeBytes(dir.file("intro.prg"), intro);
        writeBytes(dir.file("part1.prg"), part);
        std::vector<std::string> args = {"-new", "BLANK,AB"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::vector<std::string> blank = args, full = args;
        blank.push_back(c.image);
        RunResult made = runBinary(blank, dir.path);
        ASSERT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(readBytes(dir.file(c.image)), blankImage(c.family, c.extension, c.errorBytes));
        std::string extension = std::string(".") + c.family;
        // cc1541 -V knows a 1541 only, and looks for a D71's side-2 counts in 53/0.
        if (extension == ".d64") {
            std::string out = shellOutput("cd " + shellWord(dir.path) + " && cp " + c.image + " v" + extension +
                                          " && cc1541 -V v" + extension + " 2>&1");
            EXPECT_FALSE(contains(out, "ERROR")) << out;
        }

        for (const char *option : {"-w", "intro.prg", "-w", "part1.prg", "-check", "full"}) full.push_back(option);
        full.back() += extension;
        RunResult filled = runBinary(full, dir.path);
        ASSERT_EQ(filled.status, 0) << filled.out << filled.err;
        EXPECT_TRUE(contains(filled.out, "0 errors, 0 warnings;")) << filled.out;
        std::string json = runBinary({"-json", full.back()}, dir.path).out;
        size_t at = json.find("\"blocks_free\":");
        ASSERT_NE(at, std::string::npos) << json;
        CcListing listing = ccList(dir, full.back());
        EXPECT_EQ(listing.header, std::string("0 \"blank           \" ab ") + (extension == ".d81" ? "3d" : "2a"));
        EXPECT_EQ(listing.entries.size(), 2u);
        EXPECT_EQ(listing.blocksFree, std::to_string(std::stoi(json.substr(at + 14))) + " blocks free.");
        shellOutput("cd " + shellWord(dir.path) + " && head -c " + std::to_string(c.cbmBytes) + " " + full.back() +
                    " > cbm" + extension + " && mkdir back && cd back && cbmconvert -v0 -N -d ../cbm" + extension +
                    " >/dev/null 2>&1");
        EXPECT_EQ(readBytes(dir.file("back/intro.prg")), intro);
        EXPECT_EQ(readBytes(dir.file("back/part1.prg")), part);

        std::vector<uint8_t> before = readBytes(dir.file(full.back()));
        args.push_back(full.back());
        RunResult again = runBinary(args, dir.path);
        EXPECT_EQ(again.status, 1);
        EXPECT_TRUE(contains(again.err, "already exists; '-new' never replaces a file.")) << again.err;
        EXPECT_EQ(readBytes(dir.file(full.back())), before);
    }
}

// Detection: the size decides the family, the header confirms it, the
// extension is a hint.
struct DetectionCase {
    const char *what;
    const char *name;
    std::vector<uint8_t> bytes;
    const char *json;     // a part of the -json line
    const char *warning;  // a part of standard error; empty: none
    const char *check;    // how the -json line's check begins
};

TEST(Families, SizeDecidesHeaderConfirmsNameHints) {
    std::vector<uint8_t> singleSided = blankD71(), foreignD81 = blankD81(), movedDirectory = blankD81();
    singleSided[0x16503] = 0x00;
    foreignD81[39 * 40 * 256 + 256 + 3] = 0x00;
    movedDirectory[39 * 40 * 256 + 1] = 0x05;
    std::vector<uint8_t> partition = blankD81();
    const uint8_t entry[] = {0x85, 41, 0, 'P', 'A', 'R', 'T'};
    uint8_t *slot = partition.data() + 39 * 40 * 256 + 3 * 256 + 2;
    std::copy(entry, entry + sizeof entry, slot);
    std::fill(slot + sizeof entry, slot + 19, 0xA0);
    slot[28] = 120;                                     // 120 blocks: tracks 41-43
    for (int track = 41; track <= 43; ++track)          // marked used in 40/2
        std::fill_n(partition.data() + 39 * 40 * 256 + 512 + 0x10 + 6 * (track - 41), 6, 0);
    std::vector<uint8_t> track53Free = blankD71(), d81SecondMap = blankD81();
    const uint8_t partlyFree[] = {0xFF, 0xFF, 0x03};  // 53/0, track 53: 18 sectors free, count 0 at 18/0 EE
    std::copy(partlyFree, partlyFree + 3, track53Free.begin() + 0x41000 + 3 * (53 - 36));
    d81SecondMap[d81Block(40, 2) + 2] = 0x00;
    std::vector<uint8_t> thirtySix = bytesOf(formatImage());
    thirtySix.resize(179200, 0);
    const DetectionCase cases[] = {
        {"a D71 flagged single-sided reads as 35 tracks", "s.d71", singleSided,
         "\"format\":\"d71\",\"tracks\":35,", "marks it single-sided (byte 03 is $00)", "\"errors\":0,"},
        {"a D81 map without $44 $BB", "f.d81", foreignD81, "\"blocks_free\":0,", "40/1 bytes 02-03 are $44 $00",
         "\"errors\":1,"},
        {"a D71 whose 53/0 marks track 53 free, its count 0", "t53.d71", track53Free, "\"blocks_free\":1328,", "",
         "\"errors\":1,"},
        {"a D81 whose 40/2 lacks its $44", "s.d81", d81SecondMap, "\"blocks_free\":3160,", "", "\"errors\":1,"},
        {"a D81 directory from 40/5", "m.d81", movedDirectory, "\"entries\":[]", "starts the directory at 40/5",
         "\"errors\":1,"},
        {"a D81 named .d64", "x.d64", blankD81(), "\"format\":\"d81\",\"tracks\":80,", "is named .d64, but its size",
         "\"errors\":0,"},
        {"a 36-track D64 is whole", "t.d64", thirtySix, "\"tracks\":36,\"error_bytes\":false,\"disk_name\"", "",
         "\"errors\":0,"},
        {"a 1581 partition is a CBM entry whose range is used", "p.d81", partition,
         "\"type\":\"CBM\",\"type_byte\":133,\"closed\":true,\"locked\":false,\"name\":\"PART\"", "",
         "\"errors\":0,\"warnings\":0,\"blocks_used\":124,"},
    };
    for (const DetectionCase &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeBytes(dir.file(c.name), c.bytes);
        RunResult json = runBinary({"-json", "-check", c.name}, dir.path);
        EXPECT_EQ(json.status, contains(c.check, ":0,") ? 0 : 3);
        EXPECT_TRUE(contains(json.out, std::string("\"check\":{") + c.check)) << json.out;
        EXPECT_TRUE(contains(json.out, c.json)) << json.out;
        EXPECT_TRUE(contains(json.err, c.warning)) << json.err;
        EXPECT_EQ(count(json.err, "WARNING: "), *c.warning ? 1 : 0) << json.err;
    }
    TempDir dir;
    writeBytes(dir.file("a.d71"), blankD71());
    writeBytes(dir.file("b.d81"), blankD81());
    RunResult merge = runBinary({"-merge", "a.d71", "b.d81"}, dir.path);
    EXPECT_EQ(merge.status, 1);
    EXPECT_TRUE(contains(merge.err, "only directories of one disk family can be merged")) << merge.err;
    // A D81's id has copies in 40/1 and 40/2, which an id edit keeps in step.
    ASSERT_EQ(runBinary({"b.d81", "-id", "XY", "c.d81"}, dir.path).status, 0);
    std::vector<uint8_t> edited = readBytes(dir.file("c.d81"));
    for (size_t at : {0x16u, 0x104u, 0x204u})
        EXPECT_EQ(std::string(edited.begin() + 39 * 40 * 256 + at, edited.begin() + 39 * 40 * 256 + at + 2), "XY");
    // -fix writes the $44 $BB the 1581 needs to take its map, in 40/1 and 40/2, as its validate does.
    for (const std::vector<uint8_t> &map : {foreignD81, d81SecondMap}) {
        writeBytes(dir.file("f.d81"), map);
        ASSERT_EQ(runBinary({"-fix", "f.d81", "g.d81"}, dir.path).status, 0);
        EXPECT_EQ(readBytes(dir.file("g.d81")), blankD81());
    }
    // A partition is an area of the disk, no file: -x leaves it.
    writeBytes(dir.file("p.d81"), partition);
    RunResult extract = runBinary({"-x", "p.d81", "-into", "p"}, dir.path);
    EXPECT_EQ(extract.status, 0);
    EXPECT_FALSE(contains(extract.out, "part")) << extract.out;
}

// Partitions: entered with -part (nested when repeated), listed, written to,
// extracted from and checked inside; the root's check looks inside each.
struct PartitionCase {
    const char *what;
    std::vector<std::string> args;  // run in a folder holding p.d81 (partitionedD81), bad.d81 and NEW.prg
    int status;
    const char *out;  // a part of standard output
    const char *err;  // a part of standard error; empty: none
};

TEST(Families, PartitionsAsSubDirectories) {
    std::vector<uint8_t> bad = partitionedD81();
    bad[d81Block(43, 1) + 0x10] = bad[d81Block(43, 1) + 0x11] = 1;  // DEEP's map: 1/0 free, outside its area
    // In DEEP: a file whose chain leaves for 1/0, and its map block 43/1 marked free.
    std::vector<uint8_t> leak = partitionedD81();
    const uint8_t leakEntry[] = {0x82, 44, 0, 'L', 'E', 'A', 'K'};
    std::copy(leakEntry, leakEntry + sizeof leakEntry, leak.begin() + d81Block(43, 3) + 2);
    std::fill(leak.begin() + d81Block(43, 3) + 2 + sizeof leakEntry, leak.begin() + d81Block(43, 3) + 21, 0xA0);
    leak[d81Block(43, 3) + 30] = 2;
    leak[d81Block(44, 0)] = 1;                              // 44/0 links to 1/0, then ends
    leak[d81Block(1, 0) + 1] = 0xFF;
    leak[d81Block(43, 2) + 0x10 + 6 * 3] = 39;              // track 44 (in 43/2, the map of 41-80): 44/0 used
    leak[d81Block(43, 2) + 0x10 + 6 * 3 + 1] = 0xFE;
    leak[d81Block(43, 2) + 0x10 + 6 * 2 + 1] |= 0x02;       // track 43: 43/1 free
    // PART's tracks marked free at the root, and a root directory that links on into PART's header.
    std::vector<uint8_t> open = partitionedD81(), intoPart = partitionedD81();
    for (int track = 41; track <= 45; ++track) {
        const uint8_t free[] = {40, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        std::copy(free, free + 6, open.begin() + d81Block(40, 2) + 0x10 + 6 * (track - 41));
    }
    intoPart[d81Block(40, 3)] = 42;
    intoPart[d81Block(40, 3) + 1] = 0;
    // A root file X whose chain runs on into PART's area (39/0, then 41/5).
    std::vector<uint8_t> cross = partitionedD81();
    const uint8_t crossEntry[] = {0x82, 39, 0, 'X'};
    std::copy(crossEntry, crossEntry + sizeof crossEntry, cross.begin() + d81Block(40, 3) + 64 + 2);
    std::fill(cross.begin() + d81Block(40, 3) + 64 + 2 + sizeof crossEntry, cross.begin() + d81Block(40, 3) + 64 + 21,
              0xA0);
    cross[d81Block(40, 3) + 64 + 30] = 2;
    cross[d81Block(39, 0)] = 41;
    cross[d81Block(39, 0) + 1] = 5;
    cross[d81Block(41, 5) + 1] = 0xFF;
    cross[d81Block(40, 1) + 0x10 + 6 * 38] = 39;
    cross[d81Block(40, 1) + 0x10 + 6 * 38 + 1] = 0xFE;
    // A CBM entry over tracks 38-40, the root's own, formatted inside.
    std::vector<uint8_t> high = blankD81();
    addPartition(high, 40, 0, "HIGH", 38, 40);
    formatD81(high, 38, 38, 40, "HIGH");
    const PartitionCase cases[] = {
        {"the root lists each partition with its size", {"p.d81"}, 0,
         "200  \"PART\"             CBM \n80   \"ODD\"", ""},
        {"inside: header, entries, blocks free without track 41", {"-part", "PART", "p.d81"}, 0,
         "0 \"INNER           \" AB 3D  \n120  \"SUB\"              CBM \n40 BLOCKS FREE.", ""},
        {"nested", {"-part", "PART", "-part", "SUB", "p.d81"}, 0, "\"DEEP            \" AB 3D  \n80 BLOCKS FREE.", ""},
        {"a file is placed outward from the partition's track", {"-part", "PART", "-part", "SUB", "p.d81", "-w",
         "NEW.prg", "w.d81"}, 0, "\"NEW\" PRG, 20 blocks from 44/0", ""},
        {"the root check is clean", {"-check", "p.d81"}, 0, "0 errors, 0 warnings", ""},
        {"the root check looks inside each sub-directory", {"-check", "bad.d81"}, 3,
         "error: partition \"PART\" (tracks 41-45): partition \"SUB\" (tracks 43-45): track 1: outside the "
         "partition (tracks 43-45), yet marked free (count 1, 1 bit)\n1 error,", ""},
        {"-fix inside marks the tracks outside used", {"-part", "PART", "-part", "SUB", "-fix", "bad.d81", "f.d81"},
         0, "fix: track 1: 1 -> 0 blocks free", ""},
        {"-fix of the root keeps each partition's range used as it is", {"-fix", "p.d81", "r.d81"}, 0,
         "fix: the map agrees with the chains; nothing changed", ""},
        {"no such entry", {"-part", "NONE", "p.d81"}, 1, "", "No entry named 'NONE' in the directory from 40/0"},
        {"too small", {"-part", "ODD", "p.d81"}, 1, "", "'ODD' cannot be entered as a sub-directory: it spans fewer"},
        {"nested names are looked up inside", {"-part", "SUB", "p.d81"}, 1, "", "No entry named 'SUB'"},
        {"a partition shows its size in blocks, no file figures", {"-vsfbc", "p.d81"}, 0,
         "200  \"PART\"             CBM  ----- ----- 200 ----------\n", ""},
        {"and so in -json", {"-json", "p.d81"}, 0, "\"start_address\":null,\"bytes\":null,\"blocks\":200,\"crc32\":null}", ""},
        {"-json lists inside the partition it enters", {"-json", "-part", "PART", "-part", "SUB", "p.d81"}, 0,
         "\"partition\":[\"PART\",\"SUB\"],\"disk_name\":\"DEEP\"", ""},
        {"an image without it gives its error line", {"-json", "-part", "SUB", "p.d81"}, 1,
         "{\"image\":\"p.d81\",\"error\":\"No entry named 'SUB' in the directory from 40/0.\"}\n",
         "No entry named 'SUB'"},
        {"-fix of the root mends inside each sub-directory", {"-fix", "bad.d81", "rf.d81"}, 0,
         "fix: partition \"PART\" (tracks 41-45): partition \"SUB\" (tracks 43-45): track 1: 1 -> 0 blocks free", ""},
        {"a partition holding the root's directory track is not entered", {"-part", "HIGH", "-w", "NEW.prg",
         "high.d81", "h.d81"}, 1, "", "'HIGH' cannot be entered as a sub-directory: it holds the track of the"},
        {"a chain that leaves its partition", {"-check", "leak.d81"}, 3,
         "error: partition \"PART\" (tracks 41-45): partition \"SUB\" (tracks 43-45): entry 0 \"LEAK\" (43/3 slot "
         "0): the data chain: 44/0 links to 1/0, outside the partition (tracks 43-45)\n", ""},
        {"a sub-directory's findings name its own header and map", {"-check", "leak.d81"}, 3,
         "(tracks 43-45): 43/0-43/2, the header and map: 1 block in use marked free in the map: 43/1\n", ""},
        {"a full partition says so", {"-part", "PART", "-part", "SUB", "-w", "BIG.prg", "p.d81", "x.d81"}, 2, "",
         "ERROR: Partition 'SUB' of 'p.d81' is full! 'BIG.prg' needs"},
        {"a partition is no file to replace", {"-wreplace", "-wname", "PART", "-w", "NEW.prg", "p.d81", "x.d81"}, 1,
         "", "ERROR: '-wreplace' for 'NEW.prg': the entry of its name on 'p.d81' is a 1581 partition, which is never "
         "replaced.\n"},
        {"type 5 is no file", {"-wtype", "0x85", "-w", "NEW.prg", "p.d81", "x.d81"}, 1, "",
         "ERROR: Type byte $85 for 'NEW.prg' is that of a 1581 partition (CBM)"},
        {"a partition's blocks are in use at the root, whatever its map says", {"-wtrack", "41", "-w", "NEW.prg",
         "open.d81", "o.d81"}, 0, "\"NEW\" PRG, 20 blocks from 46/0",
         "WARNING: The map marks block 41/0 free, but it is"},
        {"the root directory does not grow into a partition", {"-adel", "into.d81", "o.d81"}, 1, "",
         "runs into block 42/0"},
        {"a file beside the partitions", {"-w", "NEW.prg", "p.d81", "pf.d81"}, 0, "  2: \"NEW\" PRG, 20 blocks", ""},
        {"-copy leaves each partition out with a warning", {"-copy", "pf.d81", "-new", "C,AB", "c.d81"}, 0,
         "  0: \"NEW\" PRG, 20 blocks from 39/0",
         "WARNING: 'pf.d81' entry 0 \"PART\" is a 1581 partition, an area of the disk and no file; it is not copied.\n"
         "WARNING: 'pf.d81' entry 1 \"ODD\" is a 1581 partition"},
        {"-wreplace frees no block of a partition", {"-wreplace", "-wname", "X", "-w", "NEW.prg", "cross.d81",
         "xr.d81"}, 0, "  2: \"X\" PRG, 20 blocks from 39/1", ""},
        {"so the partition's blocks stay used at the root", {"-check", "xr.d81"}, 0, "0 errors, 0 warnings", ""},
        {"-mkpart takes the lowest free tracks and formats inside", {"-mkpart", "NEWP", "200", "p.d81", "mk.d81"}, 0,
         "  2: \"NEWP\" CBM, 200 blocks, tracks 1-5, formatted inside\n", ""},
        {"the new partition is a sub-directory", {"-part", "NEWP", "mk.d81"}, 0,
         "0 \"NEWP            \" AB 3D  \n160 BLOCKS FREE.", ""},
        {"-mkpart inside a partition", {"-part", "NEWP", "-mkpart", "IN", "120", "-w", "NEW.prg", "mk.d81", "mk2.d81"},
         0, "  0: \"IN\" CBM, 120 blocks, tracks 2-4, formatted inside\n  1: \"NEW\" PRG, 20 blocks from", ""},
        {"a partition full of partitions", {"-part", "PART", "-mkpart", "MORE", "120", "p.d81", "x.d81"}, 2, "",
         "ERROR: Partition 'PART' of 'p.d81' has no 3 free tracks in a row (apart from track 41) for partition 'MORE'"},
        {"-mkpart of a name taken", {"-mkpart", "ODD", "120", "p.d81", "x.d81"}, 1, "",
         "ERROR: 'p.d81' holds an entry named 'ODD' already.\n"},
        {"-mkpart of part of a track", {"-mkpart", "X", "130", "p.d81", "x.d81"}, 1, "",
         "ERROR: '-mkpart X 130': a 1581 partition is whole tracks of 40 blocks, at least 120 blocks (3 tracks), such "
         "as 160.\n"},
    };
    TempDir dir;
    writeBytes(dir.file("p.d81"), partitionedD81());
    writeBytes(dir.file("bad.d81"), bad);
    writeBytes(dir.file("leak.d81"), leak);
    writeBytes(dir.file("high.d81"), high);
    writeBytes(dir.file("open.d81"), open);
    writeBytes(dir.file("cross.d81"), cross);
    writeBytes(dir.file("into.d81"), intoPart);
    const std::vector<uint8_t> payload = randomBytes(5000, 26);
    writeBytes(dir.file("NEW.prg"), payload);
    writeBytes(dir.file("BIG.prg"), randomBytes(81 * 254, 27));  // a block more than DEEP holds
    for (const PartitionCase &c : cases) {
        SCOPED_TRACE(c.what);
        RunResult run = runBinary(c.args, dir.path);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_TRUE(contains(run.out, c.out)) << run.out;
        EXPECT_TRUE(*c.err ? contains(run.err, c.err) : run.err.empty()) << run.err;
    }
    // The JSON of the root, of each partition and of their checks is valid by the schema.
    if (!pythonWithJsonschema().empty()) {
        std::string lines;
        for (std::vector<std::string> args : {std::vector<std::string>{"-json", "-check", "-va", "p.d81", "bad.d81"},
                                              {"-json", "-check", "-part", "PART", "p.d81", "bad.d81"},
                                              {"-json", "-part", "PART", "-part", "SUB", "-check", "bad.d81"}})
            lines += runBinary(args, dir.path).out;
        writeBytes(dir.file("lines.jsonl"), std::vector<uint8_t>(lines.begin(), lines.end()));
        bool valid = false;
        std::string verdict = jsonLinesVerdict(sourcePath("doc/kestrel-json.schema.json"),
                                               sourcePath("tests/support/check_json_lines.py"), dir.file("lines.jsonl"), valid);
        EXPECT_TRUE(valid) << verdict;
        EXPECT_EQ(count(lines, "\"partition\":"), 3);
    }

    // What was written inside reads back, and the disk checks clean from the root.
    RunResult extract = runBinary({"-part", "PART", "-part", "SUB", "-x", "w.d81", "-into", "out"}, dir.path);
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(readBytes(dir.file("out/new.prg")), payload);
    EXPECT_EQ(checkErrors(runBinary({"-check", "w.d81"}, dir.path)), 0);
    EXPECT_EQ(checkErrors(runBinary({"-check", "f.d81"}, dir.path)), 0);
    EXPECT_EQ(checkErrors(runBinary({"-check", "rf.d81"}, dir.path)), 0);
    RunResult made = runBinary({"-check", "mk2.d81"}, dir.path);
    EXPECT_EQ(made.out, "0 errors, 0 warnings; 484 blocks used by files and the directory; 2680 blocks free by the "
                        "map, 2680 by the chains\n");
    // cc1541 lists what -mkpart made as the 1581 would: a CBM entry of its size, its tracks not free.
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 missing";
    CcListing listing = ccList(dir, "mk2.d81");
    EXPECT_EQ(listing.blocksFree, "2680 blocks free.");
    EXPECT_TRUE(std::any_of(listing.entries.begin(), listing.entries.end(), [](const std::string &line) {
        return line.starts_with("200  \"newp\"") && line.ends_with("cbm ");
    })) << listing.entries.size();
}

}  // namespace
