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

// printf into a string: for messages that are kept before they are printed.
std::string consoleFormat(const char *format, va_list args);
std::string consoleFormatf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The ending of a plural noun after `count`: "" for 1, "s" for any other.
inline const char *plural(int count) { return count == 1 ? "" : "s"; }

// One character of the disk, by its own code: the one way disk characters
// are printed. Into a pipe or a file it is the code page 437 byte of
// toConsoleChar (the raw byte with -vo); on a terminal, and with -utf8 also
// into a pipe or a file, it is the UTF-8 glyph of diskGlyph (the C64's own
// with -U/-Ul, the picture of the raw byte with -vo). No byte from the image
// can act as a control code on a terminal.
void consoleDiskCode(uint8_t code);
// consoleDiskCode for each of `count` codes.
void consoleDiskCodes(const uint8_t *codes, int count);

// True when consoleDiskCode writes exactly the one ASCII character `ascii`
// for `code` in the present output mode (how the CSV listing finds the
// characters a CSV reader takes as a quote, a separator or a line end).
bool consoleDiskCodeWrites(uint8_t code, char ascii);

// A code page 437 byte that is already converted (a key code the viewer
// echoes): the byte unchanged, or its code page 437 glyph where
// consoleDiskCode writes glyphs.
void consoleDiskChar(uint8_t cp437);

// UTF-8 text that the program made (the JSON lines) and that holds no control
// code but line ends: into a pipe or a file its bytes unchanged, to a terminal
// each non-ASCII character through consoleWriteGlyph.
void consoleText(const char *utf8, size_t length);

// ---- Capturing what would be printed ----------------------------------------
// While a capture runs, consolePrintf and consoleDiskCode append to it instead
// of writing to standard output: program text as it is, each disk code as a 0
// byte and the code (program text holds no 0 byte). A captured text can then
// be printed as it would have been (consolePrintCaptured) or given as UTF-8
// glyphs (consoleCapturedGlyphs), so that one producer serves both. One
// capture at a time; the error exits end it.

// Starts capturing into `into`, which must outlive the capture.
void consoleCaptureStart(std::string &into);
// Ends the capture, if one runs; a line end the captured text ends with is
// dropped (a captured line is kept without it).
void consoleCaptureStop();
// Prints a captured text: its program text as consolePrintf, its disk codes
// through consoleDiskCode.
void consolePrintCaptured(const std::string &captured);
// A captured text as UTF-8: each disk code as diskGlyph gives it.
std::string consoleCapturedGlyphs(const std::string &captured);
// The first `length` bytes of an entry's name (the padding after them left
// out) as the listing shows them on a terminal: in quotes, the closing one in
// place of the first 0xA0, each character as its UTF-8 glyph. How a message
// on standard error names an entry.
std::string consoleQuotedName(const uint8_t *name, int length);

// Writes pending standard output; done before anything goes to standard error.
void consoleFlush();

// An error or warning text on standard error, no line end added; standard
// output is flushed first so the two streams keep their order on a terminal.
void consoleErrorf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void consoleVerrorf(const char *format, va_list args);

// True when standard output is a terminal (glyph output, screen clearing).
bool consoleOutputIsTerminal();

// True when standard error is a terminal (a Windows console).
bool consoleErrorIsTerminal();

// The stream a text is printed on.
enum class ConsoleStream { Output, Error };

// A text from outside the program (a path, an argument), ready to be printed
// on `stream`: into a pipe or a file exactly as it is; on a terminal through
// consoleEscapeControls, so that a planted name cannot drive the terminal.
std::string consoleOutsideText(const std::string &text, ConsoleStream stream);

// `text` with every control byte shown as \xHH (two lowercase hex digits):
// C0 controls and DEL, the UTF-8 encodings of the C1 controls U+0080..U+009F,
// and the bytes 0x80..0x9F that are not part of valid UTF-8. Everything else,
// valid UTF-8 and stray bytes 0xA0..0xFF, stays as it is.
std::string consoleEscapeControls(const std::string &text);

