// End-to-end tests of the block viewer (-block) with keys piped into it: the
// screen layout, the position rules of the arrow keys, following links with j,
// the echo line, the ways out, blocks beyond the image and the run order.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/d64_builder.h"
#include "support/d64_zones.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

const std::string kUp = "\x1b[A", kDown = "\x1b[B", kRight = "\x1b[C", kLeft = "\x1b[D";

struct ViewerRun {
    RunResult result;
    std::vector<std::pair<int, int>> screens;  // track and sector of each screen, in order
};

// Runs "-block <position...> disk.d64" with `keys` on standard input.
ViewerRun runViewer(const ImageBuffer &image, std::vector<std::string> args, const std::string &keys) {
    TempDir dir;
    writeImage(dir.file("disk.d64"), image);
    args.insert(args.begin(), "-block");
    args.push_back("disk.d64");
    ViewerRun run{runBinary(args, dir.path, keys), {}};
    const std::string &out = run.result.out;
    for (size_t at = out.find("Track:"); at != std::string::npos; at = out.find("Track:", at + 1)) {
        int track = -1, sector = -1;
        if (std::sscanf(out.c_str() + at, "Track: %d (0x%*x)\nSector: %d", &track, &sector) == 2)
            run.screens.push_back({track, sector});
    }
    EXPECT_EQ(listFolder(dir.path), std::vector<std::string>{"disk.d64"});  // the viewer writes nothing
    return run;
}

using Screens = std::vector<std::pair<int, int>>;

// The screen for one block, from the layout rules: position lines, column
// header and rule, 16 rows of "%02x " bytes then " | " and the characters,
// then the link.
std::string expectedScreen(int track, int sector, const uint8_t *block, const std::string &chars) {
    char line[96];
    std::string screen;
    std::snprintf(line, sizeof line, "Track:  %2i (0x%02x)\nSector: %2i (0x%02x)\n\n", track, track, sector, sector);
    screen += line;
    screen += "    00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n";
    screen += "    " + std::string(47, '-') + "\n";
    for (int row = 0; row < 16; ++row) {
        std::snprintf(line, sizeof line, "%02x: ", row * 16);
        screen += line;
        for (int i = 0; i < 16; ++i) {
            std::snprintf(line, sizeof line, "%02x ", block[row * 16 + i]);
            screen += line;
        }
        screen += " | " + chars.substr(row * 16, 16) + "\n";
    }
    std::snprintf(line, sizeof line, "\nNext track:  %2i (0x%02x)\nNext sector: %2i (0x%02x)\n", block[0], block[0],
                  block[1], block[1]);
    return screen + line;
}

}  // namespace

// ---------------------------------------------------------------- screen layout

TEST(Viewer, ScreenLayoutByteForByte) {
    // Raw characters (-vo): the character column is the block's own bytes.
    ImageBuffer image = formatImage();
    uint8_t *block = blockAt(image, 1, 0);
    for (int i = 0; i < 256; ++i) block[i] = static_cast<uint8_t>(i);
    ViewerRun raw = runViewer(image, {"1", "0", "-vo"}, "q");
    std::string bytes(reinterpret_cast<const char *>(block), 256);
    EXPECT_EQ(raw.result.out, expectedScreen(1, 0, block, bytes) + "q 113\n");
    EXPECT_EQ(raw.result.status, 0);
    EXPECT_EQ(raw.result.err, "");

    // Converted characters: codes 0x20..0x5b print as themselves, 0xa0 (the
    // name padding) as a blank, and two digits and a lower-case hex link.
    uint8_t *other = blockAt(image, 25, 17);
    for (int i = 0; i < 256; ++i) other[i] = static_cast<uint8_t>(0x20 + (i * 7) % 60);
    other[0] = 0x1f;  // link 31/42
    other[1] = 0x2a;
    other[255] = 0xa0;
    std::string chars(reinterpret_cast<const char *>(other), 256);
    chars[0] = static_cast<char>(0xae);  // 0x1f shows as 0xae (as 0x5f does)
    chars[255] = ' ';
    ViewerRun converted = runViewer(image, {"25", "17"}, "");
    EXPECT_EQ(converted.result.out, expectedScreen(25, 17, other, chars) + "q 113\n");
}

