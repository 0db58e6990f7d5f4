// Directory listing, name field, entry edits and export, on images built byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/options.h"
#include "directory/listing.h"
#include "disk/chain.h"
#include "disk/image.h"
#include "support/d64_builder.h"
#include "support/shell.h"

namespace {

// Bytes of the nine ASCII digits "123456789"; their CRC-32 is the published
// check value 0xCBF43926 = 3421780262.
const std::vector<uint8_t> kCheckDigits = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

// Header of formatImage("TEST DISK", "AB"): "0 \"", 16 name characters, "\" ",
// the id "AB", a padding blank and "2A", then two blanks: 28 characters.
const std::string kHeaderStart = "0 \"TEST DISK       \" AB 2A  ";

std::string nameField(const std::string &shown) { return shown + std::string(18 - shown.size(), ' '); }

class Listing : public ::testing::Test {
protected:
    void SetUp() override {
        resetOptions();
        exportCount = 0;
    }

    // Runs the walk and returns what it printed; the warnings land in `err`.
    std::string run(ImageBuffer &image, int printListing = 1) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        showDirectory(image, printListing);
        std::fflush(stdout);
        err = testing::internal::GetCapturedStderr();
        return testing::internal::GetCapturedStdout();
    }

    std::string nameOf(const uint8_t *slot) {
        std::vector<uint8_t> copy(slot, slot + 32);
        testing::internal::CaptureStdout();
        printEntryName(kShapeD64, DirEntry{copy.data()});
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    std::string err;
};

// One 32-byte slot with a name given as raw disk bytes (padded with 0xA0).
std::vector<uint8_t> slotWith(uint8_t type, std::vector<uint8_t> name) {
    std::vector<uint8_t> slot(32, 0);
    slot[2] = type;
    name.resize(16, 0xA0);
    std::copy(name.begin(), name.end(), slot.begin() + 5);
    return slot;
}

}  // namespace

// ---------------------------------------------------------------- header and columns

// Every combination of the optional columns: the header's titles stand exactly
// over the values of the entry line, and both lines hold exactly what was chosen.
TEST_F(Listing, TitlesStandOverTheirColumnsInEveryCombination) {
    ImageBuffer base = formatImage("TEST DISK", "AB");
    addFile(base, kCheckDigits, "CHECK");  // first block 17/0

    struct Column {
        const char *title;
        const char *value;
    };
    const Column columns[] = {
        {" t# s#", " 17  0"},            // start track and sector
        {" start", " $3231"},            // "12" read little-endian
        {" bytes", "     9"},            // payload length
        {" blk", "   1"},                // one block
        {" check-sum ", " 3421780262"},  // CRC-32 of "123456789"
    };
    for (int mask = 0; mask < 64; ++mask) {
        resetOptions();
        options.showNumbers = mask & 1;
        options.showTrackSector = (mask >> 1) & 1;
        options.showStartAddress = (mask >> 2) & 1;
        options.showFileSize = (mask >> 3) & 1;
        options.showBlockCount = (mask >> 4) & 1;
        options.showChecksum = (mask >> 5) & 1;
        const int chosen[] = {options.showTrackSector, options.showStartAddress, options.showFileSize,
                              options.showBlockCount, options.showChecksum};

        std::string header = (options.showNumbers ? "  #: " : "") + kHeaderStart;
        std::string line = std::string(options.showNumbers ? "  0: " : "") + "1    " + nameField("\"CHECK\"") + " PRG ";
        for (int c = 0; c < 5; ++c) {
            if (!chosen[c]) continue;
            header += columns[c].title;
            line += columns[c].value;
        }
        ImageBuffer image = base;
        std::vector<std::string> lines = splitLines(run(image));
        ASSERT_EQ(lines.size(), 3u) << "mask " << mask;
        EXPECT_EQ(lines[0], header) << "mask " << mask;
        EXPECT_EQ(lines[1], line) << "mask " << mask;
        EXPECT_EQ(lines[2], "663 BLOCKS FREE.");
        // Titles end where their values end: the two lines are equally long.
        EXPECT_EQ(lines[0].size(), lines[1].size()) << "mask " << mask;
    }
}

