// Error exits.
#include "base/errors.h"

#include <cstdarg>
#include <cstdlib>

#include "base/console.h"

namespace {

UsagePrinter usagePrinter = nullptr;

}  // namespace

void registerUsagePrinter(UsagePrinter printer) { usagePrinter = printer; }

void exitWithError(int status, const char *format, ...) {
    va_list args;
    va_start(args, format);
    consoleVerrorf(format, args);
    va_end(args);
    consolePrintf("\n\n");
    if (usagePrinter) usagePrinter("kestrel");
    consoleFlush();
    std::exit(static_cast<signed char>(status) & 0xFF);
}

void exitWithFileError(const char *format, ...) {
    va_list args;
    va_start(args, format);
    consoleVprintf(format, args);
    va_end(args);
    consoleFlush();
    std::exit(1);
}

void exitIfOutputLost() {
    const char *lost = consoleLostStream();
    if (!lost) return;
    consoleErrorf("ERROR: Could not write to %s.\n", lost);
    std::exit(1);
}
