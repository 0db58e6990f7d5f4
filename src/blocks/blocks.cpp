// Block commands and the block changes of the block editor.
#include "blocks/blocks.h"

#include <cstring>

#include "base/console.h"
#include "base/filewrite.h"
#include "disk/bam.h"
#include "disk/directory.h"
#include "disk/partition.h"
#include "disk/walk.h"

namespace {

// The start block of entry `number` as the listing counts entries; false
// when the directory holds no such entry or it has no start block.
bool entryStart(const ImageBuffer &image, int number, TrackSector &start) {
    if (!headerBlock(image)) return false;
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, options.showAll != 0)) {
        if (cursor.number != number) continue;
        if (!slotHasStartBlock(image.shape, slot)) return false;
        start = pairAt(slot, kSlotStartTrack);
        return true;
    }
    return false;
}

const char *stopText(WalkStop stop) {
    switch (stop) {
        case WalkStop::OutOfRange: return "a link beyond the last sector of its track or above the last track";
        case WalkStop::AbsentBlock: return "a link to a block outside the image";
        case WalkStop::Loop: return "the chain loops";
        default: return "";
    }
}

std::string readBlockInto(const ImageBuffer &image, const BlockCommand &command) {
    const uint8_t *block = blockAt(image, command.track, command.sector);
    WriteResult result = writeWholeFile(command.path, block, kBlockSize, WriteMode::Replace);
    if (result == WriteResult::Written) return "";
    return consoleFormatf("ERROR: '%s': could not write '%s'.", command.given.c_str(),
                     consoleOutsideText(command.path, ConsoleStream::Error).c_str());
}

// -bwrite: the file's bytes from the block's first byte on, the rest of the block 0.
std::string writeBlockFrom(ImageBuffer &image, const BlockCommand &command, const BlockInput &input) {
    if (input.fileSize > static_cast<size_t>(kBlockSize))
        return consoleFormatf("ERROR: '%s': '%s' holds %llu bytes; a block takes at most 256.", command.given.c_str(),
                         consoleOutsideText(command.path, ConsoleStream::Error).c_str(),
                         static_cast<unsigned long long>(input.fileSize));
    uint8_t *block = blockAt(image, command.track, command.sector);
    std::memset(block, 0, kBlockSize);
    if (input.fileSize > 0) std::memcpy(block, input.fileBytes, input.fileSize);
    return "";
}

std::string copyBlock(ImageBuffer &image, const BlockCommand &command, const BlockInput &input) {
    const ImageBuffer &from = input.from ? *input.from : image;
    std::string problem = blockProblem(from, command.given, command.fromTrack, command.fromSector);
    if (!problem.empty()) return problem;
    uint8_t *block = blockAt(image, command.track, command.sector);
    std::memmove(block, blockAt(from, command.fromTrack, command.fromSector), kBlockSize);
    return "";
}

}  // namespace

std::string blockProblem(const ImageBuffer &image, const std::string &given, int track, int sector) {
    if (track >= 1 && track <= highestTrack(image.shape) && sector < sectorsPerTrack(image.shape, track) &&
        blockPresent(image, track, sector))
        return "";
    return consoleFormatf("ERROR: '%s' names block %i/%i, which the image does not hold.", given.c_str(), track, sector);
}

std::string putBlockBytes(ImageBuffer &image, const std::string &given, TrackSector block, int offset,
                          const uint8_t *bytes, size_t count) {
    if (offset < 0 || offset + count > static_cast<size_t>(kBlockSize))
        return consoleFormatf("ERROR: '%s' puts %llu byte%s at offset %i, past the end of the block.", given.c_str(),
                         static_cast<unsigned long long>(count), count == 1 ? "" : "s", offset);
    std::memcpy(blockAt(image, block.track, block.sector) + offset, bytes, count);
    return "";
}

std::string markBlock(ImageBuffer &image, const std::string &given, TrackSector block, bool used) {
    if (!isMapTrack(image, block.track))
        return consoleFormatf("ERROR: '%s': track %i has no bits in the map (tracks 1-%i).", given.c_str(), block.track,
                         mapTracks(image.shape));
    // A partition's map keeps every track outside its area used: the blocks
    // there belong to the directory around it.
    if (outsidePartition(image.shape, block.track))
        return consoleFormatf("ERROR: '%s': track %i lies outside the partition (tracks %i-%i), whose map keeps it used.",
                              given.c_str(), block.track, image.shape.areaFirst, image.shape.areaLast);
    setBlockBit(image, block.track, block.sector, !used);
    // A bit that did not take lies in a map block the image lacks.
    if (isBlockFree(image, block.track, block.sector) != used) return "";
    return consoleFormatf("ERROR: '%s': the image does not hold the map block of track %i.", given.c_str(), block.track);
}

void printChain(const ImageBuffer &image, TrackSector start) {
    BlockWalk walk = startWalk(start, kEditRules);
    while (walkNext(image, walk)) consolePrintf("%i/%i\n", walk.at.track, walk.at.sector);
    int used = walk.next.sector - 1;
    consolePrintf("%i block%s", walk.visited, plural(walk.visited));
    if (walk.stop == WalkStop::EndOfChain && walk.visited > 0)
        consolePrintf(", %i byte%s used in the last\n", used < 0 ? 0 : used, plural(used));
    else if (walk.stop != WalkStop::EndOfChain)
        consolePrintf("; stopped at %i/%i: %s\n", walk.next.track, walk.next.sector, stopText(walk.stop));
    else
        consolePrintf("\n");
}

std::string runBlockCommand(ImageBuffer &image, const BlockCommand &command, const BlockInput &input) {
    TrackSector block{command.track, command.sector};
    if (command.kind == BlockCommandKind::Chain && command.track == 0) {
        if (!entryStart(image, command.sector, block))
            return consoleFormatf("ERROR: '%s' names entry %i, which the directory does not hold or which has no file.",
                             command.given.c_str(), command.sector);
    }
    std::string problem = blockProblem(image, command.given, block.track, block.sector);
    if (!problem.empty()) return problem;
    switch (command.kind) {
        case BlockCommandKind::Write: return writeBlockFrom(image, command, input);
        case BlockCommandKind::Read: return readBlockInto(image, command);
        case BlockCommandKind::Poke:
            return putBlockBytes(image, command.given, block, command.offset, command.bytes.data(),
                                 command.bytes.size());
        case BlockCommandKind::Fill:
            std::memset(blockAt(image, block.track, block.sector), command.offset, kBlockSize);
            return "";
        case BlockCommandKind::Copy: return copyBlock(image, command, input);
        case BlockCommandKind::Used: return markBlock(image, command.given, block, true);
        case BlockCommandKind::Free: return markBlock(image, command.given, block, false);
        case BlockCommandKind::Chain: printChain(image, block); return "";
    }
    return "";
}