// -start without "s" switches the start column on, so later titles stay in place.
TEST_F(Listing, StartEditAloneShowsTheStartColumn) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    addFile(image, kCheckDigits, "CHECK");
    options.changeStartAddress = 1;
    options.startEntry = 7;  // no such entry: nothing is changed
    options.newStartAddress = 0x1000;
    options.showFileSize = 1;
    ImageBuffer before = image;
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], kHeaderStart + " start bytes");
    EXPECT_EQ(lines[1], "1    " + nameField("\"CHECK\"") + " PRG  $3231     9");
    EXPECT_EQ(image.bytes, before.bytes);
}

TEST_F(Listing, EmptyDirectoryGivesHeaderAndFreeLineOnly) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    linkBlock(image, 18, 0, 0, 255);  // no directory chain at all
    addRawEntry(image, 0x82, 17, 0, "NEVER SEEN", 1);
    EXPECT_EQ(run(image), kHeaderStart + "\n664 BLOCKS FREE.\n");
}

// A five-digit block count fills its column; the quote follows without a blank.
TEST_F(Listing, FiveDigitBlockCountsFillTheColumn) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    addRawEntry(image, 0x82, 17, 0, "BIG", 12345);
    addRawEntry(image, 0x81, 17, 1, "BIGGEST", 65535);
    addRawEntry(image, 0x81, 17, 2, "SMALL", 9999);
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "12345" + nameField("\"BIG\"") + " PRG ");
    EXPECT_EQ(lines[2], "65535" + nameField("\"BIGGEST\"") + " SEQ ");
    EXPECT_EQ(lines[3], "9999 " + nameField("\"SMALL\"") + " SEQ ");
}

// ---------------------------------------------------------------- name field

TEST_F(Listing, NameFieldQuoteRules) {
    struct Case {
        std::vector<uint8_t> name;
        std::string shown;
    };
    const Case cases[] = {
        // Ordinary name: the first padding byte becomes the closing quote.
        {{'H', 'E', 'L', 'L', 'O'}, "\"HELLO\"           "},
        // Sixteen characters, no padding: the 18th character is the quote.
        {{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'}, "\"ABCDEFGHIJKLMNOP\""},
        // A quote in the name ends the pending quote: padding stays blank.
        {{'A', 'B', '"', 'C', 'D'}, "\"AB\"CD            "},
        // A quote as the 16th character: no closing quote at all.
        {{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', '"'}, "\"ABCDEFGHIJKLMNO\" "},
        // Padding inside the name: the first 0xA0 is the quote, later ones are blanks.
        {{'A', 'B', 0xA0, 'C', 'D'}, "\"AB\"CD            "},
        // Empty name: the quote follows the opening quote at once.
        {{}, "\"\"                "},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> slot = slotWith(0x82, c.name);
        EXPECT_EQ(nameOf(slot.data()), c.shown + " PRG ") << c.shown;
    }
}

TEST_F(Listing, NameFieldConvertsCharactersButNotTheQuoteRule) {
    // 0x60 converts to 0xC4 and 0x5C to 0x9C; 0x01 shows as 'A' (0x41).
    std::vector<uint8_t> slot = slotWith(0x81, {0x60, 0x5C, 0x01});
    EXPECT_EQ(nameOf(slot.data()), nameField("\"\xC4\x9C" "A\"") + " SEQ ");

    // Raw mode prints the bytes unchanged, yet the first 0xA0 is still the quote.
    options.rawCharacters = 1;
    EXPECT_EQ(nameOf(slot.data()), "\"\x60\x5C\x01\"" + std::string(12, '\xA0') + "  SEQ ");
}

TEST_F(Listing, SplatLockAndTypeNames) {
    struct Case {
        uint8_t type;
        const char *tail;  // splat mark, type name, lock mark
    };
    const Case cases[] = {
        {0x00, "*DEL "}, {0x01, "*SEQ "}, {0x02, "*PRG "}, {0x03, "*USR "}, {0x04, " REL "},
        {0x80, " DEL "}, {0x81, " SEQ "}, {0x82, " PRG "}, {0x83, " USR "}, {0x84, " REL "},
        {0x85, " ??? "}, {0x86, " ??? "}, {0x87, " ??? "}, {0xC0, " DEL<"}, {0xC2, " PRG<"},
        {0xC4, " REL<"}, {0xC5, " ??? "}, {0x42, " PRG "}, {0xFF, " ??? "},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> slot = slotWith(c.type, {'X'});
        EXPECT_EQ(nameOf(slot.data()), nameField("\"X\"") + c.tail) << "type " << int(c.type);
    }
}

// ---------------------------------------------------------------- shown slots and numbering

TEST_F(Listing, NumberingWithAndWithoutDeletedSlots) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    addRawEntry(image, 0x82, 17, 0, "FIRST", 1);
    addRawEntry(image, 0x82, 17, 1, "SECOND", 2);  // becomes a scratched slot below
    addRawEntry(image, 0x81, 17, 2, "THIRD", 3);
    slotBytes(image, 18, 1, 1)[2] = 0;
    // Slots 3..7 are all zero.
    options.showNumbers = 1;
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "  0: 1    " + nameField("\"FIRST\"") + " PRG ");
    EXPECT_EQ(lines[2], "  1: 3    " + nameField("\"THIRD\"") + " SEQ ");

    options.showAll = 1;
    lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1], "  0: 1    " + nameField("\"FIRST\"") + " PRG ");
    EXPECT_EQ(lines[2], "  1: 2    " + nameField("\"SECOND\"") + "*DEL ");
    EXPECT_EQ(lines[3], "  2: 3    " + nameField("\"THIRD\"") + " SEQ ");
    // An all-zero slot: 16 characters from code 0 ('@'), closed by the quote.
    for (int n = 3; n <= 7; ++n)
        EXPECT_EQ(lines[1 + n], "  " + std::to_string(n) + ": 0    \"@@@@@@@@@@@@@@@@\"*DEL ");
}

