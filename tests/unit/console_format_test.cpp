// The console's own formatter must print every conversion exactly as the C
// library's printf does; the listing's byte-exact columns depend on it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "base/console.h"

namespace {

template <typename... Args>
void expectSameAsPrintf(const char *format, Args... args) {
    char expected[256];
    std::snprintf(expected, sizeof expected, format, args...);
    testing::internal::CaptureStdout();
    consolePrintf(format, args...);
    consoleFlush();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected) << "format \"" << format << "\"";
}

}  // namespace

TEST(ConsoleFormat, IntegersInEveryWidthAndFlagTheProgramUses) {
    for (int value : {0, 1, -1, 9, 10, 99, 100, 255, 999, 1000, 12345, 65535, 100000, -2147483647 - 1, INT_MAX}) {
        expectSameAsPrintf("%i|%2i|%3i: |%-5i|%5d|%3d|%d", value, value, value, value, value, value, value);
        expectSameAsPrintf("%2i/%2i %i %i \n", value, value / 2, value, value / -3);
    }
}

TEST(ConsoleFormat, UnsignedAndHexadecimal) {
    for (unsigned value : {0u, 1u, 15u, 16u, 255u, 4096u, 65535u, 2166136261u, UINT_MAX}) {
        expectSameAsPrintf("%10u|%u|$%04x|%02x |0x%02x|%x", value, value, value, value, value, value);
    }
    expectSameAsPrintf("%llu bytes, %lu, %zu", 18446744073709551615ULL, 123456789UL, static_cast<size_t>(42));
}

TEST(ConsoleFormat, CharactersStringsAndPercent) {
    expectSameAsPrintf("%s%c%s%c", "\"NAME\"           ", '*', "PRG", '<');
    expectSameAsPrintf("%c %i\n", 224, 224);
    expectSameAsPrintf("100%% of %s", "");
    expectSameAsPrintf("Destination file set to '%s'.\n", "dir/disk.out.d64");
}

TEST(ConsoleFormat, ConversionsBeyondItsOwnSetFallBackToPrintf) {
    expectSameAsPrintf("%5.2f and %+d then %i", 3.14159, 7, 8);
    expectSameAsPrintf("%X %o %#x", 0xBEEFu, 8u, 255u);
}

// Texts from outside shown on a terminal: control bytes become \xHH, valid
// UTF-8 stays whole (also where its continuation bytes lie in 0x80..0x9F),
// and the C1 controls are caught in either form.
TEST(ConsoleFormat, ControlBytesOfOutsideTextsAreEscaped) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"games.d64", "games.d64"},
        {"C:\\Disks\\a b.d64", "C:\\Disks\\a b.d64"},
        {"evil\x1b]0;PWNED\x07\x1b[41m.d64", "evil\\x1b]0;PWNED\\x07\\x1b[41m.d64"},
        {"\x01\x1f\x7f~ ", "\\x01\\x1f\\x7f~ "},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe"},  // é € 💾
        {"a\xc2\x9b" "31mb\xc2\x85", "a\\xc2\\x9b31mb\\xc2\\x85"},  // U+009B (CSI), U+0085 in UTF-8
        {"a\x9b" "31m\xe9", "a\\x9b31m\xe9"},                       // Latin-1: 0x9B escaped, é kept
        {"\xe2\x82", "\xe2\\x82"},                                  // a sequence cut short
        {"\xc0\x80\xed\xa0\x80", "\xc0\\x80\xed\xa0\\x80"},         // overlong NUL, a surrogate
    };
    for (const auto &c : cases) EXPECT_EQ(consoleEscapeControls(c.text), c.shown) << c.shown;
}
