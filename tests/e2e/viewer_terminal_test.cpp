// End-to-end tests of the block viewer in a real terminal: tmux runs kestrel
// on a pseudo-terminal, real arrow keys are sent to it, the screen is read
// back, and the terminal settings must be the same after the viewer as before
// it, whichever way it ends: q, Esc, Ctrl+C, Ctrl+\, a signal that ends it, a
// stop with Ctrl+Z and fg, or the output pipe closing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tmux_session.h"

namespace {

std::string readText(const std::string &path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool rawMode(const std::string &settings) {
    return contains(settings, " -icanon ") && contains(settings, " -echo ");
}

// Position lines as the viewer prints them.
std::string positionLines(int track, int sector) {
    char text[64];
    std::snprintf(text, sizeof text, "Track:  %2i (0x%02x)\nSector: %2i (0x%02x)\n", track, track, sector, sector);
    return text;
}

// The folder holds disk.d64 and run.sh: the shell saves the terminal settings,
// records its pid and becomes kestrel; the outer shell saves the settings
// again and then reads one line in the terminal's normal (cooked) mode.
void prepareFolder(const TempDir &dir) {
    ImageBuffer image = formatImage();
    linkBlock(image, 17, 20, 19, 5);
    uint8_t *target = blockAt(image, 19, 5);
    target[0] = 0;
    target[1] = 9;
    for (int i = 0; i < 7; ++i) target[2 + i] = static_cast<uint8_t>("KESTREL"[i]);
    writeImage(dir.file("disk.d64"), image);
    std::ofstream script(dir.file("run.sh"));
    script << "cd '" << dir.path << "'\n"
           << "stty -g > before.txt\n"
           << "sh -c 'echo $$ > pid.txt; exec " << KESTREL_BINARY << " -block 17 20 disk.d64'\n"
           << "echo \"STATUS:$?\"\n"
           << "stty -g > after.txt\n"
           << "printf 'TYPE:'\n"
           << "read line\n"
           << "echo \"GOT:$line\"\n"
           << "sleep 600\n";
}

// After the viewer has ended: the saved settings match, and a typed line is
// echoed by the terminal and delivered only at Enter.
void expectTerminalRestored(const TempDir &dir, const TmuxSession &session) {
    std::string before = readText(dir.file("before.txt"));
    EXPECT_FALSE(before.empty());
    EXPECT_EQ(readText(dir.file("after.txt")), before);
    EXPECT_FALSE(rawMode(session.terminalSettings()));
    session.sendKeys("hello");
    EXPECT_TRUE(waitUntil([&] { return contains(session.screen(), "TYPE:hello"); })) << session.screen();
    EXPECT_FALSE(contains(session.screen(), "GOT:"));
    session.sendKeys("Enter");
    EXPECT_TRUE(waitUntil([&] { return contains(session.screen(), "GOT:hello"); })) << session.screen();
}

// Each test starts the viewer at 17/20 in a fresh tmux session of the
// parameter's size (80x24 too: the 24-line screen must fit without scrolling
// its first line away) and waits for its raw mode: keys sent before it would
// be flushed away by it.
class ViewerTerminal : public testing::TestWithParam<std::pair<int, int>> {
protected:
    void SetUp() override {
        if (!haveProgram("tmux")) GTEST_SKIP() << "tmux not installed";
        prepareFolder(dir);
        session = std::make_unique<TmuxSession>(GetParam().first, GetParam().second, "sh " + dir.file("run.sh"));
        ASSERT_TRUE(waitUntil([&] { return rawMode(session->terminalSettings()); })) << session->screen();
    }
    TempDir dir;
    std::unique_ptr<TmuxSession> session;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Panes, ViewerTerminal, testing::Values(std::pair{100, 40}, std::pair{80, 24}));

TEST_P(ViewerTerminal, ArrowKeysJumpAndQuit) {
    TmuxSession &session = *this->session;
    ASSERT_TRUE(waitUntil([&] { return contains(session.screen(), positionLines(17, 20)); })) << session.screen();

    struct Step {
        const char *key;
        int track, sector;
    };
    const Step steps[] = {{"Up", 18, 18}, {"Down", 17, 20}, {"Left", 17, 19}, {"Right", 17, 20}, {"j", 19, 5}};
    for (const Step &step : steps) {
        session.sendKeys(step.key);
        EXPECT_TRUE(waitUntil([&] { return contains(session.screen(), positionLines(step.track, step.sector)); }))
            << step.key << "\n" << session.screen();
    }
    std::string screen = session.screen();
    // Each screen starts on a cleared terminal: only one screen is visible.
    EXPECT_EQ(screen.find("Track:"), 0u);
    EXPECT_EQ(screen.find("Track:", 1), std::string::npos);
    EXPECT_TRUE(contains(screen, "00: 00 09 4b 45 53 54 52 45 4c 00"));
    EXPECT_TRUE(contains(screen, "Next track:   0 (0x00)\nNext sector:  9 (0x09)\n"));

    session.sendKeys("q");
    ASSERT_TRUE(waitUntil([&] { return contains(session.screen(), "TYPE:"); })) << session.screen();
    screen = session.screen();
    EXPECT_TRUE(contains(screen, "Next sector:  9 (0x09)\nq 113\nSTATUS:0\n")) << screen;
    expectTerminalRestored(dir, session);
}

TEST_P(ViewerTerminal, SigtermRestoresTheTerminal) {
    TmuxSession &session = *this->session;
    ASSERT_TRUE(waitUntil([&] { return !readText(dir.file("pid.txt")).empty(); }));
    pid_t viewer = static_cast<pid_t>(std::stol(readText(dir.file("pid.txt"))));
    ASSERT_GT(viewer, 1);
    ASSERT_EQ(kill(viewer, SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return contains(session.screen(), "TYPE:"); })) << session.screen();
    // The viewer died of the signal itself (128 + 15), after restoring the settings.
    EXPECT_TRUE(contains(session.screen(), "STATUS:143")) << session.screen();
    expectTerminalRestored(dir, session);
}

// ------------------------------------------- every way out, from an interactive sh

namespace {

// The viewer run from an interactive sh (tmux_session.h says why sh): the
// settings are saved before it, and its pid (the wrapper sh becomes kestrel)
// is written to pid.txt.
class ViewerInTmuxShell : public testing::Test {
protected:
    void SetUp() override {
        if (!haveProgram("tmux")) GTEST_SKIP() << "tmux not installed";
        prepareFolder(dir);
        shell = std::make_unique<TmuxSession>(100, 40, shellPaneCommand(dir.path));
        ASSERT_TRUE(waitUntil([&] { return lastScreenLine(shell->screen()) == "$"; })) << shell->screen();
    }

