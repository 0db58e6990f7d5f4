// Inserting host files.
#include "files/insert.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/errors.h"
#include "base/nametext.h"
#include "base/options.h"
#include "disk/bam.h"
#include "disk/directory.h"
#include "disk/entrychains.h"
#include "disk/filelayout.h"
#include "disk/format.h"
#include "disk/partition.h"
#include "disk/placement.h"
#include "disk/walk.h"

namespace {

constexpr uint8_t kPadding = 0xA0;
constexpr uint8_t kLockAndClosedBits = 0xC0;  // bit 6: locked ('<'); bit 7: closed (clear: '*')

// What one pass over the directory finds for an insert.
struct DirectoryScan {
    uint8_t *freeSlot;   // first slot whose type byte is 0; nullptr when none
    int freeSlotNumber;  // the entry number it gets: the shown slots before it
    int shownSlots;      // shown slots of the whole directory
    uint8_t *namedSlot;  // the first listed slot with the name; nullptr when none
    int namedSlotNumber; // its entry number
};

// The bytes of a 16-byte name before its padding: what a drive compares.
size_t nameLength(const uint8_t *name) {
    const void *padding = std::memchr(name, kPadding, kNameLength);
    return padding ? static_cast<size_t>(static_cast<const uint8_t *>(padding) - name) : kNameLength;
}

// A name as a drive compares it with stored names: its bytes and the 0xA0
// that ends it (none for a name of 16 bytes), as two words and their masks.
struct NameKey {
    uint64_t words[2];
    uint64_t masks[2];
};

NameKey nameKey(const uint8_t *name) {
    size_t length = nameLength(name);
    uint8_t bytes[kNameLength];
    uint8_t mask[kNameLength] = {};
    std::memcpy(bytes, name, kNameLength);
    if (length < kNameLength) bytes[length] = kPadding;
    std::memset(mask, 0xFF, std::min<size_t>(length + 1, kNameLength));
    NameKey key;
    std::memcpy(key.words, bytes, sizeof key.words);
    std::memcpy(key.masks, mask, sizeof key.masks);
    return key;
}

// A stored name is the same file to a 1541 when it agrees with the name in
// its bytes and ends where it ends (what follows a 0xA0 is not part of the
// name).
bool sameFileName(const uint8_t *stored, const NameKey &key) {
    uint64_t words[2];
    std::memcpy(words, stored, sizeof words);
    return (((words[0] ^ key.words[0]) & key.masks[0]) | ((words[1] ^ key.words[1]) & key.masks[1])) == 0;
}

// True while every link the run's record of the directory was read through
// still holds the bytes it held.
bool directoryRecordHolds(const InsertRun &run) {
    if (run.readLinks.empty()) return false;
    for (size_t i = 0; i < run.readLinks.size(); ++i)
        if ((run.readLinks[i][0] << 8 | run.readLinks[i][1]) != run.readLinkValues[i]) return false;
    return true;
}

void noteLink(InsertRun &run, uint8_t *link) {
    run.readLinks.push_back(link);
    run.readLinkValues.push_back(static_cast<uint16_t>(link[0] << 8 | link[1]));
}

// Reads the directory blocks as the listing reads them into the run's record.
void recordDirectory(ImageBuffer &image, InsertRun &run) {
    run.directoryBlocks.clear();
    run.readLinks.clear();
    run.readLinkValues.clear();
    noteLink(run, headerBlock(image));
    DirectoryCursor cursor = startDirectory(image);
    // The block each link leads to is read whether or not the walk then takes
    // it (one linking on beyond the last track is replaced by the first
    // directory block; one read before ends the walk): its link counts too.
    auto noteFollowed = [&](TrackSector followed) {
        if (uint8_t *read = blockAt(image, followed.track, followed.sector)) noteLink(run, read);
    };
    TrackSector followed = cursor.walk.next;
    // Every slot is yielded: the first of each block is the block.
    while (uint8_t *slot = nextListedSlot(image, cursor, true)) {
        if (cursor.slotIndex == 0) {
            noteFollowed(followed);
            run.directoryBlocks.push_back(slot);
            noteLink(run, slot);
        }
        followed = cursor.walk.next;
    }
    noteFollowed(followed);
}

// One pass over the directory as the listing reads it, every slot looked at.
DirectoryScan scanDirectory(ImageBuffer &image, InsertRun &run, const uint8_t *name) {
    DirectoryScan scan{nullptr, -1, 0, nullptr, -1};
    if (!directoryRecordHolds(run)) recordDirectory(image, run);
    NameKey key = nameKey(name);
    for (uint8_t *block : run.directoryBlocks)
        for (int index = 0; index < kSlotsPerBlock; ++index) {
            uint8_t *slot = block + index * kSlotSize;
            bool empty = slot[kSlotType] == 0;
            if (!empty && !scan.namedSlot && sameFileName(slot + kSlotName, key)) {
                scan.namedSlot = slot;
                scan.namedSlotNumber = scan.shownSlots;
            }
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

// Ends the run with status 2: the disk, or the partition the run works in, is
// full; `more` (possibly "") follows the first sentence.
[[noreturn]] void exitFull(const InsertRun &run, const std::string &more) {
    if (run.partition.empty()) exitWithMessage(2, "ERROR: Disk full '%s'!%s", run.growth.path.c_str(), more.c_str());
    exitWithMessage(2, "ERROR: Partition '%s' of '%s' is full!%s", run.partition.c_str(), run.growth.path.c_str(),
                    more.c_str());
}

// What the chain of one insert is: its placement, first block (track 0: where
// the drive starts a file), length in blocks, the host file as messages name
// it, and whether it replaces a file whose blocks are freed only after it.
struct NewChain {
    const PlacementRules &rules;
    TrackSector start;
    int count;
    const std::string &shownPath;
    bool replacing;
};

// Takes the next block of a file (the first when `previous` is null) and
// marks it used; status 2, naming how many of the chain's blocks are missing
// (`taken` are placed), when the disk or partition has none.
TrackSector takeFileBlock(ImageBuffer &image, InsertRun &run, const NewChain &chain, const TrackSector *previous,
                          int taken) {
    TrackSector block;
    SearchSkips &skips = run.growth.skips;
    const PlacementRules &rules = chain.rules;
    bool found = previous               ? findNextFileBlock(image, rules, skips, *previous, block)
                 : chain.start.track > 0 ? findFileStartAt(image, rules, skips, chain.start, block)
                                         : findFileStart(image, rules, skips, run.fullTracks, block);
    if (!found) {
        warnAfterSearch(image, run.growth, nullptr);
        int missing = chain.count - taken;
        exitFull(run, " '" + chain.shownPath + "' needs " + std::to_string(chain.count) + " block" +
                          plural(chain.count) + ", " + std::to_string(missing) + (missing == 1 ? " is" : " are") +
                          " missing" +
                          (chain.replacing ? " ('-wreplace' frees the old file's blocks once the new file is whole)"
                                           : "") + ".");
    }
    markPlacedBlock(image, rules, block, false);
    return block;
}

// Takes the chain's blocks in turn, each the next after the one before (the
// first where the chain starts), all marked used.
std::vector<TrackSector> takeFileBlocks(ImageBuffer &image, InsertRun &run, const NewChain &chain) {
    std::vector<TrackSector> blocks;
    blocks.reserve(static_cast<size_t>(chain.count));
    for (int taken = 0; taken < chain.count; ++taken)
        blocks.push_back(takeFileBlock(image, run, chain, taken > 0 ? &blocks.back() : nullptr, taken));
    return blocks;
}

// Blocks a file of this structure takes: its chain, REL side sectors (and a
// super side sector), a GEOS info block, index and records.
int fileBlockCount(const ImageBuffer &image, const FileStructure &structure, size_t size) {
    if (isGeosForm(structure.form)) return geosBlockCount(structure, size);
    int data = chainBlocksFor(size);
    if (structure.form != FileForm::Rel) return data;
    return data + relSideSectors(data) + (relUsesSuperSide(image) ? 1 : 0);
}

// Where the written file's chains start: its first block and the block its
// entry names in bytes 15-16 (track 0: none).
struct WrittenFile {
    TrackSector first;
    TrackSector second;
};

// Takes the blocks of a REL file in the drive's order and writes its data
// chain, side sectors and super side sector.
WrittenFile writeRel(ImageBuffer &image, InsertRun &run, const NewChain &chain, int recordLength,
                     const uint8_t *bytes, size_t size) {
    bool super = relUsesSuperSide(image);
    std::vector<RelPart> order = relStreamOrder(chainBlocksFor(size), super);
    std::vector<TrackSector> blocks = takeFileBlocks(image, run, chain);
    std::vector<TrackSector> data, sides;
    TrackSector superBlock{0, 0};
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i].kind == RelPart::Data) data.push_back(blocks[i]);
        else if (order[i].kind == RelPart::Side) sides.push_back(blocks[i]);
        else superBlock = blocks[i];
    }
    writeRelFile(image, data, sides, superBlock, recordLength, bytes, size);
    return {data[0], super ? superBlock : sides[0]};
}