// Entries without a start block show placeholders; the t/s column shows the
// bytes. Only 18/0 itself counts as none on track 18: a file there is measured.
TEST_F(Listing, PlaceholdersForEntriesWithoutStartBlock) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    addRawEntry(image, 0x80, 0, 0, "NOSTART", 0);
    addRawEntry(image, 0x82, 18, 0, "MAPBLOCK", 0);
    addRawEntry(image, 0x82, 0, 7, "TRACKZERO", 0);
    uint8_t *onTrack18 = blockAt(image, 18, 5);
    linkBlock(image, 18, 5, 0, 10);  // bytes 2..10: the nine check digits
    std::copy(kCheckDigits.begin(), kCheckDigits.end(), onTrack18 + 2);
    addRawEntry(image, 0x82, 18, 5, "DIRTRACK", 1);
    options.showTrackSector = options.showStartAddress = options.showFileSize = 1;
    options.showBlockCount = options.showChecksum = 1;
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 6u);
    const std::string dashes = " ----- ----- --- ----------";
    EXPECT_EQ(lines[1], "0    " + nameField("\"NOSTART\"") + " DEL   0  0" + dashes);
    EXPECT_EQ(lines[2], "0    " + nameField("\"MAPBLOCK\"") + " PRG  18  0" + dashes);
    EXPECT_EQ(lines[3], "0    " + nameField("\"TRACKZERO\"") + " PRG   0  7" + dashes);
    EXPECT_EQ(lines[4], "1    " + nameField("\"DIRTRACK\"") + " PRG  18  5 $3231     9   1 3421780262");
}

// An empty file is one block whose link is (0, 1): 0 bytes, 1 block, CRC 0.
TEST_F(Listing, EmptyFileMeasuresZeroBytesInOneBlock) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    addFile(image, {}, "EMPTY");
    options.showFileSize = options.showBlockCount = options.showChecksum = 1;
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "1    " + nameField("\"EMPTY\"") + " PRG      0   1          0");
}

// ---------------------------------------------------------------- CSV

