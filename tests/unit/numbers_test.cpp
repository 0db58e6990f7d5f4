// Number arguments: the strtol-like reading with saturation, the whole-number
// test, and the messages with which parseNumberArg ends the program.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "frontend/numbers.h"
#include "support/d64_builder.h"

namespace {

// What the C library reads with strtoll and base 0, clamped to 32 bits: an
// independent reference for the reading rule (whole: some text converted, up
// to its end).
NumberReading referenceReading(const std::string &text) {
    char *end = nullptr;
    errno = 0;
    long long value = std::strtoll(text.c_str(), &end, 0);
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    return {static_cast<int>(value), end != text.c_str() && *end == '\0'};
}

}  // namespace

TEST(ReadNumber, TheTextChoosesTheBase) {
    struct Case {
        const char *text;
        int value;
        bool whole;
    } const cases[] = {
        {"0x1F", 31, true},  {"0X1f", 31, true},  {"017", 15, true},    {"010", 8, true},   {"+5", 5, true},
        {"-0x10", -16, true}, {"0", 0, true},     {"255", 255, true},   {" 5", 5, true},    {"\t\n\v\f\r7", 7, true},
        {"5 ", 5, false},    {"08", 0, false},    {"0x", 0, false},     {"0xg", 0, false},  {"", 0, false},
        {" ", 0, false},     {"-", 0, false},     {"+", 0, false},      {"- 5", 0, false},  {"abc", 0, false},
        {"300x", 300, false}, {"12ab", 12, false}, {"0x7FFFFFFF", INT_MAX, true},
        // "$" is the hexadecimal prefix of the addresses kestrel shows.
        {"$0801", 2049, true}, {"$fF", 255, true},  {" -$10", -16, true}, {"$", 0, false},   {"$g", 0, false},
        {"$0x10", 0, false}, {"0$7", 0, false},    {"$$1", 0, false},
    };
    for (const Case &c : cases) {
        NumberReading reading = readNumber(c.text);
        EXPECT_EQ(reading.value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(reading.whole, c.whole) << '"' << c.text << '"';
        EXPECT_EQ(isWholeNumber(c.text), c.whole ? 1 : 0) << '"' << c.text << '"';
    }
}

TEST(ReadNumber, SaturatesAtThe32BitLimits) {
    EXPECT_EQ(readNumber("99999999999").value, INT_MAX);
    EXPECT_EQ(readNumber("-99999999999").value, INT_MIN);
    EXPECT_EQ(readNumber("2147483647").value, INT_MAX);
    EXPECT_EQ(readNumber("2147483648").value, INT_MAX);
    EXPECT_EQ(readNumber("-2147483648").value, INT_MIN);
    EXPECT_EQ(readNumber("-2147483649").value, INT_MIN);
    EXPECT_EQ(readNumber("0xFFFFFFFF").value, INT_MAX);
    EXPECT_EQ(readNumber("0777777777777777777777777").value, INT_MAX);
    // Saturation does not stop the reading: the digits after the limit still count.
    EXPECT_TRUE(readNumber("99999999999999999999999999").whole);
}

// Random texts over an alphabet rich in signs, prefixes and digits of every base.
TEST(ReadNumber, AgreesWithStrtollOnRandomTexts) {
    const char alphabet[] = " \t+-00123456789xXaAfFg";
    std::vector<uint8_t> noise = randomBytes(40000, 7);
    for (size_t at = 0; at + 8 <= noise.size(); at += 8) {
        std::string text;
        for (size_t i = 1; i <= noise[at] % 8u; ++i) text += alphabet[noise[at + i] % (sizeof alphabet - 1)];
        NumberReading expected = referenceReading(text);
        NumberReading reading = readNumber(text.c_str());
        ASSERT_EQ(reading.value, expected.value) << '"' << text << '"';
        ASSERT_EQ(reading.whole, expected.whole) << '"' << text << '"';
    }
}

TEST(ParseNumberArg, ReturnsValuesWithinTheInclusiveBounds) {
    EXPECT_EQ(parseNumberArg("0", 0, 255), 0);
    EXPECT_EQ(parseNumberArg("255", 0, 255), 255);
    EXPECT_EQ(parseNumberArg("0x10", 0, 255), 16);
    EXPECT_EQ(parseNumberArg("-5", -10, -1), -5);
    EXPECT_EQ(parseNumberArg("65535", 0, 65535), 65535);
}

// The message goes to standard error with no line end; the status is 1.
TEST(ParseNumberArgDeathTest, EndsWithTheRangeOrFormMessage) {
    EXPECT_EXIT(parseNumberArg("99999999999", 0, 255), testing::ExitedWithCode(1),
                "^ERROR: Number \\(2147483647\\) too high\\. \\[Maximum: 255\\]$");
    EXPECT_EXIT(parseNumberArg("-99999999999", 0, 255), testing::ExitedWithCode(1),
                "^ERROR: Number \\(-2147483648\\) too low\\. \\[Minimum: 0\\]$");
    // The range is tested before the form.
    EXPECT_EXIT(parseNumberArg("300x", 0, 255), testing::ExitedWithCode(1),
                "^ERROR: Number \\(300\\) too high\\. \\[Maximum: 255\\]$");
    EXPECT_EXIT(parseNumberArg("abc", 0, 255), testing::ExitedWithCode(1), "^ERROR: Not a number \\(0\\)\\.$");
    EXPECT_EXIT(parseNumberArg("abc", 1, 40), testing::ExitedWithCode(1),
                "^ERROR: Number \\(0\\) too low\\. \\[Minimum: 1\\]$");
    EXPECT_EXIT(parseNumberArg("5 ", 0, 255), testing::ExitedWithCode(1), "^ERROR: Not a number \\(5\\)\\.$");
    EXPECT_EXIT(parseNumberArg("08", 0, 255), testing::ExitedWithCode(1), "^ERROR: Not a number \\(0\\)\\.$");
    // The empty text holds no number, whatever the range.
    EXPECT_EXIT(parseNumberArg("", 1, 40), testing::ExitedWithCode(1), "^ERROR: Not a number \\(0\\)\\.$");
}
