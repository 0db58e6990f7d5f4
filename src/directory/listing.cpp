// Directory listing, entry edits and the track/sector export.
#include "directory/listing.h"

#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "base/errors.h"
#include "base/options.h"
#include "disk/bam.h"
#include "disk/chain.h"
#include "disk/inuse.h"

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
    bool partition;      // a 1581 partition: an area of the disk, no file
};

void printHeader(const ImageBuffer &image, const uint8_t *map) {
    if (options.showNumbers) consolePrintf("  #: ");
    consolePrintf("0 \"");
    printDiskChars(map + diskNameOffset(image), kNameLength);
    consolePrintf("\" ");
    printDiskChars(map + diskIdOffset(image), 5);
    consolePrintf("  ");
    if (options.showTrackSector) consolePrintf(" t# s#");
    if (options.showStartAddress || options.changeStartAddress) consolePrintf(" start");
    if (options.showFileSize) consolePrintf(" bytes");
    if (options.showBlockCount) consolePrintf(" blk");
    if (options.showChecksum) consolePrintf(" check-sum ");
    consolePrintf("\n");
}

// "$xxxx" from bytes 2-3 of the file's first block, or the placeholder when
// the entry has no start block or that block lies outside the image, or is
// a partition.
void printStartAddress(const ImageBuffer &image, const uint8_t *slot, const EntryFacts &entry) {
    int address;
    if (!entry.partition && slotStartAddress(image, slot, address))
        consolePrintf("$%04x", address);
    else
        consolePrintf("-----");
}

// Columns 3 to 7 of an entry line (track/sector, start, bytes, blk, check-sum).
// A partition shows its size in blocks alone: it has no chain to measure.
void printColumns(const ImageBuffer &image, const uint8_t *slot, const EntryFacts &entry, MeasureCache &cache) {
    ChainMeasure measure{0, 0, 0};
    bool measured = entry.hasStartBlock && !entry.partition;
    if (measured && (options.showFileSize || options.showBlockCount || options.showChecksum))
        measure = measureOnce(image, {entry.startTrack, entry.startSector}, cache);
    if (entry.partition) measure.blocks = slotBlockCount(slot);
    if (options.showTrackSector) {
        printSeparator();
        consolePrintf("%2i", entry.startTrack);
        printSeparator();
        consolePrintf("%2i", entry.startSector);
    }
    if (options.showStartAddress || options.changeStartAddress) {
        printSeparator();
        printStartAddress(image, slot, entry);
    }
    if (options.showFileSize) {
        printSeparator();
        if (measured) consolePrintf("%5d", measure.bytes);
        else consolePrintf("-----");
    }
    if (options.showBlockCount) {
        printSeparator();
        if (measured || entry.partition) consolePrintf("%3d", measure.blocks);
        else consolePrintf("---");
    }
    if (options.showChecksum) {
        printSeparator();
        if (measured) consolePrintf("%10u", measure.checksum);
        else consolePrintf("----------");
    }
}

void collectForExport(const EntryFacts &entry) {
    if (exportCount >= kExportCapacity) return;
    exportTracks[exportCount] = static_cast<uint8_t>(entry.startTrack);
    exportSectors[exportCount] = static_cast<uint8_t>(entry.startSector);
    ++exportCount;
}

bool inEditRange(int number) { return number >= options.firstEntry && number <= options.lastEntry; }

// The edits' side of one walk: the blocks -start must not write, and what
// the edits did so far (outcome.beyondBlock: from where on they edit nothing).
struct EditState {
    BlockSet directory;  // 18/0 and the directory's blocks (only with -start)
    EntryEditOutcome outcome;
};

// Notes the edits that named an entry which is listed, never edited.
void noteListedOnly(const EntryFacts &entry, EditState &edits) {
    if ((options.removeEntries || options.scratchEntries) && inEditRange(entry.number))
        edits.outcome.rangeListedOnly = true;
    if (options.changeStartAddress && entry.number == options.startEntry) edits.outcome.startListedOnly = true;
}

StartRefusal refusalFor(const ImageBuffer &image, const EntryFacts &entry, const BlockSet &directory) {
    int track = entry.startTrack;
    int sector = entry.startSector;
    if (track == 0) return StartRefusal::NoStartBlock;
    if (!blockPresent(image, track, sector)) return StartRefusal::OutsideImage;
    if (sector >= sectorsPerTrack(image.shape, track)) return StartRefusal::BeyondTrack;
    if (blockSetHas(directory, track, sector)) return StartRefusal::DirectoryBlock;
    return StartRefusal::None;
}

// Writes the new start address into the file's first block, unless that is
// no block of a file; the refusal is kept for requireEditsMade.
void changeStartAddress(ImageBuffer &image, const EntryFacts &entry, EditState &edits) {
    edits.outcome.startEntryMet = true;
    edits.outcome.startBlock = {entry.startTrack, entry.startSector};
    edits.outcome.startRefusal = refusalFor(image, entry, edits.directory);
    if (edits.outcome.startRefusal != StartRefusal::None) return;
    consolePrintf(" -> $%04x", options.newStartAddress);
    uint8_t *first = blockAt(image, entry.startTrack, entry.startSector);
    first[2] = static_cast<uint8_t>(options.newStartAddress & 0xFF);
    first[3] = static_cast<uint8_t>(options.newStartAddress >> 8);
}

