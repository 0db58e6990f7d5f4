// Sets of blocks and the layout order.
#include "disk/blockset.h"

namespace {

// The block's slot in a set, or -1.
int slotOf(int track, int sector) {
    if (track < 1 || track > kMostTracks || sector < 0 || sector >= kMostSectors) return -1;
    return (track - 1) * kMostSectors + sector;
}

}  // namespace

TrackSector heldBlock(const DiskShape &shape, int track, int sector) {
    track &= 0xFF;
    if (track < 1 || track > highestTrack(shape)) return {0, 0};
    return blockOfIndex(shape, blockOffset(shape, track, sector) / kBlockSize);
}

TrackSector blockOfIndex(const DiskShape &shape, int index) {
    for (int track = 1; track <= highestTrack(shape) && index >= 0; ++track) {
        if (index < sectorsPerTrack(shape, track)) return {track, index};
        index -= sectorsPerTrack(shape, track);
    }
    return {0, 0};
}

bool blockSetHas(const BlockSet &set, int track, int sector) {
    int slot = slotOf(track, sector);
    return slot >= 0 && (set.bits[slot / 64] >> (slot % 64) & 1);
}

void blockSetAdd(BlockSet &set, int track, int sector) {
    int slot = slotOf(track, sector);
    if (slot >= 0) set.bits[slot / 64] |= uint64_t{1} << (slot % 64);
}

void blockSetAddAll(BlockSet &set, const BlockSet &more) {
    for (size_t i = 0; i < sizeof set.bits / sizeof set.bits[0]; ++i) set.bits[i] |= more.bits[i];
}

uint64_t blockSetTrackBits(const BlockSet &set, int track) {
    int first = slotOf(track, 0);
    if (first < 0) return 0;
    // The track's bits may run over into the next 64-bit word.
    uint64_t bits = set.bits[first / 64] >> (first % 64);
    if (first % 64 + kMostSectors > 64) bits |= set.bits[first / 64 + 1] << (64 - first % 64);
    return bits & ((uint64_t{1} << kMostSectors) - 1);
}

bool positionSetAddNew(PositionSet &set, const DiskShape &shape, TrackSector at) {
    int position = blockOffset(shape, at.track, at.sector) / kBlockSize;
    uint64_t bit = uint64_t{1} << (position % 64);
    if (set.bits[position / 64] & bit) return false;
    set.bits[position / 64] |= bit;
    return true;
}
