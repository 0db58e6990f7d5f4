// Test helper: strict UTF-8 decoding, and the C64 character sets as the data
// file data/petscii-unicode.tsv gives them, read here without kestrel's code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The code points of `text`; false (and `points` as far as it got) at the
// first byte that does not begin a well-formed UTF-8 sequence.
bool decodeUtf8(const std::string &text, std::vector<uint32_t> &points);

// The code point of each code 00-FF in one set of data/petscii-unicode.tsv
// (column 1 the upper-case/graphics set, column 2 the lower-case/upper-case
// set), 0 for "-". Empty when the file cannot be read or a row is malformed.
std::vector<uint32_t> readPetsciiColumn(int column);
