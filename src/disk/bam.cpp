// Block availability map and free-block searches.
#include "disk/bam.h"

#include <cassert>

#include "base/console.h"

namespace {

bool isMapTrack(int track) { return track >= 1 && track <= kMapTracks; }

// A block the searches may take: marked free, present in the image (a
// truncated image may mark blocks free that it does not hold) and not in use
// by the caller's account. A block in use that the map marks free is noted.
bool isBlockTakeable(const ImageBuffer &image, int track, int sector, SearchSkips &skips) {
    if (!isBlockFree(image, track, sector) || !blockPresent(image, track, sector)) return false;
    if (!blockSetHas(skips.inUse, track, sector)) return true;
    blockSetAdd(skips.passedOver, track, sector);
    return false;
}

const uint8_t *mapBlock(const ImageBuffer &image) { return blockAt(image, kDirTrack, 0); }

}  // namespace

TrackMapEntry trackMapEntry(const ImageBuffer &image, int track) {
    const uint8_t *map = mapBlock(image);
    if (!map || !isMapTrack(track)) return {0, {0, 0, 0}};
    const uint8_t *entry = map + kMapEntryOffset * track;
    return {entry[0], {entry[1], entry[2], entry[3]}};
}

bool isBlockFree(const ImageBuffer &image, int track, int sector) {
    if (sector < 0 || sector >= 24) return false;
    TrackMapEntry entry = trackMapEntry(image, track);
    return (entry.freeBits[sector / 8] >> (sector % 8)) & 1;
}

void setBlockFree(ImageBuffer &image, int track, int sector, int flag) {
    consolePrintf("setBlockFree %i/%i %i\n", track, sector, flag);
    setBlockBit(image, track, sector, flag != 0);
}

void setBlockBit(ImageBuffer &image, int track, int sector, bool free) {
    uint8_t *map = blockAt(image, kDirTrack, 0);
    assert(map && isMapTrack(track) && sector >= 0 && sector < sectorsPerTrack(track));
    if (!map || !isMapTrack(track) || sector < 0 || sector >= 24) return;
    uint8_t *entry = map + kMapEntryOffset * track;
    uint8_t &bits = entry[1 + sector / 8];
    uint8_t mask = static_cast<uint8_t>(1u << (sector % 8));
    if (((bits & mask) != 0) == free) return;
    bits = free ? (bits | mask) : (bits & ~mask);
    if (free && entry[0] < 255) ++entry[0];
    if (!free && entry[0] > 0) --entry[0];
}

bool findFreeBlock(const ImageBuffer &image, int track, int sector, SearchSkips &skips, TrackSector &found) {
    if (!isMapTrack(track)) {
        track = 1;
        sector = 0;
    }
    for (int t = track; t <= kMapTracks; ++t) {
        for (int s = t == track ? sector : 0; s < sectorsPerTrack(t); ++s) {
            if (s >= 0 && isBlockTakeable(image, t, s, skips)) {
                found = {t, s};
                return true;
            }
        }
    }
    return false;
}

bool findFreeBlockInterleaved(const ImageBuffer &image, int track, int sector, int interleave, SearchSkips &skips,
                              TrackSector &found, int tracks) {
    bool startOver = !isMapTrack(track);
    if (startOver) track = 1;
    for (int pass = 0; pass < tracks && pass < kMapTracks; ++pass) {
        int t = track + pass;
        if (t > kMapTracks) t -= kMapTracks;
        int n = sectorsPerTrack(t);
        int base = pass == 0 && !startOver ? (sector + interleave) % n : 0;
        if (base < 0) base += n;
        for (int j = 0; j < n; ++j) {
            int s = (base + j) % n;
            if (isBlockTakeable(image, t, s, skips)) {
                found = {t, s};
                return true;
            }
        }
    }
    return false;
}

int blocksFree(const ImageBuffer &image) {
    int sum = 0;
    for (int track = 1; track <= kMapTracks; ++track)
        if (track != kDirTrack) sum += trackMapEntry(image, track).freeCount;
    return sum;
}
