// Appending an empty DEL entry to the last directory block.
#pragma once

#include <string>

#include "disk/image.h"

// Writes a DEL entry (type 0x80, name all 0xA0) into the first slot with type
// byte 0 of the directory's last block, found from 18/1; when that block is
// full, links a new block from the interleaved search (interleave 3) and puts
// the entry there. The search never takes a block that the directory or a
// listed file uses (see disk/growth.h for the warnings). Prints the trace
// lines of the walks and changes. Ends with "ERROR: Disk full!" (status 2)
// when no block is free, and with status 1, naming `path`, when the chain
// must not be extended (requireDirectoryEnd); the image is then unchanged.
void appendDelEntry(ImageBuffer &image, const std::string &path);

// The same, reporting instead of ending the program: "" when the entry was
// added, else the message ("ERROR: Disk full!" with diskFull set, or why the
// chain must not be extended) and the image unchanged.
std::string appendDelLine(ImageBuffer &image, const std::string &path, bool &diskFull);
