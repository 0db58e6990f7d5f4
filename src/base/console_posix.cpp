// POSIX console: terminal detection, ANSI screen clearing, and single key
// presses through termios raw mode with arrow-key decoding.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "base/console.h"

namespace {

struct termios savedTerminal;
volatile sig_atomic_t rawModeActive = 0;
bool keyboardPrepared = false;
bool inputIsTerminal = false;
bool inputEnded = false;

void restoreOnSignal(int signalNumber) {
    if (rawModeActive) tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    rawModeActive = 0;
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// Raw mode is entered once, here, and its undoing is registered at the same moment.
void enterRawMode() {
    if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    struct termios raw = savedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) return;
    rawModeActive = 1;
    std::atexit(consoleRestoreTerminal);
    std::signal(SIGINT, restoreOnSignal);
    std::signal(SIGTERM, restoreOnSignal);
    std::signal(SIGHUP, restoreOnSignal);
}

void prepareKeyboard() {
    if (keyboardPrepared) return;
    keyboardPrepared = true;
    inputIsTerminal = isatty(STDIN_FILENO);
    if (inputIsTerminal) enterRawMode();
}

}  // namespace

bool consoleOutputIsTerminal() { return isatty(STDOUT_FILENO); }

void consoleClearScreen() {
    if (consoleOutputIsTerminal()) consolePrintf("\x1b[H\x1b[2J");
}

// A terminal here takes UTF-8, where every glyph of the table is one column.
void consoleWriteGlyph(const char *utf8) { std::fputs(utf8, stdout); }

int consoleReadKeyByte(int waitMs) {
    if (inputEnded) return -1;
    if (waitMs >= 0 && inputIsTerminal) {
        struct pollfd source = {STDIN_FILENO, POLLIN, 0};
        if (poll(&source, 1, waitMs) <= 0) return -2;
    }
    unsigned char byte;
    for (;;) {
        ssize_t got = read(STDIN_FILENO, &byte, 1);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) continue;
        inputEnded = true;
        return -1;
    }
}

int consoleReadKey() {
    consoleFlush();
    prepareKeyboard();
    return consoleDecodeKey();
}

void consoleRestoreTerminal() {
    if (!rawModeActive) return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    rawModeActive = 0;
}

#ifdef KESTREL_FUZZ
void consoleForgetPlatformRun() {
    consoleRestoreTerminal();
    keyboardPrepared = inputIsTerminal = inputEnded = false;
}
#endif
