// The drives' placement of a file's blocks.
#include "disk/placement.h"

#include <cassert>

namespace {

// The placeable sectors of `track` as bits (bit s for sector s).
uint64_t placeableSectors(const ImageBuffer &image, SearchSkips &skips, int track) {
    const DiskShape &shape = image.shape;
    if (isReservedTrack(shape, track) || track < shape.areaFirst || track > shape.areaLast) return 0;
    int count = sectorsPerTrack(shape, track);
    uint64_t free = trackMapEntry(image, track).freeBits & ((uint64_t{1} << count) - 1);
    if (!free) return 0;  // a full track, as most are that a search passes over
    uint64_t inUse = free & blockSetTrackBits(skips.inUse, track);
    for (int sector = 0; inUse >> sector; ++sector)
        if (inUse >> sector & 1) blockSetAdd(skips.passedOver, track, sector);
    uint64_t bits = free & ~inUse;
    // A cut image may mark blocks free that it does not hold.
    if (!blockPresent(image, track, count - 1))
        for (int sector = 0; sector < count; ++sector)
            if (!blockPresent(image, track, sector)) bits &= ~(uint64_t{1} << sector);
    return bits;
}

// The lowest sector of `bits` at or above `sector`, or -1.
int firstFrom(uint64_t bits, int sector) {
    if (sector >= 64) return -1;
    bits &= ~uint64_t{0} << sector;
    return bits ? __builtin_ctzll(bits) : -1;
}

// The drive's next sector on a track whose placeable sectors are `bits`: an
// interleave on from `sector`, wrapped round as the drive wraps it, then the
// first placeable one from there (or from 0); -1 when the track has none.
int nextSectorOnTrack(uint64_t bits, int count, int sector, int interleave) {
    if (!bits) return -1;
    sector += interleave;
    // The drive wraps only a sector beyond the count; one equal to it finds
    // nothing above and starts over at 0, as it does.
    if (sector > count) {
        sector -= count;
        if (sector > 0) --sector;
    }
    int found = firstFrom(bits, sector);
    return found >= 0 ? found : firstFrom(bits, 0);
}

}  // namespace

bool findFileStart(const ImageBuffer &image, SearchSkips &skips, TrackSector &found) {
    const DiskShape &shape = image.shape;
    int system = shape.systemTrack;
    for (int distance = 1; distance < kMostTracks; ++distance) {
        for (int track : {system - distance, system + distance}) {
            if (track < shape.areaFirst || track > shape.areaLast) continue;
            int sector = firstFrom(placeableSectors(image, skips, track), 0);
            if (sector < 0) continue;
            found = {track, sector};
            return true;
        }
    }
    return false;
}

bool findNextFileBlock(const ImageBuffer &image, SearchSkips &skips, TrackSector previous, TrackSector &found) {
    const DiskShape &shape = image.shape;
    int system = shape.systemTrack;
    assert(previous.track >= shape.areaFirst && previous.track <= shape.areaLast && previous.track != system);
    int track = previous.track;
    int sector = previous.sector;
    // The drive gives up on its third crossing; by then every track has been
    // looked at, so a disk with room anywhere never gets that far.
    for (int crossings = 0; crossings < 3;) {
        int next = nextSectorOnTrack(placeableSectors(image, skips, track), sectorsPerTrack(shape, track), sector,
                                     shape.family->fileInterleave);
        if (next >= 0) {
            found = {track, next};
            return true;
        }
        track += track < system ? -1 : 1;
        if (track < shape.areaFirst || track > shape.areaLast) {
            track = track < shape.areaFirst ? system + 1 : system - 1;
            sector = 0;
            ++crossings;
        }
    }
    return false;
}
