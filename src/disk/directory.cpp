// The directory's blocks and slots in listing order.
#include "disk/directory.h"

BlockWalk startDirectoryWalk(const uint8_t *map) { return startWalk({map[0], map[1]}, kAnyHeldBlock); }

const uint8_t *nextDirectoryBlock(const ImageBuffer &image, BlockWalk &walk) {
    const uint8_t *block = walkNext(image, walk);
    if (block && block[0] > kMaxTrack) block = walkInstead(image, walk, {kDirTrack, 1});
    return block;
}

uint8_t *nextDirectoryBlock(ImageBuffer &image, BlockWalk &walk) {
    return const_cast<uint8_t *>(nextDirectoryBlock(static_cast<const ImageBuffer &>(image), walk));
}

DirectoryCursor startDirectory(const ImageBuffer &image) {
    return {startDirectoryWalk(blockAt(image, kDirTrack, 0)), nullptr, 0, -1, false};
}

const uint8_t *nextListedSlot(const ImageBuffer &image, DirectoryCursor &cursor, bool showAll) {
    for (;;) {
        if (cursor.block && ++cursor.slotIndex == kSlotsPerBlock) cursor.block = nullptr;
        if (!cursor.block) {
            if (cursor.walk.stop != WalkStop::Running) return nullptr;
            cursor.block = nextDirectoryBlock(image, cursor.walk);
            cursor.slotIndex = 0;
            if (!cursor.block) return nullptr;
            if (cursor.walk.at.sector >= sectorsPerTrack(cursor.walk.at.track)) cursor.beyondTrack = true;
        }
        const uint8_t *slot = cursor.block + cursor.slotIndex * kSlotSize;
        if (showAll || slot[kSlotType] != 0) {
            ++cursor.number;
            return slot;
        }
    }
}

uint8_t *nextListedSlot(ImageBuffer &image, DirectoryCursor &cursor, bool showAll) {
    return const_cast<uint8_t *>(nextListedSlot(static_cast<const ImageBuffer &>(image), cursor, showAll));
}
