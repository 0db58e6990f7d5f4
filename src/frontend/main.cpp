// kestrel: view and edit D64 disk images.
#include <cstdlib>

#include "frontend/run.h"

int main(int argc, char **argv) { return runKestrel(argc, argv); }
