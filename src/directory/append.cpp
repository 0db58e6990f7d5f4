// Appending an empty DEL entry.
#include "directory/append.h"

#include <cstring>

#include "base/errors.h"
#include "directory/growth_common.h"
#include "disk/directory.h"

namespace {

constexpr int kDelInterleave = 3;

// Fills the first slot whose type byte is 0; false when all eight are in use.
bool fillEmptySlot(uint8_t *block) {
    for (int type = kSlotType; type <= 254; type += kSlotSize) {
        if (block[type] != 0) continue;
        block[type] = 0x80;
        std::memset(block + type + 3, 0xA0, kNameLength);
        return true;
    }
    return false;
}

// Links a cleared block after `last` and marks it used.
void growDirectory(ImageBuffer &image, TrackSector last, DirectoryGrowth &growth) {
    TrackSector added;
    bool found = findFreeBlockInterleaved(image, last.track, last.sector, kDelInterleave, growth.skips, added);
    warnAfterSearch(growth, found ? &added : nullptr);
    if (!found) exitWithError(2, "ERROR: Disk full!");
    setNextTrackSector(image, last.track, last.sector, added.track, added.sector);
    uint8_t *block = blockAt(image, added.track, added.sector);
    std::memset(block, 0, kBlockSize);
    block[1] = 255;
    setBlockFree(image, added.track, added.sector, 0);
}

}  // namespace

void appendDelEntry(ImageBuffer &image, const std::string &path) {
    DirectoryGrowth growth = startGrowth(image, path);
    for (;;) {
        TrackSector last = requireDirectoryEnd(image, {kDirTrack, 1}, growth);
        if (fillEmptySlot(blockAt(image, last.track, last.sector))) return;
        growDirectory(image, last, growth);
    }
}
