// The blocks in use by the directory's account.
#include "disk/inuse.h"

#include "disk/chain.h"
#include "disk/directory.h"
#include "disk/walk.h"

namespace {

// Positions (byte offset / 256) of the blocks the walks of one account have
// met. A link's sector byte can point past its track's count, so positions
// reach beyond the 768 blocks of the layout (at most 1,006 on track 40); each
// is walked at most once, which keeps a hostile directory's account linear.
struct SeenPositions {
    uint64_t bits[kBlockPositions / 64];
};

// Records the block a walk has just yielded, where its bytes lie; false when
// its position was met already, since the rest of its chain then was too.
bool recordNew(BlockSet &set, SeenPositions &seen, TrackSector at) {
    int position = blockOffset(at.track, at.sector) / kBlockSize;
    uint64_t bit = uint64_t{1} << (position % 64);
    if (seen.bits[position / 64] & bit) return false;
    seen.bits[position / 64] |= bit;
    TrackSector held = heldBlock(at.track, at.sector);
    if (held.track != 0) blockSetAdd(set, held.track, held.sector);
    return true;
}

// What one account has walked so far, per set.
struct Walked {
    SeenPositions directory;
    SeenPositions files;
};

void collectFileChain(const ImageBuffer &image, TrackSector start, BlocksInUse &inUse, Walked &walked) {
    BlockWalk walk = startWalk(start, kAnyHeldBlock);
    while (walkNext(image, walk) && recordNew(inUse.files, walked.files, walk.at)) {}
}

void collectDirectoryChain(const ImageBuffer &image, TrackSector start, BlocksInUse &inUse, Walked &walked) {
    BlockWalk walk = startWalk(start, kAnyHeldBlock);
    while (const uint8_t *block = walkNext(image, walk)) {
        if (!recordNew(inUse.directory, walked.directory, walk.at)) return;
        for (int index = 0; index < kSlotsPerBlock; ++index) {
            const uint8_t *slot = block + index * kSlotSize;
            if (slot[kSlotType] != 0 && slotHasStartBlock(slot))
                collectFileChain(image, {slot[kSlotStartTrack], slot[kSlotStartSector]}, inUse, walked);
        }
    }
}

}  // namespace

BlocksInUse collectBlocksInUse(const ImageBuffer &image) {
    BlocksInUse inUse{};
    Walked walked{};
    blockSetAdd(inUse.directory, kDirTrack, 0);
    collectDirectoryChain(image, getNextTrackSector(image, kDirTrack, 0), inUse, walked);
    collectDirectoryChain(image, {kDirTrack, 1}, inUse, walked);
    return inUse;
}
