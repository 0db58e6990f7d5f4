// Growing a directory: the end of the chain, the new block, and what the
// searches report.
#include "disk/growth.h"

#include <cstring>

#include "base/console.h"
#include "base/errors.h"
#include "disk/chain.h"
#include "disk/walk.h"

namespace {

bool isMapBlock(const DiskShape &shape, TrackSector at) { return at.track == shape.systemTrack && at.sector == 0; }

// Why the chain from `start` must not be extended, or "": it runs into
// block 18/0 after its start, or into a block that a listed file uses;
// extending it there would relink a file or the map.
std::string foreignBlockProblem(const ImageBuffer &image, TrackSector start, const DirectoryGrowth &growth) {
    const char *path = growth.path.c_str();
    BlockWalk walk = startWalk(start, kEditRules);
    while (walkNext(image, walk)) {
        TrackSector at = walk.at;
        if (isMapBlock(image.shape, at) && walk.visited > 1)
            return consoleFormatf("ERROR: The directory chain of '%s' runs into block %i/0, the %s; "
                          "it cannot be extended.", path, at.track,
                          image.shape.family->map == MapLayout::D81 ? "header" : "availability map");
        if (!isMapBlock(image.shape, at) && blockSetHas(growth.inUse.files, at.track, at.sector))
            return consoleFormatf("ERROR: The directory chain of '%s' runs into block %i/%i, which a "
                          "listed file uses; it cannot be extended.", path, at.track, at.sector);
    }
    return "";
}

}  // namespace

DirectoryGrowth startGrowth(const ImageBuffer &image, const std::string &path, bool traced) {
    DirectoryGrowth growth{consoleOutsideText(path, ConsoleStream::Error), collectBlocksInUse(image), SearchSkips{},
                           BlockSet{}, false, traced};
    blockSetAddAll(growth.skips.inUse, growth.inUse.directory);
    blockSetAddAll(growth.skips.inUse, growth.inUse.files);
    return growth;
}

std::string directoryEndProblem(const ImageBuffer &image, TrackSector start, const DirectoryGrowth &growth,
                                TrackSector &last) {
    const char *path = growth.path.c_str();
    LastBlock end = growth.traced ? findLastBlock(image, start) : lastBlockOf(image, start);
    if (end.stop == WalkStop::Loop)
        return consoleFormatf("ERROR: The directory chain of '%s' loops; it cannot be extended.", path);
    if (end.stop == WalkStop::OutOfRange)
        return consoleFormatf("ERROR: The directory chain of '%s' leads to block %i/%i, beyond the last "
                      "sector of its track.", path, end.block.track, end.block.sector);
    if (end.stop != WalkStop::EndOfChain)
        return consoleFormatf("ERROR: The directory chain of '%s' leads to block %i/%i outside the "
                      "image.", path, end.block.track, end.block.sector);
    last = end.block;
    return foreignBlockProblem(image, start, growth);
}

TrackSector requireDirectoryEnd(const ImageBuffer &image, TrackSector start, const DirectoryGrowth &growth) {
    TrackSector last{0, 0};
    std::string problem = directoryEndProblem(image, start, growth, last);
    if (!problem.empty()) exitWithMessage(1, "%s", problem.c_str());
    return last;
}

bool growDirectory(ImageBuffer &image, TrackSector last, DirectoryGrowth &growth, bool directoryTrackOnly,
                   TrackSector &added) {
    int system = image.shape.systemTrack;
    TrackSector from = !directoryTrackOnly || last.track == system ? last : TrackSector{system, 0};
    int tracks = directoryTrackOnly ? 1 : kMostTracks;
    bool found = findFreeBlockInterleaved(image, from.track, from.sector, image.shape.family->directoryInterleave,
                                          growth.skips, added, tracks);
    warnAfterSearch(image, growth, found ? &added : nullptr);
    if (!found) return false;
    uint8_t *block = blockAt(image, added.track, added.sector);
    if (growth.traced) {
        setNextTrackSector(image, last.track, last.sector, added.track, added.sector);
    } else {
        uint8_t *from = blockAt(image, last.track, last.sector);
        from[0] = static_cast<uint8_t>(added.track);
        from[1] = static_cast<uint8_t>(added.sector);
    }
    std::memset(block, 0, kBlockSize);
    block[1] = 255;
    if (growth.traced) setBlockFree(image, added.track, added.sector, 0);
    else setBlockBit(image, added.track, added.sector, false);
    return true;
}

void warnAfterSearch(const ImageBuffer &image, DirectoryGrowth &growth, const TrackSector *found) {
    const DiskShape &shape = image.shape;
    BlockSet &passed = growth.skips.passedOver;
    bool any = false;
    for (uint64_t &word : passed.bits) any = any || word != 0;
    // Nothing passed over (as after most searches): nothing to warn of or to move.
    if (any) {
        for (int track = 1; track <= mapTracks(shape); ++track)
            for (int sector = 0; sector < sectorsPerTrack(shape, track); ++sector)
                if (blockSetHas(passed, track, sector) && !blockSetHas(growth.warnedFree, track, sector))
                    consoleErrorf("WARNING: The map marks block %i/%i free, but it is in use; it is left alone.\n",
                                  track, sector);
        blockSetAddAll(growth.warnedFree, passed);
        passed = BlockSet{};
    }
    if (found && found->track != shape.systemTrack && !growth.warnedOffTrack) {
        consoleErrorf("WARNING: The directory of '%s' grows onto track %i; a %s keeps its directory on "
                      "track %i only.\n", growth.path.c_str(), found->track, driveName(shape), shape.systemTrack);
        growth.warnedOffTrack = true;
    }
}
