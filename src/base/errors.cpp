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
#ifdef KESTREL_FUZZ
    throw RunEnded{static_cast<signed char>(status) & 0xFF};
#else
    std::exit(static_cast<signed char>(status) & 0xFF);
#endif
}

void exitWithFileError(const char *format, ...) {
    va_list args;
    va_start(args, format);
    consoleVprintf(format, args);
    va_end(args);
    consoleFlush();
#ifdef KESTREL_FUZZ
    throw RunEnded{1};
#else
    std::exit(1);
#endif
}
