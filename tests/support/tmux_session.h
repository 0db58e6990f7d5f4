// Test helper: a private tmux server on a pseudo-terminal, for tests that run
// kestrel (or a script around it) on a real terminal, type keys into it and
// read the screen back. It does not check anything itself.
#pragma once

#include <functional>
#include <string>

// A tmux server of the test's own (a socket named after the process and a
// counter, so parallel tests never share one; no user configuration; UTF-8
// assumed) with one window of `width` x `height` running `command` in a shell.
// The server is killed and its socket file removed when the session ends.
class TmuxSession {
public:
    TmuxSession(int width, int height, const std::string &command);
    ~TmuxSession();
    TmuxSession(const TmuxSession &) = delete;
    TmuxSession &operator=(const TmuxSession &) = delete;

    // The visible screen as text; tmux drops the blanks at the ends of lines.
    std::string screen() const;
    // The title the program in the pane has set, without a line end.
    std::string title() const;
    // "stty -a" of the pane's terminal: its current settings.
    std::string terminalSettings() const;
    // Types `keys` in tmux's send-keys words ("Up", "Enter", or plain text).
    void sendKeys(const std::string &keys) const;
    // Makes the window `width` x `height`: the program in it gets SIGWINCH.
    void resize(int width, int height) const;
    // Types `text` as it stands, then Enter: a command line for a shell.
    void typeLine(const std::string &text) const;

private:
    std::string tmux(const std::string &arguments) const;   // the tmux command line for this server
    std::string display(const std::string &format) const;  // a display -p value without its line end
    std::string socket_;      // the name given to -L
    std::string socketPath_;  // the socket file tmux made, empty when the server did not start
};

// Polls `done` every 20 ms for at most five seconds; true as soon as it holds.
bool waitUntil(const std::function<bool()> &done);

// A pane command: in `folder`, run `first` (may be empty), then become an
// interactive sh with the prompt "$ ". sh (dash here) has job control and,
// unlike an interactive bash, never resets the terminal after a job, so a
// program that leaves it raw shows.
std::string shellPaneCommand(const std::string &folder, const std::string &first = "");

// The last line of a screen that is not empty ("$" once a shell prompts).
std::string lastScreenLine(const std::string &screen);