// Takes the file's blocks and writes it by its structure.
WrittenFile writeFile(ImageBuffer &image, InsertRun &run, const NewChain &chain, const FileStructure &structure,
                      const uint8_t *bytes, size_t size) {
    if (structure.form == FileForm::Rel) return writeRel(image, run, chain, structure.recordLength, bytes, size);
    std::vector<TrackSector> blocks = takeFileBlocks(image, run, chain);
    if (!isGeosForm(structure.form)) {
        writeChainBlocks(image, blocks.data(), chain.count, bytes, size);
        return {blocks[0], {0, 0}};
    }
    WrittenFile written{};
    written.first = writeGeosFile(image, blocks, structure, bytes, size, written.second);
    return written;
}

// Bytes 02-1F of the slot: the closed type, the first block, the name, the
// REL or GEOS fields (zeros for a plain file) and the block count.
void writeEntry(uint8_t *slot, const HostFileEntry &entry, const WrittenFile &written, int count,
                const FileStructure &structure) {
    std::memset(slot + kSlotType, 0, kSlotSize - kSlotType);
    slot[kSlotType] = entry.typeByte;
    slot[kSlotStartTrack] = static_cast<uint8_t>(written.first.track);
    slot[kSlotStartSector] = static_cast<uint8_t>(written.first.sector);
    std::memcpy(slot + kSlotName, entry.name, kNameLength);
    slot[kSlotSideOrInfo] = static_cast<uint8_t>(written.second.track);
    slot[kSlotSideOrInfo + 1] = static_cast<uint8_t>(written.second.sector);
    if (structure.form == FileForm::Rel) slot[kSlotRecordLength] = static_cast<uint8_t>(structure.recordLength);
    if (isGeosForm(structure.form)) std::memcpy(slot + kSlotRecordLength, structure.geosFields, kGeosFields);
    slot[kSlotBlockCount] = static_cast<uint8_t>(count & 0xFF);
    slot[kSlotBlockCount + 1] = static_cast<uint8_t>(count >> 8);
}

