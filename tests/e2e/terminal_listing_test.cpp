// The listing on a real terminal (tmux on a pseudo-terminal): the disk's
// graphics arrive as UTF-8 code page 437 glyphs, and a disk name full of
// escape and control bytes cannot drive the terminal, also in raw mode (-vo).
// To a pipe the same listing is exact code page 437 bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "support/d64_builder.h"
#include "support/run_binary.h"

namespace {

std::string shell(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

bool haveTmux() { return shell("command -v tmux >/dev/null 2>&1 && echo yes") == "yes\n"; }

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// A private tmux server (own socket, no user configuration, UTF-8 forced) with
// one 120x40 window running a shell command; killed when the test ends.
class TmuxPane {
public:
    explicit TmuxPane(const std::string &command) {
        static int counter = 0;
        socket_ = "kestrel-listing-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
        shell(tmux("new-session -d -x 120 -y 40 '" + command + "; echo __DONE__; sleep 60'") + " 2>&1");
        socketPath_ = shell(tmux("display -p '#{socket_path}'"));
        if (!socketPath_.empty() && socketPath_.back() == '\n') socketPath_.pop_back();
    }
    ~TmuxPane() {
        shell(tmux("kill-server") + " 2>/dev/null");
        if (!socketPath_.empty()) unlink(socketPath_.c_str());
    }
    TmuxPane(const TmuxPane &) = delete;
    TmuxPane &operator=(const TmuxPane &) = delete;

    // The screen once the command has finished (at most five seconds).
    std::string finishedScreen() const {
        std::string screen;
        for (int i = 0; i < 250; ++i) {
            screen = shell(tmux("capture-pane -p"));
            if (contains(screen, "__DONE__")) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return screen;
    }
    std::string title() const { return shell(tmux("display -p '#{pane_title}'")); }

private:
    std::string tmux(const std::string &arguments) const {
        return "tmux -u -L " + socket_ + " -f /dev/null " + arguments;
    }
    std::string socket_, socketPath_;
};

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
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    TempDir dir;
    makeImages(dir);
    TmuxPane pane("cd " + dir.path + " && " + KESTREL_BINARY + " graphics.d64");
    std::string screen = pane.finishedScreen();
    // capture-pane drops the blanks at the ends of lines.
    EXPECT_TRUE(contains(screen, "0 \"─┼£AB           \" AB 2A\n")) << screen;
    EXPECT_TRUE(contains(screen, "1    \"──BOX\"            PRG\n")) << screen;
    EXPECT_TRUE(contains(screen, "663 BLOCKS FREE.\n")) << screen;
}

// Raw mode passes the name's bytes unconverted, yet on a terminal they are
// shown as glyphs: ESC as U+2190, BEL as U+2022, 0xA0 as U+00E1. The screen
// is not cleared and the title is not changed.
TEST(TerminalListing, EscapeBytesInRawNamesDoNotReachTheTerminal) {
    if (!haveTmux()) GTEST_SKIP() << "tmux is not installed";
    TempDir dir;
    makeImages(dir);

    // The same bytes printed straight do clear the screen and set the title,
    // so the checks below can see an escape that gets through.
    writeBytes(dir.file("name.bin"), std::vector<uint8_t>(kEscapeName.begin(), kEscapeName.end()));
    {
        TmuxPane control("cd " + dir.path + " && echo BEFORE-MARK && cat name.bin");
        std::string screen = control.finishedScreen();
        EXPECT_FALSE(contains(screen, "BEFORE-MARK")) << screen;
        EXPECT_EQ(control.title(), "PWNED\n");
    }

    TmuxPane pane("cd " + dir.path + " && echo BEFORE-MARK && " + KESTREL_BINARY + " -vo escape.d64");
    std::string screen = pane.finishedScreen();
    EXPECT_TRUE(contains(screen, "BEFORE-MARK\n")) << screen;
    EXPECT_NE(pane.title(), "PWNED\n");
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
