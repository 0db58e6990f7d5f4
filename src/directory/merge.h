// Merging the directory of a second image into the first image's directory.
#pragma once

#include <string>

#include "disk/image.h"

// Appends copies of the second image's directory blocks to the first image's
// directory chain (found from 18/0), each in the next free block found by the
// linear search from the last one (never a block that the first image's
// directory or a listed file uses), and closes the chain with 0/255. Prints
// "Merging directories..", the walk and the trace lines. Ends with
// "ERROR: Disk full '<sourcePath>'!" (status 2) when no block is free; with
// status 1 when the first image's chain must not be extended
// (requireDirectoryEnd), or when the second image's chain loops (naming
// `secondPath`), before anything is copied. A second-image link to an absent
// block ends the copy there.
void mergeDirectories(const std::string &sourcePath, const std::string &secondPath, ImageBuffer &first,
                      const ImageBuffer &second);