    // Starts `viewer` (a command line) after saving the settings; waits for raw mode.
    void start(const std::string &viewer) {
        shell->typeLine("stty -g > before.txt; " + viewer);
        ASSERT_TRUE(waitUntil([&] { return rawMode(shell->terminalSettings()); })) << shell->screen();
    }
    void startViewer() {
        start("sh -c 'echo $$ > pid.txt; exec " + std::string(KESTREL_BINARY) + " -block 17 20 disk.d64'");
        ASSERT_TRUE(waitUntil([&] { return !readText(dir.file("pid.txt")).empty(); }));
        viewer = static_cast<pid_t>(std::stol(readText(dir.file("pid.txt"))));
        ASSERT_GT(viewer, 1);
    }

    // Once the shell prompts again: saves the settings as `file` (and the
    // status of the last job on the screen) and returns them.
    std::string settingsAtPrompt(const std::string &file) {
        EXPECT_TRUE(waitUntil([&] { return lastScreenLine(shell->screen()) == "$"; })) << shell->screen();
        shell->typeLine("echo STATUS:$?; stty -g > " + file);
        EXPECT_TRUE(waitUntil([&] { return contains(readText(dir.file(file)), "\n"); })) << shell->screen();
        return readText(dir.file(file));
    }

    TempDir dir;
    std::unique_ptr<TmuxSession> shell;
    pid_t viewer = -1;
};

struct WayOut {
    const char *name;
    const char *keys;  // typed into the viewer, or nullptr
    int signal;        // sent to the viewer when no keys are given
    int status;        // the status the shell reports
};

void PrintTo(const WayOut &way, std::ostream *out) { *out << way.name; }

class ViewerWayOutInTmux : public ViewerInTmuxShell, public testing::WithParamInterface<WayOut> {};

const WayOut kWaysOut[] = {
    {"q", "q", 0, 0},
    {"Esc", "Escape", 0, 0},
    {"CtrlC", "C-c", 0, 128 + SIGINT},
    {"CtrlBackslash", "'C-\\'", 0, 128 + SIGQUIT},
    {"Sighup", nullptr, SIGHUP, 128 + SIGHUP},
    {"Sigterm", nullptr, SIGTERM, 128 + SIGTERM},
    {"Sigabrt", nullptr, SIGABRT, 128 + SIGABRT},
    {"Sigusr1", nullptr, SIGUSR1, 128 + SIGUSR1},
    {"Sigalrm", nullptr, SIGALRM, 128 + SIGALRM},
};

}  // namespace

TEST_P(ViewerWayOutInTmux, LeavesTheTerminalAsItWas) {
    const WayOut &way = GetParam();
    ASSERT_NO_FATAL_FAILURE(startViewer());
    if (way.keys) shell->sendKeys(way.keys);
    else ASSERT_EQ(kill(viewer, way.signal), 0);
    std::string after = settingsAtPrompt("after.txt");
    EXPECT_TRUE(contains(shell->screen(), "STATUS:" + std::to_string(way.status) + "\n")) << shell->screen();
    EXPECT_FALSE(after.empty());
    EXPECT_EQ(after, readText(dir.file("before.txt")));
    EXPECT_FALSE(rawMode(shell->terminalSettings()));
}

INSTANTIATE_TEST_SUITE_P(Viewer, ViewerWayOutInTmux, testing::ValuesIn(kWaysOut),
                         [](const testing::TestParamInfo<WayOut> &info) { return std::string(info.param.name); });

// Ctrl+Z gives the shell its terminal back while the viewer is stopped; fg
// makes it raw again and draws the screen anew at the same block.
TEST_F(ViewerInTmuxShell, CtrlZStopsCookedAndFgResumesRaw) {
    ASSERT_NO_FATAL_FAILURE(startViewer());
    shell->sendKeys("Up");
    ASSERT_TRUE(waitUntil([&] { return contains(shell->screen(), positionLines(18, 18)); })) << shell->screen();
    shell->sendKeys("C-z");
    ASSERT_TRUE(waitUntil([&] { return contains(shell->screen(), "Stopped"); })) << shell->screen();
    std::string before = readText(dir.file("before.txt"));
    EXPECT_EQ(settingsAtPrompt("stopped.txt"), before);
    EXPECT_FALSE(rawMode(shell->terminalSettings()));

    shell->typeLine("fg");
    ASSERT_TRUE(waitUntil([&] { return rawMode(shell->terminalSettings()); })) << shell->screen();
    // Redrawn: a cleared screen that starts with the viewer's block, the
    // shell's lines gone.
    EXPECT_TRUE(waitUntil([&] {
        std::string screen = shell->screen();
        return screen.find(positionLines(18, 18)) == 0 && !contains(screen, "Stopped");
    })) << shell->screen();
    shell->sendKeys("Down");  // a key without Enter is taken at once: raw mode
    EXPECT_TRUE(waitUntil([&] { return contains(shell->screen(), positionLines(17, 20)); })) << shell->screen();
    shell->sendKeys("q");
    EXPECT_EQ(settingsAtPrompt("after.txt"), before);
    EXPECT_TRUE(contains(shell->screen(), "STATUS:0\n")) << shell->screen();
}

// The viewer's output into a pipe that closes (head has taken its bytes):
// the next screen cannot be written, and the viewer ends with status 1 and
// a message instead of dying of SIGPIPE with the terminal raw.
TEST_F(ViewerInTmuxShell, ClosedOutputPipeEndsWithStatusOne) {
    ASSERT_NO_FATAL_FAILURE(start("sh -c '" + std::string(KESTREL_BINARY) +
                                  " -block 17 20 disk.d64; echo KESTREL:$? >&2' | head -c 100"));
    shell->sendKeys("Up");
    std::string after = settingsAtPrompt("after.txt");
    EXPECT_TRUE(contains(shell->screen(), "ERROR: Could not write to standard output.\nKESTREL:1\n"))
        << shell->screen();
    EXPECT_EQ(after, readText(dir.file("before.txt")));
    EXPECT_FALSE(rawMode(shell->terminalSettings()));
}
