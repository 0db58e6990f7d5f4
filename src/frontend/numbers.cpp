// Number arguments.
#include "frontend/numbers.h"

#include <cstdint>

#include "base/errors.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Value of c as a digit of base, or -1.
int digitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value < base ? value : -1;
}

}  // namespace

NumberReading readNumber(const char *text) {
    const char *p = text;
    while (isSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int base = 10;
    // "0x" counts as a prefix only when a hexadecimal digit follows; otherwise
    // the 0 alone is read as an octal number, as strtol does. "$" is the
    // hexadecimal prefix of the addresses kestrel prints ("$0801"); without a
    // hexadecimal digit after it there is no number.
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digitValue(p[2], 16) >= 0) {
        base = 16;
        p += 2;
    } else if (p[0] == '$' && digitValue(p[1], 16) >= 0) {
        base = 16;
        p += 1;
    } else if (p[0] == '0') {
        base = 8;
    }
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t magnitude = 0;
    const char *digits = p;
    for (int d; (d = digitValue(*p, base)) >= 0; ++p) {
        magnitude = magnitude * base + d;
        if (magnitude > limit) magnitude = limit;
    }
    if (p == digits) return {0, false};
    int value = static_cast<int>(negative ? -magnitude : magnitude);
    return {value, *p == '\0'};
}

int isWholeNumber(const char *text) { return readNumber(text).whole ? 1 : 0; }

int parseNumberArg(const char *text, int minimum, int maximum) {
    if (*text == '\0') exitWithError(1, "ERROR: Not a number (0).");
    NumberReading reading = readNumber(text);
    if (reading.value < minimum)
        exitWithError(1, "ERROR: Number (%i) too low. [Minimum: %i]", reading.value, minimum);
    if (reading.value > maximum)
        exitWithError(1, "ERROR: Number (%i) too high. [Maximum: %i]", reading.value, maximum);
    if (!reading.whole) exitWithError(1, "ERROR: Not a number (%i).", reading.value);
    return reading.value;
}
