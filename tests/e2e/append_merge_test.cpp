// End-to-end tests of the two operations that grow a directory: appending an
// empty DEL entry (-adel) and merging a second image's directory (-merge).
// Each test builds the images byte by byte, states the whole expected image
// and the exact trace output, and checks that failures write no file. The
// written images are also read back with cc1541, an independent D64 tool.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

constexpr int kMapOffset = 0x16500;        // block 18/0
constexpr int kTrack19Offset = 0x17800;    // first byte after track 18
const char kUsageStart[] = "\n\nA tool to view and manipulate d64 files.";

struct Outcome {
    RunResult result;
    std::vector<std::string> files;  // the folder's contents afterwards
    std::vector<uint8_t> written;    // first.out.d64, empty when not written
};

// Runs kestrel on first.d64 (and second.d64 when given) in a fresh folder.
Outcome runOn(const std::vector<std::string> &args, const ImageBuffer &first, const ImageBuffer *second = nullptr) {
    TempDir dir;
    writeImage(dir.file("first.d64"), first);
    if (second) writeImage(dir.file("second.d64"), *second);
    // A copy loop that never ends (a map bit not cleared) fails instead of hanging.
    Outcome outcome{runBinary(args, dir.path, "", 60), listFolder(dir.path), readBytes(dir.file("first.out.d64"))};
    return outcome;
}

Outcome appendDel(const ImageBuffer &image) { return runOn({"-adel", "first.d64"}, image); }
Outcome merge(const ImageBuffer &first, const ImageBuffer &second) {
    return runOn({"-merge", "first.d64", "second.d64"}, first, &second);
}

const std::vector<std::string> kOnlyInputs{"first.d64"};
const std::vector<std::string> kBothInputs{"first.d64", "second.d64"};

// The map bit of a block, as the drive defines it (set = free).
bool bitFree(const ImageBuffer &image, int track, int sector) {
    return blockAt(image, 18, 0)[4 * track + 1 + sector / 8] & (1 << (sector % 8));
}
void clearBit(ImageBuffer &image, int track, int sector) {
    blockAt(image, 18, 0)[4 * track + 1 + sector / 8] &= static_cast<uint8_t>(~(1 << (sector % 8)));
}

// A directory with `count` PRG entries named NAME0, NAME1, ... (one per slot,
// a new 18/x block after every eight).
ImageBuffer imageWithEntries(int count, const std::string &prefix = "NAME") {
    ImageBuffer image = formatImage();
    for (int i = 0; i < count; ++i) addRawEntry(image, 0x82, 17, i % 21, prefix + std::to_string(i), i + 1);
    return image;
}

// The DEL entry as the drive writes an empty one: type 0x80, name all 0xA0.
void putDelEntry(uint8_t *slot) {
    slot[2] = 0x80;
    std::memset(slot + 5, 0xA0, 16);
}

std::string trace(const char *format, int a, int b, int c = 0, int d = 0) {
    char line[80];
    std::snprintf(line, sizeof line, format, a, b, c, d);
    return line;
}
std::string lastBlockLines(int fromTrack, int fromSector, int track, int sector) {
    return trace("Last Block of %2i/%2i: \n", fromTrack, fromSector) + trace("%2i/%2i\n", track, sector);
}
std::string linkLine(int t, int s, int nt, int ns) { return trace("setNextTrackSector %i %i %i %i \n", t, s, nt, ns); }
std::string usedLine(int t, int s) { return trace("setBlockFree %i/%i 0\n", t, s); }

