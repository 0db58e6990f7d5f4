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

std::string appendDelLine(ImageBuffer &image, const std::string &path, bool &diskFull) {
    diskFull = false;
    DirectoryGrowth growth = startGrowth(image, path, true);
    for (;;) {
        TrackSector last{0, 0};
        std::string problem = directoryEndProblem(image, driveDirectoryStart(image), growth, last);
        if (!problem.empty()) return problem;
        if (fillEmptySlot(blockAt(image, last.track, last.sector))) return "";
        TrackSector added;
        if (!growDirectory(image, last, growth, false, added)) {
            diskFull = true;
            return "ERROR: Disk full!";
        }
    }
}

void appendDelEntry(ImageBuffer &image, const std::string &path) {
    bool diskFull = false;
    std::string problem = appendDelLine(image, path, diskFull);
    // A full disk keeps the drive's own message and the usage after it.
    if (diskFull) exitWithError(2, "%s", problem.c_str());
    if (!problem.empty()) exitWithMessage(1, "%s", problem.c_str());
}
