// Sets of blocks.
#include "disk/blockset.h"

int blockIndex(int track, int sector) {
    if (track < 1 || track > kMaxTrack || sector < 0 || sector >= sectorsPerTrack(track)) return -1;
    return blockOffset(track, sector) / kBlockSize;
}

TrackSector heldBlock(int track, int sector) {
    track &= 0xFF;
    if (track < 1 || track > kMaxTrack) return {0, 0};
    int index = blockOffset(track, sector) / kBlockSize;
    for (int t = 1; t <= kMaxTrack; ++t) {
        if (index < sectorsPerTrack(t)) return {t, index};
        index -= sectorsPerTrack(t);
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
