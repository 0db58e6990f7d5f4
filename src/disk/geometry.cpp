// The block gate, the rules for D64 files of other sizes, and links.
#include "disk/image.h"

#include <algorithm>
#include <cassert>

#include "base/console.h"

namespace {

// Every length a D64 image file came in before the other sizes were known,
// smallest first: the rules for sizes outside the family table read these.
constexpr ImageForm kImageForms[] = {
    {174848, 35, false},  // 683 blocks
    {175531, 35, true},   // and 683 error bytes
    {196608, 40, false},  // 768 blocks
    {197376, 40, true},   // and 768 error bytes
};

}  // namespace

const ImageForm *expectedImageForm(uint64_t size) {
    for (const ImageForm &form : kImageForms)
        if (form.size >= size) return &form;
    return nullptr;
}

uint64_t formBlockBytes(const ImageForm &form) {
    return static_cast<uint64_t>(blockOffset(kShapeD64, form.tracks, 0) +
                                 sectorsPerTrack(kShapeD64, form.tracks) * kBlockSize);
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

bool imageIsCut(const ImageBuffer &image) { return !image.shape.exactSize && imageIsTruncated(image.bytes.size()); }

uint64_t imageBlockBytes(const ImageBuffer &image) {
    uint64_t size = image.bytes.size();
    if (!image.shape.exactSize) return size;
    return std::min(size, static_cast<uint64_t>(blockCount(image.shape)) * kBlockSize);
}

const uint8_t *blockAt(const ImageBuffer &image, int track, int sector) {
    track &= 0xFF;
    if (track < 1 || track > highestTrack(image.shape)) return nullptr;
    uint64_t offset = static_cast<uint64_t>(blockOffset(image.shape, track, sector));
    if (offset + kBlockSize > imageBlockBytes(image)) return nullptr;
    if (image.readTrack) [[unlikely]]
        image.readTrack(image, track);
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
