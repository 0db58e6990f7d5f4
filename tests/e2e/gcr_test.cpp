// G64 images end to end. One table of G64s written by a GCR writer of the
// tests' own, each with one knob of damage (read errors recorded as a drive
// reads them back, syncs off byte boundaries, a sector wrapping past the
// track's end, a killer track, missing and half tracks, N = 70, an EXT
// block, offsets and lengths past the end, a table one entry off), and the
// error per sector, the message and the conversion each must give. Then G64s
// written by Debian's cc1541 beside its D64s, round trips through kestrel's
// own writer, and edits written back in place.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/g64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tools.h"

namespace {

constexpr size_t kD64Size = 174848;

// A disk whose files reach most tracks (a 100 KB file and three small ones).
std::vector<uint8_t> sourceDisk() {
    ImageBuffer image = formatImage("GCR TEST", "ab");
    addFile(image, randomBytes(100000, 1), "BIG");
    addFile(image, randomBytes(3000, 2), "SMALL");
    addFile(image, randomBytes(700, 3), "TINY", 0x81);
    addFile(image, randomBytes(20000, 4), "MIDDLE");
    return bytesOf(image);
}

// "T/S NN" for each read error -check reports.
std::set<std::string> readErrors(const std::string &checkOutput) {
    std::set<std::string> found;
    for (const std::string &text : splitLines(checkOutput)) {
        size_t at = text.find("block ");
        int track, sector, error;
        if (at != std::string::npos && std::sscanf(text.c_str() + at, "block %d/%d: %d ", &track, &sector, &error) == 3)
            found.insert(std::to_string(track) + "/" + std::to_string(sector) + " " + std::to_string(error));
    }
    return found;
}

std::set<std::string> wholeTrack(int track, int error) {
    std::set<std::string> all;
    for (int s = 0; s < sectorsOfTrack(track); ++s)
        all.insert(std::to_string(track) + "/" + std::to_string(s) + " " + std::to_string(error));
    return all;
}

struct KnobCase {
    const char *name;
    void (*knob)(G64Knobs &);      // sets the row's knob
    std::set<std::string> errors;  // "T/S NN" reported by -check
    const char *message;           // a text -check prints (standard output or error), or ""
    int convertStatus;             // of -convert to a D64
    bool sameBlocks;               // the converted D64's blocks are those of the source
};

const KnobCase kKnobCases[] = {
    {"plain", [](G64Knobs &) {}, {}, "", 0, true},
    {"each error of a drive",
     [](G64Knobs &k) {
         k.errors = {{{1, 0}, 23}, {{1, 1}, 20}, {{1, 2}, 21}, {{9, 3}, 22}, {{17, 20}, 27}, {{19, 5}, 29}, {{35, 16}, 23}};
     },
     {"1/0 23", "1/1 20", "1/2 21", "9/3 22", "17/20 27", "19/5 29", "35/16 23"}, "", 0, false},
    {"bad GCR in a data block", [](G64Knobs &k) { k.errors = {{{20, 7}, 24}}; }, {"20/7 24"}, "", 0, false},
    {"syncs 3 bits off byte boundaries", [](G64Knobs &k) { k.shiftBits = 3; }, {}, "", 0, true},
    {"a sector wrapping past the track's end", [](G64Knobs &k) { k.rotateBytes = 300; }, {}, "", 0, true},
    {"wrapped and shifted", [](G64Knobs &k) { k.shiftBits = 5, k.rotateBytes = 6000; }, {}, "", 0, true},
    {"a killer track", [](G64Knobs &k) { k.killerTrack = 5; }, wholeTrack(5, 21), "", 0, false},
    {"a track without sync", [](G64Knobs &k) { k.noSyncTrack = 31; }, wholeTrack(31, 21), "", 0, false},
    {"a missing track", [](G64Knobs &k) { k.missingTrack = 12; }, wholeTrack(12, 21), "", 0, false},
    {"a half track with data", [](G64Knobs &k) { k.halfTrackWithData = 3; }, {}, "half tracks 3.5 with data", 0, true},
    {"70 entries", [](G64Knobs &k) { k.entries = 70; }, {}, "", 0, true},
    {"an EXT block", [](G64Knobs &k) { k.extBlock = true; }, {}, "", 0, true},
    {"an offset past the end", [](G64Knobs &k) { k.offsetPastEnd = 9; }, wholeTrack(9, 21),
     "track 9: its data at offset 5000000 lies past the end of the file", 0, false},
    {"a length past the end", [](G64Knobs &k) { k.lengthPastEnd = 35; }, {}, "track 35: its 9000 bytes run past the end of the file", 0,
     true},
    {"a track longer than its zone", [](G64Knobs &k) { k.longTrack = 2; }, {}, "tracks 2 longer than their zone's", 0, true},
    {"headers with another id", [](G64Knobs &k) { k.headerId = "2A"; }, {}, "the sector headers carry the disk id \"2A\"", 0, true},
};

TEST(GcrKnobs, EachKnobReadsAsADriveReadsIt) {
    TempDir dir;
    std::vector<uint8_t> d64 = sourceDisk();
    for (const KnobCase &row : kKnobCases) {
        SCOPED_TRACE(row.name);
        G64Knobs knobs;
        row.knob(knobs);
        writeBytes(dir.file("disk.g64"), buildG64(d64, knobs));
        RunResult check = runBinary({"-check", "disk.g64"}, dir.path, "", 20);
        EXPECT_EQ(readErrors(check.out), row.errors);
        EXPECT_TRUE(contains(check.out + check.err, row.message)) << check.out << check.err;
        RunResult convert = runBinary({"-convert", "disk.g64", "disk.d64"}, dir.path, "", 20);
        EXPECT_EQ(convert.status, row.convertStatus) << convert.err;
        std::vector<uint8_t> converted = readBytes(dir.file("disk.d64"));
        // Error bytes are appended exactly when a sector has an error.
        EXPECT_EQ(converted.size(), row.errors.empty() ? kD64Size : kD64Size + 683);
        if (row.sameBlocks && converted.size() >= kD64Size) {
            EXPECT_TRUE(std::equal(d64.begin(), d64.end(), converted.begin()));
        }
        // The listing of the G64 is the listing of the D64 it converts to.
        EXPECT_EQ(runBinary({"disk.g64"}, dir.path).out, runBinary({"disk.d64"}, dir.path).out);
    }
}

// An unreadable sector is filled as imagers fill it; a damaged but found one
// keeps what its data block decodes to.
TEST(GcrKnobs, UnreadableSectorsHoldTheFormatPattern) {
    TempDir dir;
    std::vector<uint8_t> d64 = sourceDisk();
    G64Knobs knobs;
    knobs.errors = {{{1, 1}, 20}, {{1, 2}, 21}, {{1, 3}, 22}, {{1, 4}, 23}, {{1, 5}, 27}};
    writeBytes(dir.file("disk.g64"), buildG64(d64, knobs));
    ASSERT_EQ(runBinary({"-convert", "disk.g64", "disk.d64"}, dir.path).status, 0);
    std::vector<uint8_t> converted = readBytes(dir.file("disk.d64"));
    ASSERT_EQ(converted.size(), kD64Size + 683);
    std::vector<uint8_t> pattern(256, 0x01);
    pattern[0] = 0x4B;
    for (int sector : {1, 2, 3})
        EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), converted.begin() + static_cast<long>(256 * sector)));
    for (int sector : {4, 5})
        EXPECT_TRUE(std::equal(d64.begin() + 256 * sector, d64.begin() + 256 * (sector + 1),
                               converted.begin() + 256 * sector));
    const uint8_t jobCodes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x09, 0x01};
    for (int sector = 0; sector < 7; ++sector) EXPECT_EQ(converted[kD64Size + static_cast<size_t>(sector)], jobCodes[sector]);
}