TEST(Viewer, StartPositionAndSectorsBeyondTheTrack) {
    ImageBuffer image = formatImage();
    EXPECT_EQ(runViewer(image, {}, "q").screens, (Screens{{18, 0}}));
    EXPECT_EQ(runViewer(image, {"18", "19"}, "q").screens, (Screens{{18, 18}}));
    EXPECT_EQ(runViewer(image, {"18", "25"}, "q").screens, (Screens{{18, 18}}));
    EXPECT_EQ(runViewer(image, {"7"}, "q").screens, (Screens{{7, 0}}));

    // 1/25 shows 1/20 but stays at 25: right does nothing, and only the sixth
    // left press reaches a sector (19) that differs from the one shown.
    std::string keys = kRight;
    for (int i = 0; i < 6; ++i) keys += kLeft;
    EXPECT_EQ(runViewer(image, {"1", "25"}, keys + "q").screens,
              (Screens{{1, 20}, {1, 20}, {1, 20}, {1, 20}, {1, 20}, {1, 20}, {1, 20}, {1, 19}}));

    // Up from 17/20 shows 18/18; down returns to 17/20 itself.
    EXPECT_EQ(runViewer(image, {"17", "20"}, kUp + kDown + "q").screens, (Screens{{17, 20}, {18, 18}, {17, 20}}));
}

TEST(Viewer, ArrowKeysStopAtTheirBounds) {
    ImageBuffer image = formatImage();
    EXPECT_EQ(runViewer(image, {"35", "16"}, kUp + kRight + kLeft + "q").screens,
              (Screens{{35, 16}, {35, 16}, {35, 16}, {35, 15}}));
    EXPECT_EQ(runViewer(image, {"1", "0"}, kDown + kLeft + kUp + "q").screens,
              (Screens{{1, 0}, {1, 0}, {1, 0}, {2, 0}}));
    // ESC O A (application cursor mode) is the up arrow too.
    EXPECT_EQ(runViewer(image, {"4", "2"}, "\x1bOA\x1bOC\x1bOB\x1bODq").screens,
              (Screens{{4, 2}, {5, 2}, {5, 3}, {4, 3}, {4, 2}}));
    // A 40-track image holds tracks 36..40: up goes on to 40 and stops there.
    ImageBuffer forty = formatImage("FORTY", "ft", 40);
    blockAt(forty, 40, 3)[2] = 0x5a;
    ViewerRun high = runViewer(forty, {"38", "3"}, kUp + kUp + kUp + kDown + "q");
    EXPECT_EQ(high.screens, (Screens{{38, 3}, {39, 3}, {40, 3}, {40, 3}, {39, 3}}));
    EXPECT_NE(high.result.out.find("00: 00 00 5a 00"), std::string::npos);
}

// ------------------------------------------------------------ following links

