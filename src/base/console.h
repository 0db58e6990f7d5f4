// Console layer: every byte kestrel prints on standard output, the screen
// clearing and the key reading of the block viewer. The platform parts live in
// console_posix.cpp and console_windows.cpp; the rest of the program stays portable.
#pragma once

#include <cstdarg>
#include <cstdint>

// Program text (always ASCII) to standard output, printf-style.
void consolePrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void consoleVprintf(const char *format, va_list args);

// One character that came from the disk (or a key code), already converted to
// a code page 437 byte. To a pipe or a file the byte is written unchanged; to a
// terminal it is written as its code page 437 glyph, so that no byte from the
// image can act as a control code.
void consoleDiskChar(uint8_t cp437);

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

#ifdef KESTREL_FUZZ
// Fuzz build only: forgets what the console learned in one run (how standard
// output was prepared, a key read ahead, the end of key input), so that the
// fuzz target can start the next input in the same process as a fresh run.
// consoleForgetRun calls the platform half, consoleForgetPlatformRun.
void consoleForgetRun();
void consoleForgetPlatformRun();
#endif