// Containers no drive could read are refused with one line, nothing written;
// a table one entry off reads (its tracks as errors) but does not convert.
TEST(GcrKnobs, BrokenContainersAreRefused) {
    TempDir dir;
    std::vector<uint8_t> g64 = buildG64(sourceDisk());
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        const char *message;
    };
    std::vector<uint8_t> zeroEntries = g64, cut(g64.begin(), g64.begin() + 300);
    zeroEntries[9] = 0;
    const Case cases[] = {
        {"0 entries", zeroEntries, "ERROR: File 'bad.g64' has a track table of 0 entries.\n"},
        {"table past the end", cut, "ERROR: File 'bad.g64' has a track table of 84 entries that runs past the end of the file.\n"},
        {"signature only", {'G', 'C', 'R', '-', '1', '5', '4', '1'}, "ERROR: File 'bad.g64' is too short for the header of a GCR image.\n"},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        writeBytes(dir.file("bad.g64"), row.bytes);
        RunResult run = runBinary({"-convert", "bad.g64", "out.d64"}, dir.path, "", 20);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, row.message);
        EXPECT_FALSE(toolWorks("test -e " + shellWord(dir.file("out.d64"))));
    }
    G64Knobs oneOff;
    oneOff.tableOneOff = true;
    writeBytes(dir.file("off.g64"), buildG64(sourceDisk(), oneOff));
    RunResult run = runBinary({"-convert", "off.g64", "out.d64"}, dir.path, "", 20);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "track 3 holds the sectors of track 2")) << run.err;
    EXPECT_FALSE(toolWorks("test -e " + shellWord(dir.file("out.d64"))));
}

