// Chain walks and CRC-32.
#include "disk/chain.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

void forgetMeasures(MeasureCache &cache) { std::memset(cache.known, 0, sizeof cache.known); }

ChainMeasure measureOnce(const ImageBuffer &image, TrackSector start, MeasureCache &cache) {
    int index = blockOffset(image.shape, start.track, start.sector) / kBlockSize;
    if (index >= kBlockPositions) return measureChain(image, start);
    if (!cache.known[index]) {
        cache.measure[index] = measureChain(image, start);
        cache.known[index] = true;
    }
    return cache.measure[index];
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

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KESTREL_CRC_FOLDING 1

#define KESTREL_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

KESTREL_FOLDING_TARGET inline __m128i load16(const uint8_t *at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// x folded onto `next`: its low half times k's low, its high half times k's high.
KESTREL_FOLDING_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// The CRC register carried over `length` bytes (a multiple of 16, at least 64)
// with carry-less multiplication, 64 bytes a step: the folding method of
// Gopal, Ozturk et al., "Fast CRC Computation for Generic Polynomials Using
// PCLMULQDQ Instruction" (Intel, 2009), with its constants for the
// bit-reflected polynomial 0x04C11DB7. The table method costs about three
// instructions a byte, and the JSON report sums every file of every image.
KESTREL_FOLDING_TARGET uint32_t foldCrc32(uint32_t crc, const uint8_t *bytes, uint64_t length) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

    __m128i x1 = _mm_xor_si128(load16(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load16(bytes + 16), x3 = load16(bytes + 32), x4 = load16(bytes + 48);
    bytes += 64;
    length -= 64;
    for (; length >= 64; bytes += 64, length -= 64) {
        x1 = fold(x1, k1k2, load16(bytes));
        x2 = fold(x2, k1k2, load16(bytes + 16));
        x3 = fold(x3, k1k2, load16(bytes + 32));
        x4 = fold(x4, k1k2, load16(bytes + 48));
    }
    x1 = fold(fold(fold(x1, k3k4, x2), k3k4, x3), k3k4, x4);
    for (; length >= 16; bytes += 16, length -= 16) x1 = fold(x1, k3k4, load16(bytes));

    // 128 bits to 64, then the Barrett reduction to 32.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5k0, 0x00), _mm_srli_si128(x1, 4));
    __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    __m128i product = _mm_clmulepi64_si128(_mm_and_si128(quotient, low32), poly, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, product), 1));
}
#endif

}  // namespace

uint32_t computeCrc32(uint32_t crc, const uint8_t *bytes, uint64_t length) {
    if (!crcTableBuilt) buildCrcTable();
    const uint32_t (*table)[256] = crcTables;
    crc = ~crc;
    uint64_t i = 0;
#ifdef KESTREL_CRC_FOLDING
    if (length >= 64 && __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1")) {
        i = length & ~static_cast<uint64_t>(15);
        crc = foldCrc32(crc, bytes, i);
    }
#endif
    for (; i + 8 <= length; i += 8) {
        const uint8_t *b = bytes + i;
        uint32_t low = crc ^ (b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
        crc = table[7][low & 0xFF] ^ table[6][(low >> 8) & 0xFF] ^ table[5][(low >> 16) & 0xFF] ^
              table[4][low >> 24] ^ table[3][b[4]] ^ table[2][b[5]] ^ table[1][b[6]] ^ table[0][b[7]];
    }
    for (; i < length; ++i) crc = (crc >> 8) ^ table[0][(crc ^ bytes[i]) & 0xFF];
    return ~crc;
}
