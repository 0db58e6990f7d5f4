// Usage text and the one error exit that every layer uses.
#pragma once

// Banner, empty line, usage line naming `programName`, help text.
void printUsage(const char *programName);

// Message to standard error (no line end added), two line ends and the usage
// naming "kestrel" to standard output, then exit with `status`. Never returns.
[[noreturn]] void exitWithError(int status, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// A file error: message on standard output with no line end and no usage,
// then exit with status 1. Never returns.
[[noreturn]] void exitWithFileError(const char *format, ...) __attribute__((format(printf, 1, 2)));