// D64 (with error bytes) -> G64 -> D64 gives the same bytes, and the G64
// reads each error back; a blank .g64 of -new lists as the blank D64.
TEST(GcrRoundTrip, ErrorBytesSurviveTheGcrWriter) {
    TempDir dir;
    std::vector<uint8_t> d64 = sourceDisk();
    std::vector<uint8_t> errors(683, 0x01);
    const std::pair<size_t, uint8_t> marked[] = {{0, 0x05}, {1, 0x02}, {2, 0x03}, {3, 0x04}, {4, 0x06}, {5, 0x09},
                                                 {6, 0x0B}, {21, 0x02}, {26, 0x03}, {400, 0x03}, {682, 0x05}};
    for (auto [block, code] : marked) {
        errors[block] = code;
        if (code >= 0x02 && code <= 0x04) {  // unreadable: the pattern an imager fills in
            std::fill_n(d64.begin() + static_cast<long>(block * 256), 256, 0x01);
            d64[block * 256] = 0x4B;
        }
    }
    d64.insert(d64.end(), errors.begin(), errors.end());
    writeBytes(dir.file("err.d64"), d64);
    ASSERT_EQ(runBinary({"-convert", "err.d64", "err.g64"}, dir.path).status, 0);
    ASSERT_EQ(runBinary({"-convert", "err.g64", "back.d64"}, dir.path).status, 0);
    EXPECT_EQ(readBytes(dir.file("back.d64")), d64);
    EXPECT_EQ(readErrors(runBinary({"-check", "err.g64"}, dir.path).out),
              (std::set<std::string>{"1/0 23", "1/1 20", "1/2 21", "1/3 22", "1/4 24", "1/5 27", "1/6 29", "2/0 20",
                                     "2/5 21", "20/5 21",
                                     "35/16 23"}));
    ASSERT_EQ(runBinary({"-new", "BLANK,AB", "blank.g64"}, dir.path).status, 0);
    ASSERT_EQ(runBinary({"-new", "BLANK,AB", "blank.d64"}, dir.path).status, 0);
    EXPECT_EQ(runBinary({"blank.g64"}, dir.path).out, runBinary({"blank.d64"}, dir.path).out);
    RunResult json = runBinary({"-json", "blank.g64"}, dir.path);
    EXPECT_TRUE(contains(json.out, "\"size\":278234,\"format\":\"g64\",\"tracks\":35")) << json.out;
}

