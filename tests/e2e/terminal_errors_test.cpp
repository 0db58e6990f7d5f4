// Errors as a person sees them on a terminal (tmux, 80 x 24, an interactive
// sh that prompts "$ " once kestrel has ended): after the usage the error line
// is shown once more, so that it is on the last screen, and a file error ends
// its line, so that the prompt stands on a line of its own. The bytes that go
// to pipes and files are pinned in cmdline_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tmux_session.h"

namespace {

// The screen's lines, without the empty ones below the prompt.
std::vector<std::string> finalLines(const TmuxSession &pane) {
    waitUntil([&] { return lastScreenLine(pane.screen()) == "$"; });
    std::vector<std::string> lines = splitLines(pane.screen());
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

}  // namespace

TEST(ErrorsInTmux, TheErrorLineIsOnTheLastScreenAboveThePrompt) {
    if (!haveProgram("tmux")) GTEST_SKIP() << "tmux is not installed";
    struct Case {
        std::string args;
        std::string message;
        bool usage;  // exitWithError: the usage comes between the two copies
    } const cases[] = {
        {"-CSV a.d64", "ERROR: Unknown option '-CSV'.", true},
        {"-rd 300 a.d64", "ERROR: Number (300) too high. [Maximum: 255]", true},
        {"-start 1 '$' a.d64", "ERROR: Not a number (0).", true},
        {"x.d64", "ERROR: File 'x.d64' not found.", false},
        {"-CSV a.d64 >/dev/null", "ERROR: Unknown option '-CSV'.", false},  // the message alone on the terminal
        {"-merge a.d64 short.d64", "ERROR: 2nd file 'short.d64' is too short to hold block 18/0 (1000 bytes).", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        TempDir dir;
        writeImage(dir.file("a.d64"), formatImage());
        writeBytes(dir.file("short.d64"), std::vector<uint8_t>(1000, 0));
        TmuxSession pane(80, 24, shellPaneCommand(dir.path, std::string(KESTREL_BINARY) + " " + c.args));
        std::vector<std::string> lines = finalLines(pane);
        ASSERT_GE(lines.size(), 2u) << pane.screen();
        EXPECT_EQ(lines[lines.size() - 1], "$");
        EXPECT_EQ(lines[lines.size() - 2], c.message) << pane.screen();
        if (c.usage) {
            ASSERT_EQ(lines.size(), 24u) << pane.screen();
            EXPECT_EQ(lines[lines.size() - 3], "Always provide the full file name including extension .d64");
            EXPECT_NE(lines[0], c.message);  // the usage has scrolled the first copy away
        } else {
            EXPECT_FALSE(contains(pane.screen(), "A tool to view")) << pane.screen();
            EXPECT_EQ(lines.size(), 2u) << pane.screen();
        }
    }
}

// Only a terminal gets the second copy: with standard error in a file the
// message is there once, as on a pipe.
TEST(ErrorsInTmux, RedirectedStandardErrorKeepsTheMessageOnce) {
    if (!haveProgram("tmux")) GTEST_SKIP() << "tmux is not installed";
    TempDir dir;
    TmuxSession pane(80, 24, shellPaneCommand(dir.path, std::string(KESTREL_BINARY) + " -CSV 2> err.txt"));
    std::vector<std::string> lines = finalLines(pane);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Always provide the full file name including extension .d64");
    std::vector<uint8_t> err = readBytes(dir.file("err.txt"));
    EXPECT_EQ(std::string(err.begin(), err.end()), "ERROR: Unknown option '-CSV'.");
}
