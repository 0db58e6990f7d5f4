// The journal of the blocks an edit was handed, links, and whether a D64 of another size is cut short. The block gate
// itself is inline in image.h; the layout it reads is disk/family's.
#include "disk/image.h"

#include <algorithm>
#include <cassert>

#include "base/console.h"

void keepBlockBefore(BlockJournal &journal, const ImageBuffer &image, const uint8_t *at) {
    size_t position = static_cast<size_t>(at - image.bytes.data()) / kBlockSize;
    assert(position < static_cast<size_t>(kBlockPositions) && "the gate hands out no block beyond them");
    if (position >= static_cast<size_t>(kBlockPositions) || journal.kept[position] >= 0) return;
    journal.kept[position] = static_cast<int16_t>(journal.positions.size());
    journal.positions.push_back(static_cast<int>(position));
    const uint8_t *block = image.bytes.data() + position * kBlockSize;
    journal.before.insert(journal.before.end(), block, block + kBlockSize);
}

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
