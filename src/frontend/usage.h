// The usage text: banner, usage line and help text. The error exit in base/
// prints it through the printer that runKestrel registers.
#pragma once

// Banner, empty line, usage line naming `programName`, help text.
void printUsage(const char *programName);

// The version line of --version: "kestrel 1.0".
void printVersion();