// True for a block whose bit a replaced file may give back: on a track the
// rules place files on, or another track of the map that is neither outside
// the partition worked in nor reserved (a 1571's track 53), and a sector the
// track has.
bool mayBeFreed(const ImageBuffer &image, const PlacementRules &rules, TrackSector at) {
    const DiskShape &shape = image.shape;
    if (at.sector >= sectorsPerTrack(shape, at.track)) return false;
    if (isPlacementTrack(image, rules, at.track)) return true;
    return isMapTrack(image, at.track) && !outsidePartition(shape, at.track) &&
           !(isReservedTrack(shape, at.track) && at.track != shape.systemTrack);
}

// Frees, in the map the rules read, every block of the chains a replaced
// entry owns (its data, REL side sectors, GEOS info block, VLIR index and
// records) that nothing else uses: the account of every other entry (a
// cross-linked file, a partition's area), the header, map and directory stay
// in use, and so do blocks no map of the rules covers. Each walk is bounded
// and stops at a sector beyond its track. The run's account becomes that of
// the disk now, and the full-track record is cleared.
void freeReplacedFile(ImageBuffer &image, InsertRun &run, const PlacementRules &rules, const uint8_t *oldSlot) {
    run.fullTracks.reset();
    BlocksInUse others = collectBlocksInUse(image, oldSlot);
    BlockSet keep = others.directory;
    blockSetAddAll(keep, others.files);
    EntryKind kind = entryKind(oldSlot);
    SlotChains named = slotChains(oldSlot, kind);
    std::vector<NamedChain> chains(named.chains, named.chains + named.count);
    for (size_t i = 0; i < chains.size(); ++i) {
        if (chains[i].start.track == 0) continue;
        BlockWalk walk = startWalk(chains[i].start, kEditRules);
        while (const uint8_t *block = walkNext(image, walk)) {
            // An index block (linked 0/255) lists the records, each a chain of its own.
            if (chains[i].role == ChainRole::VlirIndex)
                for (int record = 0; record < kVlirRecords; ++record) {
                    TrackSector recordStart;
                    VlirPair pair = vlirRecord(block, record, recordStart);
                    if (pair == VlirPair::End) break;
                    if (pair == VlirPair::Record) chains.push_back({ChainRole::VlirRecord, recordStart});
                }
            TrackSector at = walk.at;
            if (mayBeFreed(image, rules, at) && !blockSetHas(keep, at.track, at.sector))
                markPlacedBlock(image, rules, at, true);
        }
    }
    run.growth.inUse = others;
    run.growth.skips.inUse = keep;
}

