// Directory listing, entry edits and the track/sector export.
#include "directory/listing.h"

#include <cstring>

#include "base/console.h"
#include "base/options.h"
#include "disk/bam.h"
#include "disk/chain.h"

uint8_t exportTracks[kExportCapacity];
uint8_t exportSectors[kExportCapacity];
uint8_t exportCount = 0;

namespace {

// The values one entry line shows, read from the slot before any edit.
struct EntryFacts {
    int number;
    int type;
    int startTrack;
    int startSector;
    bool hasStartBlock;  // start track not 0 and start not 18/0
};

void printDiskChars(const uint8_t *codes, int count) {
    for (int i = 0; i < count; ++i) consoleDiskCode(codes[i]);
}

void printHeader(const uint8_t *map) {
    if (options.showNumbers) consolePrintf("  #: ");
    consolePrintf("0 \"");
    printDiskChars(map + kDiskNameOffset, kNameLength);
    consolePrintf("\" ");
    printDiskChars(map + kDiskIdOffset, 5);
    consolePrintf("  ");
    if (options.showTrackSector) consolePrintf(" t# s#");
    if (options.showStartAddress || options.changeStartAddress) consolePrintf(" start");
    if (options.showFileSize) consolePrintf(" bytes");
    if (options.showBlockCount) consolePrintf(" blk");
    if (options.showChecksum) consolePrintf(" check-sum ");
    consolePrintf("\n");
}

// "$xxxx" from bytes 2-3 of the file's first block, or the placeholder when
// the entry has no start block or that block lies outside the image.
void printStartAddress(const ImageBuffer &image, const uint8_t *slot) {
    int address;
    if (slotStartAddress(image, slot, address))
        consolePrintf("$%04x", address);
    else
        consolePrintf("-----");
}

// Columns 3 to 7 of an entry line (track/sector, start, bytes, blk, check-sum).
void printColumns(const ImageBuffer &image, const uint8_t *slot, const EntryFacts &entry, MeasureCache &cache) {
    ChainMeasure measure{0, 0, 0};
    if (entry.hasStartBlock && (options.showFileSize || options.showBlockCount || options.showChecksum))
        measure = measureOnce(image, {entry.startTrack, entry.startSector}, cache);
    if (options.showTrackSector) {
        printSeparator();
        consolePrintf("%2i", entry.startTrack);
        printSeparator();
        consolePrintf("%2i", entry.startSector);
    }
    if (options.showStartAddress || options.changeStartAddress) {
        printSeparator();
        printStartAddress(image, slot);
    }
    if (options.showFileSize) {
        printSeparator();
        if (entry.hasStartBlock) consolePrintf("%5d", measure.bytes);
        else consolePrintf("-----");
    }
    if (options.showBlockCount) {
        printSeparator();
        if (entry.hasStartBlock) consolePrintf("%3d", measure.blocks);
        else consolePrintf("---");
    }
    if (options.showChecksum) {
        printSeparator();
        if (entry.hasStartBlock) consolePrintf("%10u", measure.checksum);
        else consolePrintf("----------");
    }
}

void collectForExport(const EntryFacts &entry) {
    if (exportCount >= kExportCapacity) return;
    exportTracks[exportCount] = static_cast<uint8_t>(entry.startTrack);
    exportSectors[exportCount] = static_cast<uint8_t>(entry.startSector);
    ++exportCount;
}

// Writes the new start address into the file's first block; an entry without
// a start block, or whose first block lies outside the image, is left alone.
void changeStartAddress(ImageBuffer &image, const EntryFacts &entry) {
    consolePrintf(" -> $%04x", options.newStartAddress);
    uint8_t *first = entry.hasStartBlock ? blockAt(image, entry.startTrack, entry.startSector) : nullptr;
    if (!first) return;
    first[2] = static_cast<uint8_t>(options.newStartAddress & 0xFF);
    first[3] = static_cast<uint8_t>(options.newStartAddress >> 8);
}

bool inEditRange(int number) { return number >= options.firstEntry && number <= options.lastEntry; }

// Rows 9-11 of an entry: the edits, in this order, after the columns.
void applyEdits(ImageBuffer &image, uint8_t *slot, const EntryFacts &entry, bool print, MeasureCache &cache) {
    if (options.changeStartAddress && entry.number == options.startEntry) {
        changeStartAddress(image, entry);
        forgetMeasures(cache);
    }
    if (options.removeEntries && inEditRange(entry.number)) {
        if (print) consolePrintf(" X deleting...");
        std::memset(slot + kSlotType, 0, kSlotSize - kSlotType);
        forgetMeasures(cache);
    }
    if (options.scratchEntries && inEditRange(entry.number)) {
        if (print) consolePrintf(" X scratching...");
        slot[kSlotType] = 0;
        forgetMeasures(cache);
    }
}

void processSlot(ImageBuffer &image, uint8_t *slot, int number, bool print, const uint8_t *csvDiskName,
                 MeasureCache &cache) {
    EntryFacts entry{number, slot[kSlotType], slot[kSlotStartTrack], slot[kSlotStartSector], slotHasStartBlock(slot)};
    if (options.showNumbers && print) consolePrintf(options.csvOutput ? "%3i;" : "%3i: ", number);
    if (print) {
        consolePrintf("%-5i", slotBlockCount(slot));
        printEntryName(DirEntry{slot});
    }
    if (options.showTrackSector) collectForExport(entry);
    if (print) printColumns(image, slot, entry, cache);
    if (options.csvOutput) {
        consolePrintf(";");
        // Read in showDirectory before any edit, as the disk name stood then.
        printDiskChars(csvDiskName, kNameLength);
    }
    applyEdits(image, slot, entry, print, cache);
    if (print) consolePrintf("\n");
}

void printExport() {
    consolePrintf("tracks:\n  .byte ");
    for (int i = 0; i < exportCount; ++i) consolePrintf(i ? ",%2i" : "%2i", exportTracks[i]);
    consolePrintf("\nsectors:\n  .byte ");
    for (int i = 0; i < exportCount; ++i) consolePrintf(i ? ",%2i" : "%2i", exportSectors[i]);
}

// Why a directory walk ended early, on standard error; the listing ends there.
void warnDirectoryStop(const DirectoryCursor &cursor) {
    TrackSector link = cursor.stopLink;
    if (cursor.walk.stop == WalkStop::AbsentBlock)
        consoleErrorf("WARNING: The directory links to block %i/%i, which lies outside the image; "
                      "the listing ends there.\n",
                      link.track, link.sector);
    else if (cursor.walk.stop == WalkStop::Loop)
        consoleErrorf("WARNING: The directory chain loops; the listing ends after %i blocks.\n", kMaxBlocks);
}

}  // namespace

