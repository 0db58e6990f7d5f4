// Conversion of disk characters to what is printed: the code page 437 bytes
// that go into pipes and files, and the glyphs a terminal shows (the code
// page 437 pictures, or the C64's own glyphs with -U and -Ul).
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
// The UTF-8 glyph of a code page 437 byte; the control positions 0x00-0x1F
// show their traditional pictures, so no glyph is a control code.
const char *cp437Glyph(uint8_t cp437);

// Values of options.glyphSet: whose pictures a terminal shows.
constexpr int kGlyphsCodePage437 = 0;  // the code page 437 tables (the default)
constexpr int kGlyphsC64Upper = 1;     // -U: the C64's upper-case/graphics set
constexpr int kGlyphsC64Lower = 2;     // -Ul: the C64's lower-case/upper-case set

// The Unicode code point of a disk code in one of the C64 sets (from
// data/petscii-unicode.tsv); 0 for a control code without a glyph, and for
// any other glyphSet value.
uint32_t c64CodePoint(int glyphSet, uint8_t code);

// The same glyph as UTF-8, or nullptr where c64CodePoint gives 0.
const char *c64Glyph(int glyphSet, uint8_t code);

// The UTF-8 glyph of `code` in `glyphSet` whatever the options say: the C64
// glyph of the set where it has one, else the code page 437 picture through
// the default table (as a control code shows with -U and -Ul). Never nullptr.
const char *glyphOfCode(int glyphSet, uint8_t code);

// The UTF-8 glyph a terminal shows for one disk character under `options`:
// with -vo the code page 437 picture of the raw byte; else the C64 glyph of
// the chosen set where it has one; else the code page 437 picture of
// toConsoleChar(code). Never a control code, never nullptr.
const char *diskGlyph(uint8_t code);
