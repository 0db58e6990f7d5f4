// Error exits.
#include "base/errors.h"

#include <cstdarg>
#include <cstdlib>

#include <string>

#include "base/console.h"
#include "base/options.h"

namespace {

UsagePrinter usagePrinter = nullptr;

// The one place a run ends early. The fuzz target runs many inputs in one
// process, so its build hands the status back to the harness instead.
[[noreturn]] void endRun(int status) {
#ifdef KESTREL_FUZZ
    throw RunEnded{status};
#else
    std::exit(status);
#endif
}

// Under -json standard output holds JSON lines alone: the two line ends and
// the usage go to standard error, after the message. The usage is program
// text only, so its capture is the text itself, but for the line end the
// capture drops.
void printUsageOnError() {
    if (!usagePrinter) return;
    std::string usage;
    consoleCaptureStart(usage);
    usagePrinter("kestrel");
    consoleCaptureStop();
    consoleErrorf("\n\n%s\n", usage.c_str());
}

}  // namespace

void registerUsagePrinter(UsagePrinter printer) { usagePrinter = printer; }

void exitWithError(int status, const char *format, ...) {
    consoleCaptureStop();  // the message and the usage are printed, never captured
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    consoleVerrorf(format, args);
    va_end(args);
    if (options.jsonReport) {
        printUsageOnError();
    } else {
        consolePrintf("\n\n");
        if (usagePrinter) usagePrinter("kestrel");
    }
    consoleFlush();
    // On a terminal the usage has scrolled the message away: show it again
    // below the usage, where the prompt follows on a line of its own; with
    // only standard error on the terminal the message is still in sight and
    // just gets its line end. A redirected standard error keeps the message
    // once, as it always had it. Under -json the usage went to standard error.
    if (consoleErrorIsTerminal()) {
        if (options.jsonReport || consoleOutputIsTerminal()) consoleVerrorf(format, again);
        consoleErrorf("\n");
    }
    va_end(again);
    endRun(static_cast<signed char>(status) & 0xFF);
}

void exitWithMessage(int status, const char *format, ...) {
    consoleCaptureStop();
    consoleFlush();
    va_list args;
    va_start(args, format);
    consoleVerrorf(format, args);
    va_end(args);
    consoleErrorf("\n");
    exitIfOutputLost();
    endRun(static_cast<signed char>(status) & 0xFF);
}

void exitWithFileError(const char *format, ...) {
    consoleCaptureStop();
    va_list args;
    va_start(args, format);
    consoleVprintf(format, args);
    va_end(args);
    // The message has no line end of its own; on a terminal the prompt would
    // follow on the same line.
    if (consoleOutputIsTerminal()) consolePrintf("\n");
    // A message that could not be written is named on standard error instead.
    exitIfOutputLost();
    endRun(1);
}

void exitIfOutputLost() {
    const char *lost = consoleLostStream();
    if (!lost) return;
    consoleErrorf("ERROR: Could not write to %s.\n", lost);
    endRun(1);
}
