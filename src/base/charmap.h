// Conversion of disk characters to the code page 437 bytes that are printed.
#pragma once

#include <cstdint>

// Codes 0..191; codes 192..255 use one fixed mapping for both tables.
extern const unsigned char defaultCharMap[192];
extern const unsigned char alternativeCharMap[192];

// The byte to print for one disk character: unchanged when
// options.rawCharacters is set, else through options.activeCharMap (codes
// 0..191) or the fixed mapping (codes 192..255). Never 0 unless raw.
uint8_t toConsoleChar(uint8_t code);

// The byte the default table gives for one disk character, whatever the
// options say (codes 192..255 through the fixed mapping). Never 0.
uint8_t defaultConsoleChar(uint8_t code);
