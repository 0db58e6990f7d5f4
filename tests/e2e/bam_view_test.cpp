// End-to-end tests of the availability map view (-bam): the exact text for a
// formatted image, maps that disagree with their counts, 40-track images, and
// a cross-check against the map that cc1541 writes.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/d64_builder.h"
#include "support/d64_zones.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

// One view line: "%2i: %2i/%2i " and a mark per sector, each followed by a blank.
std::string trackLine(int track, int storedCount, const std::string &marks) {
    char head[32];
    std::snprintf(head, sizeof head, "%2i: %2i/%2i ", track, storedCount, zoneSectors(track));
    std::string line = head;
    for (char mark : marks) line += std::string(1, mark) + " ";
    return line + "\n";
}

RunResult runBam(const ImageBuffer &image) {
    TempDir dir;
    writeImage(dir.file("disk.d64"), image);
    RunResult result = runBinary({"-bam", "disk.d64"}, dir.path);
    EXPECT_EQ(listFolder(dir.path), std::vector<std::string>{"disk.d64"});  // -bam writes nothing
    return result;
}

}  // namespace

TEST(BamView, FreshImageByteForByte) {
    std::string expected;
    for (int track = 1; track <= 35; ++track) {
        int n = zoneSectors(track);
        if (track == 18)
            expected += trackLine(18, 17, ".." + std::string(17, 'o'));
        else
            expected += trackLine(track, n, std::string(n, 'o'));
    }
    expected += "Blocks: 683\nUsed blocks: 2\n";

    RunResult result = runBam(formatImage());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
}

TEST(BamView, MarksFollowBitsAndCountsArePrintedAsStored) {
    // Every bit clear: all 683 sectors are used whatever the counts claim.
    ImageBuffer allUsed = formatImage();
    uint8_t *map = blockAt(allUsed, 18, 0);
    for (int track = 1; track <= 35; ++track) map[4 * track + 1] = map[4 * track + 2] = map[4 * track + 3] = 0;
    map[4 * 7] = 0;  // one count that happens to agree
    RunResult result = runBam(allUsed);
    std::vector<std::string> view = splitLines(result.out);
    ASSERT_EQ(view.size(), 37u);
    EXPECT_EQ(view[0] + "\n", trackLine(1, 21, std::string(21, '.')));
    EXPECT_EQ(view[6] + "\n", trackLine(7, 0, std::string(21, '.')));
    EXPECT_EQ(view[34] + "\n", trackLine(35, 17, std::string(17, '.')));
    EXPECT_EQ(view[35], "Blocks: 683");
    EXPECT_EQ(view[36], "Used blocks: 683");

    // A count of 100 or more takes three digits and moves the rest of its line
    // right; bits above the track's sector count are neither shown nor counted.
    ImageBuffer wide = formatImage();
    map = blockAt(wide, 18, 0);
    map[4 * 5] = 100;
    map[4 * 6] = 255;
    map[4 * 31 + 3] = 0xFE;  // bits 17..23 of a 17-sector track: already set, and clear bit 16
    result = runBam(wide);
    view = splitLines(result.out);
    ASSERT_EQ(view.size(), 37u);
    EXPECT_EQ(view[4], " 5: 100/21 o o o o o o o o o o o o o o o o o o o o o ");
    EXPECT_EQ(view[5], " 6: 255/21 o o o o o o o o o o o o o o o o o o o o o ");
    EXPECT_EQ(view[30] + "\n", trackLine(31, 17, std::string(16, 'o') + "."));
    EXPECT_EQ(view[36], "Used blocks: 3");
}

TEST(BamView, FortyTrackImageShowsThirtyFiveTracks) {
    ImageBuffer image = formatImage("FORTY", "ft", 40);
    RunResult result = runBam(image);
    std::vector<std::string> view = splitLines(result.out);
    ASSERT_EQ(view.size(), 37u);
    EXPECT_EQ(view[34].substr(0, 4), "35: ");
    EXPECT_EQ(view[35], "Blocks: 683");
    EXPECT_EQ(view[36], "Used blocks: 2");
}

// cc1541 writes a file and keeps its own map; the view must show the same
// number of used blocks, and each stored count must equal the "o" marks. On
// cc1541's 40-track disks (-4 SpeedDOS, -5 DolphinDOS map), a file placed
// from track 36 on is shown on tracks 36-40, from the extension's map.
TEST(BamView, AgreesWithMapWrittenByCc1541) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 not installed";
    struct Case {
        const char *options;  // of cc1541
        size_t tracks;        // the view's track lines
        const char *blocks;   // its "Blocks:" line
    } const cases[] = {
        {"", 35, "Blocks: 683"}, {"-4 -r 36", 40, "Blocks: 768"}, {"-5 -r 36", 40, "Blocks: 768"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        TempDir dir;
        writeBytes(dir.file("payload.bin"), randomBytes(254 * 11 + 17, 7));  // 12 blocks
        std::string command = "cd '" + dir.path + "' && cc1541 -n crosscheck " + c.options +
                              " -f payload -w payload.bin disk.d64 >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        RunResult result = runBinary({"-bam", "disk.d64"}, dir.path);
        std::vector<std::string> view = splitLines(result.out);
        ASSERT_EQ(view.size(), c.tracks + 2);
        EXPECT_EQ(view[c.tracks], c.blocks);
        EXPECT_EQ(view[c.tracks + 1], "Used blocks: 14");  // 18/0, 18/1 and the file's 12 blocks
        int usedAbove35 = 0;
        for (size_t track = 1; track <= c.tracks; ++track) {
            const std::string &line = view[track - 1];
            int count = std::stoi(line.substr(4, 3));
            int marks = 0, used = 0;
            for (size_t i = 10; i < line.size(); ++i) {
                marks += line[i] == 'o';
                used += line[i] == '.';
            }
            EXPECT_EQ(count, marks) << line;
            if (track > 35) usedAbove35 += used;
        }
        EXPECT_EQ(usedAbove35, c.tracks == 40 ? 12 : 0);
    }
}
