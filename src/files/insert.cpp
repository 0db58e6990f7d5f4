// Inserting host files.
#include "files/insert.h"

#include <algorithm>
#include <cstring>

#include "base/console.h"
#include "base/errors.h"
#include "base/nametext.h"
#include "base/options.h"
#include "disk/bam.h"
#include "disk/directory.h"
#include "disk/placement.h"

namespace {

constexpr int kPayloadPerBlock = kBlockSize - 2;
constexpr uint8_t kPadding = 0xA0;

// What one pass over the directory finds for an insert.
struct DirectoryScan {
    uint8_t *freeSlot;   // first slot whose type byte is 0; nullptr when none
    int freeSlotNumber;  // the entry number it gets: the shown slots before it
    int shownSlots;      // shown slots of the whole directory
    bool nameOnDisk;     // a listed entry has the name already
};

// The bytes of a 16-byte name before its padding: what a drive compares.
size_t nameLength(const uint8_t *name) {
    const void *padding = std::memchr(name, kPadding, kNameLength);
    return padding ? static_cast<size_t>(static_cast<const uint8_t *>(padding) - name) : kNameLength;
}

// A stored name is the same file to a 1541 as a name of `length` bytes when
// it agrees in those bytes and ends there (what follows a 0xA0 is not part
// of the name).
bool sameFileName(const uint8_t *stored, const uint8_t *name, size_t length) {
    return std::memcmp(stored, name, length) == 0 && (length == kNameLength || stored[length] == kPadding);
}

// One pass over the directory as the listing reads it, every slot looked at.
DirectoryScan scanDirectory(ImageBuffer &image, const uint8_t *name) {
    DirectoryScan scan{nullptr, -1, 0, false};
    size_t length = nameLength(name);
    DirectoryCursor cursor = startDirectory(image);
    while (uint8_t *slot = nextListedSlot(image, cursor, true)) {
        bool empty = slot[kSlotType] == 0;
        if (!empty && sameFileName(slot + kSlotName, name, length)) scan.nameOnDisk = true;
        if (empty && !scan.freeSlot) {
            scan.freeSlot = slot;
            scan.freeSlotNumber = scan.shownSlots;
        }
        if (!empty || options.showAll) ++scan.shownSlots;
    }
    return scan;
}

const char *problemText(NameTextProblem problem) {
    switch (problem) {
        case NameTextProblem::TooLong: return "it is longer than 16 bytes";
        case NameTextProblem::BadEscape: return "a '%' is not followed by two hexadecimal digits";
        default: return "it holds a character the name rule cannot read";
    }
}

// Takes the next block of a file (the first when `previous` is null) and marks
// it used; status 2 when the disk has none.
TrackSector takeFileBlock(ImageBuffer &image, InsertRun &run, const TrackSector *previous) {
    TrackSector block;
    SearchSkips &skips = run.growth.skips;
    bool found = previous ? findNextFileBlock(image, skips, *previous, block) : findFileStart(image, skips, block);
    if (!found) {
        warnAfterSearch(image, run.growth, nullptr);
        exitWithError(2, "ERROR: Disk full '%s'!", run.growth.path.c_str());
    }
    setBlockBit(image, block.track, block.sector, false);
    return block;
}

// Writes `bytes` as a chain of `count` blocks; returns its first block. The
// last block's link is 0 and the index of its last used byte; bytes beyond
// the data are 0.
TrackSector writeChain(ImageBuffer &image, InsertRun &run, const uint8_t *bytes, size_t size, int count) {
    TrackSector first = takeFileBlock(image, run, nullptr);
    TrackSector at = first;
    for (int index = 0; index < count; ++index) {
        size_t offset = static_cast<size_t>(index) * kPayloadPerBlock;
        size_t length = std::min<size_t>(kPayloadPerBlock, size - std::min(size, offset));
        TrackSector next{0, static_cast<int>(length) + 1};
        if (index + 1 < count) next = takeFileBlock(image, run, &at);
        uint8_t *block = blockAt(image, at.track, at.sector);
        block[0] = static_cast<uint8_t>(next.track);
        block[1] = static_cast<uint8_t>(next.sector);
        if (length) std::memcpy(block + 2, bytes + offset, length);
        std::memset(block + 2 + length, 0, kPayloadPerBlock - length);
        at = next;
    }
    return first;
}

// Bytes 02-1F of the slot: the closed type, the first block, the name, zeros
// (no REL or GEOS fields) and the block count.
void writeEntry(uint8_t *slot, const HostFileEntry &entry, TrackSector first, int count) {
    std::memset(slot + kSlotType, 0, kSlotSize - kSlotType);
    slot[kSlotType] = entry.typeByte;
    slot[kSlotStartTrack] = static_cast<uint8_t>(first.track);
    slot[kSlotStartSector] = static_cast<uint8_t>(first.sector);
    std::memcpy(slot + kSlotName, entry.name, kNameLength);
    slot[kSlotBlockCount] = static_cast<uint8_t>(count & 0xFF);
    slot[kSlotBlockCount + 1] = static_cast<uint8_t>(count >> 8);
}

void printInserted(const DiskShape &shape, int number, const uint8_t *slot) {
    consolePrintf("%3i: \"", number);
    for (int i = 0; i < kNameLength && slot[kSlotName + i] != kPadding; ++i)
        consoleDiskCode(slot[kSlotName + i]);
    int blocks = slotBlockCount(slot);
    consolePrintf("\" %s, %i block%s from %i/%i\n", fileTypeName(shape, slot[kSlotType]), blocks, plural(blocks),
                  slot[kSlotStartTrack], slot[kSlotStartSector]);
}

}  // namespace

