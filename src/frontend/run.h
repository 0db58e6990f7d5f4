// The run order: parse, load, act, write.
#pragma once

// Runs kestrel on a command line and returns the exit status of a normal end
// (0, or 3 when -check found errors on the disk); every failure ends the
// process through an error exit (base/errors.h) or a file error.
int runKestrel(int argc, char **argv);