void printSeparator() { consolePrintf(options.csvOutput ? ";" : " "); }

void printEntryName(DirEntry entry) {
    const uint8_t *name = entry.bytes + kSlotName;
    uint8_t field[kNameLength + 2];
    field[0] = '"';
    bool quotePending = true;
    for (int i = 0; i < kNameLength; ++i) {
        uint8_t code = name[i];
        if (code == 0xA0 && quotePending) {
            field[i + 1] = '"';
            quotePending = false;
            continue;
        }
        if (code == '"') quotePending = false;
        field[i + 1] = code;
    }
    field[kNameLength + 1] = quotePending ? '"' : ' ';
    int type = entry.bytes[kSlotType];
    char splat = type <= 3 ? '*' : ' ';
    char lock = type >= 0xC0 && type <= 0xC4 ? '<' : ' ';
    const char *separator = options.csvOutput ? ";" : "";
    consolePrintf("%s", separator);
    printDiskChars(field, kNameLength + 2);
    consolePrintf("%s%c%s%s%s%c", separator, splat, separator, fileTypeName(type), separator, lock);
}

void showDirectory(ImageBuffer &image, int printListing) {
    const uint8_t *map = blockAt(image, kDirTrack, 0);
    if (!map) return;
    uint8_t csvDiskName[kNameLength];
    std::memcpy(csvDiskName, map + kDiskNameOffset, kNameLength);
    bool print = printListing != 0;
    if (print && !options.csvOutput) printHeader(map);

    MeasureCache cache;
    forgetMeasures(cache);
    DirectoryCursor cursor = startDirectory(image);
    while (uint8_t *slot = nextListedSlot(image, cursor, options.showAll != 0))
        processSlot(image, slot, cursor.number, print, csvDiskName, cache);
    warnDirectoryStop(cursor);
    if (print && !options.csvOutput) consolePrintf("%i BLOCKS FREE.\n", blocksFree(image));
    if (options.exportTrackSector) printExport();
}
