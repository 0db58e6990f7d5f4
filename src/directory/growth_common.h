// Shared by the DEL append and the merge: the directory's last block, or an
// error exit when the chain cannot be extended.
#pragma once

#include <string>

#include "disk/chain.h"

// findLastBlock from `start`; ends the program with status 1 and a message
// naming `path` when the chain loops or reaches an absent block.
TrackSector requireDirectoryEnd(const ImageBuffer &image, TrackSector start, const std::string &path);
