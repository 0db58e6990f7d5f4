// Walks over block chains: the end of a chain, a file's size, block count,
// payload and CRC-32. Every walk is bounded and says why it stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/image.h"

enum class WalkStop {
    EndOfChain,   // a link track of 0
    OutOfRange,   // a measuring walk met a track outside 1..35
    AbsentBlock,  // the next block lies above track 40 or beyond the image
    Loop,         // kMaxBlocks blocks visited: the chain must be cyclic
};

// Where a chain ends, and why the walk stopped there.
struct LastBlock {
    TrackSector block;  // last block visited (the absent block for AbsentBlock)
    WalkStop stop;
};

// Follows every nonzero link from `start` and prints "Last Block of %2i/%2i: \n"
// before and "%2i/%2i\n" after. Stops early, with stop != EndOfChain, at an
// absent block or after kMaxBlocks blocks.
LastBlock findLastBlock(const ImageBuffer &image, TrackSector start);

// One block of a measuring walk: its payload (bytes from offset 2) and the
// length it adds to the byte size, which is -1 for a last block whose
// next-sector byte is 0 (it then contributes no bytes).
struct ChainBlock {
    const uint8_t *payload;
    int payloadBytes;  // bytes that exist: 0..254
    int sizeDelta;     // what the block adds to the byte size: -1..254
};

// Cursor of a measuring walk, started with startChainWalk.
struct ChainWalk {
    TrackSector current;
    int visited;
    bool finished;
    WalkStop stop;
};

ChainWalk startChainWalk(TrackSector start);

// The walk's next block, or false when it has ended (walk.stop says why).
// Only blocks on tracks 1..35 that lie inside the image are visited.
bool nextChainBlock(const ImageBuffer &image, ChainWalk &walk, ChainBlock &block);

// Payload size in bytes; 0 for a start outside 1..35.
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

// Standard CRC-32 (ISO-HDLC); passing a previous result continues it.
uint32_t computeCrc32(uint32_t crc, const uint8_t *bytes, uint64_t length);