TEST_F(Listing, CsvLinesCarryEveryColumnAndTheDiskName) {
    // Disk name with graphics: 0x60 -> 0xC4, 0x7B -> 0xC5, 0x5C -> 0x9C, 0xC1 -> 0xC1.
    ImageBuffer image = formatImage("TEST DISK", "AB");
    uint8_t *map = blockAt(image, 18, 0);
    map[144 + 9] = 0x60;
    map[144 + 10] = 0x7B;
    map[144 + 11] = 0x5C;
    map[144 + 12] = 0xC1;
    const std::string diskName = "TEST DISK\xC4\xC5\x9C\xC1   ";
    addFile(image, kCheckDigits, "CHECK");
    addRawEntry(image, 0x80, 0, 0, "NOSTART", 0);

    options.csvOutput = options.showNumbers = options.showTrackSector = options.showStartAddress = 1;
    options.showFileSize = options.showBlockCount = options.showChecksum = 1;
    std::string out = run(image);
    EXPECT_EQ(out, "  0;1    ;" + nameField("\"CHECK\"") + "; ;PRG; ;17; 0;$3231;    9;  1;3421780262;" + diskName +
                       "\n"
                       "  1;0    ;" +
                       nameField("\"NOSTART\"") + "; ;DEL; ; 0; 0;-----;-----;---;----------;" + diskName + "\n");

    // The same disk name in the header of the normal listing.
    resetOptions();
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "0 \"" + diskName + "\" AB 2A  ");
}

// ---------------------------------------------------------------- walk

// A directory block reached whose first byte is above 40 is replaced by 18/1.
TEST_F(Listing, BlockWithTrackAbove40IsReplacedBy18_1) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    addRawEntry(image, 0x82, 17, 0, "IN 18/1", 1);
    // 18/0 -> 18/3, whose first byte 41 is no track: 18/1 is listed instead, then its link ends the walk.
    linkBlock(image, 18, 0, 18, 3);
    uint8_t *odd = blockAt(image, 18, 3);
    std::vector<uint8_t> slot = slotWith(0x82, {'Z'});
    std::copy(slot.begin() + 2, slot.end(), odd + 2);
    odd[0] = 41;
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "1    " + nameField("\"IN 18/1\"") + " PRG ");
    EXPECT_TRUE(err.empty()) << err;

    // A first byte of exactly 40 is a track: the block itself is listed.
    odd[0] = 40;
    odd[1] = 0;
    lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "0    " + nameField("\"Z\"") + " PRG ");
}

TEST_F(Listing, LinkOutsideTheImageEndsTheWalkWithAWarning) {
    for (int badTrack : {36, 0x50}) {
        ImageBuffer image = formatImage("TEST DISK", "AB");  // 35 tracks: 36/x is absent
        addRawEntry(image, 0x82, 17, 0, "ONE", 1);
        linkBlock(image, 18, 1, badTrack, 0);
        std::string out = run(image);
        EXPECT_EQ(out, kHeaderStart + "\n1    " + nameField("\"ONE\"") + " PRG \n664 BLOCKS FREE.\n");
        EXPECT_EQ(err.rfind("WARNING: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

// 18/1 -> 18/2 -> 18/1 ...: the walk ends where it meets 18/1 again, each
// entry listed once; the warning names the block the loop closes at.
TEST_F(Listing, LoopingChainIsListedOnce) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    addRawEntry(image, 0x82, 17, 0, "ONE", 1);
    linkBlock(image, 18, 1, 18, 2);
    linkBlock(image, 18, 2, 18, 1);
    std::vector<uint8_t> slot = slotWith(0x81, {'T', 'W', 'O'});
    std::copy(slot.begin() + 2, slot.end(), blockAt(image, 18, 2) + 2);
    options.showNumbers = 1;
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 2u + 2);
    EXPECT_EQ(lines[1], "  0: 1    " + nameField("\"ONE\"") + " PRG ");
    EXPECT_EQ(lines[2], "  1: 0    " + nameField("\"TWO\"") + " SEQ ");
    EXPECT_EQ(lines.back(), "664 BLOCKS FREE.");
    EXPECT_EQ(err, "WARNING: The directory chain loops back to block 18/1; the listing ends there.\n");
}

// ---------------------------------------------------------------- blocks free

TEST_F(Listing, BlocksFreeSkipsTrack18AndTracksAbove35) {
    // A fresh disk has 664 free blocks: 683 minus the 19 of track 18.
    ImageBuffer image = formatImage("TEST DISK", "AB", 40);
    EXPECT_EQ(splitLines(run(image)).back(), "664 BLOCKS FREE.");

    uint8_t *map = blockAt(image, 18, 0);
    for (int track = 1; track <= 35; ++track) map[4 * track] = 0;
    map[4 * 18] = 200;
    // Where tracks 36..40 would keep their counts (bytes 144..160) the name lies: 'Z' = 90.
    for (int i = 144; i <= 160; ++i) map[i] = 'Z';
    EXPECT_EQ(splitLines(run(image)).back(), "0 BLOCKS FREE.");

    // Counts are unsigned bytes: 255 on every counted track gives 34 * 255.
    for (int track = 1; track <= 35; ++track) map[4 * track] = 255;
    EXPECT_EQ(splitLines(run(image)).back(), "8670 BLOCKS FREE.");
}

// ---------------------------------------------------------------- edits

class ListingEdits : public Listing {
protected:
    void SetUp() override {
        Listing::SetUp();
        image = formatImage("TEST DISK", "AB");
        for (int i = 0; i < 6; ++i) {
            std::vector<uint8_t> data = randomBytes(600, i + 1);
            start[i] = addFile(image, data, "FILE" + std::to_string(i));
        }
        before = image;
        options.showNumbers = 1;
    }

    uint8_t *slot(int index) { return slotBytes(before, 18, 1, index); }

    ImageBuffer image, before;
    TrackSector start[6];
};

TEST_F(ListingEdits, RemoveClearsBytes2To31OfEachEntryInRange) {
    options.removeEntries = 1;
    options.firstEntry = 2;
    options.lastEntry = 4;
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[2], "  1: 3    " + nameField("\"FILE1\"") + " PRG ");
    for (int n = 2; n <= 4; ++n)
        EXPECT_EQ(lines[1 + n],
                  "  " + std::to_string(n) + ": 3    " + nameField("\"FILE" + std::to_string(n) + "\"") +
                      " PRG  X deleting...");
    EXPECT_EQ(lines[6], "  5: 3    " + nameField("\"FILE5\"") + " PRG ");

    for (int n = 2; n <= 4; ++n) std::fill(slot(n) + 2, slot(n) + 32, 0);
    EXPECT_EQ(image.bytes, before.bytes);

    // In a later run the removed entries are gone; the rest keep their order.
    resetOptions();
    lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "3    " + nameField("\"FILE5\"") + " PRG ");
}

