// The text rule for names. The glyphs are found by running every disk code
// through the same tables the listing prints with, so what a terminal showed
// can be pasted back.
#include "base/nametext.h"

#include <cstring>

#include "base/charmap.h"
#include "base/console.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of the UTF-8 character starting at `text`, or 0 when it is not one
// (a stray continuation byte, a bad lead byte, a character cut short).
int utf8Length(const char *text) {
    uint8_t lead = static_cast<uint8_t>(text[0]);
    int length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    for (int i = 1; i < length; ++i)
        if ((static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) return 0;
    return length;
}

// The disk code whose terminal glyph is the `length` bytes at `text`, or -1
// when no code or more than one shows as that glyph.
int codeOfGlyph(const char *text, int length) {
    int found = -1;
    for (int code = 0; code < 256; ++code) {
        const char *glyph = cp437Glyph(defaultConsoleChar(static_cast<uint8_t>(code)));
        if (static_cast<int>(std::strlen(glyph)) != length || std::memcmp(glyph, text, static_cast<size_t>(length)) != 0) continue;
        if (found >= 0) return -1;
        found = code;
    }
    return found;
}

// One disk byte from the text at `at`, which moves past what was read; -1
// with `problem` set when the text there gives none.
int nextByte(const char *&at, bool acceptGlyphs, NameTextProblem &problem) {
    char c = *at;
    if (c == '%') {
        int high = hexValue(at[1]), low = high < 0 ? -1 : hexValue(at[2]);
        if (low < 0) return problem = NameTextProblem::BadEscape, -1;
        at += 3;
        return high << 4 | low;
    }
    if (c >= 'a' && c <= 'z') return ++at, c - 'a' + 'A';
    if (c >= ' ' && c <= '~') return ++at, c;
    int length = acceptGlyphs ? utf8Length(at) : 0;
    int code = length ? codeOfGlyph(at, length) : -1;
    if (code < 0) return problem = NameTextProblem::BadCharacter, -1;
    at += length;
    return code;
}

}  // namespace

NameText decodeNameText(const char *text, int maxBytes, bool acceptGlyphs) {
    NameText name{};
    for (const char *at = text; *at;) {
        int byte = nextByte(at, acceptGlyphs, name.problem);
        if (byte < 0) break;
        if (name.length == maxBytes) {
            name.problem = NameTextProblem::TooLong;
            break;
        }
        name.bytes[name.length++] = static_cast<uint8_t>(byte);
    }
    return name;
}
