// The usage text (banner, usage line, help text), which the error exit in
// base/ prints through the printer that runKestrel registers, and the longer
// help of -h.
#pragma once

// Banner, empty line, usage line naming `programName`, help text: the text
// of an empty command line and of the error exit, which stays as it is.
void printUsage(const char *programName);

// -h and --help: the usage, then every option it leaves out, by group, in
// its style and within 80 columns.
void printHelp(const char *programName);

// The version line of --version: "kestrel 1.0" (KESTREL_VERSION, set by the
// build from the project's version).
void printVersion();
