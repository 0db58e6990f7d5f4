// Block availability map of every family and free-block searches.
#include "disk/bam.h"

#include <cassert>

#include "base/console.h"
#include "disk/entrychains.h"

namespace {

// Where one track's entry lies: the count byte and the first bitmap byte
// (they lie in different blocks on side 2 of a D71), and the bitmap bytes.
struct MapPlace {
    uint8_t *count;
    uint8_t *bits;
    int bitBytes;
};

// Side-2 counts of a D71 in 18/0, and the D81 map's layout.
constexpr int kD71CountsOffset = 0xDD;
constexpr int kD81EntriesOffset = 0x10;
constexpr int kD81EntrySize = 6;
constexpr int kD81TracksPerBlock = 40;

MapPlace mapPlace(const ImageBuffer &image, int track) {
    if (!isMapTrack(image, track)) return {nullptr, nullptr, 0};
    // One finder serves the readers and the writers of the map; only
    // setBlockBit and setTrackMapEntry write through what it finds.
    ImageBuffer &bytes = const_cast<ImageBuffer &>(image);
    const DiskShape &shape = image.shape;
    int system = shape.systemTrack;
    switch (shape.family->map) {
        case MapLayout::D81: {
            int block = 1 + (track - 1) / kD81TracksPerBlock;
            uint8_t *map = blockAt(bytes, system, block);
            if (!map) return {nullptr, nullptr, 0};
            uint8_t *entry = map + kD81EntriesOffset + kD81EntrySize * ((track - 1) % kD81TracksPerBlock);
            return {entry, entry + 1, 5};
        }
        case MapLayout::D71: {
            int side = shape.family->sideTracks;
            if (track <= side) break;
            uint8_t *header = blockAt(bytes, system, 0);
            uint8_t *side2 = blockAt(bytes, system + side, 0);
            if (!header || !side2) return {nullptr, nullptr, 0};
            return {header + kD71CountsOffset + (track - side - 1), side2 + 3 * (track - side - 1), 3};
        }
        case MapLayout::D64: break;
    }
    uint8_t *map = blockAt(bytes, system, 0);
    if (!map) return {nullptr, nullptr, 0};
    return {map + 4 * track, map + 4 * track + 1, 3};
}

// A block the searches may take: marked free, present in the image (a
// truncated image may mark blocks free that it does not hold) and not in use
// by the caller's account. A block in use that the map marks free is noted.
bool isBlockTakeable(const ImageBuffer &image, int track, int sector, SearchSkips &skips) {
    if (!isBlockFree(image, track, sector) || !blockPresent(image, track, sector)) return false;
    if (!blockSetHas(skips.inUse, track, sector)) return true;
    blockSetAdd(skips.passedOver, track, sector);
    return false;
}

}  // namespace

bool isMapTrack(const ImageBuffer &image, int track) { return track >= 1 && track <= mapTracks(image.shape); }

TrackMapEntry trackMapEntry(const ImageBuffer &image, int track) {
    MapPlace place = mapPlace(image, track);
    if (!place.count) return {0, 0};
    uint64_t bits = 0;
    for (int i = 0; i < place.bitBytes; ++i) bits |= uint64_t{place.bits[i]} << (8 * i);
    return {*place.count, bits};
}

bool isBlockFree(const ImageBuffer &image, int track, int sector) {
    if (sector < 0 || sector >= kMostSectors) return false;
    return trackMapEntry(image, track).freeBits >> sector & 1;
}

void setBlockFree(ImageBuffer &image, int track, int sector, int flag) {
    consolePrintf("setBlockFree %i/%i %i\n", track, sector, flag);
    setBlockBit(image, track, sector, flag != 0);
}

void setBlockBit(ImageBuffer &image, int track, int sector, bool free) {
    MapPlace place = mapPlace(image, track);
    assert(isMapTrack(image, track) && sector >= 0 && sector < sectorsPerTrack(image.shape, track));
    if (!place.count || sector < 0 || sector >= 8 * place.bitBytes) return;
    uint8_t &bits = place.bits[sector / 8];
    uint8_t mask = static_cast<uint8_t>(1u << (sector % 8));
    if (((bits & mask) != 0) == free) return;
    bits = free ? (bits | mask) : (bits & ~mask);
    if (free && *place.count < 255) ++*place.count;
    if (!free && *place.count > 0) --*place.count;
}

