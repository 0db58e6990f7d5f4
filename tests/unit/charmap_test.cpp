// Character display conversion: both tables rebuilt here from their range
// rules and the pictures of the graphic characters, the fixed mapping of codes
// 192-255, raw mode, and the options that select them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/charmap.h"
#include "frontend/cmdline.h"
#include "support/shell.h"
#include "support/unicode.h"

namespace {

// The disk's graphic characters as they look once converted: the code page
// 437 glyphs of codes 0x60-0x7F (and 0x80-0x9F), 0xA0-0xBF and 0xC0-0xFF. The
// bytes expected are these pictures as iconv converts them to code page 437,
// so that the tables are checked against what a person sees, not a copy.
const char kGraphics60[] = "─$|────||┐└┘└\\/┌┐O_╕|┌Xo╛|■┼||╨\\";
const char kGraphicsA0[] = " ▓▄ε_|▓|_/|├▄└┐_┌┴┬┤|||▀▀_┘▄▀┘▀\\";
const char kHighCodes[] = "─┴│──■╞╟╚╗╚╝█═╬██╤╥╙║╔╓o╪║┌┼▄│▐\\αß■ε≥║▒║▄/║├■φε≥≡┴┬┤║⌡÷ε■■█■■²■\xC2\xA0";

// `utf8` in code page 437 by iconv; empty when iconv fails.
std::vector<uint8_t> cp437Of(const std::string &utf8) {
    std::string word = "'";
    for (char c : utf8) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    int status = -1;
    std::string out = shellOutput("printf '%s' " + word + "' | iconv -f UTF-8 -t CP437", &status);
    if (status != 0) return {};
    return std::vector<uint8_t>(out.begin(), out.end());
}

// The three pictures in code page 437, converted once.
struct Pictures {
    std::vector<uint8_t> graphics60, graphicsA0, high;
};
const Pictures &pictures() {
    static const Pictures converted{cp437Of(kGraphics60), cp437Of(kGraphicsA0), cp437Of(kHighCodes)};
    return converted;
}

bool havePictures() {
    return pictures().graphics60.size() == 32 && pictures().graphicsA0.size() == 32 && pictures().high.size() == 64;
}

uint8_t expectedDefault(int code) {
    if (code <= 0x1F) return expectedDefault(code + 0x40);  // control codes show as 0x40-0x5F
    if (code == 0x5C) return 0x9C;                           // pound sign
    if (code == 0x5F) return 0xAE;                           // left arrow
    if (code <= 0x5E) return static_cast<uint8_t>(code);
    if (code <= 0x7F) return pictures().graphics60[code - 0x60];
    if (code <= 0x9F) return pictures().graphics60[code - 0x80];
    if (code <= 0xBF) return pictures().graphicsA0[code - 0xA0];
    return pictures().high[code - 0xC0];
}

uint8_t expectedAlternative(int code) {
    if (code <= 0x1F || (code >= 0x80 && code <= 0x9F)) return 0xDB;
    return expectedDefault(code);
}

// Fills `options` from a command line, as the program does at start.
void parse(std::vector<std::string> args) {
    resetOptions();
    args.insert(args.begin(), "kestrel");
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(CharMap, DefaultTableByItsRanges) {
    if (!haveProgram("iconv")) GTEST_SKIP() << "iconv is not installed";
    ASSERT_TRUE(havePictures());
    resetOptions();
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(toConsoleChar(static_cast<uint8_t>(code)), expectedDefault(code)) << "code " << code;
    EXPECT_EQ(toConsoleChar(0x41), 0x41);
    EXPECT_EQ(toConsoleChar(0x01), 0x41);
    EXPECT_EQ(toConsoleChar(0x1C), 0x9C);
    EXPECT_EQ(toConsoleChar(0x5C), 0x9C);
    EXPECT_EQ(toConsoleChar(0xA0), 0x20);  // the padding byte of names prints as a blank
    EXPECT_EQ(toConsoleChar(0xC0), 0xC4);
    EXPECT_EQ(toConsoleChar(0xFF), 0xFF);
}

// "-p" and the letter p of "-v" both select the alternative table.
TEST(CharMap, AlternativeTableShowsControlRangesAsFullBlocks) {
    if (!haveProgram("iconv")) GTEST_SKIP() << "iconv is not installed";
    ASSERT_TRUE(havePictures());
    for (const char *option : {"-p", "-vp", "-vtpn"}) {
        parse({option, "disk.d64"});
        for (int code = 0; code < 256; ++code)
            EXPECT_EQ(toConsoleChar(static_cast<uint8_t>(code)), expectedAlternative(code))
                << option << " code " << code;
    }
    EXPECT_EQ(toConsoleChar(0x01), 0xDB);
    EXPECT_EQ(toConsoleChar(0x1C), 0xDB);
    EXPECT_EQ(toConsoleChar(0x5C), 0x9C);
    EXPECT_EQ(toConsoleChar(0xA0), 0x20);
    EXPECT_EQ(toConsoleChar(0xC0), 0xC4);
}

// Exactly these high codes map to themselves; all others change.
TEST(CharMap, HighCodesKeepOnlyTheListedCodes) {
    const std::set<int> unchanged = {0xC1, 0xC4, 0xC6, 0xC7, 0xC8, 0xCD, 0xCE, 0xD1, 0xD2, 0xD3, 0xD6, 0xD8, 0xDA,
                                     0xDC, 0xDE, 0xE0, 0xE1, 0xED, 0xEE, 0xF0, 0xF5, 0xF6, 0xFD, 0xFE, 0xFF};
    for (bool alternative : {false, true}) {
        resetOptions();
        if (alternative) options.activeCharMap = alternativeCharMap;
        for (int code = 0xC0; code <= 0xFF; ++code) {
            bool same = toConsoleChar(static_cast<uint8_t>(code)) == code;
            EXPECT_EQ(same, unchanged.count(code) == 1) << "code " << code;
        }
    }
}

TEST(CharMap, RawModeIsTheOnlyWayToPrintZero) {
    for (const char *table : {"-vo", "-vop"}) {
        parse({table, "disk.d64"});
        for (int code = 0; code < 256; ++code)
            EXPECT_EQ(toConsoleChar(static_cast<uint8_t>(code)), code) << table << " code " << code;
    }
    for (const char *table : {"-vn", "-p"}) {
        parse({table, "disk.d64"});
        for (int code = 0; code < 256; ++code)
            EXPECT_NE(toConsoleChar(static_cast<uint8_t>(code)), 0) << table << " code " << code;
    }
}

// The C64 sets of -U and -Ul are those of data/petscii-unicode.tsv, code by
// code, and their UTF-8 forms decode to the same code points.
TEST(CharMap, C64GlyphsAreThoseOfTheDataFile) {
    for (int set : {kGlyphsC64Upper, kGlyphsC64Lower}) {
        std::vector<uint32_t> expected = readPetsciiColumn(set == kGlyphsC64Upper ? 1 : 2);
        ASSERT_EQ(expected.size(), 256u) << "data/petscii-unicode.tsv unreadable";
        for (int code = 0; code < 256; ++code) {
            uint8_t c = static_cast<uint8_t>(code);
            EXPECT_EQ(c64CodePoint(set, c), expected[code]) << "set " << set << " code " << code;
            std::vector<uint32_t> decoded;
            const char *glyph = c64Glyph(set, c);
            if (expected[code] == 0) {
                EXPECT_EQ(glyph, nullptr) << "code " << code;
            } else {
                ASSERT_NE(glyph, nullptr) << "code " << code;
                EXPECT_TRUE(decodeUtf8(glyph, decoded));
                EXPECT_EQ(decoded, std::vector<uint32_t>{expected[code]}) << "set " << set << " code " << code;
            }
        }
    }
    EXPECT_EQ(c64CodePoint(kGlyphsCodePage437, 0x41), 0u);
}
