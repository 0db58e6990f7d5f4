// Console output shared by every platform: formatted program text, disk
// characters (raw bytes to a pipe, code page 437 glyphs to a terminal) and the
// error stream. Key reading and screen clearing are in the platform files.
#include <cstdarg>
#include <cstdio>

#include "views/console.h"

namespace {

// Code page 437 as UTF-8; the control positions show their traditional pictures.
const char *const kCp437Glyphs[256] = {
    " ", "☺", "☻", "♥", "♦", "♣", "♠", "•", "◘", "○", "◙", "♂", "♀", "♪", "♫", "☼",
    "►", "◄", "↕", "‼", "¶", "§", "▬", "↨", "↑", "↓", "→", "←", "∟", "↔", "▲", "▼",
    " ", "!", "\"", "#", "$", "%", "&", "'", "(", ")", "*", "+", ",", "-", ".", "/",
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", ":", ";", "<", "=", ">", "?",
    "@", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "[", "\\", "]", "^", "_",
    "`", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "{", "|", "}", "~", "⌂",
    "Ç", "ü", "é", "â", "ä", "à", "å", "ç", "ê", "ë", "è", "ï", "î", "ì", "Ä", "Å",
    "É", "æ", "Æ", "ô", "ö", "ò", "û", "ù", "ÿ", "Ö", "Ü", "¢", "£", "¥", "₧", "ƒ",
    "á", "í", "ó", "ú", "ñ", "Ñ", "ª", "º", "¿", "⌐", "¬", "½", "¼", "¡", "«", "»",
    "░", "▒", "▓", "│", "┤", "╡", "╢", "╖", "╕", "╣", "║", "╗", "╝", "╜", "╛", "┐",
    "└", "┴", "┬", "├", "─", "┼", "╞", "╟", "╚", "╔", "╩", "╦", "╠", "═", "╬", "╧",
    "╨", "╤", "╥", "╙", "╘", "╒", "╓", "╫", "╪", "┘", "┌", "█", "▄", "▌", "▐", "▀",
    "α", "ß", "Γ", "π", "Σ", "σ", "µ", "τ", "Φ", "Θ", "Ω", "δ", "∞", "φ", "ε", "∩",
    "≡", "±", "≥", "≤", "⌠", "⌡", "÷", "≈", "°", "∙", "·", "√", "ⁿ", "²", "■", "\xC2\xA0",
};

// Fully buffered output to a pipe or file; the whole listing leaves in few writes.
bool outputPrepared = false;
bool outputIsTerminal = false;

void prepareOutput() {
    if (outputPrepared) return;
    outputPrepared = true;
    outputIsTerminal = consoleOutputIsTerminal();
    if (!outputIsTerminal) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
}

}  // namespace

const char *cp437Glyph(uint8_t cp437) { return kCp437Glyphs[cp437]; }

void consoleVprintf(const char *format, va_list args) {
    prepareOutput();
    std::vfprintf(stdout, format, args);
}

void consolePrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    consoleVprintf(format, args);
    va_end(args);
}

void consoleDiskChar(uint8_t cp437) {
    prepareOutput();
    if (outputIsTerminal)
        consoleWriteGlyph(kCp437Glyphs[cp437]);
    else
        std::fputc(cp437, stdout);
}

void consoleFlush() { std::fflush(stdout); }

void consoleVerrorf(const char *format, va_list args) {
    consoleFlush();
    std::vfprintf(stderr, format, args);
    std::fflush(stderr);
}

void consoleErrorf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    consoleVerrorf(format, args);
    va_end(args);
}
