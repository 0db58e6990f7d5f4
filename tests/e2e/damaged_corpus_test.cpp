// Damaged images: every image of tests/corpus (made by make_corpus.py) with
// every action, then a good image corrupted one byte at a time and cut at many
// lengths. Whatever the image holds, each run must end by itself with status
// 0, 1, 2 or (with -check) 3, without a sanitizer report, never change the
// source, and write the destination (whole, with the source's length) only
// when it ends with 0, or with 3 after a -fix; -x writes exactly the files it
// names, inside the folder, and none when it fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <set>
#include <stdexcept>

#include <sys/resource.h>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

using namespace std::string_literals;

constexpr unsigned kTimeoutSeconds = 10;

// One command line; "a.d64" is the image under test, "b.d64" the second image.
struct Action {
    const char *name;
    std::vector<std::string> args;
    std::string keys;         // typed into the block viewer
    const char *destination;  // written on success, or nullptr
};

const std::vector<Action> &actions() {
    static const std::vector<Action> list = {
        {"listing", {"-vantsfbc", "a.d64"}, "", nullptr},
        {"listing-csv", {"-csv", "-p", "a.d64"}, "", nullptr},
        {"listing-raw", {"-vaon", "a.d64"}, "", nullptr},
        {"export", {"-e", "a.d64"}, "", nullptr},
        {"edits", {"-rd", "1", "2", "a.d64", "out.d64"}, "", "out.d64"},
        {"scratch-start", {"-sd", "0", "3", "-start", "0", "4096", "-vtf", "a.d64"}, "", "a.out.d64"},
        {"map", {"-bam", "a.d64"}, "", nullptr},
        {"viewer", {"-block", "18", "1", "a.d64"}, "jjj\x1b[A\x1b[Cj\x1b[B\x1b[Dj\xe0\x48j\x00\x4dj q"s, nullptr},
        {"viewer-high", {"-block", "40", "25", "a.d64"}, "j\x1b[A\x1b[Cj\x1b[Dj\x1b", nullptr},
        {"append-del", {"-adel", "a.d64", "out.d64"}, "", "out.d64"},
        {"merge-into", {"-merge", "a.d64", "b.d64", "out.d64"}, "", "out.d64"},
        {"merge-from", {"-merge", "-vantsfbc", "b.d64", "a.d64", "out.d64"}, "", "out.d64"},
        {"directory-art",
         {"-rename", "1", "%c0x", "-type", "0", "prg<", "-blocks", "2", "9", "-move", "0", "3", "-move", "3", "1",
          "-header", "art", "-id", "xy", "a.d64", "out.d64"},
         "", "out.d64"},
        {"undelete", {"-undel", "0", "a.d64", "out.d64"}, "", "out.d64"},
        {"check", {"-check", "a.d64"}, "", nullptr},
        {"fix", {"-fix", "a.d64", "out.d64"}, "", "out.d64"},
        {"append-fix-check", {"-adel", "-fix", "-check", "a.d64", "out.d64"}, "", "out.d64"},
        {"json", {"-json", "-va", "-U", "a.d64", "b.d64"}, "", nullptr},
        {"json-check", {"-json", "-check", "a.d64", "b.d64"}, "", nullptr},
        {"copy-all", {"-copy", "a.d64", "b.d64", "out.d64"}, "", "out.d64"},
        {"utf8-glyphs", {"-utf8", "-Ul", "-vantsfbc", "a.d64"}, "", nullptr},
        {"insert", {"-w", "host.prg", "-w", "b.d64", "a.d64", "out.d64"}, "", "out.d64"},
        // A directory over the whole disk lists thousands of entries, each a
        // file of -x; entries 0 to 40 reach every kind of damage here.
        {"extract", {"-x", "0", "40", "a.d64"}, "", nullptr},
        {"insert-extract", {"-va", "-w", "host.prg", "-x", "0", "40", "a.d64", "out.d64"}, "", "out.d64"},
        {"block-commands",
         {"-bfill", "1/0", "0", "-bused", "18/0", "-bfree", "19/0", "-bcopy", "17/5", "b.d64", "18/1", "-chain", "18/1",
          "a.d64", "out.d64"},
         "", "out.d64"},
        {"chains", {"-chain", "0", "-chain", "2", "a.d64"}, "", nullptr},
    };
    return list;
}

