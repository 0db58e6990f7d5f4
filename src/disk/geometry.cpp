// Links, and whether a D64 of another size is cut short. The block gate
// itself is inline in image.h; the layout it reads is disk/family's.
#include "disk/image.h"

#include <algorithm>
#include <cassert>

#include "base/console.h"

bool imageIsCut(const ImageBuffer &image) { return !image.shape.exactSize && imageIsTruncated(image.bytes.size()); }

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