// Rows 9-11 of an entry: the edits, in this order, after the columns.
void applyEdits(ImageBuffer &image, uint8_t *slot, const EntryFacts &entry, bool print, MeasureCache &cache,
                EditState &edits) {
    if (edits.outcome.beyondBlock.track != 0) {
        noteListedOnly(entry, edits);
        return;
    }
    if (options.changeStartAddress && entry.number == options.startEntry) {
        changeStartAddress(image, entry, edits);
        forgetMeasures(cache);
    }
    if (options.removeEntries && inEditRange(entry.number)) {
        if (print) consolePrintf(" X deleting...");
        std::memset(slot + kSlotType, 0, kSlotSize - kSlotType);
        forgetMeasures(cache);
        ++edits.outcome.rangeEdits;
    }
    if (options.scratchEntries && inEditRange(entry.number)) {
        if (print) consolePrintf(" X scratching...");
        slot[kSlotType] = 0;
        forgetMeasures(cache);
        ++edits.outcome.rangeEdits;
    }
}

// ---- CSV fields ------------------------------------------------------------------
// A CSV line reads back whole in a CSV reader (RFC 4180, ';' between the
// fields) and is changed only where it has to be: a field that holds a quote,
// a ';' or a line end outside quotes would split or lose its quotes.

// True for a disk character that a CSV reader takes as a quote, the
// separator or a line end, as the output mode prints it. Each code's answer
// is worked out once a run (the mode does not change), when first asked.
bool csvSpecial(uint8_t code) {
    static int8_t special[256];  // 0 not yet known, 1 special, -1 not
    if (special[code] == 0) {
        special[code] = -1;
        for (char ascii : {'"', ';', '\r', '\n'})
            if (consoleDiskCodeWrites(code, ascii)) special[code] = 1;
    }
    return special[code] > 0;
}

// Appends `count` disk characters to `field`, each one that prints as a
// quote twice (a quote inside quotes); returns the new length.
int appendQuotedChars(uint8_t *field, int length, const uint8_t *codes, int count) {
    for (int i = 0; i < count; ++i) {
        field[length++] = codes[i];
        if (consoleDiskCodeWrites(codes[i], '"')) field[length++] = codes[i];
    }
    return length;
}

// The name field of a CSV line: as printQuotedName, except that a quote in
// the name does not take the closing quote's place but is doubled, and that
// when the padding after the first 0xA0 holds a special character the
// quotes enclose all 16 characters. A name without special characters gets
// the listing's own field.
void printCsvName(const uint8_t *name) {
    const uint8_t *padding = static_cast<const uint8_t *>(std::memchr(name, 0xA0, kNameLength));
    int close = padding ? static_cast<int>(padding - name) : kNameLength;  // the closing quote's place
    for (int i = close + 1; i < kNameLength; ++i)
        if (csvSpecial(name[i])) close = kNameLength;
    uint8_t field[2 * kNameLength + 2];
    field[0] = '"';
    int length = appendQuotedChars(field, 1, name, close);
    field[length++] = '"';
    for (int i = close + 1; i < kNameLength; ++i) field[length++] = name[i];
    if (close < kNameLength) field[length++] = ' ';
    printDiskChars(field, length);
}

// The disk name at the end of a CSV line: made once a listing, as the name
// stood before any edit.
struct CsvDiskName {
    uint8_t field[2 * kNameLength + 2];
    int length;
};

// The disk name's field, quoted (inner quotes doubled) only when it holds a
// special character.
CsvDiskName csvDiskNameOf(const uint8_t *diskName) {
    CsvDiskName name{};
    bool quoted = false;
    for (int i = 0; i < kNameLength; ++i) quoted = quoted || csvSpecial(diskName[i]);
    if (!quoted) {
        std::memcpy(name.field, diskName, kNameLength);
        name.length = kNameLength;
        return name;
    }
    name.field[0] = '"';
    name.length = appendQuotedChars(name.field, 1, diskName, kNameLength);
    name.field[name.length++] = '"';
    return name;
}

void processSlot(ImageBuffer &image, uint8_t *slot, int number, bool print, const CsvDiskName &csvDiskName,
                 MeasureCache &cache, EditState &edits) {
    EntryFacts entry{number, slot[kSlotType], slot[kSlotStartTrack], slot[kSlotStartSector],
                     slotHasStartBlock(image.shape, slot), isPartition(image.shape, slot)};
    if (options.showNumbers && print) consolePrintf(options.csvOutput ? "%3i;" : "%3i: ", number);
    if (print) {
        consolePrintf("%-5i", slotBlockCount(slot));
        printEntryName(image.shape, DirEntry{slot});
    }
    if (options.showTrackSector) collectForExport(entry);
    if (print) printColumns(image, slot, entry, cache);
    if (options.csvOutput) {
        consolePrintf(";");
        printDiskChars(csvDiskName.field, csvDiskName.length);
    }
    applyEdits(image, slot, entry, print, cache, edits);
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
        consoleErrorf("WARNING: The directory chain loops back to block %i/%i; the listing ends there.\n",
                      link.track, link.sector);
}

}  // namespace