// cc1541 writes a G64 beside its D64: kestrel lists, extracts and converts
// it exactly as the D64.
TEST(GcrCc1541, ItsG64IsItsD64) {
    REQUIRE_TOOL("command -v cc1541", "cc1541");
    TempDir dir;
    writeBytes(dir.file("a.prg"), randomBytes(30000, 7));
    writeBytes(dir.file("b.seq"), randomBytes(254, 8));
    writeBytes(dir.file("c.prg"), randomBytes(1, 9));
    const char *commands[] = {
        "cc1541 -q -n DEMO -i 42 -w a.prg -T SEQ -f B -w b.seq -g disk.g64 disk.d64",
        "cc1541 -q -n EMPTY -g disk.g64 disk.d64",
        "cc1541 -q -S 3 -f C -w c.prg -f A -w a.prg -t -g disk.g64 disk.d64",
    };
    for (const char *command : commands) {
        SCOPED_TRACE(command);
        shellOutput("cd " + shellWord(dir.path) + " && rm -rf disk.* g d && mkdir g d && " + command);
        ASSERT_FALSE(readBytes(dir.file("disk.g64")).empty());
        for (const std::vector<std::string> &args :
             std::vector<std::vector<std::string>>{{"-vntsfbc"}, {"-csv"}, {"-e"}, {"-bam"}}) {
            std::vector<std::string> g = args, d = args;
            g.push_back("disk.g64");
            d.push_back("disk.d64");
            EXPECT_EQ(runBinary(g, dir.path).out, runBinary(d, dir.path).out);
        }
        ASSERT_EQ(runBinary({"-convert", "disk.g64", "back.d64"}, dir.path).status, 0);
        EXPECT_EQ(readBytes(dir.file("back.d64")), readBytes(dir.file("disk.d64")));
        ASSERT_EQ(runBinary({"-x", "-into", "g", "disk.g64"}, dir.path).status, 0);
        ASSERT_EQ(runBinary({"-x", "-into", "d", "disk.d64"}, dir.path).status, 0);
        EXPECT_EQ(shellOutput("cd " + shellWord(dir.path) + " && diff -r g d && ls g | wc -l"),
                  shellOutput("cd " + shellWord(dir.path) + " && ls d | wc -l"));
    }
}

// Edits of a G64 rewrite only the data blocks they change: the half track
// and the killer track stay byte for byte, the rest converts as the same
// edit of the D64 does; an edit of a block whose data block is not found is
// refused and nothing is written.
TEST(GcrEdits, OnlyChangedDataBlocksAreRewritten) {
    TempDir dir;
    std::vector<uint8_t> d64 = sourceDisk();
    G64Knobs knobs;
    knobs.shiftBits = 3, knobs.rotateBytes = 7000, knobs.killerTrack = 33, knobs.halfTrackWithData = 3;
    std::vector<uint8_t> g64 = buildG64(d64, knobs);
    writeBytes(dir.file("disk.g64"), g64);
    writeBytes(dir.file("disk.d64"), d64);
    writeBytes(dir.file("new.prg"), randomBytes(2000, 11));
    for (const char *image : {"disk.g64", "disk.d64"})
        ASSERT_EQ(runBinary({image, "-w", "new.prg", "-rename", "1", "RENAMED", "-fix"}, dir.path).status, 0);
    std::vector<uint8_t> edited = readBytes(dir.file("disk.out.g64"));
    ASSERT_EQ(edited.size(), g64.size());
    size_t changed = 0;
    for (size_t i = 0; i < g64.size(); ++i) changed += g64[i] != edited[i];
    EXPECT_GT(changed, 0u);
    EXPECT_LE(changed, 12u * 325);  // 8 data blocks, the directory block, 18/0
    // The entries of half track 3.5 and track 33 point at bytes that did not change.
    for (size_t entry : {5u, 64u}) {
        size_t offset = g64[12 + 4 * entry] | g64[13 + 4 * entry] << 8 | g64[14 + 4 * entry] << 16;
        EXPECT_TRUE(std::equal(g64.begin() + static_cast<long>(offset), g64.begin() + static_cast<long>(offset + 7930),
                               edited.begin() + static_cast<long>(offset)));
    }
    ASSERT_EQ(runBinary({"-convert", "disk.out.g64", "edited.d64"}, dir.path).status, 0);
    std::vector<uint8_t> fromG64 = readBytes(dir.file("edited.d64")), fromD64 = readBytes(dir.file("disk.out.d64"));
    ASSERT_EQ(fromG64.size(), kD64Size + 683);  // track 33 reads as 21
    size_t track33 = d64BlockOffset(33, 0), track34 = d64BlockOffset(34, 0);
    EXPECT_TRUE(std::equal(fromD64.begin(), fromD64.begin() + static_cast<long>(track33), fromG64.begin()));
    EXPECT_TRUE(std::equal(fromD64.begin() + static_cast<long>(track34), fromD64.end(),
                           fromG64.begin() + static_cast<long>(track34)));

    G64Knobs hurt;
    hurt.errors = {{{18, 0}, 22}};
    writeBytes(dir.file("hurt.g64"), buildG64(d64, hurt));
    // Every edit that changes 18/0, the block commands too; a block that reads is still written.
    const std::vector<std::string> refused[] = {{"-header", "NEW NAME"}, {"-bfill", "18/0", "1"},
                                                {"-bpoke", "18/0", "144", "41"}, {"-bused", "1/0"}};
    for (const std::vector<std::string> &edit : refused) {
        SCOPED_TRACE(edit[0]);
        std::vector<std::string> args = {"hurt.g64"};
        args.insert(args.end(), edit.begin(), edit.end());
        args.push_back("out.g64");
        RunResult run = runBinary(args, dir.path);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(contains(run.err, "block 18/0 cannot be written: its data block is not found on the track (22 data "
                                      "block not present); nothing was written.")) << run.err;
        EXPECT_FALSE(toolWorks("test -e " + shellWord(dir.file("out.g64"))));
    }
    ASSERT_EQ(runBinary({"hurt.g64", "-bfill", "18/5", "1", "out.g64"}, dir.path).status, 0);
    EXPECT_TRUE(contains(runBinary({"-block", "18", "5", "out.g64"}, dir.path).out, "00: 01 01 01 01 01 01 01 01"));
}

}  // namespace

