// The blocks in use by the directory's account.
#include "disk/inuse.h"

#include "disk/directory.h"
#include "disk/walk.h"

namespace {

// Records the block a walk has just yielded; false when it was recorded
// already, since the rest of its chain then is too. A block past the
// 768-block layout cannot be recorded and does not stop the walk.
bool recordNew(BlockSet &set, TrackSector at) {
    TrackSector held = heldBlock(at.track, at.sector);
    if (held.track == 0) return true;
    if (blockSetHas(set, held.track, held.sector)) return false;
    blockSetAdd(set, held.track, held.sector);
    return true;
}

void collectFileChain(const ImageBuffer &image, TrackSector start, BlocksInUse &inUse) {
    BlockWalk walk = startWalk(start, kAnyHeldBlock);
    while (walkNext(image, walk) && recordNew(inUse.files, walk.at)) {}
}

void collectDirectoryChain(const ImageBuffer &image, TrackSector start, BlocksInUse &inUse) {
    BlockWalk walk = startWalk(start, kAnyHeldBlock);
    while (const uint8_t *block = walkNext(image, walk)) {
        if (!recordNew(inUse.directory, walk.at)) return;
        for (int index = 0; index < kSlotsPerBlock; ++index) {
            const uint8_t *slot = block + index * kSlotSize;
            if (slot[kSlotType] != 0 && slotHasStartBlock(slot))
                collectFileChain(image, {slot[kSlotStartTrack], slot[kSlotStartSector]}, inUse);
        }
    }
}

}  // namespace

BlocksInUse collectBlocksInUse(const ImageBuffer &image) {
    BlocksInUse inUse{};
    blockSetAdd(inUse.directory, kDirTrack, 0);
    collectDirectoryChain(image, getNextTrackSector(image, kDirTrack, 0), inUse);
    collectDirectoryChain(image, {kDirTrack, 1}, inUse);
    return inUse;
}
