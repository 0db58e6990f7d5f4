// Merging the directory of a second image into the first image's directory.
#pragma once

#include <string>

#include "disk/image.h"

// Appends copies of the second image's directory blocks to the first image's
// directory chain (found from 18/0), each in the next free block found by the
// linear search from the last one, and closes the chain with 0/255. Prints
// "Merging directories..", the walk and the trace lines. Ends with
// "ERROR: Disk full '<sourcePath>'!" (status 2) when no block is free, and
// with status 1 when the first image's chain loops or leaves the image; a
// second-image link to an absent block ends the copy there.
void mergeDirectories(const std::string &sourcePath, ImageBuffer &first, const ImageBuffer &second);