size_t countOf(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The two ways a directory cannot be extended, as the error exit reports them:
// one line on standard error, no usage.
const std::string kLoops = "ERROR: The directory chain of 'first.d64' loops; it cannot be extended.\n";
std::string leadsOutside(int track, int sector) {
    return "ERROR: The directory chain of 'first.d64' leads to block " + std::to_string(track) + "/" +
           std::to_string(sector) + " outside the image.\n";
}

// ---------------------------------------------------------------- cc1541

// The (name, type) pairs that cc1541 lists for an image, read from a copy.
std::vector<std::pair<std::string, std::string>> cc1541Entries(const std::vector<uint8_t> &image) {
    TempDir dir;
    writeBytes(dir.file("copy.d64"), image);
    std::string listing = shellOutput("cd '" + dir.path + "' && cc1541 copy.d64 2>&1");
    // Entry lines: blocks, blanks, the quoted name, blanks, a lower-case type.
    // The header's reverse-video escape keeps it from matching.
    std::vector<std::pair<std::string, std::string>> entries;
    for (const std::string &line : splitLines(listing)) {
        size_t open = line.find_first_not_of("0123456789");
        if (open == 0 || open == std::string::npos) continue;
        open = line.find_first_not_of(' ', open);
        size_t close = open == std::string::npos ? open : line.find('"', open + 1);
        if (open == std::string::npos || line[open] != '"' || close == std::string::npos) continue;
        size_t type = line.find_first_not_of(' ', close + 1);
        if (type == std::string::npos || line.size() < type + 3) continue;
        entries.push_back({line.substr(open + 1, close - open - 1), line.substr(type, 3)});
    }
    return entries;
}

// cc1541 shows the unshifted letters (0x41..0x5a on the disk) in lower case.
std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

// ============================================================== DEL append

// Three entries leave slot 3 (type byte at block offset 98) for the new one;
// seven leave the last slot, 7 (offset 226), and the directory does not grow.
// -adel given N times appends N entries, each in the next empty slot.
TEST(AppendDel, FillsTheFirstEmptySlotOfTheLastBlock) {
    for (auto [entries, appended] : {std::pair{3, 1}, {7, 1}, {3, 3}, {2, 6}}) {
        SCOPED_TRACE(std::to_string(entries) + " entries, -adel " + std::to_string(appended) + " times");
        ImageBuffer image = imageWithEntries(entries);
        std::vector<std::string> args(static_cast<size_t>(appended), "-adel");
        args.push_back("first.d64");
        Outcome run = runOn(args, image);
        EXPECT_EQ(run.result.status, 0);
        std::string trace;
        for (int i = 0; i < appended; ++i) trace += lastBlockLines(18, 1, 18, 1);
        EXPECT_EQ(run.result.out, trace + "\nDestination file set to 'first.out.d64'.\n");
        EXPECT_EQ(run.result.err, "");
        ImageBuffer expected = image;
        for (int i = 0; i < appended; ++i) putDelEntry(slotBytes(expected, 18, 1, entries + i));
        EXPECT_EQ(run.written, bytesOf(expected));
    }
}

TEST(AppendDel, ReusesAScratchedSlotWithItsOldStartAndBlockCount) {
    ImageBuffer image = imageWithEntries(5);
    uint8_t *scratched = slotBytes(image, 18, 1, 1);
    scratched[2] = 0;  // start 17/1 and block count 2 stay behind
    Outcome run = appendDel(image);
    EXPECT_EQ(run.result.status, 0);
    ImageBuffer expected = image;
    putDelEntry(slotBytes(expected, 18, 1, 1));
    EXPECT_EQ(run.written, bytesOf(expected));
    const uint8_t *slot = run.written.data() + kMapOffset + 256 + 32;
    EXPECT_EQ(slot[3], 17);
    EXPECT_EQ(slot[4], 1);
    EXPECT_EQ(slot[30], 2);
}

// A full 18/1 grows by one block from the interleaved search: on track 18
// from sector 4 (1 + 3) on, else from sector 0 of track 19.
TEST(AppendDel, FullLastBlockGrowsTheDirectory) {
    struct Case {
        std::vector<int> alsoUsedOnTrack18;
        TrackSector added;
    };
    std::vector<int> wholeTrack;
    for (int s = 2; s < 19; ++s) wholeTrack.push_back(s);
    const Case cases[] = {{{}, {18, 4}}, {{4, 5, 6}, {18, 7}}, {{4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}, {18, 2}},
                          {wholeTrack, {19, 0}}};
    for (const Case &c : cases) {
        ImageBuffer image = imageWithEntries(8);
        for (int s : c.alsoUsedOnTrack18) markBlock(image, 18, s, false);
        std::vector<uint8_t> noise = randomBytes(256, 5);
        std::memcpy(blockAt(image, c.added.track, c.added.sector), noise.data(), 256);
        Outcome run = appendDel(image);
        SCOPED_TRACE(std::to_string(c.added.track) + "/" + std::to_string(c.added.sector));
        EXPECT_EQ(run.result.status, 0);
        EXPECT_EQ(run.result.out, lastBlockLines(18, 1, 18, 1) + linkLine(18, 1, c.added.track, c.added.sector) +
                                      usedLine(c.added.track, c.added.sector) +
                                      lastBlockLines(18, 1, c.added.track, c.added.sector) +
                                      "\nDestination file set to 'first.out.d64'.\n");
        // The whole image: 18/1 linked, the new block cleared with link 0/255
        // and the entry in its first slot, its bit clear and its track's
        // count one lower, every other count as it was.
        ImageBuffer expected = image;
        linkBlock(expected, 18, 1, c.added.track, c.added.sector);
        uint8_t *added = blockAt(expected, c.added.track, c.added.sector);
        std::memset(added, 0, 256);
        added[1] = 255;
        putDelEntry(added);
        markBlock(expected, c.added.track, c.added.sector, false);
        EXPECT_EQ(run.written, bytesOf(expected));
        // A block off track 18 is taken, with a warning: a 1541 would not.
        EXPECT_EQ(run.result.err, c.added.track == 18 ? ""
                                                      : "WARNING: The directory of 'first.d64' grows onto track 19; "
                                                        "a 1541 keeps its directory on track 18 only.\n");
    }
}

TEST(AppendDel, DiskFullEndsWithStatusTwoAndWritesNothing) {
    ImageBuffer image = imageWithEntries(8);
    for (int track = 1; track <= 35; ++track)
        for (int s = 0; s < 21; ++s) clearBit(image, track, s);
    Outcome run = appendDel(image);
    EXPECT_EQ(run.result.status, 2);
    EXPECT_EQ(run.result.err, "ERROR: Disk full!");
    EXPECT_EQ(run.result.out.find(lastBlockLines(18, 1, 18, 1) + kUsageStart), 0u);
    EXPECT_EQ(run.files, kOnlyInputs);
}

TEST(AppendDel, RefusesADirectoryThatLoopsOrLeavesTheImage) {
    struct Case {
        const char *what;
        std::vector<std::pair<TrackSector, TrackSector>> links;
        std::string message;
    };
    const Case cases[] = {
        {"18/1 to itself", {{{18, 1}, {18, 1}}}, kLoops},
        {"18/1 to 18/4 and back", {{{18, 1}, {18, 4}}, {{18, 4}, {18, 1}}}, kLoops},
        {"track 36 of a 35-track image", {{{18, 1}, {36, 0}}}, leadsOutside(36, 0)},
        {"track 41", {{{18, 1}, {41, 2}}}, leadsOutside(41, 2)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ImageBuffer image = imageWithEntries(2);
        for (const auto &[from, to] : c.links) linkBlock(image, from.track, from.sector, to.track, to.sector);
        Outcome run = appendDel(image);
        EXPECT_EQ(run.result.status, 1);
        EXPECT_EQ(run.result.err, c.message);
        EXPECT_EQ(run.result.out.find(kUsageStart), std::string::npos);
        EXPECT_EQ(run.files, kOnlyInputs);
    }
}

TEST(AppendDel, Cc1541ListsTheAppendedEntry) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 not installed";
    for (int entries : {3, 8}) {  // a free slot in 18/1, and a new directory block
        Outcome run = appendDel(imageWithEntries(entries));
        ASSERT_EQ(run.result.status, 0);
        auto listed = cc1541Entries(run.written);
        ASSERT_EQ(listed.size(), static_cast<size_t>(entries + 1));
        EXPECT_EQ(listed[0], (std::pair<std::string, std::string>{"name0", "prg"}));
        EXPECT_EQ(listed.back(), (std::pair<std::string, std::string>{"", "del"}));
    }
}

// ================================================================== merge

// Two directory blocks of a second image merged after the first image's 18/1,
// with 18/2 and 18/3 free.
TEST(Merge, TwoBlocksAfterALastBlockOnTrack18) {
    ImageBuffer first = imageWithEntries(2, "ALPHA");
    ImageBuffer second = imageWithEntries(10, "BETA");  // 18/1 -> 18/4
    ASSERT_EQ(blockAt(second, 18, 1)[0], 18);
    ASSERT_EQ(blockAt(second, 18, 1)[1], 4);
    Outcome run = merge(first, second);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    std::string traceLines = "Merging directories..\n" + lastBlockLines(18, 0, 18, 1) + "---\n" +
                             linkLine(18, 1, 18, 2) + usedLine(18, 2) + linkLine(18, 2, 18, 3) + usedLine(18, 3) +
                             linkLine(18, 3, 0, 255);
    ASSERT_EQ(run.result.out.find(traceLines), 0u) << run.result.out;

    // The whole image: the copied blocks with new links, their bits clear
    // and track 18's free count lowered to match.
    ImageBuffer expected = first;
    linkBlock(expected, 18, 1, 18, 2);
    std::memcpy(blockAt(expected, 18, 2), blockAt(second, 18, 1), 256);
    linkBlock(expected, 18, 2, 18, 3);
    std::memcpy(blockAt(expected, 18, 3), blockAt(second, 18, 4), 256);
    linkBlock(expected, 18, 3, 0, 255);
    markBlock(expected, 18, 2, false);
    markBlock(expected, 18, 3, false);
    EXPECT_EQ(run.written, bytesOf(expected));

    // The listing that follows: the first image's header and entries, then
    // the second image's entries, then the first image's unchanged free count.
    std::vector<std::string> listed = splitLines(run.result.out.substr(traceLines.size()));
    std::vector<std::string> firstListing = splitLines(runOn({"first.d64"}, first).result.out);
    std::vector<std::string> secondListing = splitLines(runOn({"first.d64"}, second).result.out);
    std::vector<std::string> merged(firstListing.begin(), firstListing.end() - 1);
    merged.insert(merged.end(), secondListing.begin() + 1, secondListing.end() - 1);
    merged.push_back(firstListing.back());
    merged.push_back("");
    merged.push_back("Destination file set to 'first.out.d64'.");
    EXPECT_EQ(listed, merged);
    EXPECT_EQ(merged.size(), 2u + 2u + 10u + 2u);
}

TEST(Merge, EmptySecondDirectoryOnlyClosesTheChain) {
    ImageBuffer first = imageWithEntries(2);
    linkBlock(first, 18, 1, 0, 0);
    ImageBuffer second = imageWithEntries(3);
    linkBlock(second, 18, 0, 0, 1);
    Outcome run = merge(first, second);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.out.find("Merging directories..\n" + lastBlockLines(18, 0, 18, 1) + "---\n" +
                                  linkLine(18, 1, 0, 255) + "0 \""),
              0u)
        << run.result.out;
    ImageBuffer expected = first;
    linkBlock(expected, 18, 1, 0, 255);
    EXPECT_EQ(run.written, bytesOf(expected));
}

