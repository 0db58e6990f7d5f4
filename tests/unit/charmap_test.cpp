// Character display conversion: both tables rebuilt here from their range
// rules, the fixed mapping of codes 192-255, raw mode, and the options that
// select them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/charmap.h"
#include "frontend/cmdline.h"
#include "support/unicode.h"

namespace {

// The graphic characters of codes 0x60-0x7F and 0xA0-0xBF, as code page 437 bytes.
const uint8_t kGraphics60[32] = {0xC4, 0x24, 0x7C, 0xC4, 0xC4, 0xC4, 0xC4, 0x7C, 0x7C, 0xBF, 0xC0,
                                 0xD9, 0xC0, 0x5C, 0x2F, 0xDA, 0xBF, 0x4F, 0x5F, 0xB8, 0x7C, 0xDA,
                                 0x58, 0x6F, 0xBE, 0x7C, 0xFE, 0xC5, 0x7C, 0x7C, 0xD0, 0x5C};
const uint8_t kGraphicsA0[32] = {0x20, 0xB2, 0xDC, 0xEE, 0x5F, 0x7C, 0xB2, 0x7C, 0x5F, 0x2F, 0x7C,
                                 0xC3, 0xDC, 0xC0, 0xBF, 0x5F, 0xDA, 0xC1, 0xC2, 0xB4, 0x7C, 0x7C,
                                 0x7C, 0xDF, 0xDF, 0x5F, 0xD9, 0xDC, 0xDF, 0xD9, 0xDF, 0x5C};
const uint8_t kHighCodes[64] = {
    0xC4, 0xC1, 0xB3, 0xC4, 0xC4, 0xFE, 0xC6, 0xC7, 0xC8, 0xBB, 0xC8, 0xBC, 0xDB, 0xCD, 0xCE, 0xDB,
    0xDB, 0xD1, 0xD2, 0xD3, 0xBA, 0xC9, 0xD6, 0x6F, 0xD8, 0xBA, 0xDA, 0xC5, 0xDC, 0xB3, 0xDE, 0x5C,
    0xE0, 0xE1, 0xFE, 0xEE, 0xF2, 0xBA, 0xB1, 0xBA, 0xDC, 0x2F, 0xBA, 0xC3, 0xFE, 0xED, 0xEE, 0xF2,
    0xF0, 0xC1, 0xC2, 0xB4, 0xBA, 0xF5, 0xF6, 0xEE, 0xFE, 0xFE, 0xDB, 0xFE, 0xFE, 0xFD, 0xFE, 0xFF,
};

uint8_t expectedDefault(int code) {
    if (code <= 0x1F) return expectedDefault(code + 0x40);  // control codes show as 0x40-0x5F
    if (code == 0x5C) return 0x9C;                           // pound sign
    if (code == 0x5F) return 0xAE;                           // left arrow
    if (code <= 0x5E) return static_cast<uint8_t>(code);
    if (code <= 0x7F) return kGraphics60[code - 0x60];
    if (code <= 0x9F) return kGraphics60[code - 0x80];
    if (code <= 0xBF) return kGraphicsA0[code - 0xA0];
    return kHighCodes[code - 0xC0];
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
