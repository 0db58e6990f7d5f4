// The text rule for names: ASCII, %XX escapes, the length limit, and the
// terminal glyphs, which must read back as the code whose glyph they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/charmap.h"
#include "base/console.h"
#include "base/nametext.h"

namespace {

struct Case {
    const char *text;
    int maxBytes;
    int glyphSet;
    std::vector<uint8_t> bytes;  // expected when problem is None
    NameTextProblem problem;
    int paddingPlace = -1;
};

constexpr int kCp437 = kGlyphsCodePage437;

const Case kCases[] = {
    {"Az, {|}~@[9", 16, kCp437, {0x41, 0x5A, ',', ' ', '{', '|', '}', '~', '@', '[', '9'}, NameTextProblem::None},
    {"%25%00%ff%A0%c1", 16, kCp437, {0x25, 0x00, 0xFF, 0xA0, 0xC1}, NameTextProblem::None},
    {"0123456789abcdefg", 16, kCp437, {}, NameTextProblem::TooLong},  // 17 bytes
    {"xy%a02A", 5, kCp437, {'X', 'Y', 0xA0, '2', 'A'}, NameTextProblem::None},
    {"%41%41%41%41%41%41", 5, kCp437, {}, NameTextProblem::TooLong},
    {"ab%4", 16, kCp437, {}, NameTextProblem::BadEscape},
    {"%g1", 16, kCp437, {}, NameTextProblem::BadEscape},
    {"a\tb", 16, kCp437, {}, NameTextProblem::BadCharacter},
    {"\xc3\xa9", 16, kCp437, {}, NameTextProblem::BadCharacter},          // é: shown for no code
    {"\xe2\x95\xac\xe2\x95", 16, kCp437, {}, NameTextProblem::BadCharacter},  // a glyph cut short
    {"\x95\xac", 16, kCp437, {}, NameTextProblem::BadCharacter},          // continuation bytes alone
    {"\xe2\x95\xac\xce\xb1\xc2\xa0", 16, kCp437, {0xCE, 0xE0, 0xFF}, NameTextProblem::None},  // ╬ α and U+00A0
    {"\xe2\x95\xac", 16, kNoGlyphs, {}, NameTextProblem::BadCharacter},      // glyphs switched off
    // Glyphs several codes show: the one the C64 draws as that glyph, else the
    // one its keyboard types. ─ ┌ ┐ └ ┘ │ █ £
    {"\u2500\u250c\u2510\u2514\u2518\u2502\u2588\u00a3", 16, kCp437, {0xC0, 0xB0, 0xAE, 0xAD, 0xBD, 0xDD, 0xCC, 0x5C},
     NameTextProblem::None},
    // ▒ and π as the C64 sets show them (code page 437 shows ▒ for 0xE6 only); ✓ is in the lower-case set only.
    {"\u2592\u03c0", 16, kGlyphsC64Upper, {0xA6, 0xDE}, NameTextProblem::None},
    {"\u2592", 16, kCp437, {0xE6}, NameTextProblem::None},
    {"\u2713\u2592Hi", 16, kGlyphsC64Lower, {0xBA, 0xA6, 0xC8, 0x49}, NameTextProblem::None},
    {"\u2713", 16, kGlyphsC64Upper, {}, NameTextProblem::BadCharacter},
    // The id field: only a blank typed at its third place is the 0xA0 the listing shows there.
    {"X %20 ", 5, kCp437, {'X', ' ', ' ', ' '}, NameTextProblem::None, 2},
    {"X  ", 5, kCp437, {'X', ' ', 0xA0}, NameTextProblem::None, 2},
};

}  // namespace

TEST(NameText, TextRuleCases) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.text);
        NameText name = decodeNameText(c.text, c.maxBytes, c.glyphSet, c.paddingPlace);
        EXPECT_EQ(name.problem, c.problem);
        if (c.problem == NameTextProblem::None) {
            EXPECT_EQ(std::vector<uint8_t>(name.bytes, name.bytes + name.length), c.bytes);
        }
    }
}

