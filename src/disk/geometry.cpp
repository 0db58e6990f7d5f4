// Geometry of a D64 image: sectors per track, block offsets, the block gate and links.
#include "disk/image.h"

#include <algorithm>
#include <cassert>

#include "base/console.h"

namespace {

// Byte offset of sector 0 of each track 1..40.
constexpr int kTrackOffsets[kMaxTrack] = {
    0x00000, 0x01500, 0x02A00, 0x03F00, 0x05400, 0x06900, 0x07E00, 0x09300,
    0x0A800, 0x0BD00, 0x0D200, 0x0E700, 0x0FC00, 0x11100, 0x12600, 0x13B00,
    0x15000, 0x16500, 0x17800, 0x18B00, 0x19E00, 0x1B100, 0x1C400, 0x1D700,
    0x1EA00, 0x1FC00, 0x20E00, 0x22000, 0x23200, 0x24400, 0x25600, 0x26700,
    0x27800, 0x28900, 0x29A00, 0x2AB00, 0x2BC00, 0x2CD00, 0x2DE00, 0x2EF00,
};

// Every length a D64 image file comes in, smallest first: the one place these
// sizes are named.
constexpr ImageForm kImageForms[] = {
    {174848, 35, false},  // 683 blocks
    {175531, 35, true},   // and 683 error bytes
    {196608, 40, false},  // 768 blocks
    {197376, 40, true},   // and 768 error bytes
};

// The form with error bytes that is exactly `size` long, or nullptr.
const ImageForm *formWithErrorBytes(uint64_t size) {
    for (const ImageForm &form : kImageForms)
        if (form.size == size && form.errorBytes) return &form;
    return nullptr;
}

}  // namespace

int sectorsPerTrack(int track) {
    if (track <= 17) return 21;
    if (track <= 24) return 19;
    if (track <= 30) return 18;
    return 17;
}

const ImageForm *expectedImageForm(uint64_t size) {
    for (const ImageForm &form : kImageForms)
        if (form.size >= size) return &form;
    return nullptr;
}

uint64_t formBlockBytes(const ImageForm &form) {
    return static_cast<uint64_t>(kTrackOffsets[form.tracks - 1] + sectorsPerTrack(form.tracks) * kBlockSize);
}

bool imageIsTruncated(uint64_t size) {
    const ImageForm *form = expectedImageForm(size);
    return form && form->size != size;
}

int imageTrackCount(uint64_t size) {
    int tracks = kImageForms[0].tracks;
    for (const ImageForm &form : kImageForms)
        if (formBlockBytes(form) <= size) tracks = std::max(tracks, form.tracks);
    return tracks;
}

bool imageHasErrorBytes(uint64_t size) { return formWithErrorBytes(size) != nullptr; }

uint64_t imageBlockBytes(uint64_t size) {
    const ImageForm *form = formWithErrorBytes(size);
    return form ? formBlockBytes(*form) : size;
}

int blockOffset(int track, int sector) {
    track &= 0xFF;
    sector &= 0xFF;
    int index = track == 0 ? 0 : (track > kMaxTrack ? kMaxTrack : track) - 1;
    return kTrackOffsets[index] + sector * kBlockSize;
}

const uint8_t *blockAt(const ImageBuffer &image, int track, int sector) {
    track &= 0xFF;
    if (track < 1 || track > kMaxTrack) return nullptr;
    uint64_t offset = static_cast<uint64_t>(blockOffset(track, sector));
    if (offset + kBlockSize > imageBlockBytes(image.bytes.size())) return nullptr;
    return image.bytes.data() + offset;
}

uint8_t *blockAt(ImageBuffer &image, int track, int sector) {
    return const_cast<uint8_t *>(blockAt(static_cast<const ImageBuffer &>(image), track, sector));
}

TrackSector getNextTrackSector(const ImageBuffer &image, int track, int sector) {
    const uint8_t *block = blockAt(image, track, sector);
    if (!block) return {0, 0};
    return {block[0], block[1]};
}

void setNextTrackSector(ImageBuffer &image, int track, int sector, int nextTrack, int nextSector) {
    consolePrintf("setNextTrackSector %i %i ", track, sector);
    uint8_t *block = blockAt(image, track, sector);
    assert(block && "callers link only present blocks");
    if (block) {
        block[0] = static_cast<uint8_t>(nextTrack);
        block[1] = static_cast<uint8_t>(nextSector);
    }
    consolePrintf("%i %i \n", nextTrack, nextSector);
}