TEST(Viewer, JumpFollowsOnlyLinksToExistingBlocks) {
    ImageBuffer image = formatImage();
    linkBlock(image, 2, 0, 0, 77);   // last block of a chain
    linkBlock(image, 2, 1, 36, 0);   // beyond the map's tracks
    linkBlock(image, 2, 2, 18, 19);  // track 18 has sectors 0..18
    linkBlock(image, 2, 3, 18, 18);
    linkBlock(image, 18, 18, 5, 7);
    EXPECT_EQ(runViewer(image, {"2", "0"}, "jq").screens, (Screens{{2, 0}, {2, 0}}));
    EXPECT_EQ(runViewer(image, {"2", "1"}, "jq").screens, (Screens{{2, 1}, {2, 1}}));
    EXPECT_EQ(runViewer(image, {"2", "2"}, "jq").screens, (Screens{{2, 2}, {2, 2}}));
    EXPECT_EQ(runViewer(image, {"2", "3"}, "jjq").screens, (Screens{{2, 3}, {18, 18}, {5, 7}}));
    // At 18/20 the screen shows 18/18, and j follows the link printed there.
    EXPECT_EQ(runViewer(image, {"18", "20"}, "jq").screens, (Screens{{18, 18}, {5, 7}}));

    // A 40-track image holds the blocks of tracks 36..40: j goes there too.
    ImageBuffer forty = formatImage("FORTY", "ft", 40);
    linkBlock(forty, 3, 0, 36, 0);
    linkBlock(forty, 36, 0, 40, 16);
    linkBlock(forty, 40, 16, 41, 0);
    linkBlock(forty, 3, 1, 35, 16);
    EXPECT_EQ(runViewer(forty, {"3", "0"}, "jjjq").screens, (Screens{{3, 0}, {36, 0}, {40, 16}, {40, 16}}));
    EXPECT_EQ(runViewer(forty, {"3", "1"}, "jq").screens, (Screens{{3, 1}, {35, 16}}));
}

// A 40-track image written by cc1541 -4 with a file on tracks 36-40: the
// arrows climb to track 40, and j on 36/0 follows the link the image holds.
TEST(Viewer, FortyTrackImageFromCc1541) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    writeBytes(dir.file("high"), randomBytes(3000, 36));
    int status = -1;
    std::string out = shellOutput("cd '" + dir.path + "' && cc1541 -q -4 -f high -r 36 -w high forty.d64 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    ImageBuffer image;
    std::vector<uint8_t> bytes = readBytes(dir.file("forty.d64"));
    ASSERT_EQ(bytes.size(), 196608u);
    image.bytes.assign(bytes.begin(), bytes.end());
    const uint8_t *first = image.bytes.data() + zoneOffset(36, 0);
    ASSERT_EQ(first[0], 36);  // cc1541 starts the file at 36/0 and goes on on track 36

    std::string up6;
    for (int i = 0; i < 6; ++i) up6 += kUp;
    EXPECT_EQ(runViewer(image, {"35", "2"}, up6 + "q").screens,
              (Screens{{35, 2}, {36, 2}, {37, 2}, {38, 2}, {39, 2}, {40, 2}, {40, 2}}));
    EXPECT_EQ(runViewer(image, {"36", "0"}, "jq").screens, (Screens{{36, 0}, {first[0], first[1]}}));
}

// ---------------------------------------------------------- keys, echo, leaving

TEST(Viewer, UppercaseLettersOnlyRedraw) {
    ImageBuffer image = formatImage();
    linkBlock(image, 9, 9, 10, 10);
    ViewerRun run = runViewer(image, {"9", "9"}, "QJq");
    EXPECT_EQ(run.screens, (Screens{{9, 9}, {9, 9}, {9, 9}}));
    EXPECT_NE(run.result.out.find("\nQ 81\nTrack:"), std::string::npos);
    EXPECT_NE(run.result.out.find("\nJ 74\nTrack:"), std::string::npos);
}

TEST(Viewer, EchoLinesOfArrowsAndTheLastKey) {
    ImageBuffer image = formatImage();
    // ESC [ A, the raw bytes 0xe0 0x48 and the prefix 0 with 0x48 all move up;
    // each echoes its prefix, never the 72 that follows it.
    ViewerRun run = runViewer(image, {"3", "0"}, kUp + "\xe0\x48" + std::string("\0\x48", 2) + "q");
    EXPECT_EQ(run.screens, (Screens{{3, 0}, {4, 0}, {5, 0}, {6, 0}}));
    const std::string &out = run.result.out;
    EXPECT_NE(out.find("\n\xe0 224\nTrack:   4"), std::string::npos);
    EXPECT_NE(out.find("\n\xe0 224\nTrack:   5"), std::string::npos);
    EXPECT_NE(out.find(std::string("\n\0 0\nTrack:   6", 15)), std::string::npos);
    EXPECT_EQ(out.find(" 72\n"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 7), "\nq 113\n");
    EXPECT_EQ(out.find("\x1b[H"), std::string::npos);  // no clearing on a pipe

    // Other escape sequences (ctrl+up, page up) are swallowed whole: no echo, no move.
    run = runViewer(image, {"3", "0"}, "\x1b[1;5A\x1b[5~q");
    EXPECT_EQ(run.screens, (Screens{{3, 0}}));
    EXPECT_EQ(run.result.out.find("1;5"), std::string::npos);
}

