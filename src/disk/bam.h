// The block availability map in block 18/0: per-track free counts and bits,
// and the two free-block searches used to grow a directory.
#pragma once

#include "disk/blockset.h"
#include "disk/image.h"

// The 4-byte map entry of one track: stored free count, then 24 free bits
// (bit s set = sector s free; byte 1 least significant).
struct TrackMapEntry {
    uint8_t freeCount;
    uint8_t freeBits[3];
};

// Byte offsets inside the map block.
constexpr int kMapEntryOffset = 4;      // entry of track t at 4 * t
constexpr int kDiskNameOffset = 144;    // 16 characters
constexpr int kDiskIdOffset = 162;      // 5 characters shown after the name

// The map entry of track 1..35; {0, {0,0,0}} when block 18/0 is absent.
TrackMapEntry trackMapEntry(const ImageBuffer &image, int track);

// Sum of the stored free counts of tracks 1..35 except 18 (the listing's
// "BLOCKS FREE" figure); 0 when block 18/0 is absent.
int blocksFree(const ImageBuffer &image);

// True when sector's bit of track (1..35) is set. An absent map block shows
// every sector in use.
bool isBlockFree(const ImageBuffer &image, int track, int sector);

// Prints "setBlockFree T/S F\n", then setBlockBit with flag != 0: the edits
// that grow the directory trace every block they take.
void setBlockFree(ImageBuffer &image, int track, int sector, int flag);

// Sets (free) or clears the sector's bit and, when the bit changes, moves the
// track's stored free count by one the same way (held within 0..255), so that
// a consistent map stays consistent; a bit that already was as asked leaves
// the count alone. Prints nothing. Precondition: track 1..35, sector below the track's count, map
// block present.
void setBlockBit(ImageBuffer &image, int track, int sector, bool free);

// What a free-block search must never return, whatever the map says, and what
// it stepped over for that reason.
struct SearchSkips {
    BlockSet inUse;       // blocks in use (the caller's account of the disk)
    BlockSet passedOver;  // added to by the search: marked free, yet in inUse
};

// Linear search from (track, sector) upward to track 35, never wrapping; a
// start track outside 1..35 starts over at 1/0. Blocks in skips.inUse are
// passed over (and added to skips.passedOver when the map marks them free).
// Returns true and sets `found` on success; `found` is untouched otherwise.
bool findFreeBlock(const ImageBuffer &image, int track, int sector, SearchSkips &skips, TrackSector &found);

// `tracks` passes (1..35) over the tracks from the start track, wrapping
// after 35; on the start track the sectors are tried circularly from
// (sector + interleave) mod n, on the others from 0. A start track outside
// 1..35 starts over at track 1, sector 0. Same skips and result contract as
// findFreeBlock.
bool findFreeBlockInterleaved(const ImageBuffer &image, int track, int sector, int interleave, SearchSkips &skips,
                              TrackSector &found, int tracks = kMapTracks);
