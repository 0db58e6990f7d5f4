// The blocks in use by the directory's account.
#include "disk/inuse.h"

#include "disk/chain.h"
#include "disk/directory.h"
#include "disk/entrychains.h"
#include "disk/walk.h"

namespace {

// Records the block a walk has just yielded, where its bytes lie; false when
// its position was met already, since the rest of its chain then was too.
bool recordNew(const DiskShape &shape, BlockSet &set, PositionSet &seen, TrackSector at) {
    if (!positionSetAddNew(seen, shape, at)) return false;
    TrackSector held = heldBlock(shape, at.track, at.sector);
    if (held.track != 0) blockSetAdd(set, held.track, held.sector);
    return true;
}

// What one account has walked so far, per set, and the VLIR index blocks
// whose records it has followed.
struct Walked {
    PositionSet directory;
    PositionSet files;
    PositionSet indexes;
    const uint8_t *leftOut;  // a slot whose chains do not count (nullptr: none)
};

void collectFileChain(const ImageBuffer &image, TrackSector start, BlocksInUse &inUse, Walked &walked) {
    if (!isStartBlock(image.shape, start)) return;
    BlockWalk walk = startWalk(start, kAnyHeldBlock);
    while (walkNext(image, walk) && recordNew(image.shape, inUse.files, walked.files, walk.at)) {}
}

// The records the block `indexBlock` lists as a VLIR index, once per block position.
void collectVlirRecords(const ImageBuffer &image, TrackSector indexBlock, BlocksInUse &inUse, Walked &walked) {
    const uint8_t *index =
        isStartBlock(image.shape, indexBlock) ? blockAt(image, indexBlock.track, indexBlock.sector) : nullptr;
    if (!index || !positionSetAddNew(walked.indexes, image.shape, indexBlock)) return;
    for (int record = 0; record < kVlirRecords; ++record) {
        TrackSector start;
        VlirPair pair = vlirRecord(index, record, start);
        if (pair == VlirPair::End) return;
        if (pair == VlirPair::Record) collectFileChain(image, start, inUse, walked);
    }
}

// A 1581 partition's area: its size in blocks from its first block in
// layout order, over track ends, as far as the image's tracks go. It has no
// links; every block of it is in use, whatever lies inside.
void collectPartitionArea(const ImageBuffer &image, const uint8_t *slot, BlocksInUse &inUse) {
    const DiskShape &shape = image.shape;
    int first = blockIndex(shape, slot[kSlotStartTrack], slot[kSlotStartSector]);
    for (int index = first, left = slotBlockCount(slot); first >= 0 && left > 0; ++index, --left) {
        TrackSector at = blockOfIndex(shape, index);
        if (at.track == 0) return;
        blockSetAdd(inUse.files, at.track, at.sector);
    }
}

// Every chain a listed slot owns, or a partition's area. A GEOS file whose
// structure byte is neither 0 nor 1 may be either kind, so both readings count.
void collectEntry(const ImageBuffer &image, const uint8_t *slot, BlocksInUse &inUse, Walked &walked) {
    if (slot[kSlotType] == 0 || slot == walked.leftOut) return;
    if (isPartition(image.shape, slot)) {
        collectPartitionArea(image, slot, inUse);
        return;
    }
    EntryKind kind = entryKind(slot);
    SlotChains named = slotChains(slot, kind);
    for (int i = 0; i < named.count; ++i) collectFileChain(image, named.chains[i].start, inUse, walked);
    if (kind.vlir || kind.unknownStructure) collectVlirRecords(image, named.chains[0].start, inUse, walked);
}

void collectSlots(const ImageBuffer &image, const uint8_t *block, BlocksInUse &inUse, Walked &walked) {
    for (int index = 0; index < kSlotsPerBlock; ++index) collectEntry(image, block + index * kSlotSize, inUse, walked);
}

void collectDirectoryChain(const ImageBuffer &image, TrackSector start, BlocksInUse &inUse, Walked &walked) {
    BlockWalk walk = startWalk(start, kAnyHeldBlock);
    while (const uint8_t *block = walkNext(image, walk)) {
        if (!recordNew(image.shape, inUse.directory, walked.directory, walk.at)) return;
        collectSlots(image, block, inUse, walked);
    }
}

// The border block of a GEOS disk, followed as a chain, and the entries it holds.
void collectBorderBlock(const ImageBuffer &image, BlocksInUse &inUse, Walked &walked) {
    TrackSector border;
    if (!geosBorderBlock(image, border) || !isStartBlock(image.shape, border)) return;
    const uint8_t *block = blockAt(image, border.track, border.sector);
    if (!block) return;
    collectFileChain(image, border, inUse, walked);
    collectSlots(image, block, inUse, walked);
}

}  // namespace

BlocksInUse collectBlocksInUse(const ImageBuffer &image, const uint8_t *leftOut) {
    BlocksInUse inUse{};
    Walked walked{};
    walked.leftOut = leftOut;
    const DiskShape &shape = image.shape;
    for (int sector = 0; sector < sectorsPerTrack(shape, shape.systemTrack); ++sector)
        if (isSystemBlock(shape, shape.systemTrack, sector)) blockSetAdd(inUse.directory, shape.systemTrack, sector);
    if (shape.family->sideTracks > 0 && shape.tracks > shape.family->sideTracks)
        blockSetAdd(inUse.directory, shape.systemTrack + shape.family->sideTracks, 0);
    if (shape.family->map != MapLayout::D81)
        collectDirectoryChain(image, getNextTrackSector(image, shape.systemTrack, 0), inUse, walked);
    collectDirectoryChain(image, driveDirectoryStart(image), inUse, walked);
    collectBorderBlock(image, inUse, walked);
    return inUse;
}
