// A set of blocks of a 40-track image, one bit per block in layout order, for
// the walks that must know which blocks something uses (the edits that take a
// free block, the check and repair). Plain data: copy it, compare it, clear it
// with `BlockSet{}`.
#pragma once

#include <cstdint>

#include "disk/image.h"

struct BlockSet {
    uint64_t bits[kMaxBlocks / 64];
};

// The block's position in layout order (0 for 1/0 ... 767 for 40/16), or -1
// when the track is not 1..40 or the sector lies beyond the track's count.
int blockIndex(int track, int sector);

// The block at a position in layout order (the inverse of blockIndex); {0, 0}
// for a position outside 0..767.
TrackSector blockOfIndex(int index);

// The block whose bytes an address reaches by the layout arithmetic of
// blockAt, which lets a sector run on into the next track (17/25 reaches
// 18/4); {0, 0} when it reaches none (a track outside 1..40 by its low 8
// bits, or an offset past 40/16).
TrackSector heldBlock(int track, int sector);

// Membership and insertion; a block without an index is never a member and is
// not added.
bool blockSetHas(const BlockSet &set, int track, int sector);
void blockSetAdd(BlockSet &set, int track, int sector);

// Adds every member of `more` to `set`.
void blockSetAddAll(BlockSet &set, const BlockSet &more);

// The members among the sectors of `track` (1..40) as bits, bit s for sector
// s; 0 for any other track.
uint32_t blockSetTrackBits(const BlockSet &set, int track);

// The block positions (blockOffset / 256) a walk has met, for walks that must
// see a block again also where a sector byte beyond its track's count names
// it (such addresses have no blockIndex). Clear it with `PositionSet{}`.
struct PositionSet {
    uint64_t bits[kBlockPositions / 64];
};

// Records the position of `at`; false when it was recorded before.
bool positionSetAddNew(PositionSet &set, TrackSector at);
