// Merging directories.
#include "directory/merge.h"

#include <cstring>

#include "directory/growth_common.h"
#include "disk/bam.h"
#include "frontend/usage.h"
#include "views/console.h"

void mergeDirectories(const std::string &sourcePath, ImageBuffer &first, const ImageBuffer &second) {
    consolePrintf("Merging directories..\n");
    TrackSector last = requireDirectoryEnd(first, {kDirTrack, 0}, sourcePath);
    TrackSector copy = getNextTrackSector(second, kDirTrack, 0);
    consolePrintf("---\n");
    // A link into an absent block of the second image ends the copy like a link track of 0.
    for (const uint8_t *source; copy.track != 0 && (source = blockAt(second, copy.track, copy.sector));) {
        TrackSector previous = last;
        if (!findFreeBlock(first, last.track, last.sector, last))
            exitWithError(2, "ERROR: Disk full '%s'!", sourcePath.c_str());
        setNextTrackSector(first, previous.track, previous.sector, last.track, last.sector);
        std::memcpy(blockAt(first, last.track, last.sector), source, kBlockSize);
        setBlockFree(first, last.track, last.sector, 0);
        copy = getNextTrackSector(second, copy.track, copy.sector);
    }
    setNextTrackSector(first, last.track, last.sector, 0, 255);
}
