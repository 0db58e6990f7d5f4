// Directory listing, entry edits and the track/sector export.
#include "directory/listing.h"

#include <cstring>

#include "base/charmap.h"
#include "base/console.h"
#include "base/options.h"
#include "disk/bam.h"
#include "disk/chain.h"

uint8_t exportTracks[kExportCapacity];
uint8_t exportSectors[kExportCapacity];
uint8_t exportCount = 0;

namespace {

const char *const kTypeNames[8] = {"DEL", "SEQ", "PRG", "USR", "REL", "???", "???", "???"};

// The values one entry line shows, read from the slot before any edit.
struct EntryFacts {
    int number;
    int type;
    int startTrack;
    int startSector;
    bool hasStartBlock;  // start track not 0 and start not 18/0
};

// Measurements of the chains met so far in one walk, by the start block's
// position in the image: a damaged directory may name the same chain many
// times (a looping directory names it thousands of times). Any edit clears it,
// since an edited byte may lie inside a measured chain.
struct MeasureCache {
    ChainMeasure measure[kMaxBlocks];
    bool known[kMaxBlocks];
};

void forgetMeasures(MeasureCache &cache) { std::memset(cache.known, 0, sizeof cache.known); }

ChainMeasure measureOnce(const ImageBuffer &image, TrackSector start, MeasureCache &cache) {
    int index = blockOffset(start.track, start.sector) / kBlockSize;
    if (index >= kMaxBlocks) return measureChain(image, start);
    if (!cache.known[index]) {
        cache.measure[index] = measureChain(image, start);
        cache.known[index] = true;
    }
    return cache.measure[index];
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
void printStartAddress(const ImageBuffer &image, const EntryFacts &entry) {
    const uint8_t *first = entry.hasStartBlock ? blockAt(image, entry.startTrack, entry.startSector) : nullptr;
    if (first)
        consolePrintf("$%04x", first[2] | first[3] << 8);
    else
        consolePrintf("-----");
}

// Columns 3 to 7 of an entry line (track/sector, start, bytes, blk, check-sum).
void printColumns(const ImageBuffer &image, const EntryFacts &entry, MeasureCache &cache) {
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
        printStartAddress(image, entry);
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
        consolePrintf("%-5i", slot[kSlotBlockCount] | slot[kSlotBlockCount + 1] << 8);
        printEntryName(DirEntry{slot});
    }
    if (options.showTrackSector) collectForExport(entry);
    if (print) printColumns(image, entry, cache);
    if (options.csvOutput) {
        consolePrintf(";");
        // Already converted in showDirectory: printed as it stands.
        for (int i = 0; i < kNameLength; ++i) consoleDiskChar(csvDiskName[i]);
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
void warnDirectoryStop(const BlockWalk &walk) {
    if (walk.stop == WalkStop::AbsentBlock)
        consoleErrorf("WARNING: The directory links to block %i/%i, which lies outside the image; "
                      "the listing ends there.\n",
                      walk.next.track, walk.next.sector);
    else if (walk.stop == WalkStop::Loop)
        consoleErrorf("WARNING: The directory chain loops; the listing ends after %i blocks.\n", kMaxBlocks);
}

}  // namespace

void printDiskChars(const uint8_t *codes, int count) {
    for (int i = 0; i < count; ++i) consoleDiskChar(toConsoleChar(codes[i]));
}

void printSeparator() { consolePrintf(options.csvOutput ? ";" : " "); }

void printQuotedName(const uint8_t *name) {
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
        field[i + 1] = toConsoleChar(code);
    }
    field[kNameLength + 1] = quotePending ? '"' : ' ';
    for (uint8_t c : field) consoleDiskChar(c);
}

TypeMarks typeMarks(int type) {
    return {type <= 3 ? '*' : ' ', kTypeNames[type & 7], type >= 0xC0 && type <= 0xC4 ? '<' : ' '};
}

void printEntryName(DirEntry entry) {
    TypeMarks marks = typeMarks(entry.bytes[kSlotType]);
    const char *separator = options.csvOutput ? ";" : "";
    consolePrintf("%s", separator);
    printQuotedName(entry.bytes + kSlotName);
    consolePrintf("%s%c%s%s%s%c", separator, marks.splat, separator, marks.name, separator, marks.lock);
}

int blocksFree(const ImageBuffer &image) {
    int sum = 0;
    for (int track = 1; track <= kMapTracks; ++track)
        if (track != kDirTrack) sum += trackMapEntry(image, track).freeCount;
    return sum;
}

void showDirectory(ImageBuffer &image, int printListing) {
    const uint8_t *map = blockAt(image, kDirTrack, 0);
    if (!map) return;
    uint8_t csvDiskName[kNameLength];
    for (int i = 0; i < kNameLength; ++i) csvDiskName[i] = toConsoleChar(map[kDiskNameOffset + i]);
    bool print = printListing != 0;
    if (print && !options.csvOutput) printHeader(map);

    MeasureCache cache;
    forgetMeasures(cache);
    DirectoryCursor cursor = startDirectory(image);
    while (uint8_t *slot = nextListedSlot(image, cursor, options.showAll))
        processSlot(image, slot, cursor.number, print, csvDiskName, cache);
    warnDirectoryStop(cursor.walk);
    if (print && !options.csvOutput) consolePrintf("%i BLOCKS FREE.\n", blocksFree(image));
    if (options.exportTrackSector) printExport();
}