void printDiskChars(const uint8_t *codes, int count) { consoleDiskCodes(codes, count); }

void printSeparator() { consolePrintf(options.csvOutput ? ";" : " "); }

void printQuotedName(const uint8_t *name) {
    uint8_t field[kNameLength + 2];
    quotedNameCodes(name, field);
    printDiskChars(field, kNameLength + 2);
}

void quotedNameCodes(const uint8_t *name, uint8_t *field) {
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
}

TypeMarks typeMarks(const DiskShape &shape, int type) {
    return {type <= 3 ? '*' : ' ', fileTypeName(shape, type), type >= 0xC0 && type <= 0xC4 ? '<' : ' '};
}

void printEntryName(const DiskShape &shape, DirEntry entry) {
    TypeMarks marks = typeMarks(shape, entry.bytes[kSlotType]);
    const char *separator = options.csvOutput ? ";" : "";
    consolePrintf("%s", separator);
    if (options.csvOutput) printCsvName(entry.bytes + kSlotName);
    else printQuotedName(entry.bytes + kSlotName);
    consolePrintf("%s%c%s%s%s%c", separator, marks.splat, separator, marks.name, separator, marks.lock);
}

EntryEditOutcome showDirectory(ImageBuffer &image, int printListing) {
    EditState edits{BlockSet{}, EntryEditOutcome{0, false, StartRefusal::None, {0, 0}, false, false, {0, 0}}};
    const uint8_t *map = headerBlock(image);
    if (!map) return edits.outcome;
    if (options.changeStartAddress) edits.directory = collectBlocksInUse(image).directory;
    CsvDiskName csvDiskName{};
    if (options.csvOutput) csvDiskName = csvDiskNameOf(map + diskNameOffset(image));
    bool print = printListing != 0;
    if (print && !options.csvOutput) printHeader(image, map);

    MeasureCache cache;
    forgetMeasures(cache);
    DirectoryCursor cursor = startDirectory(image);
    while (uint8_t *slot = nextListedSlot(image, cursor, options.showAll != 0)) {
        // Entries reached through a sector beyond its track (17/25) are listed, never edited.
        edits.outcome.beyondBlock = cursor.beyondBlock;
        processSlot(image, slot, cursor.number, print, csvDiskName, cache, edits);
    }
    warnDirectoryStop(cursor);
    if (print && !options.csvOutput) consolePrintf("%i BLOCKS FREE.\n", blocksFree(image));
    if (options.exportTrackSector) printExport();
    return edits.outcome;
}

std::string listedOnlyText(const char *edit, const char *named, TrackSector beyond) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "ERROR: '%s' names %s in or after block %i/%i, which the directory reaches through a link beyond "
                  "the last sector of its track; such entries are listed, never edited, and nothing is written.",
                  edit, named, beyond.track, beyond.sector);
    return text;
}

void refuseListedOnly(const char *edit, const char *named, TrackSector beyond) {
    exitWithMessage(1, "%s", listedOnlyText(edit, named, beyond).c_str());
}

void requireEditsMade(const EntryEditOutcome &outcome) {
    if ((options.removeEntries || options.scratchEntries) && outcome.rangeEdits == 0) {
        const char *option = options.removeEntries ? "-rd" : "-sd";
        char edit[32];
        bool one = options.firstEntry == options.lastEntry;
        if (one) std::snprintf(edit, sizeof edit, "%s %i", option, options.firstEntry);
        else std::snprintf(edit, sizeof edit, "%s %i %i", option, options.firstEntry, options.lastEntry);
        if (outcome.rangeListedOnly) refuseListedOnly(edit, one ? "an entry" : "only entries", outcome.beyondBlock);
        exitWithMessage(1, "ERROR: '%s' names no entry of the directory; nothing is written.", edit);
    }
    if (!options.changeStartAddress) return;
    if (!outcome.startEntryMet) {
        char edit[32];
        std::snprintf(edit, sizeof edit, "-start %i", options.startEntry);
        if (outcome.startListedOnly) refuseListedOnly(edit, "an entry", outcome.beyondBlock);
        exitWithMessage(1, "ERROR: '%s' names no entry of the directory; nothing is written.", edit);
    }
    int number = options.startEntry;
    TrackSector first = outcome.startBlock;
    const char *where = nullptr;
    switch (outcome.startRefusal) {
        case StartRefusal::None: return;
        case StartRefusal::NoStartBlock:
            exitWithMessage(1, "ERROR: Entry %i has no start block; '-start' has nothing to change.", number);
        case StartRefusal::OutsideImage: where = "lies outside the image"; break;
        case StartRefusal::BeyondTrack: where = "lies beyond the last sector of its track"; break;
        case StartRefusal::DirectoryBlock: where = "holds the directory"; break;
    }
    exitWithMessage(1, "ERROR: Entry %i starts at block %i/%i, which %s; '-start' does not write there.", number,
                    first.track, first.sector, where);
}