TEST(Viewer, EscapeAndEndOfInputLeave) {
    ImageBuffer image = formatImage();
    // A lone ESC followed by another byte is Esc; the byte after it is never a key.
    ViewerRun esc = runViewer(image, {"3", "0"}, "\x1bj");
    EXPECT_EQ(esc.screens, (Screens{{3, 0}}));
    EXPECT_EQ(esc.result.status, 0);
    EXPECT_EQ(esc.result.out.substr(esc.result.out.size() - 6), "\n\x1b 27\n");

    ViewerRun escAtEnd = runViewer(image, {"3", "0"}, kUp + "\x1b");
    EXPECT_EQ(escAtEnd.screens, (Screens{{3, 0}, {4, 0}}));
    EXPECT_EQ(escAtEnd.result.out.substr(escAtEnd.result.out.size() - 6), "\n\x1b 27\n");

    // The end of the keys leaves as if q had been pressed.
    ViewerRun ended = runViewer(image, {"3", "0"}, kUp + kUp);
    EXPECT_EQ(ended.screens, (Screens{{3, 0}, {4, 0}, {5, 0}}));
    EXPECT_EQ(ended.result.status, 0);
    EXPECT_EQ(ended.result.out.substr(ended.result.out.size() - 7), "\nq 113\n");
}

// ------------------------------------------------------- absent blocks, run order

TEST(Viewer, BlockBeyondTheImage) {
    ImageBuffer image = formatImage();  // 35 tracks
    ViewerRun run = runViewer(image, {"36"}, "j" + kUp + "q");
    EXPECT_EQ(run.screens, (Screens{{36, 0}, {36, 0}, {36, 0}}));
    const std::string screen =
        "Track:  36 (0x24)\nSector:  0 (0x00)\n\nBlock 36/0 lies beyond the end of the image.\n\n"
        "Next track:   0 (0x00)\nNext sector:  0 (0x00)\n";
    EXPECT_EQ(run.result.out, screen + "j 106\n" + screen + "\xe0 224\n" + screen + "q 113\n");
    EXPECT_EQ(run.result.status, 0);

    // Down leaves the absent tracks; 40/25 is clamped to 40/16 on the way in.
    EXPECT_EQ(runViewer(image, {"40", "25"}, kDown + kDown + kDown + kDown + kDown + "q").screens,
              (Screens{{40, 16}, {39, 16}, {38, 16}, {37, 16}, {36, 16}, {35, 16}}));
}

TEST(Viewer, AppendRunsAfterTheViewerLeaves) {
    ImageBuffer image = formatImage();
    TempDir dir;
    writeImage(dir.file("disk.d64"), image);
    RunResult result = runBinary({"-block", "18", "1", "-adel", "disk.d64"}, dir.path, "q");
    EXPECT_EQ(result.status, 0);
    size_t echo = result.out.find("q 113\n");
    ASSERT_NE(echo, std::string::npos);
    // The viewer saw the image before the append: 18/1 still had an empty first slot.
    EXPECT_NE(result.out.find("00: 00 ff 00 00"), std::string::npos);
    EXPECT_EQ(result.out.substr(echo),
              "q 113\nLast Block of 18/ 1: \n18/ 1\n\nDestination file set to 'disk.out.d64'.\n");
    std::vector<uint8_t> written = readBytes(dir.file("disk.out.d64"));
    ASSERT_EQ(written.size(), image.bytes.size());
    EXPECT_EQ(written[91392 + 256 + 2], 0x80);  // 18/1, first slot's type byte
}