// True when the block holding `bytes` is a header or map block, whose
// bytes the placement reads.
bool inSystemBlock(const ImageBuffer &image, const uint8_t *bytes) {
    const DiskShape &shape = image.shape;
    const uint8_t *base = image.bytes.data();
    const uint8_t *block = base + static_cast<size_t>(bytes - base) / kBlockSize * kBlockSize;
    // The system track's sectors 0 to 2, and a double-sided disk's second map block.
    int sides = shape.family->sideTracks;
    const TrackSector candidates[] = {
        {shape.systemTrack, 0}, {shape.systemTrack, 1}, {shape.systemTrack, 2}, {shape.systemTrack + sides, 0}};
    for (int i = 0; i < (sides > 0 ? 4 : 3); ++i) {
        TrackSector at = candidates[i];
        if (isSystemBlock(shape, at.track, at.sector) && at.track <= shape.tracks &&
            blockAt(image, at.track, at.sector) == block)
            return true;
    }
    return false;
}

// The type as the listing shows it: '*' before an open file's, '<' after a locked one's.
std::string typeText(const DiskShape &shape, uint8_t type) {
    std::string text = type & 0x80 ? "" : "*";
    text += fileTypeName(shape, type);
    return text + (type & 0x40 ? "<" : "");
}

// `"NAME" TYPE (entry N)` as the listing shows the slot (without the
// padding), for messages.
std::string entryText(const DiskShape &shape, int number, const uint8_t *slot) {
    const uint8_t *name = slot + kSlotName;
    int length = kNameLength;
    while (length > 0 && name[length - 1] == kPadding) --length;
    std::string text = consoleQuotedName(name, length);
    text += ' ';
    text += typeText(shape, slot[kSlotType]);
    text += " (entry ";
    return text + std::to_string(number) + ")";
}

// The option that would let a file start on `track`, in the words that end
// the -wtrack message: the system track's -dirtrack, a 40-track D64's
// -tracks40; "" when none would.
const char *optionOpening(const ImageBuffer &image, const PlacementRules &rules, int track) {
    if (!rules.systemTrack && track == image.shape.systemTrack)
        return " (give '-dirtrack' to let them take its free blocks)";
    bool extensionTracks = image.shape.family->map == MapLayout::D64 && track > image.shape.family->mapTracks &&
                           track <= image.shape.tracks;
    if (rules.extensionOffset == 0 && extensionTracks)
        return " (give '-tracks40' to let them take tracks 36-40 of a SpeedDOS or DolphinDOS map)";
    return "";
}