TEST_F(ListingEdits, RemoveKeepsTheBlockLinkOfTheFirstSlot) {
    addRawEntry(image, 0x82, 17, 5, "G", 1);
    addRawEntry(image, 0x82, 17, 6, "H", 1);
    addRawEntry(image, 0x82, 17, 7, "I", 1);  // ninth entry: a second directory block
    before = image;
    TrackSector next = getNextTrackSector(image, 18, 1);
    ASSERT_NE(next.track, 0);
    options.removeEntries = 1;
    options.firstEntry = options.lastEntry = 0;
    run(image);
    std::fill(slot(0) + 2, slot(0) + 32, 0);
    EXPECT_EQ(image.bytes, before.bytes);
}

TEST_F(ListingEdits, ScratchClearsOnlyTheTypeByte) {
    options.scratchEntries = 1;
    options.firstEntry = options.lastEntry = 3;
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[4], "  3: 3    " + nameField("\"FILE3\"") + " PRG  X scratching...");
    slot(3)[2] = 0;
    EXPECT_EQ(image.bytes, before.bytes);

    // Listed again only with "a", as a DEL entry with the splat mark.
    resetOptions();
    options.showAll = 1;
    lines = splitLines(run(image));
    EXPECT_EQ(lines[4], "3    " + nameField("\"FILE3\"") + "*DEL ");
}

TEST_F(ListingEdits, ReversedRangeChangesNothing) {
    options.removeEntries = options.scratchEntries = 1;
    options.firstEntry = 4;
    options.lastEntry = 2;
    std::string out = run(image);
    EXPECT_EQ(out.find(" X "), std::string::npos);
    EXPECT_EQ(image.bytes, before.bytes);
}

TEST_F(ListingEdits, RemoveAndScratchOnOneEntryPrintBothMessages) {
    options.removeEntries = options.scratchEntries = 1;
    options.firstEntry = options.lastEntry = 0;
    std::vector<std::string> lines = splitLines(run(image));
    EXPECT_EQ(lines[1], "  0: 3    " + nameField("\"FILE0\"") + " PRG  X deleting... X scratching...");
    std::fill(slot(0) + 2, slot(0) + 32, 0);
    EXPECT_EQ(image.bytes, before.bytes);
}