TEST(Merge, FirstImageWithoutDirectoryBlock) {
    ImageBuffer first = formatImage("EMPTY");
    linkBlock(first, 18, 0, 0, 255);
    ImageBuffer second = imageWithEntries(4);
    Outcome run = merge(first, second);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.out.find("Merging directories..\n" + lastBlockLines(18, 0, 18, 0) + "---\n" +
                                  linkLine(18, 0, 18, 2) + usedLine(18, 2) + linkLine(18, 2, 0, 255)),
              0u)
        << run.result.out;
    ImageBuffer expected = first;
    linkBlock(expected, 18, 0, 18, 2);  // the map block now leads to the copy
    std::memcpy(blockAt(expected, 18, 2), blockAt(second, 18, 1), 256);
    linkBlock(expected, 18, 2, 0, 255);
    markBlock(expected, 18, 2, false);
    EXPECT_EQ(run.written, bytesOf(expected));
}

TEST(Merge, DiskFullWhenFreeBlocksLieOnlyOnLowerTracks) {
    ImageBuffer first = imageWithEntries(2);
    for (int track = 18; track <= 35; ++track)
        for (int s = 0; s < 21; ++s) clearBit(first, track, s);
    ASSERT_TRUE(bitFree(first, 17, 20));
    Outcome run = merge(first, imageWithEntries(1));
    EXPECT_EQ(run.result.status, 2);
    EXPECT_EQ(run.result.err, "ERROR: Disk full 'first.d64'!");
    EXPECT_EQ(run.result.out.find("Merging directories..\n" + lastBlockLines(18, 0, 18, 1) + "---\n" + kUsageStart),
              0u)
        << run.result.out;
    EXPECT_EQ(run.files, kBothInputs);
}

