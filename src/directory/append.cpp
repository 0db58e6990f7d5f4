// Appending an empty DEL entry.
#include "directory/append.h"

#include <cstring>

#include "base/errors.h"
#include "disk/directory.h"
#include "disk/growth.h"

namespace {

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

}  // namespace

void appendDelEntry(ImageBuffer &image, const std::string &path) {
    DirectoryGrowth growth = startGrowth(image, path, true);
    for (;;) {
        TrackSector last = requireDirectoryEnd(image, driveDirectoryStart(image), growth);
        if (fillEmptySlot(blockAt(image, last.track, last.sector))) return;
        TrackSector added;
        if (!growDirectory(image, last, growth, false, added)) exitWithError(2, "ERROR: Disk full!");
    }
}
