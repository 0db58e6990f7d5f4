// The block availability map of every family behind one interface (is free,
// set, a track's free count, blocks free), and the two free-block searches
// used to grow a directory. Where each family keeps its map:
//   D64: 18/0, 4 bytes a track (count, 3 bitmap bytes) at 4 * track, tracks 1-35;
//   D71: side 1 as a D64; side 2 (36-70) bitmaps in 53/0, 3 bytes a track at
//        3 * (track - 36), counts in 18/0 DD-FF; a single-sided D71 is side 1 only;
//   D81: 40/1 (tracks 1-40) and 40/2 (41-80), 6 bytes a track (count, 5 bitmap
//        bytes) from offset 10.
// Bit set = free; sector 0 is bit 0 of the first bitmap byte.
#pragma once

#include "disk/blockset.h"
#include "disk/image.h"

// A track's map entry: stored free count, then the free bits (bit s set =
// sector s free).
struct TrackMapEntry {
    uint8_t freeCount;
    uint64_t freeBits;
};

// Offsets of the disk name and id in the header block, by family.
inline int diskNameOffset(const ImageBuffer &image) { return image.shape.family->nameOffset; }
inline int diskIdOffset(const ImageBuffer &image) { return image.shape.family->idOffset; }

// True for a track the map covers: 1 to mapTracks.
bool isMapTrack(const ImageBuffer &image, int track);

// The map entry of a map track; {0, 0} when a block holding it is absent or
// the track is not a map track.
TrackMapEntry trackMapEntry(const ImageBuffer &image, int track);

// Blocks free as the drive shows them: the stored counts of the map tracks
// except the system track (on a D71 the side-2 counts as stored in 18/0
// DD-FF, track 53's included); 0 on a D81 whose 40/1 bytes 02-03 are not
// $44 $BB (the 1581 rejects that map) and when a map block is absent.
int blocksFree(const ImageBuffer &image);

// True when sector's bit of a map track is set. An absent map block shows
// every sector in use.
bool isBlockFree(const ImageBuffer &image, int track, int sector);

// Prints "setBlockFree T/S F\n", then setBlockBit with flag != 0: the edits
// that grow the directory trace every block they take.
void setBlockFree(ImageBuffer &image, int track, int sector, int flag);

// Sets (free) or clears the sector's bit and, when the bit changes, moves the
// track's stored free count by one the same way (held within 0..255), so that
// a consistent map stays consistent; a bit that already was as asked leaves
// the count alone. Prints nothing. Does nothing where the map block is absent.
// Precondition: a map track, sector below the track's count.
void setBlockBit(ImageBuffer &image, int track, int sector, bool free);

// Writes a whole track entry: the count and the bits of the track's sectors.
// Does nothing where the map block is absent or the track is not a map track.
void setTrackMapEntry(ImageBuffer &image, int track, TrackMapEntry entry);

// The map of tracks 36-40 that a 1541 DOS extension keeps at `offset` of the
// header block (kSpeedDosMapOffset, kDolphinDosMapOffset), in the layout of
// tracks 1-35: false (entry untouched) for another track or an absent header.
bool readExtensionEntry(const ImageBuffer &image, int offset, int track, TrackMapEntry &entry);
// Writes it where readExtensionEntry reads it; nothing where it reads none.
void writeExtensionEntry(ImageBuffer &image, int offset, int track, TrackMapEntry entry);

// Where a D64 of 40 tracks or more keeps its map of tracks 36-40: an area
// counts when each of its five entries is well formed (a count of at most
// 17, no bit for a sector above 16) and not all of its bytes are 0.
// SpeedDOS's (C0) is tried first; DolphinDOS's (AC) not on a GEOS disk, whose
// signature lies in the same bytes. 0 when there is none, on every other
// image (a cut 40-track one too) and when the header is absent.
int extensionMapOffset(const ImageBuffer &image);

// For the area at `offset` of a 40-track D64's header: the first track
// (36-40) whose entry is not well formed, 0 when all five are, -1 when all
// their bytes are 0 or the image is no D64 of 40 tracks or more.
int malformedExtensionEntry(const ImageBuffer &image, int offset);

// What a free-block search must never return, whatever the map says, and what
// it stepped over for that reason.
struct SearchSkips {
    BlockSet inUse;       // blocks in use (the caller's account of the disk)
    BlockSet passedOver;  // added to by the search: marked free, yet in inUse
};

// Linear search from (track, sector) upward to the last map track, never
// wrapping; a start track outside the map starts over at 1/0. Blocks in
// skips.inUse are passed over (and added to skips.passedOver when the map
// marks them free). Returns true and sets `found` on success; `found` is
// untouched otherwise.
bool findFreeBlock(const ImageBuffer &image, int track, int sector, SearchSkips &skips, TrackSector &found);

// `tracks` passes (at most one per map track) over the tracks from the start
// track, wrapping after the last map track; on the start track the sectors
// are tried circularly from (sector + interleave) mod n, on the others from 0.
// A start track outside the map starts over at track 1, sector 0. Same skips
// and result contract as findFreeBlock.
bool findFreeBlockInterleaved(const ImageBuffer &image, int track, int sector, int interleave, SearchSkips &skips,
                              TrackSector &found, int tracks = kMostTracks);
