// Console layer: every byte kestrel prints on standard output, the screen
// clearing and the key reading of the block viewer. The platform parts live in
// console_posix.cpp and console_windows.cpp; the rest of the program stays portable.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

// Program text (always ASCII) to standard output, printf-style.
void consolePrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void consoleVprintf(const char *format, va_list args);

// One character of the disk, by its own code: the one way disk characters
// are printed. Into a pipe or a file it is the code page 437 byte of
// toConsoleChar (the raw byte with -vo); on a terminal, and with -utf8 also
// into a pipe or a file, it is the UTF-8 glyph of diskGlyph (the C64's own
// with -U/-Ul, the picture of the raw byte with -vo). No byte from the image
// can act as a control code on a terminal.
void consoleDiskCode(uint8_t code);

// A code page 437 byte that is already converted (a key code the viewer
// echoes): the byte unchanged, or its code page 437 glyph where
// consoleDiskCode writes glyphs.
void consoleDiskChar(uint8_t cp437);

// UTF-8 text that the program made (the JSON lines) and that holds no control
// code but line ends: into a pipe or a file its bytes unchanged, to a terminal
// each non-ASCII character through consoleWriteGlyph.
void consoleText(const char *utf8, size_t length);

// A text from the command line (a path) as UTF-8, for output that must be
// UTF-8: on Windows the arguments arrive in the ANSI code page and are
// converted; elsewhere they are returned as they are, and a byte that is not
// UTF-8 is left for the caller to replace.
std::string consoleArgumentAsUtf8(const std::string &argument);

// Writes pending standard output; done before anything goes to standard error.
void consoleFlush();

// An error or warning text on standard error, no line end added; standard
// output is flushed first so the two streams keep their order on a terminal.
void consoleErrorf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void consoleVerrorf(const char *format, va_list args);

// True when standard output is a terminal (glyph output, screen clearing).
bool consoleOutputIsTerminal();

// Clears the screen before a viewer screen; nothing when output is not a terminal.
void consoleClearScreen();

// Writes one glyph, given as UTF-8, to standard output when it is a terminal,
// in the platform's way of making it take exactly one column.
void consoleWriteGlyph(const char *utf8);

// Key codes of the viewer's key loop.
constexpr int kKeyArrowPrefix = 224;
constexpr int kKeyUp = 72, kKeyDown = 80, kKeyLeft = 75, kKeyRight = 77;
constexpr int kKeyEsc = 27;

// One key press without echo and without waiting for Enter. An arrow key gives
// 224 on one call and its code on the next; a lone ESC gives 27; other escape
// sequences are swallowed. When the key source has ended it returns 'q', so
// the viewer always leaves. On a terminal the raw mode is entered at the first
// call and restored on every way out (normal exit, error exit, signals).
int consoleReadKey();

// Shared by the platform files: one key from the byte source, with
// ESC [ A..D and ESC O A..D as 224 then the arrow's code, a lone ESC as 27,
// other escape sequences dropped whole, and 'q' once the source has ended.
int consoleDecodeKey();

// Provided by each platform: the next byte of key input, -1 when the input has
// ended, -2 when waitMs >= 0 and nothing arrived in that time (a terminal only;
// a pipe is read without a time limit).
int consoleReadKeyByte(int waitMs);

// Restores the terminal settings if raw mode was entered; harmless otherwise.
void consoleRestoreTerminal();
