// Names typed on the command line, turned into the bytes a disk stores: the
// one text rule of every option that writes a name (entry names, the disk
// name and id, the names of inserted files); and the host-file names of
// entries, both ways (the files -x writes, the files -w reads). Decodes and
// encodes only; each caller words its own error from the problem reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/charmap.h"

constexpr int kNameTextCapacity = 16;  // the longest field a text fills
constexpr int kNoGlyphs = -1;          // a glyph set for decodeNameText: ASCII and %XX only

enum class NameTextProblem {
    None,
    TooLong,       // more bytes than the field holds
    BadEscape,     // a '%' not followed by two hexadecimal digits
    BadCharacter,  // a control character, or a character that stands for no disk code
};

struct NameText {
    uint8_t bytes[kNameTextCapacity];
    int length;               // bytes decoded (0..maxBytes)
    NameTextProblem problem;  // None when the whole text was decoded
    int problemAt;            // where in the text the problem begins (a BadCharacter's first byte)
    int problemLength;        // the bytes of the character refused: its UTF-8 length, else 1
};

// Decodes `text` into at most `maxBytes` (0..16) disk bytes: an ASCII letter
// of either case gives 0x41-0x5A (a capital 0xC1-0xDA with kGlyphsC64Lower,
// as that set shows them), "%XX" the byte XX (hex digits of either case),
// other printable ASCII the same byte, except that a blank typed at
// the byte place `paddingPlace` (-1: none) gives the padding byte 0xA0 (the
// place of the -id field that the listing shows as a blank; "%20" gives 0x20
// there). With a `glyphSet` other than kNoGlyphs (kGlyphsCodePage437,
// kGlyphsC64Upper, kGlyphsC64Lower), also a UTF-8 character that a terminal
// shows in that set for a disk code (glyphOfCode), which gives that code.
// Where several codes show it, it gives the first of them in this order: a
// code whose C64 glyph is that glyph (in the set itself; in the upper-case
// set when reading code page 437 glyphs), then what the C64 keyboard types
// (0x20-0x5F, the graphics 0xA0-0xBF and 0xC0-0xDF), then their copies
// (0x60-0x7F, 0xE0-0xFF), then the control codes, each group in code order;
// so a glyph never gives a code that the set shows otherwise. Stops at the
// first problem, in text order; `length` then counts the bytes before it.
NameText decodeNameText(const char *text, int maxBytes, int glyphSet, int paddingPlace);

// ---- Host file names of directory entries ----------------------------------

// The host name of an entry's 16 name bytes, without extension: the bytes up
// to the first 0xA0, where 0x41-0x5A give "a"-"z", digits, space and
// ! # $ & ' ( ) + , - . ; = @ [ ] ^ _ stay as they are, and every other byte,
// a last space or dot included, gives "%XX" (upper-case hex). An empty name
// gives "%A0". A name that Windows keeps for a device (con, prn, aux, nul,
// com0-com9, lpt0-lpt9, conin$, conout$, also before a further ".") gets its
// last letter there as "%XX". The result holds no folder separator, no
// character Windows refuses, and is never "." or "..".
std::string hostNameOfEntry(const uint8_t *name);

// The host name of a folder named after an image file (`fileName` without
// its folder): the name without its extension (the text from its last "." on,
// unless that "." begins the name) by the rule of hostNameOfEntry, except
// that the name's bytes are host text: letters of both cases stand for
// themselves (a device name is recognized in either case), every byte from
// 0x80 on gives "%XX".
std::string hostNameOfImage(const std::string &fileName);

// Names for files or folders written side by side, each stem + suffix (the
// suffix is "." and an extension, or empty). Where two or more would share a
// name, compared with ASCII letters in one case as a file system may not tell
// them apart, each of them gets "~1", "~2", ... after its stem, in the order
// given. The rule above never writes a "~", so these meet none of its names.
struct HostNameParts {
    std::string stem;
    std::string suffix;
};
std::vector<std::string> distinctHostNames(const std::vector<HostNameParts> &parts);

// The extension of an entry's host file: the listing's type name in lower
// case ("del", "seq", "prg", "usr", "rel"), "bin" for types 5 to 7.
const char *hostExtensionOfType(int typeByte);

// An entry's name and type read back from a host file's name (no folder): the
// text before the last "." by decodeNameText (no glyphs, at most 16 bytes),
// padded with 0xA0; the type from the text after it: "prg", "seq", "usr" and
// "del" in any case give the closed types 0x82, 0x81, 0x83 and 0x80, anything
// else (or no ".") 0x82. `problem` is None when the name could be read.
struct HostFileEntry {
    uint8_t name[kNameTextCapacity];  // padded with 0xA0
    int length;                       // bytes the text gave: 0 for ".prg" or ".hidden"
    uint8_t typeByte;
    NameTextProblem problem;
};
HostFileEntry entryOfHostName(const std::string &fileName);
