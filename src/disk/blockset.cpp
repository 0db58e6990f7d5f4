// Sets of blocks.
#include "disk/blockset.h"

int blockIndex(int track, int sector) {
    if (track < 1 || track > kMaxTrack || sector < 0 || sector >= sectorsPerTrack(track)) return -1;
    return blockOffset(track, sector) / kBlockSize;
}

bool blockSetHas(const BlockSet &set, int track, int sector) {
    int index = blockIndex(track, sector);
    return index >= 0 && (set.bits[index / 64] >> (index % 64) & 1);
}

void blockSetAdd(BlockSet &set, int track, int sector) {
    int index = blockIndex(track, sector);
    if (index >= 0) set.bits[index / 64] |= uint64_t{1} << (index % 64);
}