// With "a" the empty and deleted slots are counted, so the same number names another entry.
TEST_F(ListingEdits, NumbersCountDeletedSlotsOnlyWithShowAll) {
    slotBytes(image, 18, 1, 1)[2] = 0;  // FILE1 scratched
    before = image;
    options.removeEntries = 1;
    options.firstEntry = options.lastEntry = 2;
    run(image);
    std::fill(slot(3) + 2, slot(3) + 32, 0);  // entry 2 is FILE3
    EXPECT_EQ(image.bytes, before.bytes);

    image = formatImage("TEST DISK", "AB");
    for (int i = 0; i < 4; ++i) addRawEntry(image, 0x82, 17, i, "F" + std::to_string(i), 1);
    slotBytes(image, 18, 1, 1)[2] = 0;
    before = image;
    options.showAll = 1;
    run(image);
    std::fill(slot(2) + 2, slot(2) + 32, 0);  // entry 2 is F2 now
    EXPECT_EQ(image.bytes, before.bytes);
}

TEST_F(ListingEdits, StartAddressEditWritesTheFirstBlock) {
    options.changeStartAddress = 1;
    options.startEntry = 4;
    options.newStartAddress = 0xC0DE;
    uint8_t *first = blockAt(before, start[4].track, start[4].sector);
    char old[8];
    std::snprintf(old, sizeof old, "$%02x%02x", first[3], first[2]);
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "  #: " + kHeaderStart + " start");
    EXPECT_EQ(lines[5], "  4: 3    " + nameField("\"FILE4\"") + " PRG  " + old + " -> $c0de");
    first[2] = 0xDE;
    first[3] = 0xC0;
    EXPECT_EQ(image.bytes, before.bytes);
}

// Two entries name one chain: once -start has changed its first block through
// the first entry, the second entry's columns measure the chain as it now is.
TEST_F(ListingEdits, ColumnsAfterAnEditMeasureTheEditedChain) {
    addRawEntry(image, 0x82, start[0].track, start[0].sector, "ALIAS", 3);  // entry 6
    options.showFileSize = options.showChecksum = 1;
    options.changeStartAddress = 1;
    options.startEntry = 0;
    options.newStartAddress = 0x1234;
    std::vector<uint8_t> data = randomBytes(600, 1);  // FILE0's bytes, as the fixture wrote them
    uint32_t oldCrc = computeCrc32(0, data.data(), data.size());
    data[0] = 0x34;
    data[1] = 0x12;
    uint32_t newCrc = computeCrc32(0, data.data(), data.size());
    ASSERT_NE(oldCrc, newCrc);
    char oldColumns[40], newColumns[40];
    std::snprintf(oldColumns, sizeof oldColumns, "   600 %10u -> $1234", oldCrc);
    std::snprintf(newColumns, sizeof newColumns, " $1234   600 %10u", newCrc);
    std::vector<std::string> lines = splitLines(run(image));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_NE(lines[1].find(oldColumns), std::string::npos) << lines[1];
    EXPECT_EQ(lines[7], "  6: 3    " + nameField("\"ALIAS\"") + " PRG " + newColumns);
}