const Action &actionNamed(const std::string &name) {
    for (const Action &action : actions())
        if (name == action.name) return action;
    throw std::invalid_argument(name);
}

std::vector<uint8_t> corpusImage(const std::string &name) {
    std::vector<uint8_t> bytes = readBytes(sourcePath("tests/corpus/" + name));
    if (bytes.empty() && name != "empty.d64") ADD_FAILURE() << "corpus image missing: " << name;
    return bytes;
}

bool hasSanitizerReport(const std::string &text) {
    for (const char *mark : {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:"})
        if (text.find(mark) != std::string::npos) return true;
    return false;
}

// Runs `action` on image `a` (second image `b`) in a fresh folder, checks the
// promises above and returns the result for further checks.
RunResult runSafely(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, const Action &action) {
    TempDir dir;
    writeBytes(dir.file("a.d64"), a);
    writeBytes(dir.file("b.d64"), b);
    writeBytes(dir.file("host.prg"), std::vector<uint8_t>(600, 0x2A));
    RunResult result = runBinary(action.args, dir.path, action.keys, kTimeoutSeconds);
    SCOPED_TRACE(std::string("action ") + action.name);
    EXPECT_NE(result.status, 128 + SIGALRM) << "still running after " << kTimeoutSeconds << " s";
    bool checks = std::find(action.args.begin(), action.args.end(), "-check") != action.args.end();
    bool written = result.status == 0 || (checks && result.status == 3);
    EXPECT_TRUE(result.status == 0 || result.status == 1 || result.status == 2 || written)
        << "status " << result.status;
    EXPECT_FALSE(hasSanitizerReport(result.err)) << result.err;

    // The default destination takes the family's extension, whatever the source's name.
    std::string destination = action.destination ? action.destination : "";
    const std::set<size_t> d71{349696, 351062}, d81{819200, 822400, 829440, 832680, 839680, 842960, 849920, 853240};
    if (destination == "a.out.d64" && (d71.contains(a.size()) || d81.contains(a.size())))
        destination = d71.contains(a.size()) ? "a.out.d71" : "a.out.d81";
    std::vector<std::string> expected{"a.d64", "b.d64", "host.prg"};
    if (written && action.destination) expected.push_back(destination);
    // -x: the files its lines name ("  N: NAME (B bytes)", "(1 byte)"), and
    // only after a run that ended well.
    bool extracts = std::find(action.args.begin(), action.args.end(), "-x") != action.args.end();
    for (const std::string &line : splitLines(result.out)) {
        size_t open = line.rfind(" (");
        if (!extracts || line.size() < 6 || line[3] != ':' || open == std::string::npos ||
            !(line.ends_with(" bytes)") || line.ends_with(" byte)")))
            continue;
        EXPECT_TRUE(written) << "status " << result.status << " after writing " << line;
        expected.push_back(line.substr(5, open - 5));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listFolder(dir.path), expected);
    EXPECT_TRUE(readBytes(dir.file("a.d64")) == a) << "source changed";
    EXPECT_TRUE(readBytes(dir.file("b.d64")) == b) << "second image changed";
    if (written && action.destination) {
        // The edited image keeps the length of the image it came from.
        std::string name = action.name;
        const std::vector<uint8_t> &source = name == "merge-from" || name == "copy-all" ? b : a;
        EXPECT_EQ(std::filesystem::file_size(dir.file(destination)), source.size());
    }
    return result;
}

// ---- Every corpus image with every action ----

std::vector<std::string> corpusNames() {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(sourcePath("tests/corpus")))
        if (std::set<std::string>{".d64", ".d71", ".d81"}.contains(entry.path().extension().string()))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class DamagedCorpus : public testing::TestWithParam<std::string> {};

TEST_P(DamagedCorpus, EveryActionEndsSafely) {
    std::vector<uint8_t> image = corpusImage(GetParam());
    std::vector<uint8_t> good = corpusImage("good.d64");
    for (const Action &action : actions()) runSafely(image, good, action);
}

INSTANTIATE_TEST_SUITE_P(Images, DamagedCorpus, testing::ValuesIn(corpusNames()),
                         [](const testing::TestParamInfo<std::string> &info) {
                             std::string name = info.param.substr(0, info.param.size() - 4);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(DamagedCorpusOutcome, CorpusHoldsTheDamageItIsMeantToHold) {
    // The generator's layout agrees with what cc1541-made disks use: a 35-track
    // image of 683 blocks, a 40-track one of 768.
    EXPECT_EQ(corpusImage("good.d64").size(), 683u * 256);
    EXPECT_EQ(corpusImage("forty-tracks.d64").size(), 768u * 256);
    EXPECT_EQ(corpusImage("cut-before-18-0.d64").size(), 357u * 256);
    EXPECT_EQ(corpusImage("cut-inside-18-1.d64").size(), 358u * 256 + 70);
    EXPECT_EQ(corpusImage("one-byte.d64").size(), 1u);
    EXPECT_GE(corpusNames().size(), 30u);
}

TEST(DamagedCorpusOutcome, ImagesWithoutBlock18Slash0AreRefusedWithStatus1) {
    for (const char *name : {"empty.d64", "one-byte.d64", "cut-before-18-0.d64", "cut-inside-18-0.d64"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> image = corpusImage(name);
        EXPECT_EQ(runSafely(image, image, actionNamed("listing")).status, 1);
        EXPECT_EQ(runSafely(image, image, actionNamed("map")).status, 1);
        EXPECT_EQ(runSafely(image, image, actionNamed("edits")).status, 1);
    }
}

// The listing ends at a link outside the image, and at the first directory
// block met again: each slot (-va) and entry (-csv, -json) comes once, and
// the warning names the block.
TEST(DamagedCorpusOutcome, ListingStopsQuietlyAtLoopsAndAbsentBlocks) {
    const char *loop = "loops back to block 18/1; the listing ends there.\n";
    const std::tuple<const char *, int, int, const char *> cases[] = {
        {"cut-before-18-1.d64", 0, 0, "links to block 18/1,"}, {"self-loops.d64", 8, 3, loop},
        {"two-block-loops.d64", 16, 4, loop}, {"long-loops.d64", 144, 1, loop}, {"loop-through-18-1.d64", 8, 3, loop},
        {"links-into-36-40.d64", 8, 8, "links to block 38/2,"}, {"links-above-40.d64", 8, 7, "links to block 200/7,"},
        {"d71-directory-loops.d71", 8, 2, loop}, {"d81-directory-loops.d81", 8, 2, "loops back to block 40/3; the"}};
    for (const auto &[name, slots, entries, warning] : cases) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> image = corpusImage(name);
        RunResult result = runSafely(image, image, actionNamed("listing"));
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find(" BLOCKS FREE.\n"), std::string::npos);
        EXPECT_EQ(splitLines(result.out).size(), slots + 2u);
        // (After the warning that a D71 or D81 is named .d64.)
        EXPECT_TRUE(contains(result.err, "WARNING: The directory ") && contains(result.err, warning)) << result.err;
        EXPECT_EQ(splitLines(runSafely(image, image, actionNamed("listing-csv")).out).size(), entries + 0u);
        std::string json = splitLines(runSafely(image, image, actionNamed("json")).out).at(0);
        int numbers = 0;
        for (size_t at = 0; (at = json.find("\"number\":", at + 1)) != std::string::npos;) ++numbers;
        EXPECT_EQ(numbers, slots);
    }
}

TEST(DamagedCorpusOutcome, DirectoryThatCannotBeExtendedEndsWithStatus1) {
    // A looping directory, or one that runs off the image, is refused before
    // anything changes.
    for (const char *name : {"self-loops.d64", "two-block-loops.d64", "long-loops.d64", "loop-through-18-1.d64",
                             "links-into-36-40.d64", "links-above-40.d64", "cut-inside-18-1.d64",
                             "d71-directory-loops.d71", "d81-directory-loops.d81"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> image = corpusImage(name);
        EXPECT_EQ(runSafely(image, image, actionNamed("append-del")).status, 1);
        EXPECT_EQ(runSafely(image, corpusImage("good.d64"), actionNamed("merge-into")).status, 1);
    }
}

// The damage is named on a line of its own; the peers' header and map faults of
// the cc1541 images it was made from may come before it.
TEST(DamagedCorpusOutcome, CheckNamesTheDamage) {
    const std::pair<const char *, const char *> cases[] = {
        {"cut-inside-file-chain.d64", "error: the image is cut short: 102440 bytes of the 174848 of a 35-track image; "
                                      "blocks from 20/5 on are absent, and the directory or a file reaches them"},
        {"one-byte-too-long.d64", "warning: the image is cut short: 174849 bytes of the 175531 of a 35-track image "
                                  "with error bytes; its blocks are whole, its error bytes are not"},
        {"d71-cut-one-block-short.d71", "warning: the image's size, 349440 bytes, is no known size; the nearest is "
                                        "349696, a 70-track d71 image, whose blocks from 70/16 on it lacks; it is "
                                        "read as a 40-track d64 image"},
        {"d71-directory-leaves-its-track.d71", "error: the directory chain: 36/0 lies off track 18"},
        {"d71-file-into-track-53.d71",
         "error: entry 0 \"ONE\" (18/1 slot 0): the data chain: 1/0 links to 53/5, a block of track 53, which the "
         "1571 keeps wholly used"},
        {"d81-directory-leaves-its-track.d81", "error: the directory chain: 39/0 lies off track 40"},
        {"d81-map-1-garbage.d81", "error: 40/1: bytes 02-03 are $2d $ec, not $44 $BB: a 1581 rejects the map and "
                                  "shows 0 blocks free"},
        {"d81-partition-over-track-40.d81", "error: entry 2 \"PART\" (40/3 slot 2): the data chain: 39/39 links to "
                                            "40/0, the map block"},
        {"d81-partition-over-a-file.d81", "error: entry 2 \"PART\" (40/3 slot 2): the data chain: the entry links to "
                                          "1/0, a block of entry 0 \"ONE\" (40/3 slot 0, cross-linked)"}};
    for (const auto &[name, line] : cases) {
        RunResult result = runSafely(corpusImage(name), {}, actionNamed("check"));
        EXPECT_EQ(result.status, line[0] == 'e' ? 3 : 0) << name;
        std::vector<std::string> lines = splitLines(result.out);
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << name << "\n" << result.out;
    }
}

// Partitions that list each other's sub-partitions: each area is checked
// once, right under the partition that lists it first, however many list it.
TEST(DamagedCorpusOutcome, EachSubDirectoryIsCheckedOnce) {
    RunResult result = runSafely(corpusImage("d81-partitions-branching.d81"), {}, actionNamed("check"));
    EXPECT_EQ(result.status, 3);
    for (int k = 2; k <= 36; ++k) {  // 37-39 holds no partition: its check finds nothing
        std::string path = "partition \"P1\" (tracks 1-39): partition \"P" + std::to_string(k) + "\" (tracks " +
                           std::to_string(k) + "-39): ";
        EXPECT_TRUE(contains(result.out, path)) << path;
    }
    for (const std::string &line : splitLines(result.out)) {
        int depth = 0;
        for (size_t at = line.find("partition \"P"); at != std::string::npos; at = line.find("partition \"P", at + 1))
            ++depth;
        EXPECT_LE(depth, 2) << line;
    }
}

// A directory whose 25,576 entries name one chain of 400 blocks: -copy reads
// each file when it inserts it, so memory holds one (the whole lot would be
// 2.6 GB), and the run ends at the second, which the D64 has no room for.
TEST(DamagedCorpusOutcome, CopyHoldsOneFileAtATime) {
    RunResult result = runSafely(corpusImage("d81-directory-whole-disk.d81"), corpusImage("good.d64"),
                                 actionNamed("copy-all"));
    EXPECT_EQ(result.status, 2) << result.err;
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 256 * 1024) << "kB at most, of the largest run";
}

TEST(DamagedCorpusOutcome, FullMapEndsTheMergeWithStatus2) {
    RunResult result = runSafely(corpusImage("map-full.d64"), corpusImage("good.d64"), actionNamed("merge-into"));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "ERROR: Disk full 'a.d64'!");
}

TEST(DamagedCorpusOutcome, ExportKeepsTheFirst150Of200Entries) {
    std::vector<uint8_t> image = corpusImage("export-200-entries.d64");
    RunResult result = runSafely(image, image, actionNamed("export"));
    ASSERT_EQ(result.status, 0);
    // Files 0..149 start on tracks 1..8 (21 sectors each): the last kept is 8/2.
    size_t sectorsLine = result.out.find("sectors:\n  .byte ");
    ASSERT_NE(sectorsLine, std::string::npos);
    std::string tracks = result.out.substr(0, sectorsLine);
    std::string sectors = result.out.substr(sectorsLine);
    EXPECT_EQ(std::count(tracks.begin(), tracks.end(), ','), 149);
    EXPECT_EQ(std::count(sectors.begin(), sectors.end(), ','), 149);
    EXPECT_TRUE(tracks.ends_with(", 8, 8\n")) << tracks.substr(tracks.size() - 20);
    EXPECT_TRUE(sectors.ends_with(", 0, 1, 2")) << sectors.substr(sectors.size() - 20);
}

TEST(DamagedCorpusOutcome, LongChainsAreMeasuredWhole) {
    // 500 blocks: 499 full ones of 254 bytes and a last one whose next-sector
    // byte 0 counts as -1.
    std::vector<uint8_t> image = corpusImage("payload-over-100k.d64");
    RunResult result = runSafely(image, image, actionNamed("listing"));
    EXPECT_NE(result.out.find(" 126745 500 "), std::string::npos) << result.out.substr(0, 300);
    // A ring of 700 blocks is walked up to the 768-block bound.
    image = corpusImage("long-loops.d64");
    result = runSafely(image, image, actionNamed("listing"));
    EXPECT_NE(result.out.find(" 195072 768 "), std::string::npos)  // 768 full blocks of 254 bytes
        << result.out.substr(0, 300);
}

TEST(DamagedCorpusOutcome, EveryTypeByteIsListed) {
    std::vector<uint8_t> image = corpusImage("every-type-byte.d64");
    // 256 slots with -va, header and blocks-free line around them; without
    // "a" the one slot of type 0 is left out.
    RunResult all = runSafely(image, image, actionNamed("listing-raw"));
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 258);
    RunResult shown = runSafely(image, image, Action{"listing-used", {"-vn", "a.d64"}, "", nullptr});
    EXPECT_EQ(std::count(shown.out.begin(), shown.out.end(), '\n'), 257);
}

// ---- One good image, corrupted one byte at a time or cut short ----

constexpr size_t kMapBlockOffset = 0x16500;  // block 18/0

// Positions of blocks 18/0 and 18/1 to corrupt: every byte that steers a walk
// or a search (links, map entries, the used slots), every fourth elsewhere.
std::vector<int> sweepPositions() {
    std::vector<int> positions;
    for (int at = 0; at < 512; ++at) {
        bool steering = at < 4 || (at < 144 && at % 2 == 0) || (at >= 256 && at < 384);
        if (steering || at % 4 == 0) positions.push_back(at);
    }
    return positions;
}

// Each position gets one value and one action, both taken in turn from short
// lists, so that every position is hit by something hostile without running
// every pair.
class CorruptionSweep : public testing::TestWithParam<int> {};

TEST_P(CorruptionSweep, EachByteOfTheDirectoryStart) {
    static const uint8_t kValues[] = {0x00, 0xFF, 0x12, 0x29, 0x13, 0x01, 0xA0, 0x80, 0x24, 0x7F};
    static const char *const kSweepActions[] = {"listing", "append-del", "merge-into", "edits", "map",
                                                "export",  "viewer",     "check",      "fix"};
    std::vector<uint8_t> good = corpusImage("good.d64");
    std::vector<int> positions = sweepPositions();
    for (size_t i = static_cast<size_t>(GetParam()); i < positions.size(); i += 4) {
        int position = positions[i];
        std::vector<uint8_t> image = good;
        uint8_t value = kValues[position % 10];
        image[kMapBlockOffset + position] = value;
        SCOPED_TRACE("byte " + std::to_string(position) + " = " + std::to_string(value));
        runSafely(image, good, actionNamed(kSweepActions[position % 9]));
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, CorruptionSweep, testing::Range(0, 4));

TEST(CorruptionSweep, CutAtManyLengths) {
    std::vector<uint8_t> good = corpusImage("good.d64");
    std::vector<size_t> lengths;
    for (size_t at = 0; at < good.size(); at += 0x4000) lengths.push_back(at);
    for (size_t block = kMapBlockOffset - 256; block <= kMapBlockOffset + 512; block += 256)
        for (size_t delta : {0, 1, 4, 255}) lengths.push_back(block + delta);
    size_t tenBlockFile = 0x17800 + 0x1300 + 5 * 256;  // inside 20/5, within the ten-block file
    lengths.insert(lengths.end(), {tenBlockFile, tenBlockFile + 130, good.size() - 1});
    for (size_t length : lengths) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        std::vector<uint8_t> image(good.begin(), good.begin() + static_cast<long>(length));
        for (const char *action : {"listing", "append-del", "merge-from", "check", "fix"})
            runSafely(image, good, actionNamed(action));
    }
}

}  // namespace
