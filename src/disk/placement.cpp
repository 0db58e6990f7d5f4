// The drives' placement of a file's blocks.
#include "disk/placement.h"

#include <cassert>

namespace {

constexpr int kLastSystemSector = 2;  // a D81's second map block, 40/2

// True when the rules read the track's entry from a DOS extension's map of
// tracks 36-40 rather than from the family's map.
bool inExtensionMap(const ImageBuffer &image, const PlacementRules &rules, int track) {
    return rules.extensionOffset && !isMapTrack(image, track);
}

// The free bits of a track as the rules read them (none where a map block is absent).
uint64_t freeBitsOf(const ImageBuffer &image, const PlacementRules &rules, int track) {
    if (!inExtensionMap(image, rules, track)) return trackMapEntry(image, track).freeBits;
    TrackMapEntry entry{0, 0};
    readExtensionEntry(image, rules.extensionOffset, track, entry);
    return entry.freeBits;
}

// The placeable sectors of `track` as bits (bit s for sector s). `mapFull`,
// when given, is set when the map marks no sector of the track free.
uint64_t placeableSectors(const ImageBuffer &image, const PlacementRules &rules, SearchSkips &skips, int track,
                          bool *mapFull = nullptr) {
    const DiskShape &shape = image.shape;
    if (!isPlacementTrack(image, rules, track)) return 0;
    int count = sectorsPerTrack(shape, track);
    uint64_t free = freeBitsOf(image, rules, track) & ((uint64_t{1} << count) - 1);
    if (mapFull) *mapFull = !free;
    if (!free) return 0;  // a full track, as most are that a search passes over
    // Header and map blocks are sectors 0 to 2 of their tracks.
    for (int sector = 0; sector < count && sector < kLastSystemSector + 1; ++sector)
        if (isSystemBlock(shape, track, sector)) free &= ~(uint64_t{1} << sector);
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
    while (sector > count) {
        sector -= count;
        if (sector > 0) --sector;
    }
    int found = firstFrom(bits, sector);
    return found >= 0 ? found : firstFrom(bits, 0);
}

// The search of findNextFileBlock from `track`, each look `step` sectors on
// from `sector` (0 for a file's first block, which takes `sector` itself when it can).
bool searchOutwards(const ImageBuffer &image, const PlacementRules &rules, SearchSkips &skips, int track, int sector,
                    int step, TrackSector &found) {
    const DiskShape &shape = image.shape;
    int system = shape.systemTrack;
    int last = lastPlacementTrack(image, rules);
    // The drive gives up on its third crossing; by then every track has been
    // looked at, so a disk with room anywhere never gets that far.
    for (int crossings = 0; crossings < 3;) {
        int next = nextSectorOnTrack(placeableSectors(image, rules, skips, track), sectorsPerTrack(shape, track),
                                     sector, step);
        if (next >= 0) {
            found = {track, next};
            return true;
        }
        track += track < system ? -1 : 1;
        if (track < shape.areaFirst || track > last) {
            track = track > last ? system - 1 : rules.systemTrack ? system : system + 1;
            sector = 0;
            ++crossings;
        }
    }
    return false;
}

}  // namespace

PlacementRules drivePlacement(const DiskShape &shape) { return {shape.family->fileInterleave, false, 0}; }

int lastPlacementTrack(const ImageBuffer &image, const PlacementRules &rules) {
    return rules.extensionOffset ? kExtendedD64Tracks : image.shape.areaLast;
}

bool isPlacementTrack(const ImageBuffer &image, const PlacementRules &rules, int track) {
    const DiskShape &shape = image.shape;
    if (track < shape.areaFirst || track > lastPlacementTrack(image, rules)) return false;
    if (track == shape.systemTrack) return rules.systemTrack;
    return !isReservedTrack(shape, track);
}

bool findFileStart(const ImageBuffer &image, const PlacementRules &rules, SearchSkips &skips, FullTracks &full,
                   TrackSector &found) {
    int system = image.shape.systemTrack;
    // A track the map marks full gives nothing, and looking at it changes nothing.
    auto firstOn = [&](int track) {
        if (full[static_cast<size_t>(track)]) return -1;
        bool mapFull = false;
        int sector = firstFrom(placeableSectors(image, rules, skips, track, &mapFull), 0);
        full[static_cast<size_t>(track)] = mapFull;
        return sector;
    };
    for (int distance = 1; distance < kMostTracks; ++distance) {
        for (int track : {system - distance, system + distance}) {
            if (track > 0 && track <= kMostTracks && full[static_cast<size_t>(track)]) continue;
            if (!isPlacementTrack(image, rules, track)) continue;
            int sector = firstOn(track);
            if (sector < 0) continue;
            found = {track, sector};
            return true;
        }
    }
    // After every other track, the system track when the rules allow it.
    int sector = isPlacementTrack(image, rules, system) ? firstOn(system) : -1;
    if (sector < 0) return false;
    found = {system, sector};
    return true;
}

bool findFileStartAt(const ImageBuffer &image, const PlacementRules &rules, SearchSkips &skips, TrackSector start,
                     TrackSector &found) {
    assert(isPlacementTrack(image, rules, start.track));
    return searchOutwards(image, rules, skips, start.track, start.sector < 0 ? 0 : start.sector, 0, found);
}

bool findNextFileBlock(const ImageBuffer &image, const PlacementRules &rules, SearchSkips &skips,
                       TrackSector previous, TrackSector &found) {
    assert(isPlacementTrack(image, rules, previous.track));
    return searchOutwards(image, rules, skips, previous.track, previous.sector, rules.interleave, found);
}

void markPlacedBlock(ImageBuffer &image, const PlacementRules &rules, TrackSector block, bool free) {
    if (!inExtensionMap(image, rules, block.track)) {
        setBlockBit(image, block.track, block.sector, free);
        return;
    }
    TrackMapEntry entry{0, 0};
    if (!readExtensionEntry(image, rules.extensionOffset, block.track, entry)) return;
    uint64_t bit = uint64_t{1} << block.sector;
    if (((entry.freeBits & bit) != 0) == free) return;
    entry.freeBits = free ? entry.freeBits | bit : entry.freeBits & ~bit;
    if (free ? entry.freeCount < 255 : entry.freeCount > 0)
        entry.freeCount = static_cast<uint8_t>(free ? entry.freeCount + 1 : entry.freeCount - 1);
    writeExtensionEntry(image, rules.extensionOffset, block.track, entry);
}
