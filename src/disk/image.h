// Disk image model: the image buffer with its shape, bounds-aware block
// access and block links. Nothing here reads or writes files or prints errors.
#pragma once

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
};

// One 256-byte block: track from 1, sector from 0.
struct TrackSector {
    int track;
    int sector;
};

// A length a D64 image file was made in before the other sizes were known:
// the rules for a file of any size outside the family table (a cut or padded
// D64) read from these four. geometry.cpp keeps the table.
struct ImageForm {
    uint64_t size;    // bytes of the file
    int tracks;       // 35 or 40
    bool errorBytes;  // an error byte per block follows the blocks
};

// The smallest form at or above `size` (the form an image of that length is,
// or was before it was cut short); nullptr above the largest form.
const ImageForm *expectedImageForm(uint64_t size);

// The bytes of a form that hold blocks: its tracks' blocks, 256 bytes each.
uint64_t formBlockBytes(const ImageForm &form);

// True when the length is below that of its expected form: the file has been
// cut short (a file longer than every form is not).
bool imageIsTruncated(uint64_t size);

// Tracks of a D64 by its length: the most tracks of a form whose blocks
// the image holds whole (40 from 196,608 bytes on), else 35, also for a cut
// image. shapeForSize takes a D64's tracks from here for the sizes outside
// the family table.
int imageTrackCount(uint64_t size);

// True when the image is cut short: a D64 of a size outside the family table
// below that of its expected form.
bool imageIsCut(const ImageBuffer &image);

// The leading bytes of an image that hold blocks: all of them, except the
// error bytes behind the blocks of the sizes that carry them (those are
// never a block: on a 175,531-byte image, 36/0 lies outside).
uint64_t imageBlockBytes(const ImageBuffer &image);

// The one gate for block access: the block's bytes when its track is 1 to
// highestTrack (40 on a D64 of any length) and all 256 bytes lie inside the
// image's blocks (imageBlockBytes), else nullptr; the track is decoded first
// when the image's blocks come from GCR (readTrack). Only the low 8 bits of track
// and sector count, as for blockOffset.
const uint8_t *blockAt(const ImageBuffer &image, int track, int sector);
uint8_t *blockAt(ImageBuffer &image, int track, int sector);

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
