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

// The help on an 80-column terminal: each of its lines fills one row of the
// screen, none wraps onto a second.
TEST(HelpInTmux, EveryLineFitsEightyColumns) {
    if (!haveProgram("tmux")) GTEST_SKIP() << "tmux is not installed";
    TempDir dir;
    std::string binary = KESTREL_BINARY;
    std::string folder = binary.substr(0, binary.rfind('/'));
    RunResult help = runBinary({"-h"}, dir.path);
    ASSERT_EQ(help.status, 0);
    // Named "kestrel" through the PATH, as people run it, so that the usage
    // line shows that name rather than the path of the build.
    // Rows to spare: the whole help stays on the screen, none scrolled off.
    TmuxSession pane(80, 200, shellPaneCommand(dir.path, "PATH=" + shellWord(folder) + ":$PATH kestrel -h"));
    std::vector<std::string> lines = finalLines(pane);
    std::vector<std::string> expected;
    for (std::string line : splitLines(help.out)) {
        if (line.rfind(binary, 0) == 0) line.replace(0, binary.size(), "kestrel");
        for (size_t tab; (tab = line.find('\t')) != std::string::npos;) line.replace(tab, 1, 8 - tab % 8, ' ');
        while (!line.empty() && line.back() == ' ') line.pop_back();  // tmux drops them
        expected.push_back(line);
    }
    expected.push_back("$");
    EXPECT_EQ(lines, expected) << pane.screen();
}
