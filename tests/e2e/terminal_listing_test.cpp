// The listing on a real terminal (tmux on a pseudo-terminal): the disk's
// graphics arrive as UTF-8 code page 437 glyphs, and a disk name full of
// escape and control bytes cannot drive the terminal, also in raw mode (-vo).
// To a pipe the same listing is exact code page 437 bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tmux_session.h"

namespace {

// `command`, then a mark for finishedScreen; the pane stays open after it.
std::string thenMark(const std::string &command) { return command + "; echo __DONE__; sleep 60"; }

// The screen once the marked command has finished (waits at most five seconds).
std::string finishedScreen(const TmuxSession &pane) {
    waitUntil([&] { return contains(pane.screen(), "__DONE__"); });
    return pane.screen();
}

// Disk name: ESC "[2J" (clear the screen), then ESC "]0;PWNED" BEL (set the
// window title); the file name: ESC "[31m" (red) and a few control bytes.
const std::string kEscapeName = "\x1b[2J\x1b]0;PWNED\x07";
const std::string kEscapeFile = std::string("\x1b[31mX\x01\x0d\x0a\x08", 10);

// Disk name with graphics: 0x60 -> 0xC4, 0x7B -> 0xC5, 0x5C -> 0x9C, then "AB".
const std::string kGraphicsName = "\x60\x7B\x5C" "AB";

void makeImages(const TempDir &dir) {
    ImageBuffer escape = formatImage(kEscapeName, "AB");
    addFile(escape, {0x01, 0x08}, kEscapeFile);
    writeImage(dir.file("escape.d64"), escape);
    ImageBuffer graphics = formatImage(kGraphicsName, "AB");
    addFile(graphics, {0x01, 0x08}, "\x60\x60" "BOX");
    writeImage(dir.file("graphics.d64"), graphics);
}

}  // namespace

// On a terminal each converted byte is its code page 437 glyph in UTF-8:
// 0xC4 is U+2500, 0xC5 is U+253C, 0x9C is U+00A3.
TEST(TerminalListing, GraphicsArriveAsUtf8Glyphs) {
    if (!haveProgram("tmux")) GTEST_SKIP() << "tmux is not installed";
    TempDir dir;
    makeImages(dir);
    TmuxSession pane(120, 40, thenMark("cd " + dir.path + " && " + KESTREL_BINARY + " graphics.d64"));
    std::string screen = finishedScreen(pane);
    // capture-pane drops the blanks at the ends of lines.
    EXPECT_TRUE(contains(screen, "0 \"─┼£AB           \" AB 2A\n")) << screen;
    EXPECT_TRUE(contains(screen, "1    \"──BOX\"            PRG\n")) << screen;
    EXPECT_TRUE(contains(screen, "663 BLOCKS FREE.\n")) << screen;
}

// Raw mode passes the name's bytes unconverted, yet on a terminal they are
// shown as glyphs: ESC as U+2190, BEL as U+2022, 0xA0 as U+00E1. The screen
// is not cleared and the title is not changed.
TEST(TerminalListing, EscapeBytesInRawNamesDoNotReachTheTerminal) {
    if (!haveProgram("tmux")) GTEST_SKIP() << "tmux is not installed";
    TempDir dir;
    makeImages(dir);

    // The same bytes printed straight do clear the screen and set the title,
    // so the checks below can see an escape that gets through.
    writeBytes(dir.file("name.bin"), std::vector<uint8_t>(kEscapeName.begin(), kEscapeName.end()));
    {
        TmuxSession control(120, 40, thenMark("cd " + dir.path + " && echo BEFORE-MARK && cat name.bin"));
        std::string screen = finishedScreen(control);
        EXPECT_FALSE(contains(screen, "BEFORE-MARK")) << screen;
        EXPECT_EQ(control.title(), "PWNED");
    }

    std::string command = "cd " + dir.path + " && echo BEFORE-MARK && " + KESTREL_BINARY + " -vo escape.d64";
    TmuxSession pane(120, 40, thenMark(command));
    std::string screen = finishedScreen(pane);
    EXPECT_TRUE(contains(screen, "BEFORE-MARK\n")) << screen;
    EXPECT_NE(pane.title(), "PWNED");
    EXPECT_TRUE(contains(screen, "0 \"←[2J←]0;PWNED•áá\" ABá2A\n")) << screen;
    EXPECT_TRUE(contains(screen, "1    \"←[31mX☺♪◙◘\"ááááá  PRG\n")) << screen;
}

// To a pipe the bytes are exact: code page 437 values, or the disk's own bytes with -vo.
TEST(TerminalListing, PipeGetsExactBytes) {
    TempDir dir;
    makeImages(dir);
    RunResult graphics = runBinary({"graphics.d64"}, dir.path);
    EXPECT_EQ(graphics.out, "0 \"\xC4\xC5\x9C" "AB           \" AB 2A  \n"
                            "1    \"\xC4\xC4" "BOX\"            PRG \n"
                            "663 BLOCKS FREE.\n");
    RunResult raw = runBinary({"-vo", "escape.d64"}, dir.path);
    EXPECT_EQ(raw.out, "0 \"" + kEscapeName + "\xA0\xA0\" AB\xA0" "2A  \n"
                       "1    \"" + kEscapeFile + "\"\xA0\xA0\xA0\xA0\xA0  PRG \n"
                       "663 BLOCKS FREE.\n");
}

// The glyph of every printable code page 437 byte (0x20-0x7E, 0x80-0xFF) on a
// terminal is the character iconv gives for it: the viewer shows a block of
// the bytes 0..255 unconverted (-vo), 16 to a row. Positions 0x00-0x1F and
// 0x7F show pictures that iconv does not give them.
TEST(GlyphsInTmux, PrintableCodePage437AsIconvConvertsIt) {
    if (!haveProgram("tmux") || !haveProgram("iconv")) GTEST_SKIP() << "tmux or iconv is not installed";
    TempDir dir;
    ImageBuffer image = formatImage();
    std::vector<uint8_t> printable;
    for (int i = 0; i < 256; ++i) {
        blockAt(image, 1, 0)[i] = static_cast<uint8_t>(i);
        if (i >= 0x20 && i != 0x7F) printable.push_back(static_cast<uint8_t>(i));
    }
    writeImage(dir.file("disk.d64"), image);
    writeBytes(dir.file("printable.bin"), printable);
    int status = -1;
    std::string expected = shellOutput("iconv -f CP437 -t UTF-8 " + dir.file("printable.bin"), &status);
    ASSERT_EQ(status, 0);

    TmuxSession pane(100, 40, thenMark("cd " + dir.path + " && " + KESTREL_BINARY + " -vo -block 1 0 disk.d64"));
    ASSERT_TRUE(waitUntil([&] { return contains(pane.screen(), "Next sector:"); })) << pane.screen();
    std::string shown;  // the character column of rows 0x20-0xF0, without 0x7F
    for (const std::string &line : splitLines(pane.screen())) {
        unsigned row = 0;
        if (line.size() < 4 || line[2] != ':' || std::sscanf(line.c_str(), "%x:", &row) != 1 || row < 0x20) continue;
        std::string glyphs = line.substr(line.find(" | ") + 3);
        if (row == 0x70) glyphs.erase(glyphs.size() - std::string("⌂").size());
        shown += glyphs;
    }
    EXPECT_EQ(shown, expected);
    pane.sendKeys("q");
}
