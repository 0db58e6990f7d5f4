// TEMPORARY home of the host-name rule; moves into base/nametext once that lands.
#pragma once

#include <cstdint>
#include <string>

// The host name of an entry's 16 name bytes, without extension: the bytes up
// to the first 0xA0, where 0x41-0x5A give "a"-"z", digits, space and
// ! # $ & ' ( ) + , - . ; = @ [ ] ^ _ stay as they are, and every other byte,
// a last space or dot included, gives "%XX" (upper-case hex). An empty name
// gives "%A0". A name that Windows keeps for a device (con, prn, aux, nul,
// com1-com9, lpt1-lpt9, conin$, conout$, also before a further ".") gets its
// last letter there as "%XX". The result holds no folder separator, no
// character Windows refuses, and is never "." or "..".
std::string hostNameOfEntry(const uint8_t *name);

// The extension of an entry's host file: the listing's type name in lower
// case ("del", "seq", "prg", "usr", "rel"), "bin" for types 5 to 7.
const char *hostExtensionOfType(int typeByte);

#include "base/nametext.h"

// An entry's name and type read back from a host file's name (no folder): the
// text before the last "." by decodeNameText (no glyphs, at most 16 bytes),
// padded with 0xA0; the type from the text after it: "prg", "seq", "usr" and
// "del" in any case give the closed types 0x82, 0x81, 0x83 and 0x80, anything
// else (or no ".") 0x82. `problem` is None when the name could be read.
struct HostFileEntry {
    uint8_t name[16];
    uint8_t typeByte;
    NameTextProblem problem;
};
HostFileEntry entryOfHostName(const std::string &fileName);
