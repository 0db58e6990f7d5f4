// The run order: parse, load, act, write.
#pragma once

// Runs kestrel on a command line and returns the exit status of a normal end
// (0); every failure ends the process through exitWithError or a file error.
int runKestrel(int argc, char **argv);