namespace {

// -convert and writes of GCR images that cannot be: one line on standard
// error, status 1, nothing written.
TEST(GcrConvert, RefusalsWriteNothing) {
    TempDir dir;
    for (const char *image : {"a.d64", "a.d71", "a.d81"}) ASSERT_EQ(runBinary({"-new", "A,AB", image}, dir.path).status, 0);
    struct Case {
        std::vector<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        {{"-convert", "a.d64"},
         "ERROR: '-convert' writes the image named after the source; its extension (.d64, .d71, .g64, .g71) gives "
         "the kind.\n"},
        {{"-convert", "a.d64", "b.d71"}, "ERROR: 'a.d64' is a d64 image; '-convert' cannot write it as 'b.d71'.\n"},
        {{"-convert", "a.d81", "b.G64"}, "ERROR: 'a.d81' is a d81 image; '-convert' cannot write it as 'b.G64'.\n"},
        {{"-convert", "a.d71", "b.g64"}, "ERROR: 'a.d71' is a d71 image; '-convert' cannot write it as 'b.g64'.\n"},
        {{"a.d71", "-adel", "b.g64"},
         "ERROR: 'a.d71' is a d71 image, which has no GCR-1541 (.g64) form; nothing was written.\n"},
        {{"a.d81", "-adel", "b.g71"},
         "ERROR: 'a.d81' is a d81 image, which has no GCR-1571 (.g71) form (a 1581 does not record GCR); nothing "
         "was written.\n"},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        RunResult run = runBinary(row.args, dir.path);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, row.message);
        EXPECT_EQ(listFolder(dir.path), (std::vector<std::string>{"a.d64", "a.d71", "a.d81"}));
    }
    // A D71 converts to a G71 and back.
    ASSERT_EQ(runBinary({"-convert", "a.d71", "a.g71"}, dir.path).status, 0);
    ASSERT_EQ(runBinary({"-convert", "a.g71", "b.d71"}, dir.path).status, 0);
    EXPECT_EQ(readBytes(dir.file("b.d71")), readBytes(dir.file("a.d71")));
    EXPECT_TRUE(contains(runBinary({"-json", "a.g71"}, dir.path).out, "\"format\":\"g71\",\"tracks\":70"));
}

}  // namespace

