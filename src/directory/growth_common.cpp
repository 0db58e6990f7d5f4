// The end of a directory chain that is about to be extended.
#include "directory/growth_common.h"

#include "base/console.h"
#include "base/errors.h"

TrackSector requireDirectoryEnd(const ImageBuffer &image, TrackSector start, const std::string &path) {
    LastBlock end = findLastBlock(image, start);
    if (end.stop == WalkStop::Loop)
        exitWithError(1, "ERROR: The directory chain of '%s' loops; it cannot be extended.",
                      consoleOutsideText(path, ConsoleStream::Error).c_str());
    if (end.stop != WalkStop::EndOfChain)
        exitWithError(1, "ERROR: The directory chain of '%s' leads to block %i/%i outside the image.",
                      consoleOutsideText(path, ConsoleStream::Error).c_str(), end.block.track, end.block.sector);
    return end.block;
}