// Ends the run with status 1 when a REL file of `size` bytes needs more side
// sectors than a REL file on this image may have (six on a 1541 or 1571).
void requireSideSectorRoom(const ImageBuffer &image, const InsertRun &run, const std::string &shownPath,
                           size_t size) {
    int data = chainBlocksFor(size);
    int most = relMostSideSectors(image);
    if (relSideSectors(data) <= most) return;
    exitWithMessage(1, "ERROR: REL file '%s' needs %i data blocks; the %i side sectors a REL file on '%s' may have "
                       "list at most %i.", shownPath.c_str(), data, most, run.growth.path.c_str(),
                    most * kRelPairsPerSide);
}

// The slot a new entry goes into: the one of its name when the scan found one
// (a replacement), else the first free slot, else the first of a block the
// directory grows by on its track (status 2 when that has none free).
// `number` is set to the entry number the slot gets.
uint8_t *takeSlot(ImageBuffer &image, InsertRun &run, const DirectoryScan &scan, int &number) {
    if (scan.namedSlot || scan.freeSlot) {
        number = scan.namedSlot ? scan.namedSlotNumber : scan.freeSlotNumber;
        return scan.namedSlot ? scan.namedSlot : scan.freeSlot;
    }
    TrackSector added;
    if (!growDirectory(image, run.directoryEnd, run.growth, true, added))
        exitFull(run, " Its directory is full: no slot is free, and track " + std::to_string(image.shape.systemTrack) +
                          ", which holds the whole directory on a " + driveName(image.shape) +
                          ", has no free block for another directory block.");
    run.directoryEnd = added;
    number = scan.shownSlots;
    uint8_t *slot = blockAt(image, added.track, added.sector);
    if (inSystemBlock(image, slot)) run.fullTracks.reset();
    return slot;
}

void printInserted(const DiskShape &shape, int number, const uint8_t *slot, int interleave) {
    consolePrintf("%3i: \"", number);
    consoleDiskCodes(slot + kSlotName, static_cast<int>(nameLength(slot + kSlotName)));
    int blocks = slotBlockCount(slot);
    uint8_t type = slot[kSlotType];
    consolePrintf("\" %s, %i block%s from %i/%i, interleave %i\n", typeText(shape, type).c_str(), blocks,
                  plural(blocks), slot[kSlotStartTrack], slot[kSlotStartSector], interleave);
}

}  // namespace

InsertRun startInserts(const ImageBuffer &image, const std::string &imagePath, PlacementRules rules) {
    InsertRun run{startGrowth(image, imagePath, false), {0, 0}, rules, {}, {}, {}, {}, {}};
    // As the listing reads the directory: from the link in the header (18/0, 40/0).
    run.directoryEnd = requireDirectoryEnd(image, {image.shape.systemTrack, 0}, run.growth);
    return run;
}

HostFileEntry requireEntryName(const std::string &hostPath, const std::string &fileName,
                               const InsertSettings &settings) {
    HostFileEntry entry = entryOfHostName(fileName);
    if (settings.typeByte >= 0) entry.typeByte = static_cast<uint8_t>(settings.typeByte);
    if (settings.name.length > 0) {
        std::memset(entry.name, kPadding, sizeof entry.name);
        std::memcpy(entry.name, settings.name.bytes, static_cast<size_t>(settings.name.length));
        entry.length = settings.name.length;
        entry.problem = NameTextProblem::None;
    }
    std::string shownPath = consoleOutsideText(hostPath, ConsoleStream::Error);
    if (entry.problem != NameTextProblem::None)
        exitWithMessage(1, "ERROR: The name of '%s' gives no entry name: %s.", shownPath.c_str(),
                        problemText(entry.problem));
    // A drive cannot load or open a file without a name.
    if (entry.length == 0)
        exitWithMessage(1, "ERROR: The name of '%s' gives an empty entry name, which a drive cannot address; give "
                           "the host file a name before its last dot, such as 'intro.prg' (%%XX gives any byte).",
                        shownPath.c_str());
    return entry;
}

void insertFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath, const HostFileEntry &entry,
                const InsertSettings &settings, const uint8_t *bytes, size_t size) {
    insertStructuredFile(image, run, hostPath, entry, settings, FileStructure{}, bytes, size);
}

void insertRelFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath, const HostFileEntry &entry,
                   const InsertSettings &settings, int recordLength, const uint8_t *bytes, size_t size) {
    FileStructure structure;
    structure.form = FileForm::Rel;
    structure.recordLength = recordLength;
    insertStructuredFile(image, run, hostPath, entry, settings, structure, bytes, size);
}

void insertStructuredFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath,
                          const HostFileEntry &entry, const InsertSettings &settings,
                          const FileStructure &structure, const uint8_t *bytes, size_t size) {
    std::string shownPath = consoleOutsideText(hostPath, ConsoleStream::Error);
    PlacementRules rules = run.rules;
    if (settings.interleave > 0) rules.interleave = settings.interleave;
    TrackSector start{settings.startTrack, settings.startSector};
    if (start.track > 0 && !isPlacementTrack(image, rules, start.track))
        exitWithMessage(1, "ERROR: '-wtrack %i' for '%s': files on '%s' may take blocks of tracks %i to %i%s, not "
                           "%i%s.", start.track, shownPath.c_str(), run.growth.path.c_str(), image.shape.areaFirst,
                        lastPlacementTrack(image, rules), rules.systemTrack ? "" : " except the directory's",
                        start.track, optionOpening(image, rules, start.track));
    if (start.track > 0 && start.sector >= sectorsPerTrack(image.shape, start.track))
        exitWithMessage(1, "ERROR: '-wtrack %i/%i' for '%s': track %i has sectors 0 to %i.", start.track, start.sector,
                        shownPath.c_str(), start.track, sectorsPerTrack(image.shape, start.track) - 1);
    DirectoryScan scan = scanDirectory(image, run, entry.name);
    bool replace = settings.replace || options.nameClash == NameClash::Replace;
    if (scan.namedSlot && !replace) {
        std::string held = entryText(image.shape, scan.namedSlotNumber, scan.namedSlot);
        if (options.nameClash == NameClash::Refuse)
            exitWithMessage(1, "ERROR: '%s' holds %s, the name '%s' gives; give '-wreplace' before its "
                               "'-w', or '-clash skip' or '-clash replace'.", run.growth.path.c_str(), held.c_str(),
                            shownPath.c_str());
        consoleErrorf("WARNING: '%s' holds %s, the name '%s' gives; '%s' is skipped.\n",
                      run.growth.path.c_str(), held.c_str(), shownPath.c_str(), shownPath.c_str());
        return;
    }
    if (scan.namedSlot && isPartition(image.shape, scan.namedSlot))
        exitWithMessage(1, "ERROR: '-wreplace' for '%s': the entry of its name on '%s' is a 1581 partition, which "
                           "is never replaced.", shownPath.c_str(), run.growth.path.c_str());
    HostFileEntry written = entry;
    // A replacement keeps the old entry's lock and closed bits unless -wtype gives the whole type byte.
    if (scan.namedSlot && settings.typeByte < 0)
        written.typeByte = static_cast<uint8_t>((entry.typeByte & ~kLockAndClosedBits) |
                                                (scan.namedSlot[kSlotType] & kLockAndClosedBits));
    if (image.shape.family == &kFamilyD81 && (written.typeByte & 7) == kTypePartition)
        exitWithMessage(1, "ERROR: Type byte $%02x for '%s' is that of a 1581 partition (CBM), which '-w' does not "
                           "make on '%s'; give DEL, SEQ, PRG or USR.", written.typeByte, shownPath.c_str(),
                        run.growth.path.c_str());
    if (structure.form == FileForm::Rel) requireSideSectorRoom(image, run, shownPath, size);
    int number = 0;
    uint8_t *slot = takeSlot(image, run, scan, number);
    int count = fileBlockCount(image, structure, size);
    NewChain chain{rules, start, count, shownPath, scan.namedSlot != nullptr};
    WrittenFile file = writeFile(image, run, chain, structure, bytes, size);
    warnAfterSearch(image, run.growth, nullptr);
    // Only now, with the new file whole, does the old one give up its blocks.
    if (scan.namedSlot) freeReplacedFile(image, run, rules, slot);
    writeEntry(slot, written, file, count, structure);
    if (inSystemBlock(image, slot)) run.fullTracks.reset();
    printInserted(image.shape, number, slot, rules.interleave);
}

