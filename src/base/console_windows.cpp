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
#include <string>

#include "base/console.h"

namespace {

bool keyboardPrepared = false;
bool inputIsConsole = false;
bool inputEnded = false;

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

}  // namespace

bool consoleOutputIsTerminal() { return isConsoleHandle(STD_OUTPUT_HANDLE); }

bool consoleErrorIsTerminal() { return isConsoleHandle(STD_ERROR_HANDLE); }
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
    if (std::ferror(stdout)) return kKeyOutputClosed;
    prepareKeyboard();
    if (inputIsConsole) return _getch();
    return consoleDecodeKey();
}

// Piped key input; a pipe is read without a time limit.
int consoleReadKeyByte(int) {
    if (inputEnded) return -1;
    unsigned char byte;
    if (_read(_fileno(stdin), &byte, 1) == 1) return byte;
    inputEnded = true;
    return -1;
}

void consoleRestoreTerminal() {}

bool consoleIsInteractive() { return isConsoleHandle(STD_INPUT_HANDLE) && isConsoleHandle(STD_OUTPUT_HANDLE); }

bool consoleKeysEnded() { return inputEnded; }

void consoleScreenSize(int &columns, int &rows) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    bool known = GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) != 0;
    columns = known ? info.srWindow.Right - info.srWindow.Left + 1 : 80;
    rows = known ? info.srWindow.Bottom - info.srWindow.Top + 1 : 24;
}

// A console sends no signal on a resize; the editor asks the size at each draw.
void consoleWatchResize() {}

// A cleared screen, the text through the glyph writer, the cursor placed by
// the console API (no escape sequences, which older consoles print).
void consoleDrawScreen(const std::string &text, int row, int column) {
    consoleClearScreen();
    consoleText(text.data(), text.size());
    consoleFlush();
    COORD at = {static_cast<SHORT>(column), static_cast<SHORT>(row)};
    SetConsoleCursorPosition(GetStdHandle(STD_OUTPUT_HANDLE), at);
}

// A glyph on a console is written as UTF-16, so it takes one column whatever
// the console's code page is; stdio's pending bytes go first to keep the order.
// A glyph above U+FFFF (the C64's own, U+1FBxx) becomes a surrogate pair: two
// of the units, and the NUL the third.
void consoleWriteGlyph(const char *utf8) {
    wchar_t wide[4];
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 4);
    if (length <= 1) return;
    consoleFlush();
    DWORD written;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), wide, static_cast<DWORD>(length - 1), &written, nullptr);
}
