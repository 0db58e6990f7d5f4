// End-to-end tests of the block viewer in a real terminal: tmux runs kestrel
// on a pseudo-terminal, real arrow keys are sent to it, the screen is read
// back, and the terminal settings must be the same after the viewer as before
// it, whether it was left with q or killed by SIGTERM.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <thread>

#include "support/d64_builder.h"
#include "support/run_binary.h"

namespace {

// Standard output of a shell command.
std::string capture(const std::string &command) {
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string readText(const std::string &path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A private tmux server (its own socket, no user configuration) with one
// 100x40 window running `command`; the server is killed when the test ends.
struct TmuxSession {
    std::string socket;
    std::string socketPath;
    explicit TmuxSession(const std::string &command) {
        static int counter = 0;
        socket = "kestrel-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
        capture(tmux("new-session -d -x 100 -y 40 " + quote(command)) + " 2>&1");
        socketPath = capture(tmux("display -p '#{socket_path}'"));
        if (!socketPath.empty() && socketPath.back() == '\n') socketPath.pop_back();
    }
    // tmux leaves its socket file behind; it is removed with the server.
    ~TmuxSession() {
        capture(tmux("kill-server") + " 2>/dev/null");
        if (!socketPath.empty()) unlink(socketPath.c_str());
    }
    static std::string quote(const std::string &text) { return "'" + text + "'"; }
    std::string tmux(const std::string &arguments) const { return "tmux -L " + socket + " -f /dev/null " + arguments; }
    std::string screen() const { return capture(tmux("capture-pane -p")); }
    std::string terminalSettings() const {
        std::string tty = capture(tmux("display -p '#{pane_tty}'"));
        if (!tty.empty() && tty.back() == '\n') tty.pop_back();
        return capture("stty -a -F " + tty + " 2>/dev/null");
    }
    void sendKeys(const std::string &keys) const { capture(tmux("send-keys " + keys)); }
};

// Polls until `done` holds, for at most five seconds.
template <typename Condition>
bool waitFor(Condition done) {
    for (int i = 0; i < 250; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool rawMode(const std::string &settings) {
    return contains(settings, " -icanon ") && contains(settings, " -echo ");
}

// Position lines as the viewer prints them.
std::string positionLines(int track, int sector) {
    char text[64];
    std::snprintf(text, sizeof text, "Track:  %2i (0x%02x)\nSector: %2i (0x%02x)\n", track, track, sector, sector);
    return text;
}

bool tmuxMissing() { return std::system("command -v tmux >/dev/null 2>&1") != 0; }

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
    EXPECT_TRUE(waitFor([&] { return contains(session.screen(), "TYPE:hello"); })) << session.screen();
    EXPECT_FALSE(contains(session.screen(), "GOT:"));
    session.sendKeys("Enter");
    EXPECT_TRUE(waitFor([&] { return contains(session.screen(), "GOT:hello"); })) << session.screen();
}

}  // namespace

TEST(ViewerTerminal, ArrowKeysJumpAndQuit) {
    if (tmuxMissing()) GTEST_SKIP() << "tmux not installed";
    TempDir dir;
    prepareFolder(dir);
    TmuxSession session("sh " + dir.file("run.sh"));
    // Keys sent before raw mode would be flushed away by it.
    ASSERT_TRUE(waitFor([&] { return rawMode(session.terminalSettings()); })) << session.screen();
    ASSERT_TRUE(waitFor([&] { return contains(session.screen(), positionLines(17, 20)); })) << session.screen();

    struct Step {
        const char *key;
        int track, sector;
    };
    const Step steps[] = {{"Up", 18, 18}, {"Down", 17, 20}, {"Left", 17, 19}, {"Right", 17, 20}, {"j", 19, 5}};
    for (const Step &step : steps) {
        session.sendKeys(step.key);
        EXPECT_TRUE(waitFor([&] { return contains(session.screen(), positionLines(step.track, step.sector)); }))
            << step.key << "\n" << session.screen();
    }
    std::string screen = session.screen();
    // Each screen starts on a cleared terminal: only one screen is visible.
    EXPECT_EQ(screen.find("Track:"), 0u);
    EXPECT_EQ(screen.find("Track:", 1), std::string::npos);
    EXPECT_TRUE(contains(screen, "00: 00 09 4b 45 53 54 52 45 4c 00"));
    EXPECT_TRUE(contains(screen, "Next track:   0 (0x00)\nNext sector:  9 (0x09)\n"));

    session.sendKeys("q");
    ASSERT_TRUE(waitFor([&] { return contains(session.screen(), "TYPE:"); })) << session.screen();
    screen = session.screen();
    EXPECT_TRUE(contains(screen, "Next sector:  9 (0x09)\nq 113\nSTATUS:0\n")) << screen;
    expectTerminalRestored(dir, session);
}

TEST(ViewerTerminal, SigtermRestoresTheTerminal) {
    if (tmuxMissing()) GTEST_SKIP() << "tmux not installed";
    TempDir dir;
    prepareFolder(dir);
    TmuxSession session("sh " + dir.file("run.sh"));
    ASSERT_TRUE(waitFor([&] { return rawMode(session.terminalSettings()); })) << session.screen();
    ASSERT_TRUE(waitFor([&] { return !readText(dir.file("pid.txt")).empty(); }));
    pid_t viewer = static_cast<pid_t>(std::stol(readText(dir.file("pid.txt"))));
    ASSERT_GT(viewer, 1);
    ASSERT_EQ(kill(viewer, SIGTERM), 0);
    ASSERT_TRUE(waitFor([&] { return contains(session.screen(), "TYPE:"); })) << session.screen();
    // The viewer died of the signal itself (128 + 15), after restoring the settings.
    EXPECT_TRUE(contains(session.screen(), "STATUS:143")) << session.screen();
    expectTerminalRestored(dir, session);
}
