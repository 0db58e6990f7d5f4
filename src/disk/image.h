// Disk image model: the image buffer with its shape, bounds-aware block
// access and block links. Nothing here reads or writes files or prints errors.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "disk/family.h"

// Allocates like std::allocator but leaves bytes added by resize()
// uninitialised: an image is read over its whole length at once, so zeroing
// it first would only cost a pass over 175 KB on every run.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U> &) {}
    template <typename U>
    void construct(U *at) {
        ::new (static_cast<void *>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U *at, Args &&...args) {
        ::new (static_cast<void *>(at)) U(std::forward<Args>(args)...);
    }
};

using ImageBytes = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

struct GcrDisk;  // gcr/gcrdisk.h: the tracks of a G64 or G71 image

// What the gate keeps while an editor's edit runs: each block it hands out
// for writing, with the bytes the block held the first time, so that the
// edit's changes are found (and taken back) in the blocks it could have
// written, not by comparing the whole image.
struct BlockJournal {
    std::vector<int> positions;      // blocks kept (offset / 256), in the order first handed out
    std::vector<uint8_t> before;     // their bytes as they were then, 256 a block, in that order
    int16_t kept[kBlockPositions];   // index into positions by block position, -1 for a block not kept
};

// The whole image file as one flat byte array; its size is the length that
// was read. The shape is set once, when the file is loaded (shapeForSize and
// what the header confirms), and travels with the bytes. A G64 or G71 is
// loaded as its decoded blocks, `gcr` keeping the tracks they came from.
struct ImageBuffer {
    ImageBytes bytes;
    DiskShape shape;
    std::shared_ptr<const GcrDisk> gcr = nullptr;  // the GCR image the blocks were decoded from, or none
    // Called by blockAt before it hands out a block of `track`, when set: a
    // GCR image decodes each track the first time one of its blocks is asked
    // for, so that a listing reads the directory's track, not the disk.
    void (*readTrack)(const ImageBuffer &image, int track) = nullptr;
    // Set while an editor records an edit: every block handed out for
    // writing is kept there first (writableBytes).
    BlockJournal *journal = nullptr;
};

// One 256-byte block: track from 1, sector from 0.
struct TrackSector {
    int track;
    int sector;
};

// True when the image is cut short: a D64 of a size outside the family table
// below that of its expected form.
bool imageIsCut(const ImageBuffer &image);

// The leading bytes of an image that hold blocks: all of them, except the
// error bytes behind the blocks of the sizes that carry them (those are
// never a block: on a 175,531-byte image, 36/0 lies outside).
inline uint64_t imageBlockBytes(const ImageBuffer &image) {
    uint64_t size = image.bytes.size();
    if (!image.shape.exactSize) return size;
    return std::min(size, static_cast<uint64_t>(blockCount(image.shape)) * kBlockSize);
}

// The one gate for block access: the block's bytes when its track is 1 to
// highestTrack (40 on a D64 of any length) and all 256 bytes lie inside the
// image's blocks (imageBlockBytes), else nullptr. Only the low 8 bits of track
// and sector count, as for blockOffset. One index into the family's track
// table and the bounds checks; inline, as every block access asks it. The
// track is decoded first when the image's blocks come from GCR (readTrack).
inline const uint8_t *blockAt(const ImageBuffer &image, int track, int sector) {
    const DiskShape &shape = image.shape;
    unsigned held = static_cast<unsigned>(track & 0xFF);
    if (held - 1 >= static_cast<unsigned>(highestTrack(shape))) return nullptr;
    uint64_t offset = static_cast<uint64_t>(shape.family->trackTable->start[held] + (sector & 0xFF)) * kBlockSize;
    if (offset + kBlockSize > imageBlockBytes(image)) return nullptr;
    if (image.readTrack) [[unlikely]]
        image.readTrack(image, static_cast<int>(held));
    return image.bytes.data() + offset;
}

// Keeps the block holding `at` in the journal, unless it is kept already.
// Precondition: `at` points into one of the image's blocks.
void keepBlockBefore(BlockJournal &journal, const ImageBuffer &image, const uint8_t *at);

// The one way to write bytes the gate handed out (`at`, inside a block, or
// nullptr): the block is kept in the image's journal first when one runs.
// Every accessor that gives a writer a block or part of one goes through it.
inline uint8_t *writableBytes(ImageBuffer &image, const uint8_t *at) {
    if (image.journal && at) [[unlikely]]
        keepBlockBefore(*image.journal, image, at);
    return const_cast<uint8_t *>(at);
}

// The gate for writing: the block's bytes as blockAt gives them, kept first
// in the journal (writableBytes).
inline uint8_t *blockAt(ImageBuffer &image, int track, int sector) {
    return writableBytes(image, blockAt(static_cast<const ImageBuffer &>(image), track, sector));
}

inline bool blockPresent(const ImageBuffer &image, int track, int sector) {
    return blockAt(image, track, sector) != nullptr;
}

// The header block (18/0 or 40/0), or nullptr when the image does not hold it.
inline const uint8_t *headerBlock(const ImageBuffer &image) { return blockAt(image, image.shape.systemTrack, 0); }
inline uint8_t *headerBlock(ImageBuffer &image) { return blockAt(image, image.shape.systemTrack, 0); }

// The track/sector pair stored at `offset` of some bytes: a link, a slot's
// first block, an entry of a side sector or VLIR index.
inline TrackSector pairAt(const uint8_t *bytes, int offset) { return {bytes[offset], bytes[offset + 1]}; }

// Bytes 0 and 1 of a block as (next track, next sector); (0, 0) for an absent
// block, which is never read.
TrackSector getNextTrackSector(const ImageBuffer &image, int track, int sector);

// Writes the low 8 bits of nextTrack/nextSector into bytes 0 and 1 of the block
// and prints the trace line "setNextTrackSector T S " then "NT NS \n".
// Precondition: the block is present.
void setNextTrackSector(ImageBuffer &image, int track, int sector, int nextTrack, int nextSector);
