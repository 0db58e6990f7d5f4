// Chain walks and CRC-32.
#include "disk/chain.h"

#include "base/console.h"

LastBlock findLastBlock(const ImageBuffer &image, TrackSector start) {
    consolePrintf("Last Block of %2i/%2i: \n", start.track, start.sector);
    LastBlock result = lastBlockOf(image, start);
    consolePrintf("%2i/%2i\n", result.block.track, result.block.sector);
    return result;
}

LastBlock lastBlockOf(const ImageBuffer &image, TrackSector start) {
    BlockWalk walk = startWalk(start, kEditRules);
    while (walkNext(image, walk)) {}
    // A walk that yielded nothing ends where it started.
    LastBlock result{walk.visited == 0 ? start : walk.at, walk.stop};
    if (walk.stop != WalkStop::EndOfChain) result.block = walk.next;
    return result;
}

int blockSizeDelta(const BlockWalk &walk) { return walk.next.track != 0 ? kBlockSize - 2 : walk.next.sector - 1; }

int blockPayloadBytes(const BlockWalk &walk) {
    int delta = blockSizeDelta(walk);
    return delta < 0 ? 0 : delta;
}

int chainByteSize(const ImageBuffer &image, TrackSector start) { return measureChain(image, start).bytes; }

int chainBlockCount(const ImageBuffer &image, TrackSector start) { return measureChain(image, start).blocks; }

int readChain(const ImageBuffer &image, TrackSector start, std::vector<uint8_t> &destination) {
    BlockWalk walk = startWalk(start, kMeasureRules);
    int copied = 0;
    while (const uint8_t *block = walkNext(image, walk)) {
        int count = blockPayloadBytes(walk);
        destination.insert(destination.end(), block + 2, block + 2 + count);
        copied += count;
    }
    return copied;
}

uint32_t chainChecksum(const ImageBuffer &image, TrackSector start) { return measureChain(image, start).checksum; }

ChainMeasure measureChain(const ImageBuffer &image, TrackSector start) {
    BlockWalk walk = startWalk(start, kMeasureRules);
    ChainMeasure measure{0, 0, 0};
    while (const uint8_t *block = walkNext(image, walk)) {
        measure.bytes += blockSizeDelta(walk);
        measure.checksum = computeCrc32(measure.checksum, block + 2, blockPayloadBytes(walk));
    }
    measure.blocks = walk.visited;
    return measure;
}

namespace {

// crcTables[k][b] is the CRC register after byte b and then k zero bytes, so
// that eight bytes fold in with eight independent look-ups (slicing by eight).
uint32_t crcTables[8][256];
bool crcTableBuilt = false;

void buildCrcTable() {
    for (uint32_t index = 0; index < 256; ++index) {
        uint32_t value = index;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        crcTables[0][index] = value;
    }
    for (int slice = 1; slice < 8; ++slice)
        for (int index = 0; index < 256; ++index) {
            uint32_t previous = crcTables[slice - 1][index];
            crcTables[slice][index] = (previous >> 8) ^ crcTables[0][previous & 0xFF];
        }
    crcTableBuilt = true;
}

}  // namespace

uint32_t computeCrc32(uint32_t crc, const uint8_t *bytes, uint64_t length) {
    if (!crcTableBuilt) buildCrcTable();
    const uint32_t (*table)[256] = crcTables;
    crc = ~crc;
    uint64_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const uint8_t *b = bytes + i;
        uint32_t low = crc ^ (b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
        crc = table[7][low & 0xFF] ^ table[6][(low >> 8) & 0xFF] ^ table[5][(low >> 16) & 0xFF] ^
              table[4][low >> 24] ^ table[3][b[4]] ^ table[2][b[5]] ^ table[1][b[6]] ^ table[0][b[7]];
    }
    for (; i < length; ++i) crc = (crc >> 8) ^ table[0][(crc ^ bytes[i]) & 0xFF];
    return ~crc;
}
