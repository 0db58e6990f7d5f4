// Merging directories.
#include "directory/merge.h"

#include <cstring>

#include "base/console.h"
#include "base/errors.h"
#include "disk/directory.h"
#include "disk/growth.h"
#include "disk/walk.h"

namespace {

// Ends the program when the chain the copy would follow loops: it would be
// copied until the disk is full.
void refuseLoopingCopy(const ImageBuffer &second, TrackSector start, const std::string &secondPath) {
    BlockWalk walk = startWalk(start, kAnyHeldBlock);
    while (walkNext(second, walk)) {}
    if (walk.stop == WalkStop::Loop)
        exitWithMessage(1, "ERROR: The directory chain of '%s' loops; it cannot be merged.",
                        consoleOutsideText(secondPath, ConsoleStream::Error).c_str());
}

}  // namespace

void mergeDirectories(const std::string &sourcePath, const std::string &secondPath, ImageBuffer &first,
                      const ImageBuffer &second) {
    if (!sameFamily(first.shape, second.shape))
        exitWithMessage(1, "ERROR: '%s' is a %s image and '%s' a %s image; only directories of one disk family "
                         "can be merged.", consoleOutsideText(sourcePath, ConsoleStream::Error).c_str(),
                        first.shape.family->name, consoleOutsideText(secondPath, ConsoleStream::Error).c_str(),
                        second.shape.family->name);
    consolePrintf("Merging directories..\n");
    DirectoryGrowth growth = startGrowth(first, sourcePath, true);
    TrackSector last = requireDirectoryEnd(first, {first.shape.systemTrack, 0}, growth);
    TrackSector secondStart = second.shape.family->map == MapLayout::D81
                                  ? driveDirectoryStart(second)
                                  : getNextTrackSector(second, second.shape.systemTrack, 0);
    refuseLoopingCopy(second, secondStart, secondPath);
    BlockWalk copy = startWalk(secondStart, kAnyHeldBlock);
    consolePrintf("---\n");
    // A link into an absent block of the second image ends the copy like a link track of 0.
    while (const uint8_t *source = walkNext(second, copy)) {
        TrackSector previous = last;
        bool found = findFreeBlock(first, last.track, last.sector, growth.skips, last);
        warnAfterSearch(first, growth, found ? &last : nullptr);
        if (!found)
            exitWithError(2, "ERROR: Disk full '%s'!", growth.path.c_str());
        setNextTrackSector(first, previous.track, previous.sector, last.track, last.sector);
        std::memcpy(blockAt(first, last.track, last.sector), source, kBlockSize);
        setBlockFree(first, last.track, last.sector, 0);
    }
    setNextTrackSector(first, last.track, last.sector, 0, 255);
}
