// A set of blocks of any family, one bit per block slot (track - 1) * 40 +
// sector, for the walks that must know which blocks something uses (the
// edits that take a free block, the check and repair). The slots do not
// depend on the image's shape, so a set needs none: plain data, copy it,
// compare it, clear it with `BlockSet{}`. Also the layout order of an
// image's blocks (error bytes and per-block tables follow it).
#pragma once

#include <cassert>
#include <cstdint>

#include "disk/image.h"

struct BlockSet {
    uint64_t bits[(kMostBlocks + 63) / 64];
};

// The block's position in the image's layout order (0 for 1/0 ... the last
// block), or -1 when the track is not 1 to the image's tracks or the sector
// lies beyond the track's count.
inline int blockIndex(const DiskShape &shape, int track, int sector) {
    if (track < 1 || track > highestTrack(shape) || sector < 0 || sector >= sectorsPerTrack(shape, track)) return -1;
    return shape.family->trackTable->start[track] + sector;
}

// blockIndex of a block known to be real (a walk with realSectorsOnly and a
// track limit at most highestTrack yielded it): the table lookup alone.
inline int realBlockIndex(const DiskShape &shape, TrackSector block) {
    assert(blockIndex(shape, block.track, block.sector) >= 0);
    return shape.family->trackTable->start[block.track] + block.sector;
}

// The block at a position in layout order (the inverse of blockIndex); {0, 0}
// for a position outside the image's blocks.
TrackSector blockOfIndex(const DiskShape &shape, int index);

// The block whose bytes an address reaches by the layout arithmetic of
// blockAt, which lets a sector run on into the next track (17/25 reaches
// 18/4 on a D64); {0, 0} when it reaches none (a track outside 1..highestTrack
// by its low 8 bits, or an offset past the last block).
TrackSector heldBlock(const DiskShape &shape, int track, int sector);

// Membership and insertion; a block outside tracks 1..83 or sectors 0..39 is
// never a member and is not added.
bool blockSetHas(const BlockSet &set, int track, int sector);
void blockSetAdd(BlockSet &set, int track, int sector);

// Adds every member of `more` to `set`.
void blockSetAddAll(BlockSet &set, const BlockSet &more);

// The members among the sectors of `track` (1..83) as bits, bit s for sector
// s; 0 for any other track.
uint64_t blockSetTrackBits(const BlockSet &set, int track);

// The block positions (blockOffset / 256) a walk has met, for walks that must
// see a block again also where a sector byte beyond its track's count names
// it (such addresses have no blockIndex). Clear it with `PositionSet{}`.
struct PositionSet {
    uint64_t bits[kBlockPositions / 64];
};

// Records the position of `at` on this shape; false when it was recorded before.
bool positionSetAddNew(PositionSet &set, const DiskShape &shape, TrackSector at);
