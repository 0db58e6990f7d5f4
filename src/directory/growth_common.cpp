// Growing a directory: the end of the chain, and what the searches report.
#include "directory/growth_common.h"

#include "base/console.h"
#include "base/errors.h"
#include "disk/chain.h"
#include "disk/walk.h"

namespace {

bool isMapBlock(TrackSector at) { return at.track == kDirTrack && at.sector == 0; }

// Ends the program when the chain from `start` runs into block 18/0 after its
// start, or into a block that a listed file uses: extending it there would
// relink a file or the map.
void refuseForeignBlocks(const ImageBuffer &image, TrackSector start, const DirectoryGrowth &growth) {
    const char *path = growth.path.c_str();
    BlockWalk walk = startWalk(start, kEditRules);
    while (walkNext(image, walk)) {
        TrackSector at = walk.at;
        if (isMapBlock(at) && walk.visited > 1)
            exitWithError(1, "ERROR: The directory chain of '%s' runs into block 18/0, the availability map; "
                             "it cannot be extended.", path);
        if (!isMapBlock(at) && blockSetHas(growth.inUse.files, at.track, at.sector))
            exitWithError(1, "ERROR: The directory chain of '%s' runs into block %i/%i, which a listed file uses; "
                             "it cannot be extended.", path, at.track, at.sector);
    }
}

}  // namespace

DirectoryGrowth startGrowth(const ImageBuffer &image, const std::string &path) {
    DirectoryGrowth growth{consoleOutsideText(path, ConsoleStream::Error), collectBlocksInUse(image), SearchSkips{},
                           false};
    blockSetAddAll(growth.skips.inUse, growth.inUse.directory);
    blockSetAddAll(growth.skips.inUse, growth.inUse.files);
    return growth;
}

TrackSector requireDirectoryEnd(const ImageBuffer &image, TrackSector start, const DirectoryGrowth &growth) {
    const char *path = growth.path.c_str();
    LastBlock end = findLastBlock(image, start);
    if (end.stop == WalkStop::Loop)
        exitWithError(1, "ERROR: The directory chain of '%s' loops; it cannot be extended.", path);
    if (end.stop == WalkStop::OutOfRange)
        exitWithError(1, "ERROR: The directory chain of '%s' leads to block %i/%i, beyond the last sector of "
                         "its track.", path, end.block.track, end.block.sector);
    if (end.stop != WalkStop::EndOfChain)
        exitWithError(1, "ERROR: The directory chain of '%s' leads to block %i/%i outside the image.", path,
                      end.block.track, end.block.sector);
    refuseForeignBlocks(image, start, growth);
    return end.block;
}

void warnAfterSearch(DirectoryGrowth &growth, const TrackSector *found) {
    for (int track = 1; track <= kMapTracks; ++track)
        for (int sector = 0; sector < sectorsPerTrack(track); ++sector)
            if (blockSetHas(growth.skips.passedOver, track, sector))
                consoleErrorf("WARNING: The map marks block %i/%i free, but it is in use; it is left alone.\n",
                              track, sector);
    growth.skips.passedOver = BlockSet{};
    if (found && found->track != kDirTrack && !growth.warnedOffTrack) {
        consoleErrorf("WARNING: The directory of '%s' grows onto track %i; a 1541 keeps its directory on "
                      "track 18 only.\n", growth.path.c_str(), found->track);
        growth.warnedOffTrack = true;
    }
}
