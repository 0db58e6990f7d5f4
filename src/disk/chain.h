// Walks over block chains: the end of a chain, a file's size, block count,
// payload and CRC-32. Every walk is bounded and says why it stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/image.h"
#include "disk/walk.h"

// Where a chain ends, and why the walk stopped there.
struct LastBlock {
    TrackSector block;  // last block visited (where the walk stopped, unless EndOfChain)
    WalkStop stop;
};

// Follows every nonzero link from `start` that the image holds, by the rules
// of the edits (kEditRules), and prints "Last Block of %2i/%2i: \n" before and
// "%2i/%2i\n" after. Stops early, with stop != EndOfChain, at an absent block,
// at a sector beyond its track's count (OutOfRange) or after walkBound
// blocks; the block printed and returned is then the link it stopped at.
LastBlock findLastBlock(const ImageBuffer &image, TrackSector start);

// The same walk without the two lines.
LastBlock lastBlockOf(const ImageBuffer &image, TrackSector start);

// The rules of the walks that measure a file: tracks 1 to the image's
// highest track (40 on a D64), wherever the image holds the block. A 35-track
// D64 has no track 36, so a link there ends the walk as an absent block; a
// 40-track image is measured whole.
constexpr WalkRules kMeasureRules{kImageTracks, false};

// Payload bytes of a block the walk just yielded (0..254), and what it adds to
// a file's byte size (-1..254: a last block whose used-byte index is 0 adds -1).
int blockPayloadBytes(const BlockWalk &walk);
int blockSizeDelta(const BlockWalk &walk);

// Payload size in bytes; 0 for a start outside 1..40 or beyond the image.
int chainByteSize(const ImageBuffer &image, TrackSector start);

// Number of blocks walked.
int chainBlockCount(const ImageBuffer &image, TrackSector start);

// Appends the chain's payload to `destination`; returns the bytes appended.
int readChain(const ImageBuffer &image, TrackSector start, std::vector<uint8_t> &destination);

// CRC-32 of the payload, fed block by block.
uint32_t chainChecksum(const ImageBuffer &image, TrackSector start);

// The three figures of one measuring walk, taken together.
struct ChainMeasure {
    int bytes;
    int blocks;
    uint32_t checksum;
};
ChainMeasure measureChain(const ImageBuffer &image, TrackSector start);

// Measurements of the chains met so far in one directory walk, by the start
// block's position in the image: a damaged directory may name the same chain
// many times (a looping directory names it thousands of times). Whoever edits
// the image during the walk clears it, since an edited byte may lie inside a
// measured chain.
struct MeasureCache {
    ChainMeasure measure[kBlockPositions];
    bool known[kBlockPositions];
};

// Empties the cache.
void forgetMeasures(MeasureCache &cache);

// measureChain(image, start), taken from the cache when that start block was
// measured before.
ChainMeasure measureOnce(const ImageBuffer &image, TrackSector start, MeasureCache &cache);

// Standard CRC-32 (ISO-HDLC); passing a previous result continues it.
uint32_t computeCrc32(uint32_t crc, const uint8_t *bytes, uint64_t length);
