// Number arguments, read like C strtol with base 0 (and "$" for hexadecimal)
// but saturated to 32 bits.
#pragma once

// Result of reading a text: the value, and whether the text is a whole number:
// digits that the reading used up to the end of the text (trailing characters,
// blanks included, make it none, and so does the empty text, which holds no
// digit: an unset shell variable is never taken as 0).
struct NumberReading {
    int value;
    bool whole;
};

// Skips leading white space, takes one sign, chooses the base by a 0x/0X, $
// or 0 prefix, takes the digits valid for it and saturates at the 32-bit limits.
// With no digit at all the value is 0 and the text is not whole.
NumberReading readNumber(const char *text);

// 1 when the text is a whole number by readNumber, else 0.
int isWholeNumber(const char *text);

// The value when it lies in minimum..maximum and the text is whole; otherwise
// exitWithError (status 1) with the too-low, too-high or not-a-number message,
// the range tested before the form; the empty text gets the not-a-number
// message whatever the range.
int parseNumberArg(const char *text, int minimum, int maximum);