// ---- New partitions ----

namespace {

// True when every block of `track` is free in the map, held by the image and
// in use by nothing the run's account knows.
bool trackWhollyFree(const ImageBuffer &image, const InsertRun &run, int track) {
    int sectors = sectorsPerTrack(image.shape, track);
    uint64_t all = (uint64_t{1} << sectors) - 1;
    return (trackMapEntry(image, track).freeBits & all) == all && blockPresent(image, track, sectors - 1) &&
           blockSetTrackBits(run.growth.skips.inUse, track) == 0;
}

// The first track of the lowest run of `tracks` wholly free tracks in the
// area that does not hold the system track; 0 when there is none.
int findFreeTracks(const ImageBuffer &image, const InsertRun &run, int tracks) {
    const DiskShape &shape = image.shape;
    int length = 0;
    for (int track = shape.areaFirst; track <= std::min(shape.areaLast, mapTracks(shape)); ++track) {
        length = track != shape.systemTrack && trackWhollyFree(image, run, track) ? length + 1 : 0;
        if (length == tracks) return track - tracks + 1;
    }
    return 0;
}

}  // namespace

void makePartition(ImageBuffer &image, InsertRun &run, const std::string &shownName, const NameText &name,
                   int blocks) {
    const DiskShape &shape = image.shape;
    const char *path = run.growth.path.c_str();
    if (shape.family->map != MapLayout::D81)
        exitWithMessage(1, "ERROR: '-mkpart %s' makes a 1581 partition; '%s' is a %s disk.", shownName.c_str(), path,
                        driveName(shape));
    uint8_t padded[kNameLength];
    std::memset(padded, kPadding, kNameLength);
    std::memcpy(padded, name.bytes, static_cast<size_t>(name.length));
    DirectoryScan scan = scanDirectory(image, run, padded);
    if (scan.namedSlot)
        exitWithMessage(1, "ERROR: '%s' holds an entry named '%s' already.", path, shownName.c_str());
    int perTrack = sectorsPerTrack(shape, shape.areaFirst);
    int tracks = blocks / perTrack;
    int first = findFreeTracks(image, run, tracks);
    if (first == 0) {
        std::string where = run.partition.empty() ? "'" + run.growth.path + "'"
                                                  : "Partition '" + run.partition + "' of '" + run.growth.path + "'";
        exitWithMessage(2, "ERROR: %s has no %i free tracks in a row (apart from track %i) for partition '%s' of %i "
                           "blocks.", where.c_str(), tracks, shape.systemTrack, shownName.c_str(), blocks);
    }
    int number = 0;
    uint8_t *slot = takeSlot(image, run, scan, number);
    for (int track = first; track < first + tracks; ++track) setTrackMapEntry(image, track, {0, 0});
    HostFileEntry entry{};
    std::memcpy(entry.name, padded, kNameLength);
    entry.typeByte = 0x80 | kTypePartition;
    writeEntry(slot, entry, {{first, 0}, {0, 0}}, blocks, FileStructure{});
    if (inSystemBlock(image, slot)) run.fullTracks.reset();
    // Formatted inside as the drive's "N" within it does: the partition's name, the disk's id.
    DiskShape inside;
    PartitionFit fit = partitionShape(shape, slot, inside);
    assert(fit == PartitionFit::Fits);
    (void)fit;
    DiskShape outer = shape;
    const uint8_t *header = headerBlock(image);
    uint8_t id[2] = {header[outer.family->idOffset], header[outer.family->idOffset + 1]};
    image.shape = inside;
    formatSystemTrack(image, {name.bytes, name.length, id});
    image.shape = outer;
    consolePrintf("%3i: \"", number);
    consoleDiskCodes(name.bytes, name.length);
    consolePrintf("\" CBM, %i blocks, tracks %i-%i, formatted inside\n", blocks, first, first + tracks - 1);
}
