// The one error exit that every layer uses, and the file-error exit. The usage
// text belongs to the front end, which registers its printer here at start, so
// that lower layers can end the program without knowing the front end.
#pragma once

// The function that prints the usage naming `programName`; the front end
// registers printUsage before anything else runs. Until then the error exit
// prints no usage.
using UsagePrinter = void (*)(const char *programName);
void registerUsagePrinter(UsagePrinter printer);

// The exit of the built-in messages: message to standard error (no line end
// added), two line ends and the usage naming "kestrel" to standard output
// (under -json to standard error, which then ends with a line end, so that
// standard output holds JSON lines alone), then exit with `status` (as a
// signed 8-bit value). When standard output and standard error are both terminals
// the message follows the usage once more, with a line end; when standard
// error alone is a terminal, the message gets a line end. Never returns.
[[noreturn]] void exitWithError(int status, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The error exit of every message kestrel adds to the built-in ones: the
// message and a line end on standard error, no usage, then exit with
// `status`. Whatever standard output holds so far stays as it is (under
// -json, JSON lines and nothing else). Never returns.
[[noreturn]] void exitWithMessage(int status, const char *format, ...) __attribute__((format(printf, 2, 3)));

// A file error: message on standard output with no usage and no line end
// (a line end only when standard output is a terminal), then exit with status
// 1; when standard output could not take it, exitIfOutputLost's message goes
// to standard error. Never returns.
[[noreturn]] void exitWithFileError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Ends the run with status 1 and "ERROR: Could not write to standard output.\n"
// (or "... standard error.") on standard error when anything printed so far
// was lost (a full disk, an I/O error, a closed pipe whose SIGPIPE is
// ignored); returns when all of it was written.
void exitIfOutputLost();

#ifdef KESTREL_FUZZ
// Fuzz build only (fuzz/CMakeLists.txt defines KESTREL_FUZZ): the fuzz target
// runs many inputs in one process, so both exits throw this, with the exit
// status, back to the harness instead of ending the process.
struct RunEnded {
    int status;
};
#endif
