// POSIX console: terminal detection, ANSI screen clearing, and single key
// presses through termios raw mode with arrow-key decoding. Raw mode is undone
// on every way out: normal and error exits, every catchable signal that ends
// the process, and a stop (Ctrl+Z), after which a continue enters it again.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/console.h"

namespace {

struct termios savedTerminal;             // the settings found before raw mode
struct termios rawTerminal;               // the viewer's settings
volatile sig_atomic_t rawModeActive = 0;  // raw mode entered and not yet finally restored
volatile sig_atomic_t redrawPending = 0;  // continued after a stop: the screen must be drawn again
bool keyboardPrepared = false;
bool inputIsTerminal = false;
bool inputEnded = false;

// Signals whose default action ends the process (SIGKILL and SIGSTOP cannot
// be caught). On Linux SIGIO, SIGPWR and SIGSTKFLT end it too; elsewhere
// SIGIO is ignored by default, so it is left alone there.
const int kEndingSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV, SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS, SIGXFSZ,
#ifdef __linux__
    SIGIO,   SIGPWR,  SIGSTKFLT,
#endif
};

void setTerminal(const struct termios &settings) { tcsetattr(STDIN_FILENO, TCSAFLUSH, &settings); }

// Installs `handler` for a signal that still has its default action: a signal
// the process was started ignoring (Ctrl+C in a background job) stays ignored.
// Without SA_RESTART a waiting key read returns, so a continued viewer redraws.
void catchSignal(int signalNumber, void (*handler)(int)) {
    struct sigaction current;
    if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
}

// Restores the terminal, then lets the signal take its default course.
void restoreAndEnd(int signalNumber) {
    if (rawModeActive) setTerminal(savedTerminal);
    rawModeActive = 0;
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// Ctrl+Z: the shell gets the terminal as it was while the viewer is stopped.
// Execution goes on after the raise once the process is continued.
void restoreAndStop(int) {
    int savedErrno = errno;
    if (rawModeActive) setTerminal(savedTerminal);
    std::signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    std::raise(SIGTSTP);
    catchSignal(SIGTSTP, restoreAndStop);
    errno = savedErrno;
}

// Continued (the shell's fg, or SIGCONT after SIGSTOP): raw mode again, and a
// new screen, since the shell has written over the old one. In the background
// the terminal stops the process here (SIGTTOU) until it is brought back.
void enterRawAgain(int) {
    int savedErrno = errno;
    if (rawModeActive) {
        setTerminal(rawTerminal);
        redrawPending = 1;
    }
    errno = savedErrno;
}

// The terminal changed its size: the editor draws its screen anew.
void askRedraw(int) { redrawPending = 1; }

void catchEveryWayOut() {
    for (int signalNumber : kEndingSignals) catchSignal(signalNumber, restoreAndEnd);
#ifdef SIGRTMIN
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber)
        catchSignal(signalNumber, restoreAndEnd);
#endif
    catchSignal(SIGTSTP, restoreAndStop);
    catchSignal(SIGCONT, enterRawAgain);
}

// Raw mode is entered once, here, and its undoing is registered before it
// takes effect. A closed output pipe then fails the write instead of killing
// the process, so that the viewer can end through the error exit.
void enterRawMode() {
    if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    rawTerminal = savedTerminal;
    rawTerminal.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    rawTerminal.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    rawTerminal.c_cc[VMIN] = 1;
    rawTerminal.c_cc[VTIME] = 0;
    std::atexit(consoleRestoreTerminal);
    catchEveryWayOut();
    rawModeActive = 1;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &rawTerminal) != 0) {
        rawModeActive = 0;
        return;
    }
    struct sigaction pipeAction;
    if (sigaction(SIGPIPE, nullptr, &pipeAction) == 0 && pipeAction.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
}

void prepareKeyboard() {
    if (keyboardPrepared) return;
    keyboardPrepared = true;
    inputIsTerminal = isatty(STDIN_FILENO);
    if (inputIsTerminal) enterRawMode();
}

// True once after a continue.
bool takeRedraw() {
    if (!redrawPending) return false;
    redrawPending = 0;
    return true;
}

}  // namespace

bool consoleOutputIsTerminal() { return isatty(STDOUT_FILENO); }

bool consoleErrorIsTerminal() { return isatty(STDERR_FILENO); }

void consoleClearScreen() {
    if (consoleOutputIsTerminal()) consolePrintf("\x1b[H\x1b[2J");
}

// A terminal here takes UTF-8, where every glyph of the table is one column.
void consoleWriteGlyph(const char *utf8) { std::fputs(utf8, stdout); }

int consoleReadKeyByte(int waitMs) {
    if (inputEnded) return -1;
    if (waitMs < 0 && takeRedraw()) return kKeyByteRedraw;
    if (waitMs >= 0 && inputIsTerminal) {
        struct pollfd source = {STDIN_FILENO, POLLIN, 0};
        if (poll(&source, 1, waitMs) <= 0) return -2;
    }
    unsigned char byte;
    for (;;) {
        ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) {
            if (waitMs < 0 && takeRedraw()) return kKeyByteRedraw;
            continue;
        }
        inputEnded = true;
        return -1;
    }
}

int consoleReadKey() {
    consoleFlush();
    if (std::ferror(stdout)) return kKeyOutputClosed;
    prepareKeyboard();
    return consoleDecodeKey();
}

void consoleRestoreTerminal() {
    if (!rawModeActive) return;
    rawModeActive = 0;
    setTerminal(savedTerminal);
}

bool consoleIsInteractive() { return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO); }

bool consoleKeysEnded() { return inputEnded; }

void consoleScreenSize(int &columns, int &rows) {
    struct winsize size = {};
    bool known = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
    columns = known ? size.ws_col : 80;
    rows = known ? size.ws_row : 24;
}

void consoleWatchResize() { catchSignal(SIGWINCH, askRedraw); }

// Cursor home, each line over the old one with the rest of the row erased,
// the rows below erased, the cursor placed: no blank screen between two draws.
void consoleDrawScreen(const std::string &text, int row, int column) {
    std::string screen = "\x1b[H";
    screen.reserve(text.size() + 256);
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        screen.append(text, at, end - at);
        if (end < text.size()) screen += "\x1b[K\r\n";
        at = end + 1;
    }
    screen += "\x1b[K\x1b[J\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
    consoleFlush();
    std::fwrite(screen.data(), 1, screen.size(), stdout);
    consoleFlush();
}

#ifdef KESTREL_FUZZ
void consoleForgetPlatformRun() {
    consoleRestoreTerminal();
    keyboardPrepared = inputIsTerminal = inputEnded = false;
}
#endif