// A second directory in a circle would be copied until the disk is full; the
// loop is found before anything is copied.
TEST(Merge, LoopingSecondDirectoryIsRefusedBeforeCopying) {
    ImageBuffer second = imageWithEntries(1);
    linkBlock(second, 18, 1, 18, 1);
    Outcome run = merge(imageWithEntries(1), second);
    EXPECT_EQ(run.result.status, 1);
    EXPECT_EQ(run.result.err, "ERROR: The directory chain of 'second.d64' loops; it cannot be merged.\n");
    EXPECT_EQ(countOf(run.result.out, "setBlockFree "), 0u);
    EXPECT_EQ(run.files, kBothInputs);
}

TEST(Merge, RefusesAFirstDirectoryThatLoopsOrLeavesTheImage) {
    const std::pair<TrackSector, std::string> cases[] = {
        {{18, 1}, kLoops}, {{36, 0}, leadsOutside(36, 0)}, {{45, 0}, leadsOutside(45, 0)}};
    for (const auto &[target, message] : cases) {
        SCOPED_TRACE(std::to_string(target.track));
        ImageBuffer first = imageWithEntries(1);
        linkBlock(first, 18, 1, target.track, target.sector);
        Outcome run = merge(first, imageWithEntries(1));
        EXPECT_EQ(run.result.status, 1);
        EXPECT_EQ(run.result.err, message);
        EXPECT_EQ(run.result.out.find(kUsageStart), std::string::npos);
        EXPECT_EQ(run.files, kBothInputs);
    }
}