// Every glyph a terminal shows, in each glyph set, pastes back as a code that
// shows that very glyph in the set; as its own code when no other code shows
// it. (ASCII glyphs follow the ASCII rule.)
TEST(NameText, TerminalGlyphsReadBackAsTheirCode) {
    for (int set : {kGlyphsCodePage437, kGlyphsC64Upper, kGlyphsC64Lower}) {
        int accepted = 0;
        for (int code = 0; code < 256; ++code) {
            SCOPED_TRACE(testing::Message() << "set " << set << " code " << code);
            const std::string glyph = glyphOfCode(set, static_cast<uint8_t>(code));
            if (static_cast<uint8_t>(glyph[0]) < 0x80) continue;
            int sharing = 0;
            for (int other = 0; other < 256; ++other) sharing += glyph == glyphOfCode(set, static_cast<uint8_t>(other));
            NameText name = decodeNameText(glyph.c_str(), 16, set, -1);
            ASSERT_EQ(name.problem, NameTextProblem::None);
            ASSERT_EQ(name.length, 1);
            EXPECT_EQ(glyph, glyphOfCode(set, name.bytes[0]));
            if (sharing == 1) {
                EXPECT_EQ(name.bytes[0], code);
            }
            accepted += sharing == 1;
        }
        if (set == kGlyphsCodePage437) {
            EXPECT_GT(accepted, 16);  // the double-line box pieces at least
        }
    }
}

// The host-name rule both ways, for every byte in every position that
// matters: the file name -x gives an entry holds only characters that are
// safe in a file name on Linux and Windows, and -w reads the same 16 name
// bytes and type back from it.
TEST(HostNames, EveryByteSurvivesTheRoundTripInASafeName) {
    const std::string unsafe = "/\\:*?\"<>|";
    auto check = [&](const std::vector<uint8_t> &bytes, int type) {
        uint8_t name[16];
        std::fill(name, name + 16, 0xA0);
        std::copy(bytes.begin(), bytes.end(), name);
        std::string file = hostNameOfEntry(name) + "." + hostExtensionOfType(type);
        SCOPED_TRACE(file);
        for (char c : file) {
            EXPECT_TRUE(c > ' ' - 1 && c < 0x7F) << static_cast<int>(c);
            EXPECT_EQ(unsafe.find(c), std::string::npos);
        }
        HostFileEntry back = entryOfHostName(file);
        ASSERT_EQ(back.problem, NameTextProblem::None);
        // The name ends at its first 0xA0; an empty one reads back as 0xA0, which pads it alike.
        std::fill(std::find(name, name + 16, 0xA0), name + 16, 0xA0);
        EXPECT_TRUE(std::equal(name, name + 16, back.name));
        EXPECT_EQ(back.typeByte, type >= 0x80 && (type & 7) <= 3 ? 0x80 | (type & 7) : 0x82);
    };
    for (int code = 0; code < 256; ++code) {
        uint8_t byte = static_cast<uint8_t>(code);
        check({byte}, 0x82);                  // alone, so also last
        check({'A', byte, 'B'}, 0x81);        // inside
        check({byte, byte, 'X', '.', byte}, 0x83);
    }
    check({}, 0x80);                                   // the empty name: "%A0"
    check(std::vector<uint8_t>(16, 0x25), 0x84);       // 16 escapes: 48 characters
    for (const char *device :
         {"CON", "NUL", "AUX", "PRN", "COM0", "COM1", "LPT0", "LPT9", "CONIN$", "CONOUT$", "CON.X", "NUL ."})
        check(std::vector<uint8_t>(device, device + std::strlen(device)), 0x82);
}

// The folder -x makes for each of many images: the image's name without its
// extension, by the host-name rule with letters of both cases kept.
TEST(HostNames, ImageFolderNames) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Games 1 (1987).d64", "Games 1 (1987)"}, {"disk.tar.D64", "disk.tar"}, {"noext", "noext"},
        {".d64", ".d64"},  {"dots..d64", "dots%2E"},     {"space .d64", "space%20"},  {"Con.d64", "Co%6E"},
        {"LPT1.x.d64", "LP%541.x"}, {"a~1:b*.d64", "a%7E1%3Ab%2A"}, {"\xc3\xa4.d64", "%C3%A4"},
    };
    for (const auto &[file, folder] : cases) EXPECT_EQ(hostNameOfImage(file), folder) << file;
}
