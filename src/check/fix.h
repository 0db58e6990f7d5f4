// The map repair (-fix): rebuilds the availability map from what the
// directory reaches, conservatively.
#pragma once

#include <string>

#include "disk/blockset.h"
#include "disk/image.h"

// Rebuilds the map entries of tracks 1-35 (and 36-40 where a 40-track image
// keeps them in a SpeedDOS or DolphinDOS extension) from `used`: a block in it
// is marked used, every other block free (or, when !freeUnused, left as it
// is), except that a track-18 block that nothing uses keeps its bit; bits of
// sectors a track does not have are cleared and the counts are set from the
// bits. Writes only entries that change, through no other call, and prints
// one line per changed track (counts before and after), then a summary line,
// each line "fix: " and `where` (a captured text: the partitions a
// sub-directory lies in, "" at the root) first.
// Precondition: the header block (18/0, 40/0) is present.
void rebuildMap(ImageBuffer &image, const BlockSet &used, bool freeUnused, const std::string &where);

// The repair: the blocks the account finds in use (18/0, the directory, every
// chain of every entry whose type byte is not 0, REL side sectors, GEOS info
// blocks, VLIR records, the GEOS border block and its entries), then
// rebuildMap. When the account found something that may hide blocks in use
// (a link it cannot follow, a GEOS structure byte other than 0 and 1, a REL
// file without side sectors, ...; fix.cpp lists them), it first prints one
// line naming the first such finding and frees no block. Never changes an
// entry, a link or a data byte. Then the same inside each partition of the
// directory that is a sub-directory, nested ones too, each area once (as
// -check goes into them), its lines naming the partitions first
// ("fix: partition "PART" (tracks 41-45): track 1: 1 -> 0 blocks free"); the
// image's shape is as it was afterwards. Precondition: the header block
// (18/0, 40/0) is present.
void fixMap(ImageBuffer &image);