// Flushes standard output and names the standard stream ("standard output",
// "standard error") a write to which has failed so far in this run; nullptr
// when everything printed was written.
const char *consoleLostStream();

// Clears the screen before a viewer screen; nothing when output is not a terminal.
void consoleClearScreen();

// Writes one glyph, given as UTF-8, to standard output when it is a terminal,
// in the platform's way of making it take exactly one column.
void consoleWriteGlyph(const char *utf8);

// Key codes of the viewer's key loop.
constexpr int kKeyArrowPrefix = 224;
constexpr int kKeyUp = 72, kKeyDown = 80, kKeyLeft = 75, kKeyRight = 77;
constexpr int kKeyEsc = 27;

// Answers of consoleReadKey that are no key: the program was continued after
// a stop and must draw its screen again; standard output can no longer be
// written (its pipe was closed), so showing anything more is pointless.
constexpr int kKeyRedraw = -1;
constexpr int kKeyOutputClosed = -2;

// One key press without echo and without waiting for Enter, after the pending
// output has been written. An arrow key gives 224 on one call and its code on
// the next; a lone ESC gives 27; other escape sequences are swallowed. When
// the key source has ended it returns 'q', so the viewer always leaves. On a
// terminal the raw mode is entered at the first call and restored on every
// way out: normal exit, error exit, every catchable signal that ends the
// process, and a stop (Ctrl+Z), after which a continue enters raw mode again
// and the next call returns kKeyRedraw. When standard output has failed it
// returns kKeyOutputClosed without reading a key; once raw mode is in use a
// closed output pipe fails the write this way instead of killing the process.
int consoleReadKey();

// Shared by the platform files: one key from the byte source, with
// ESC [ A..D and ESC O A..D as 224 then the arrow's code, a lone ESC as 27,
// other escape sequences dropped whole, kKeyRedraw for a redraw request and
// 'q' once the source has ended.
int consoleDecodeKey();

// consoleReadKeyByte's answer when a redraw was requested while it waited for
// a new key (waitMs < 0).
constexpr int kKeyByteRedraw = -3;

// Provided by each platform: the next byte of key input, -1 when the input has
// ended, -2 when waitMs >= 0 and nothing arrived in that time (a terminal only;
// a pipe is read without a time limit), kKeyByteRedraw as above.
int consoleReadKeyByte(int waitMs);

// Restores the terminal settings if raw mode was entered; harmless otherwise.
void consoleRestoreTerminal();

// ---- Full-screen editors ----------------------------------------------------------
// The editors draw whole screens and read keys through consoleReadKey; the
// block viewer uses none of this.

// True when standard input and standard output are both terminals: the
// editors refuse to start otherwise.
bool consoleIsInteractive();

// True once the key source has ended (consoleReadKey then gives 'q' for ever).
bool consoleKeysEnded();

// The terminal's size in columns and rows; 80 x 24 when it cannot be asked.
void consoleScreenSize(int &columns, int &rows);

// From now on a change of the terminal's size makes a waiting consoleReadKey
// return kKeyRedraw (POSIX: SIGWINCH). On Windows the editor reads the size
// at each draw instead.
void consoleWatchResize();

// Draws one whole screen: `text` is UTF-8 with no control code but the line
// ends between its lines; each line is written from the left edge and the
// rest of it cleared, the rows below the last are cleared, and the cursor
// is left at (row, column), both from 0.
void consoleDrawScreen(const std::string &text, int row, int column);

// While an error capture runs, consoleErrorf appends to `into` instead of
// writing to standard error (a full-screen editor shows the warnings of an
// edit on its status line). One at a time; Stop ends it.
void consoleErrorCaptureStart(std::string &into);
void consoleErrorCaptureStop();

#ifdef KESTREL_FUZZ
// Fuzz build only: forgets what the console learned in one run (how standard
// output was prepared, a key read ahead, the end of key input), so that the
// fuzz target can start the next input in the same process as a fresh run.
// consoleForgetRun calls the platform half, consoleForgetPlatformRun.
void consoleForgetRun();
void consoleForgetPlatformRun();
#endif
