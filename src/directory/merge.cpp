// Merging directories.
#include "directory/merge.h"

#include <cstring>

#include "base/console.h"
#include "base/errors.h"
#include "directory/growth_common.h"
#include "disk/bam.h"
#include "disk/walk.h"

void mergeDirectories(const std::string &sourcePath, ImageBuffer &first, const ImageBuffer &second) {
    consolePrintf("Merging directories..\n");
    TrackSector last = requireDirectoryEnd(first, {kDirTrack, 0}, sourcePath);
    BlockWalk copy = startWalk(getNextTrackSector(second, kDirTrack, 0), kAnyHeldBlock);
    consolePrintf("---\n");
    // A link into an absent block of the second image ends the copy like a link track of 0.
    while (const uint8_t *source = walkNext(second, copy)) {
        TrackSector previous = last;
        if (!findFreeBlock(first, last.track, last.sector, last))
            exitWithError(2, "ERROR: Disk full '%s'!", consoleOutsideText(sourcePath, ConsoleStream::Error).c_str());
        setNextTrackSector(first, previous.track, previous.sector, last.track, last.sector);
        std::memcpy(blockAt(first, last.track, last.sector), source, kBlockSize);
        setBlockFree(first, last.track, last.sector, 0);
    }
    setNextTrackSector(first, last.track, last.sector, 0, 255);
}