// A second-image link to a block that the second image does not hold ends the
// copy as a link track of 0 would.
TEST(Merge, SecondLinkToAnAbsentBlockEndsTheCopy) {
    struct Case {
        const char *what;
        TrackSector link;
        size_t secondLength;
    };
    const Case cases[] = {{"track 36 of 35", {36, 0}, 174848},
                          {"track 41", {41, 0}, 174848},
                          {"cut after track 18", {20, 0}, kTrack19Offset}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ImageBuffer second = imageWithEntries(2, "SECOND");
        linkBlock(second, 18, 1, c.link.track, c.link.sector);
        second.bytes.resize(c.secondLength);
        Outcome run = merge(imageWithEntries(1), second);
        EXPECT_EQ(run.result.status, 0);
        EXPECT_EQ(run.result.out.find("Merging directories..\n" + lastBlockLines(18, 0, 18, 1) + "---\n" +
                                      linkLine(18, 1, 18, 2) + usedLine(18, 2) + linkLine(18, 2, 0, 255) + "0 \""),
                  0u)
            << run.result.out;
        ASSERT_EQ(run.written.size(), 174848u);
        EXPECT_EQ(run.written[kMapOffset + 2 * 256 + 5], 'S');  // first name byte of the copied slot
    }
}

TEST(Merge, Cc1541ListsTheMergedEntries) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 not installed";
    // cc1541, like the drive, reads the directory from 18/1 on, so the first
    // images here have one: a single block, and 18/1 -> 18/4 with the copies after 18/4.
    for (int firstEntries : {3, 10}) {
        Outcome run = merge(imageWithEntries(firstEntries, "ALPHA"), imageWithEntries(10, "BETA"));
        ASSERT_EQ(run.result.status, 0);
        std::vector<std::pair<std::string, std::string>> expected;
        for (int i = 0; i < firstEntries; ++i) expected.push_back({lower("ALPHA" + std::to_string(i)), "prg"});
        for (int i = 0; i < 10; ++i) expected.push_back({lower("BETA" + std::to_string(i)), "prg"});
        EXPECT_EQ(cc1541Entries(run.written), expected);
    }
}