namespace {

// NIB and NBZ dumps, written by the tests' own imager from the same tracks
// as the G64s above: each track's revolution is found, and the dump reads,
// converts and lists as its disk; what a dump lacks or lies about is one
// warning naming the track, never a hang.
struct NibCase {
    const char *name;
    void (*knob)(NibKnobs &);
    bool packed;                   // written as an NBZ
    std::set<std::string> errors;  // "T/S NN" reported by -check
    const char *message;           // a warning the reads print, or ""
    bool sameBlocks;               // the converted D64's blocks are those of the source
};

const NibCase kNibCases[] = {
    {"plain", [](NibKnobs &) {}, false, {}, "", true},
    {"packed", [](NibKnobs &) {}, true, {}, "", true},
    {"dumps started inside a sector", [](NibKnobs &k) { k.startByte = 3001; }, true, {}, "", true},
    {"read errors in the dumps", [](NibKnobs &k) { k.tracks.errors = {{{1, 0}, 23}, {{18, 4}, 22}, {{35, 16}, 21}}; },
     false, {"1/0 23", "18/4 22", "35/16 21"}, "", false},
    {"a killer track", [](NibKnobs &k) { k.tracks.killerTrack = 5; }, true, wholeTrack(5, 21), "", false},
    {"a half track dumped", [](NibKnobs &k) { k.halfTrackDump = 3; }, false, {}, "half tracks 3.5 with data", true},
    // The dump starts 679 bytes into track 7, inside sector 1's data block: read as one turn, the
    // sector's header lies at the dump's end and its data runs into the bytes that do not repeat.
    {"a track without a repeat", [](NibKnobs &k) { k.noRepeatTrack = 7; }, false, {"7/1 24"},
     "WARNING: 'disk.nib': track 7: no revolution found (its 8192 bytes do not repeat); the whole dump is read as one "
     "turn.\n",
     false},
    {"the last dump cut after a revolution", [](NibKnobs &k) { k.cutInLastDump = 7000; }, false, {},
     "WARNING: 'disk.nib': track 35: its dump is cut short at 7000 of 8192 bytes.\n", true},
    // Cut 4,000 bytes into the dump of track 35, which starts 3,395 bytes into the track (17 sectors
    // of 363 bytes): sectors 0-2 and 10-16 are whole, 3's data block is cut, 4-9 are not there.
    {"the last dump cut inside its revolution", [](NibKnobs &k) { k.cutInLastDump = 4000; }, true,
     {"35/3 24", "35/4 20", "35/5 20", "35/6 20", "35/7 20", "35/8 20", "35/9 20"},
     "track 35: no revolution found (its 4000 bytes do not repeat)", false},
    {"a track listed twice", [](NibKnobs &k) { k.listedTwice = 9; }, true, {},
     "the header lists track 9 twice; its second dump is left out", true},
    {"a track past 42", [](NibKnobs &k) { k.listedBeyond = 90; }, false, {},
     "the header lists track 45, which a 1541 image does not hold; it is left out", true},
    {"tracks listed without dumps", [](NibKnobs &k) { k.listedWithoutDump = 2; }, false, {},
     "the header lists track 37, but the file ends before its dump; it reads as no sync", true},
    {"a density the track was not written at", [](NibKnobs &k) { k.wrongDensity = 20; }, false, {}, "", true},
};

TEST(GcrNib, EachDumpReadsThroughItsRevolutions) {
    TempDir dir;
    std::vector<uint8_t> d64 = sourceDisk();
    writeBytes(dir.file("disk.d64"), d64);
    std::string listing = runBinary({"disk.d64"}, dir.path).out;
    for (const NibCase &row : kNibCases) {
        SCOPED_TRACE(row.name);
        NibKnobs knobs;
        row.knob(knobs);
        std::vector<uint8_t> nib = buildNib(d64, knobs);
        const char *name = row.packed ? "disk.nbz" : "disk.nib";
        writeBytes(dir.file(name), row.packed ? packNbz(nib) : nib);
        RunResult check = runBinary({"-check", name}, dir.path, "", 20);
        EXPECT_EQ(readErrors(check.out), row.errors);
        EXPECT_TRUE(contains(check.out + check.err, row.message)) << check.out << check.err;
        RunResult convert = runBinary({"-convert", name, "back.d64"}, dir.path, "", 20);
        EXPECT_EQ(convert.status, 0) << convert.err;
        std::vector<uint8_t> converted = readBytes(dir.file("back.d64"));
        EXPECT_EQ(converted.size(), row.errors.empty() ? kD64Size : kD64Size + 683);
        if (row.sameBlocks) {
            EXPECT_EQ(runBinary({name}, dir.path).out, listing);
            EXPECT_TRUE(converted.size() >= kD64Size && std::equal(d64.begin(), d64.end(), converted.begin()));
        }
        // Its G64 holds the revolutions: it converts to the same D64, without the dump's warnings.
        ASSERT_EQ(runBinary({"-convert", name, "disk.g64"}, dir.path, "", 20).status, 0);
        RunResult again = runBinary({"-convert", "disk.g64", "again.d64"}, dir.path, "", 20);
        EXPECT_EQ(readBytes(dir.file("again.d64")), converted);
        EXPECT_FALSE(contains(again.err, "dump")) << again.err;
    }
}

// A NIB or NBZ that cannot be read is refused with one line; a NIB is
// never written (its edits and conversions are written as a G64).
TEST(GcrNib, BrokenDumpsAreRefusedAndEditsWriteAG64) {
    TempDir dir;
    std::vector<uint8_t> d64 = sourceDisk();
    std::vector<uint8_t> nib = buildNib(d64), nbz = packNbz(nib);
    std::vector<uint8_t> cutCopy(nbz.begin(), nbz.begin() + 2), beforeStart;
    for (std::vector<uint8_t> *bytes : {&cutCopy, &beforeStart}) {
        bytes->assign(nbz.begin(), nbz.begin() + 2);  // the marker, 'M'
        bytes->insert(bytes->end(), {'N', 'I', 'B', '-', '1', '5', '4', '1', '-', 'R', 'A', 'W', nbz[0], 0x85});
    }
    beforeStart.back() = 0x05, beforeStart.push_back(0x20);  // 5 bytes from 32 back, after 13
    std::vector<uint8_t> tooLarge(nbz.begin(), nbz.begin() + 300);
    tooLarge.insert(tooLarge.end(), {nbz[0], 0x8F, 0xFF, 0xFF, 0x7F, 0x01});
    struct Case {
        const char *name;
        const char *file;
        std::vector<uint8_t> bytes;
        const char *message;
    };
    const Case cases[] = {
        {"a header cut short", "bad.nib", std::vector<uint8_t>(nib.begin(), nib.begin() + 200),
         "ERROR: File 'bad.nib' is too short for the header of a NIB image.\n"},
        {"a copy cut short", "bad.nbz", cutCopy, "ERROR: File 'bad.nbz' ends inside an LZ77 copy at byte 14.\n"},
        {"a copy from before the start", "bad.nbz", beforeStart,
         "ERROR: File 'bad.nbz' holds an LZ77 copy from before its start at byte 14.\n"},
        {"a copy past the largest NIB", "bad.nbz", tooLarge,
         "ERROR: File 'bad.nbz' unpacks to more than the 983296 bytes of the largest NIB.\n"},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        std::remove(dir.file("out.d64").c_str());
        writeBytes(dir.file(row.file), row.bytes);
        RunResult run = runBinary({"-convert", row.file, "out.d64"}, dir.path, "", 20);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, row.message);
        EXPECT_FALSE(toolWorks("test -e " + shellWord(dir.file("out.d64"))));
    }
    writeBytes(dir.file("disk.nib"), nib);
    writeBytes(dir.file("new.prg"), randomBytes(2000, 11));
    writeBytes(dir.file("disk.d64"), d64);
    RunResult refused = runBinary({"-convert", "disk.d64", "x.nib"}, dir.path);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "x.nib")) << refused.err;
    ASSERT_EQ(runBinary({"disk.nib", "-w", "new.prg"}, dir.path).status, 0);
    ASSERT_EQ(runBinary({"disk.d64", "-w", "new.prg"}, dir.path).status, 0);
    ASSERT_EQ(runBinary({"-convert", "disk.out.g64", "edited.d64"}, dir.path).status, 0);
    EXPECT_EQ(readBytes(dir.file("edited.d64")), readBytes(dir.file("disk.out.d64")));
    EXPECT_EQ(readBytes(dir.file("disk.nib")), nib);
}

}  // namespace