void setTrackMapEntry(ImageBuffer &image, int track, TrackMapEntry entry) {
    MapPlace place = mapPlace(image, track);
    if (!place.count) return;
    *place.count = entry.freeCount;
    for (int i = 0; i < place.bitBytes; ++i) place.bits[i] = static_cast<uint8_t>(entry.freeBits >> (8 * i));
}

namespace {

constexpr int kFirstExtensionTrack = 36;
constexpr int kExtensionEntrySize = 4;

// The entry's 4 bytes: the count, then the bits of sectors 0-7, 8-15, 16-23.
const uint8_t *extensionEntryAt(const ImageBuffer &image, int offset, int track) {
    const uint8_t *header = headerBlock(image);
    if (!header || track < kFirstExtensionTrack || track > kExtendedD64Tracks) return nullptr;
    return header + offset + kExtensionEntrySize * (track - kFirstExtensionTrack);
}

}  // namespace

int malformedExtensionEntry(const ImageBuffer &image, int offset) {
    const uint8_t *header = headerBlock(image);
    if (!header || image.shape.family != &kFamilyD64 || image.shape.tracks < kExtendedD64Tracks) return -1;
    bool anySet = false;
    int malformed = 0;
    for (int track = kFirstExtensionTrack; track <= kExtendedD64Tracks; ++track) {
        const uint8_t *entry = header + offset + kExtensionEntrySize * (track - kFirstExtensionTrack);
        if (malformed == 0 && (entry[0] > 17 || entry[3] > 0x01)) malformed = track;
        anySet = anySet || entry[0] || entry[1] || entry[2] || entry[3];
    }
    return anySet ? malformed : -1;
}

int extensionMapOffset(const ImageBuffer &image) {
    if (malformedExtensionEntry(image, kSpeedDosMapOffset) == 0) return kSpeedDosMapOffset;
    TrackSector border;
    if (!geosBorderBlock(image, border) && malformedExtensionEntry(image, kDolphinDosMapOffset) == 0)
        return kDolphinDosMapOffset;
    return 0;
}

bool readExtensionEntry(const ImageBuffer &image, int offset, int track, TrackMapEntry &entry) {
    const uint8_t *bytes = extensionEntryAt(image, offset, track);
    if (!bytes) return false;
    entry = {bytes[0], uint64_t{bytes[1]} | uint64_t{bytes[2]} << 8 | uint64_t{bytes[3]} << 16};
    return true;
}

void writeExtensionEntry(ImageBuffer &image, int offset, int track, TrackMapEntry entry) {
    uint8_t *bytes = writableBytes(image, extensionEntryAt(image, offset, track));
    if (!bytes) return;
    bytes[0] = entry.freeCount;
    for (int i = 0; i < 3; ++i) bytes[1 + i] = static_cast<uint8_t>(entry.freeBits >> (8 * i));
}

bool findFreeBlock(const ImageBuffer &image, int track, int sector, SearchSkips &skips, TrackSector &found) {
    if (!isMapTrack(image, track)) {
        track = 1;
        sector = 0;
    }
    for (int t = track; t <= mapTracks(image.shape); ++t) {
        for (int s = t == track ? sector : 0; s < sectorsPerTrack(image.shape, t); ++s) {
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
    int last = mapTracks(image.shape);
    bool startOver = !isMapTrack(image, track);
    if (startOver) track = 1;
    for (int pass = 0; pass < tracks && pass < last; ++pass) {
        int t = track + pass;
        if (t > last) t -= last;
        int n = sectorsPerTrack(image.shape, t);
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
    const DiskShape &shape = image.shape;
    if (shape.family->map == MapLayout::D81) {
        const uint8_t *map = blockAt(image, shape.systemTrack, 1);
        if (!map || map[2] != 0x44 || map[3] != 0xBB) return 0;
    }
    int sum = 0;
    for (int track = 1; track <= mapTracks(shape); ++track)
        if (track != shape.systemTrack) sum += trackMapEntry(image, track).freeCount;
    return sum;
}
