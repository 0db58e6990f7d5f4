// Sets of blocks.
#include "disk/blockset.h"

int blockIndex(int track, int sector) {
    if (track < 1 || track > kMaxTrack || sector < 0 || sector >= sectorsPerTrack(track)) return -1;
    return blockOffset(track, sector) / kBlockSize;
}

TrackSector heldBlock(int track, int sector) {
    track &= 0xFF;
    if (track < 1 || track > kMaxTrack) return {0, 0};
    return blockOfIndex(blockOffset(track, sector) / kBlockSize);
}

TrackSector blockOfIndex(int index) {
    for (int track = 1; track <= kMaxTrack && index >= 0; ++track) {
        if (index < sectorsPerTrack(track)) return {track, index};
        index -= sectorsPerTrack(track);
    }
    return {0, 0};
}

bool blockSetHas(const BlockSet &set, int track, int sector) {
    int index = blockIndex(track, sector);
    return index >= 0 && (set.bits[index / 64] >> (index % 64) & 1);
}

void blockSetAdd(BlockSet &set, int track, int sector) {
    int index = blockIndex(track, sector);
    if (index >= 0) set.bits[index / 64] |= uint64_t{1} << (index % 64);
}

void blockSetAddAll(BlockSet &set, const BlockSet &more) {
    for (int i = 0; i < kMaxBlocks / 64; ++i) set.bits[i] |= more.bits[i];
}

uint32_t blockSetTrackBits(const BlockSet &set, int track) {
    int first = blockIndex(track, 0);
    if (first < 0) return 0;
    int count = sectorsPerTrack(track);
    // The track's bits may run over into the next 64-bit word.
    uint64_t bits = set.bits[first / 64] >> (first % 64);
    if (first % 64 + count > 64) bits |= set.bits[first / 64 + 1] << (64 - first % 64);
    return static_cast<uint32_t>(bits & ((uint64_t{1} << count) - 1));
}

bool positionSetAddNew(PositionSet &set, TrackSector at) {
    int position = blockOffset(at.track, at.sector) / kBlockSize;
    uint64_t bit = uint64_t{1} << (position % 64);
    if (set.bits[position / 64] & bit) return false;
    set.bits[position / 64] |= bit;
    return true;
}
