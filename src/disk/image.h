// Disk image model: the image buffer, block geometry, bounds-aware block access
// and block links. Nothing here reads or writes files or prints errors.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

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

// The whole image file as one flat byte array; its size is the length that was read.
struct ImageBuffer {
    ImageBytes bytes;
};

// One 256-byte block: track from 1, sector from 0.
struct TrackSector {
    int track;
    int sector;
};

constexpr int kBlockSize = 256;
constexpr int kMaxTrack = 40;          // highest addressable track
constexpr int kMapTracks = 35;         // tracks covered by the availability map
constexpr int kMaxBlocks = 768;        // blocks of a 40-track image; bounds every walk
constexpr int kMapBlocks = 683;        // blocks of a 35-track image
constexpr int kDirTrack = 18;

// Sectors of a track: 21 up to track 17 (also for track 0 and below), 19 on
// 18-24, 18 on 25-30, 17 above. Tracks above 40 also give 17.
int sectorsPerTrack(int track);

// A length a D64 image file comes in. geometry.cpp keeps the one table of
// them, which every rule about an image's size reads (tracks, error bytes, a
// cut image).
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

// Tracks of an image by its length: the most tracks of a form whose blocks
// the image holds whole (40 from 196,608 bytes on), else 35, also for a cut
// image. Every action takes an image's tracks from here.
int imageTrackCount(uint64_t size);

// True when the length is that of a form with error bytes.
bool imageHasErrorBytes(uint64_t size);

// The leading bytes of an image that hold blocks: all of them, except the
// error bytes behind the blocks of the forms that carry them (those are
// never a block: on a 175,531-byte image, 36/0 lies outside).
uint64_t imageBlockBytes(uint64_t size);

// Byte offset of a block by the fixed layout; only the low 8 bits of each
// argument count. Pure arithmetic: the offset may lie outside any image, and
// tracks above 40 give the offset of track 40's band (callers use blockAt).
int blockOffset(int track, int sector);

// Every block position (blockOffset / 256) lies below this: positions reach
// past the 768 blocks of the layout (a sector byte beyond its track's count,
// inside a file larger than a disk), up to 1,006 on track 40.
constexpr int kBlockPositions = 1024;

// The one gate for block access: the block's bytes when its track is 1..40 and
// all 256 bytes lie inside the image's blocks (imageBlockBytes), else nullptr. Only the low 8 bits of
// track and sector count, as for blockOffset.
const uint8_t *blockAt(const ImageBuffer &image, int track, int sector);
uint8_t *blockAt(ImageBuffer &image, int track, int sector);

inline bool blockPresent(const ImageBuffer &image, int track, int sector) {
    return blockAt(image, track, sector) != nullptr;
}

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
