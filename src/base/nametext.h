// Names typed on the command line, turned into the bytes a disk stores: the
// one text rule of every option that writes a name (entry names, the disk
// name and id, the names of inserted files). Decodes only; each caller words
// its own error from the problem reported.
#pragma once

#include <cstdint>

constexpr int kNameTextCapacity = 16;  // the longest field a text fills

enum class NameTextProblem {
    None,
    TooLong,       // more bytes than the field holds
    BadEscape,     // a '%' not followed by two hexadecimal digits
    BadCharacter,  // a control character, or a character that stands for no single disk code
};

struct NameText {
    uint8_t bytes[kNameTextCapacity];
    int length;               // bytes decoded (0..maxBytes)
    NameTextProblem problem;  // None when the whole text was decoded
};

// Decodes `text` into at most `maxBytes` (0..16) disk bytes: an ASCII letter
// of either case gives 0x41-0x5A, "%XX" the byte XX (hex digits of either
// case), other printable ASCII the same byte. With `acceptGlyphs`, also a
// UTF-8 character that kestrel shows on a terminal for exactly one disk code
// through the default table, which gives that code. Stops at the first
// problem, in text order; `length` then counts the bytes before it.
NameText decodeNameText(const char *text, int maxBytes, bool acceptGlyphs);