// -start writes only into a block of a file: an entry without a start block
// (track 0), or whose first block is 18/0, a directory block, a sector beyond
// its track (17/25 would reach 18/4) or absent, keeps every byte, prints no
// arrow and comes back refused, with the block named.
TEST_F(ListingEdits, StartAddressEditWithoutAFileBlockIsRefused) {
    struct Case {
        TrackSector start;
        StartRefusal refusal;
    } const cases[] = {{{0, 0}, StartRefusal::NoStartBlock},    {{0, 5}, StartRefusal::NoStartBlock},
                       {{18, 0}, StartRefusal::DirectoryBlock}, {{18, 1}, StartRefusal::DirectoryBlock},
                       {{17, 25}, StartRefusal::BeyondTrack},   {{36, 0}, StartRefusal::OutsideImage}};
    for (const Case &c : cases) {
        ImageBuffer img = formatImage("TEST DISK", "AB");
        addRawEntry(img, 0x82, c.start.track, c.start.sector, "NOWHERE", 1);
        ImageBuffer copy = img;
        resetOptions();
        options.changeStartAddress = 1;
        options.startEntry = 0;
        options.newStartAddress = 0x0801;
        testing::internal::CaptureStdout();
        EntryEditOutcome outcome = showDirectory(img, 0);
        std::fflush(stdout);
        std::string out = testing::internal::GetCapturedStdout();
        SCOPED_TRACE(std::to_string(c.start.track) + "/" + std::to_string(c.start.sector));
        EXPECT_EQ(out, "");
        EXPECT_EQ(img.bytes, copy.bytes);
        EXPECT_TRUE(outcome.startEntryMet);
        EXPECT_EQ(outcome.startRefusal, c.refusal);
        EXPECT_EQ(outcome.startBlock.track, c.start.track);
        EXPECT_EQ(outcome.startBlock.sector, c.start.sector);
    }
}

// ---------------------------------------------------------------- export

TEST_F(ListingEdits, ExportListsStartTracksAndSectors) {
    addRawEntry(image, 0x80, 0, 0, "NOSTART", 0);
    resetOptions();
    options.showTrackSector = options.exportTrackSector = 1;
    std::string tracks, sectors;
    for (int i = 0; i < 6; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "%s%2i", i ? "," : "", start[i].track);
        tracks += text;
        std::snprintf(text, sizeof text, "%s%2i", i ? "," : "", start[i].sector);
        sectors += text;
    }
    EXPECT_EQ(run(image, 0), "tracks:\n  .byte " + tracks + ", 0\nsectors:\n  .byte " + sectors + ", 0");
}

TEST_F(Listing, ExportOfAnEmptyDirectory) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    options.showTrackSector = options.exportTrackSector = 1;
    EXPECT_EQ(run(image, 0), "tracks:\n  .byte \nsectors:\n  .byte ");
}

// Removing under -e: no message, yet the slot is cleared; the export still has it.
TEST_F(ListingEdits, ExportWithRemoveCollectsBeforeTheEdit) {
    resetOptions();
    options.showTrackSector = options.exportTrackSector = 1;
    options.removeEntries = 1;
    options.firstEntry = options.lastEntry = 5;
    std::string out = run(image, 0);
    EXPECT_EQ(out.find("deleting"), std::string::npos);
    char tail[16];
    std::snprintf(tail, sizeof tail, ",%2i", start[5].sector);
    EXPECT_EQ(out.substr(out.size() - 3), tail);
    std::fill(slot(5) + 2, slot(5) + 32, 0);
    EXPECT_EQ(image.bytes, before.bytes);
}

// 160 entries over 20 directory blocks: only the first 150 are exported.
TEST_F(Listing, ExportKeepsTheFirst150Entries) {
    ImageBuffer image = formatImage("TEST DISK", "AB");
    std::vector<TrackSector> chain;
    for (int s = 1; s <= 18; ++s) chain.push_back({18, s});
    chain.push_back({19, 0});
    chain.push_back({19, 1});
    std::string tracks, sectors;
    int entry = 0;
    for (size_t b = 0; b < chain.size(); ++b) {
        TrackSector next = b + 1 < chain.size() ? chain[b + 1] : TrackSector{0, 255};
        linkBlock(image, chain[b].track, chain[b].sector, next.track, next.sector);
        for (int i = 0; i < 8; ++i, ++entry) {
            uint8_t *slot = slotBytes(image, chain[b].track, chain[b].sector, i);
            slot[2] = 0x82;
            slot[3] = static_cast<uint8_t>(1 + entry % 40);
            slot[4] = static_cast<uint8_t>(entry % 21);
            if (entry >= 150) continue;
            for (auto [list, value] : {std::pair{&tracks, slot[3]}, std::pair{&sectors, slot[4]}}) {
                if (entry) *list += ',';
                if (value < 10) *list += ' ';
                *list += std::to_string(value);
            }
        }
    }
    options.showTrackSector = options.exportTrackSector = 1;
    EXPECT_EQ(run(image, 0), "tracks:\n  .byte " + tracks + "\nsectors:\n  .byte " + sectors);
    EXPECT_EQ(exportCount, 150);
}
