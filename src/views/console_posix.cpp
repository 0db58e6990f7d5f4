// POSIX console: terminal detection, ANSI screen clearing, and single key
// presses through termios raw mode with arrow-key decoding.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "views/console.h"

namespace {

// How long the rest of an escape sequence may take on a terminal before a
// lone ESC counts as the Esc key.
constexpr int kEscapeWaitMs = 50;

struct termios savedTerminal;
volatile sig_atomic_t rawModeActive = 0;
bool keyboardPrepared = false;
bool inputIsTerminal = false;
bool inputEnded = false;
int pendingKey = -1;    // second code of an arrow key, delivered on the next call
int pushedByte = -1;    // a byte read ahead while decoding an escape sequence

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

// One byte of input, or -1 when the input has ended. With waitMs >= 0 on a
// terminal it gives up after that many milliseconds and returns -2.
int readByte(int waitMs) {
    if (pushedByte >= 0) {
        int byte = pushedByte;
        pushedByte = -1;
        return byte;
    }
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

int arrowCode(int finalByte) {
    switch (finalByte) {
        case 'A': return kKeyUp;
        case 'B': return kKeyDown;
        case 'C': return kKeyRight;
        case 'D': return kKeyLeft;
        default: return -1;
    }
}

// After an ESC: an arrow's code, kKeyEsc for a lone ESC, or -1 for another
// sequence, which is read to its end and dropped.
int decodeEscape() {
    int introducer = readByte(kEscapeWaitMs);
    if (introducer != '[' && introducer != 'O') {
        if (introducer >= 0) pushedByte = introducer;
        return kKeyEsc;
    }
    bool plain = true;  // no parameter bytes between introducer and final byte
    for (;;) {
        int byte = readByte(kEscapeWaitMs);
        if (byte < 0) return -1;
        if (byte >= 0x40 && byte <= 0x7E) return plain ? arrowCode(byte) : -1;
        plain = false;
    }
}

}  // namespace

bool consoleOutputIsTerminal() { return isatty(STDOUT_FILENO); }

void consoleClearScreen() {
    if (consoleOutputIsTerminal()) consolePrintf("\x1b[H\x1b[2J");
}

// A terminal here takes UTF-8, where every glyph of the table is one column.
void consoleWriteGlyph(const char *utf8) { std::fputs(utf8, stdout); }

int consoleReadKey() {
    consoleFlush();
    prepareKeyboard();
    if (pendingKey >= 0) {
        int key = pendingKey;
        pendingKey = -1;
        return key;
    }
    for (;;) {
        int byte = readByte(-1);
        if (byte < 0) return 'q';
        if (byte != kKeyEsc) return byte;
        int code = decodeEscape();
        if (code == kKeyEsc) return kKeyEsc;
        if (code >= 0) {
            pendingKey = code;
            return kKeyArrowPrefix;
        }
    }
}

void consoleRestoreTerminal() {
    if (!rawModeActive) return;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    rawModeActive = 0;
}