InsertRun startInserts(const ImageBuffer &image, const std::string &imagePath) {
    InsertRun run{startGrowth(image, imagePath, false), {0, 0}};
    // As the listing reads the directory: from the link in the header (18/0, 40/0).
    run.directoryEnd = requireDirectoryEnd(image, {image.shape.systemTrack, 0}, run.growth);
    return run;
}

HostFileEntry requireEntryName(const std::string &hostPath, const std::string &fileName) {
    HostFileEntry entry = entryOfHostName(fileName);
    std::string shownPath = consoleOutsideText(hostPath, ConsoleStream::Error);
    if (entry.problem != NameTextProblem::None)
        exitWithError(1, "ERROR: The name of '%s' gives no entry name: %s.", shownPath.c_str(),
                      problemText(entry.problem));
    // A drive cannot load or open a file without a name.
    if (entry.length == 0)
        exitWithError(1, "ERROR: The name of '%s' gives an empty entry name, which a drive cannot address; give "
                         "the host file a name before its last dot, such as 'intro.prg' (%%XX gives any byte).",
                      shownPath.c_str());
    return entry;
}

void insertFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath, const HostFileEntry &entry,
                const uint8_t *bytes, size_t size) {
    std::string shownPath = consoleOutsideText(hostPath, ConsoleStream::Error);
    DirectoryScan scan = scanDirectory(image, entry.name);
    if (scan.nameOnDisk)
        exitWithError(1, "ERROR: '%s' holds a file of the name of '%s' already.", run.growth.path.c_str(),
                      shownPath.c_str());
    uint8_t *slot = scan.freeSlot;
    int number = scan.freeSlotNumber;
    if (!slot) {
        TrackSector added;
        if (!growDirectory(image, run.directoryEnd, run.growth, true, added))
            exitWithError(2, "ERROR: Disk full '%s'! Its directory is full: no slot is free, and track %i, which "
                             "holds the whole directory on a %s, has no free block for another directory block.",
                          run.growth.path.c_str(), image.shape.systemTrack, driveName(image.shape));
        run.directoryEnd = added;
        slot = blockAt(image, added.track, added.sector);
        number = scan.shownSlots;
    }
    int count = size == 0 ? 1 : static_cast<int>((size + kPayloadPerBlock - 1) / kPayloadPerBlock);
    TrackSector first = writeChain(image, run, bytes, size, count);
    warnAfterSearch(image, run.growth, nullptr);
    writeEntry(slot, entry, first, count);
    printInserted(image.shape, number, slot);
}
