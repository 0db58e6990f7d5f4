// Windows console: console detection, screen clearing through the console API,
// key presses through _getch, and the byte-exact standard streams that pipes
// and files need. Key reading from a pipe decodes the same escape sequences as
// the POSIX console, so a scripted viewer session gives the same screens.
// Nothing here starts a shell, and no console mode is changed that would need
// restoring.
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "views/console.h"

namespace {

bool keyboardPrepared = false;
bool inputIsConsole = false;
bool inputEnded = false;
int pendingKey = -1;  // second code of an arrow key, delivered on the next call
int pushedByte = -1;  // a byte read ahead while decoding an escape sequence

bool isConsoleHandle(DWORD which) {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// The C runtime opens the standard streams in text mode, which would turn each
// "\n" written into "\r\n" and end piped input at the first 0x1A byte. Binary
// mode before main keeps every byte as it is, as on Linux; a console shows a
// lone "\n" as a line end all the same.
struct BinaryStreams {
    BinaryStreams() {
        _setmode(_fileno(stdin), _O_BINARY);
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
    }
} binaryStreams;

void prepareKeyboard() {
    if (keyboardPrepared) return;
    keyboardPrepared = true;
    inputIsConsole = isConsoleHandle(STD_INPUT_HANDLE);
}

// One byte of piped input, or -1 when the input has ended.
int readByte() {
    if (pushedByte >= 0) {
        int byte = pushedByte;
        pushedByte = -1;
        return byte;
    }
    if (inputEnded) return -1;
    unsigned char byte;
    if (_read(_fileno(stdin), &byte, 1) == 1) return byte;
    inputEnded = true;
    return -1;
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

// After an ESC in piped input: an arrow's code, kKeyEsc for a lone ESC, or -1
// for another sequence, which is read to its end and dropped.
int decodeEscape() {
    int introducer = readByte();
    if (introducer != '[' && introducer != 'O') {
        if (introducer >= 0) pushedByte = introducer;
        return kKeyEsc;
    }
    bool plain = true;  // no parameter bytes between introducer and final byte
    for (;;) {
        int byte = readByte();
        if (byte < 0) return -1;
        if (byte >= 0x40 && byte <= 0x7E) return plain ? arrowCode(byte) : -1;
        plain = false;
    }
}

// A key from piped input, with the arrows as prefix 224 and code; 'q' at the end.
int readPipedKey() {
    if (pendingKey >= 0) {
        int key = pendingKey;
        pendingKey = -1;
        return key;
    }
    for (;;) {
        int byte = readByte();
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

}  // namespace

bool consoleOutputIsTerminal() { return isConsoleHandle(STD_OUTPUT_HANDLE); }

// Fills the whole screen buffer with blanks in the current colours and puts
// the cursor at its top left corner.
void consoleClearScreen() {
    if (!consoleOutputIsTerminal()) return;
    consoleFlush();
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(output, &info)) return;
    DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    COORD home = {0, 0};
    DWORD written;
    FillConsoleOutputCharacterA(output, ' ', cells, home, &written);
    FillConsoleOutputAttribute(output, info.wAttributes, cells, home, &written);
    SetConsoleCursorPosition(output, home);
}

// On a console _getch gives the key press without echo and without Enter; it
// already delivers the arrows as 0 or 224 followed by their code.
int consoleReadKey() {
    consoleFlush();
    prepareKeyboard();
    if (inputIsConsole) return _getch();
    return readPipedKey();
}

void consoleRestoreTerminal() {}

// A glyph on a console is written as UTF-16, so it takes one column whatever
// the console's code page is; stdio's pending bytes go first to keep the order.
void consoleWriteGlyph(const char *utf8) {
    wchar_t wide[4];
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 4);
    if (length <= 1) return;
    consoleFlush();
    DWORD written;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), wide, static_cast<DWORD>(length - 1), &written, nullptr);
}
