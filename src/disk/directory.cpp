// The directory as data: slots, type names and the listing-order walk.
#include "disk/directory.h"

namespace {

const char *const kTypeNames[8] = {"DEL", "SEQ", "PRG", "USR", "REL", "???", "???", "???"};

// The next directory block of the walk, with block 18/1 standing in for a
// block whose first byte is above 40; nullptr once the walk has ended, also
// at a block read before (from there on the chain only repeats itself).
const uint8_t *nextDirectoryBlock(const ImageBuffer &image, DirectoryCursor &cursor) {
    TrackSector link = cursor.walk.next;
    const uint8_t *block = walkNext(image, cursor.walk);
    if (block && block[0] > highestTrack(image.shape))
        block = walkInstead(image, cursor.walk, driveDirectoryStart(image));
    if (!block) {
        cursor.stopLink = link;
        return nullptr;
    }
    TrackSector at = cursor.walk.at;
    if (!positionSetAddNew(cursor.read, image.shape, at)) {
        cursor.walk.stop = WalkStop::Loop;
        cursor.stopLink = at;
        return nullptr;
    }
    if (cursor.beyondBlock.track == 0 && at.sector >= sectorsPerTrack(image.shape, at.track)) cursor.beyondBlock = at;
    return block;
}

}  // namespace

const char *fileTypeName(const DiskShape &shape, int typeByte) {
    if ((typeByte & 7) == kTypePartition) return shape.family->typeFive;
    return kTypeNames[typeByte & 7];
}

TrackSector driveDirectoryStart(const ImageBuffer &image) {
    const DiskShape &shape = image.shape;
    if (shape.family->map != MapLayout::D81) return {shape.systemTrack, shape.family->directorySector};
    return {shape.systemTrack, headerBlock(image)[1]};
}

int slotNameLength(const uint8_t *slot) {
    int length = 0;
    while (length < kNameLength && slot[kSlotName + length] != 0xA0) ++length;
    return length;
}

int slotBlockCount(const uint8_t *slot) { return slot[kSlotBlockCount] | slot[kSlotBlockCount + 1] << 8; }

bool slotStartAddress(const ImageBuffer &image, const uint8_t *slot, int &address) {
    if (!slotHasStartBlock(image.shape, slot)) return false;
    const uint8_t *first = blockAt(image, slot[kSlotStartTrack], slot[kSlotStartSector]);
    if (!first) return false;
    address = first[2] | first[3] << 8;
    return true;
}

DirectoryCursor startDirectory(const ImageBuffer &image) {
    const uint8_t *header = headerBlock(image);
    TrackSector start = image.shape.family->map == MapLayout::D81 ? driveDirectoryStart(image) : pairAt(header, 0);
    return {startWalk(start, kAnyHeldBlock), nullptr, 0, -1, {0, 0}, {0, 0}, PositionSet{}};
}

const uint8_t *nextListedSlot(const ImageBuffer &image, DirectoryCursor &cursor, bool showAll) {
    for (;;) {
        if (cursor.block && ++cursor.slotIndex == kSlotsPerBlock) cursor.block = nullptr;
        if (!cursor.block) {
            if (cursor.walk.stop != WalkStop::Running) return nullptr;
            cursor.block = nextDirectoryBlock(image, cursor);
            cursor.slotIndex = 0;
            if (!cursor.block) return nullptr;
        }
        const uint8_t *slot = cursor.block + cursor.slotIndex * kSlotSize;
        if (showAll || slot[kSlotType] != 0) {
            ++cursor.number;
            return slot;
        }
    }
}

uint8_t *nextListedSlot(ImageBuffer &image, DirectoryCursor &cursor, bool showAll) {
    return writableBytes(image, nextListedSlot(static_cast<const ImageBuffer &>(image), cursor, showAll));
}
