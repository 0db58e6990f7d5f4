// Number arguments, read like C strtol with base 0 (and "$" for hexadecimal)
// but saturated to 32 bits.
#pragma once

// Result of reading a text: the value, and whether the reading used up the
// whole text (the empty text does; trailing characters, blanks included, do not).
struct NumberReading {
    int value;
    bool whole;
};

// Skips leading white space, takes one sign, chooses the base by a 0x/0X, $
// or 0 prefix, takes the digits valid for it and saturates at the 32-bit limits.
// With no digit at all the value is 0 and nothing counts as read.
NumberReading readNumber(const char *text);

// 1 when the text is a whole number by readNumber, else 0.
int isWholeNumber(const char *text);

// The value when it lies in minimum..maximum and the text is whole; otherwise
// exitWithError (status 1) with the too-low, too-high or not-a-number message,
// the range tested before the form.
int parseNumberArg(const char *text, int minimum, int maximum);
