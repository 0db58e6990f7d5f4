// The 1541's placement of a file's blocks.
#include "disk/placement.h"

#include <cassert>


namespace {

// The placeable sectors of `track` as bits (bit s for sector s).
uint32_t placeableSectors(const ImageBuffer &image, SearchSkips &skips, int track) {
    if (track == kDirTrack) return 0;
    TrackMapEntry entry = trackMapEntry(image, track);
    int count = sectorsPerTrack(track);
    uint32_t free = (entry.freeBits[0] | entry.freeBits[1] << 8 | entry.freeBits[2] << 16) & ((1u << count) - 1);
    uint32_t inUse = free & blockSetTrackBits(skips.inUse, track);
    for (int sector = 0; inUse >> sector; ++sector)
        if (inUse >> sector & 1) blockSetAdd(skips.passedOver, track, sector);
    uint32_t bits = free & ~inUse;
    // A cut image may mark blocks free that it does not hold.
    if (!blockPresent(image, track, count - 1))
        for (int sector = 0; sector < count; ++sector)
            if (!blockPresent(image, track, sector)) bits &= ~(1u << sector);
    return bits;
}

// The lowest sector of `bits` at or above `sector`, or -1.
int firstFrom(uint32_t bits, int sector) {
    if (sector >= 32) return -1;
    bits &= ~0u << sector;
    return bits ? __builtin_ctz(bits) : -1;
}

// The drive's next sector on a track whose placeable sectors are `bits`: ten
// on from `sector`, wrapped round as the drive wraps it, then the first
// placeable one from there (or from 0); -1 when the track has none.
int nextSectorOnTrack(uint32_t bits, int count, int sector) {
    if (!bits) return -1;
    sector += kFileInterleave;
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
    for (int distance = 1; distance < kMapTracks; ++distance) {
        for (int track : {kDirTrack - distance, kDirTrack + distance}) {
            if (track < 1 || track > kMapTracks) continue;
            int sector = firstFrom(placeableSectors(image, skips, track), 0);
            if (sector < 0) continue;
            found = {track, sector};
            return true;
        }
    }
    return false;
}

bool findNextFileBlock(const ImageBuffer &image, SearchSkips &skips, TrackSector previous, TrackSector &found) {
    assert(previous.track >= 1 && previous.track <= kMapTracks && previous.track != kDirTrack);
    int track = previous.track;
    int sector = previous.sector;
    // The drive gives up on its third crossing; by then every track has been
    // looked at, so a disk with room anywhere never gets that far.
    for (int crossings = 0; crossings < 3;) {
        int next = nextSectorOnTrack(placeableSectors(image, skips, track), sectorsPerTrack(track), sector);
        if (next >= 0) {
            found = {track, next};
            return true;
        }
        track += track < kDirTrack ? -1 : 1;
        if (track < 1 || track > kMapTracks) {
            track = track < 1 ? kDirTrack + 1 : kDirTrack - 1;
            sector = 0;
            ++crossings;
        }
    }
    return false;
}
