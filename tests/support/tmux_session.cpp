#include "support/tmux_session.h"

#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/shell.h"

TmuxSession::TmuxSession(int width, int height, const std::string &command) {
    static int counter = 0;
    socket_ = "kestrel-tmux-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    shellOutput(tmux("new-session -d -x " + std::to_string(width) + " -y " + std::to_string(height) + " " +
                     shellWord(command)) +
                " 2>&1");
    socketPath_ = display("#{socket_path}");
}

// tmux leaves its socket file behind; it is removed with the server.
TmuxSession::~TmuxSession() {
    shellOutput(tmux("kill-server") + " 2>/dev/null");
    if (!socketPath_.empty()) unlink(socketPath_.c_str());
}

std::string TmuxSession::screen() const { return shellOutput(tmux("capture-pane -p")); }

std::string TmuxSession::title() const { return display("#{pane_title}"); }

std::string TmuxSession::terminalSettings() const {
    return shellOutput("stty -a -F " + display("#{pane_tty}") + " 2>/dev/null");
}

void TmuxSession::sendKeys(const std::string &keys) const { shellOutput(tmux("send-keys " + keys)); }

void TmuxSession::resize(int width, int height) const {
    shellOutput(tmux("resize-window -x " + std::to_string(width) + " -y " + std::to_string(height)));
}

void TmuxSession::typeLine(const std::string &text) const {
    shellOutput(tmux("send-keys -l " + shellWord(text)));
    sendKeys("Enter");
}

std::string TmuxSession::tmux(const std::string &arguments) const {
    return "tmux -u -L " + socket_ + " -f /dev/null " + arguments;
}

std::string TmuxSession::display(const std::string &format) const {
    std::string value = shellOutput(tmux("display -p " + shellWord(format)));
    if (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

bool waitUntil(const std::function<bool()> &done) {
    for (int i = 0; i < 250; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

std::string shellPaneCommand(const std::string &folder, const std::string &first) {
    return "cd " + shellWord(folder) + " && " + (first.empty() ? "" : first + "; ") + "exec env PS1='$ ' sh";
}

std::string lastScreenLine(const std::string &screen) {
    std::vector<std::string> lines = splitLines(screen);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines.empty() ? "" : lines.back();
}
