// Shared by the DEL append and the merge: what growing a directory must know
// (the blocks in use by the directory's account), the directory's last block
// or an error exit when the chain must not be extended, and the warnings of
// the free-block searches.
#pragma once

#include <string>

#include "disk/bam.h"
#include "disk/inuse.h"

// What the growth of one image's directory knows and has said.
struct DirectoryGrowth {
    std::string path;     // the image's name as messages on standard error show it
    BlocksInUse inUse;    // taken from the image before anything grows
    SearchSkips skips;    // for the searches: every block of inUse
    bool warnedOffTrack;  // the warning about a block off track 18 is out
};

// The account of the image named `path`, before its directory grows.
DirectoryGrowth startGrowth(const ImageBuffer &image, const std::string &path);

// findLastBlock from `start`. Ends the program with status 1 and a message
// naming growth.path when the chain loops, reaches an absent block or a
// sector beyond its track, or runs into a block that a listed file uses or
// into block 18/0 (as its start only, for the merge, 18/0 is the anchor).
TrackSector requireDirectoryEnd(const ImageBuffer &image, TrackSector start, const DirectoryGrowth &growth);

// The warnings of one search, on standard error: a line for each block it
// passed over although the map marks it free, and, once per growth, a line
// when the block it found (nullptr: none) lies off track 18.
void warnAfterSearch(DirectoryGrowth &growth, const TrackSector *found);
