// The map repair: the account's blocks in use become the map.
#include "check/fix.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <string>

#include "base/console.h"
#include "base/options.h"
#include "check/check.h"
#include "check/layout.h"
#include "disk/directory.h"
#include "disk/partition.h"

namespace {

// The end of the 105 bitmap bytes in a D71's side-2 map block (53/0).
constexpr int kD71SideMapEnd = 0x69;

// The map entry a track gets: used blocks used, the others free (or, when
// !freeUnused, as they were), the system track's unused blocks as they were.
TrackMapEntry rebuiltEntry(const DiskShape &shape, TrackMapEntry old, int track, const BlockSet &used,
                           bool freeUnused) {
    uint64_t bits = 0;
    // A sub-directory's map marks every track outside its area used.
    for (int sector = 0; sector < sectorsPerTrack(shape, track) && !outsidePartition(shape, track); ++sector) {
        bool free = track == shape.systemTrack || !freeUnused ? (old.freeBits >> sector & 1) : true;
        if (free && !blockSetHas(used, track, sector)) bits |= uint64_t{1} << sector;
    }
    return {static_cast<uint8_t>(std::popcount(bits)), bits};
}

// True for a finding after which the account may not know every block in
// use, so that a block the map marks used may be some owner's:
// - a link the walk cannot follow (above the tracks, beyond the sectors,
//   outside the image, out of a sub-directory's partition), of any chain:
//   what lies beyond it is not walked;
// - the directory's first link naming 18/0: its first block is not known;
// - a VLIR index or border block that another chain has already: the records
//   or entries it lists are not read;
// - an info block, VLIR index or border block that links on: the block it
//   names may be the file's (a sequential file whose structure byte says VLIR);
// - a GEOS structure byte other than 0 and 1: the file may be VLIR, whose
//   records are not read;
// - a GEOS file without info block, a REL file without side sectors: the
//   entry names none, though the file has one somewhere;
// - side sectors that list other blocks than the chains hold, or more data
//   blocks than the data chain has: the blocks they name may be the file's.
// Loops and cross-links are not among them: all their blocks are walked.
bool mayHideBlocks(const BlockAccount &account, const Finding &found) {
    ChainRole role = found.chain >= 0 ? account.chains[found.chain].role : ChainRole::Data;
    switch (found.kind) {
        case FindingKind::LinkAboveTracks:
        case FindingKind::LinkBeyondSectors:
        case FindingKind::LinkOutsideImage:
        case FindingKind::ChainLeavesArea:
        case FindingKind::SingleBlockLinks:
        case FindingKind::GeosStructure:
        case FindingKind::GeosNoInfo:
        case FindingKind::RelNoSideSectors:
        case FindingKind::RelSideList:
        case FindingKind::RelDataBlock: return true;
        case FindingKind::RelDataCount: return found.value > found.expected;
        case FindingKind::ChainRunsInto:
            return role == ChainRole::VlirIndex || role == ChainRole::Border ||
                   (role == ChainRole::Directory && found.at.track == 0);
        default: return false;
    }
}

// "fix: " and, inside a sub-directory, the partitions it lies in (a captured
// text, whose names are disk codes): how each line of the repair begins.
void printFixStart(const std::string &where) {
    consolePrintf("fix: ");
    consolePrintCaptured(where);
}

// Says, on one line, why the repair frees nothing: the first finding that may
// hide blocks in use, and how many there are.
void printWhyNothingFreed(const BlockAccount &account, const Finding &first, int count, const std::string &where) {
    printFixStart(where);
    if (count == 1) consolePrintf("frees no block, since this finding may hide blocks in use: ");
    else consolePrintf("frees no block, since %i findings may hide blocks in use, the first: ", count);
    printFindingText(account, first);
    consolePrintf("\n");
}

}  // namespace

void rebuildMap(ImageBuffer &image, const BlockSet &used, bool freeUnused, const std::string &where) {
    assert(headerBlock(image) != nullptr);
    MapExtension extension = findMapExtension(image);
    int changed = 0;
    // A 1581 takes its map only with $44 $BB in bytes 02-03 of 40/1; its
    // validate writes them, as it rebuilds the map.
    bool bytesFixed = false;
    for (int sector = 1; sector <= 2 && image.shape.family->map == MapLayout::D81; ++sector) {
        uint8_t *d81Map = blockAt(image, image.shape.systemTrack, sector);
        if (!d81Map || (d81Map[2] == 0x44 && d81Map[3] == 0xBB)) continue;
        printFixStart(where);
        consolePrintf("%i/%i: bytes 02-03 $%02x $%02x -> $44 $BB\n", image.shape.systemTrack, sector, d81Map[2],
                      d81Map[3]);
        d81Map[2] = 0x44;
        d81Map[3] = 0xBB;
        bytesFixed = true;
    }
    // The 1571 clears its side-2 map block before it writes the 105 bytes of
    // the map there: counts that cc1541 keeps in 53/0 DD-FF go (rebuilt in 18/0).
    int sideTrack = image.shape.systemTrack + image.shape.family->sideTracks;
    uint8_t *sideMap = image.shape.family->map == MapLayout::D71 && isReservedTrack(image.shape, sideTrack)
                           ? blockAt(image, sideTrack, 0)
                           : nullptr;
    int stray = 0;
    for (int i = kD71SideMapEnd; sideMap && i < kBlockSize; ++i) stray += sideMap[i] != 0;
    if (stray > 0) {
        printFixStart(where);
        consolePrintf("%i/0: %i byte%s beyond the map (69-FF) -> $00\n", sideTrack, stray, plural(stray));
        std::fill(sideMap + kD71SideMapEnd, sideMap + kBlockSize, 0);
        bytesFixed = true;
    }
    int freeBlocks = 0;
    for (int track = 1; track <= lastMapTrack(image, extension); ++track) {
        TrackMapEntry entry;
        if (!readMapEntry(image, extension, track, entry)) continue;
        TrackMapEntry rebuilt = rebuiltEntry(image.shape, entry, track, used, freeUnused);
        if (track != image.shape.systemTrack) freeBlocks += rebuilt.freeCount;
        if (entry.freeCount == rebuilt.freeCount && entry.freeBits == rebuilt.freeBits) continue;
        printFixStart(where);
        consolePrintf("track %i: %i -> %i block%s free\n", track, entry.freeCount, rebuilt.freeCount,
                      plural(rebuilt.freeCount));
        writeMapEntry(image, extension, track, rebuilt);
        ++changed;
    }
    printFixStart(where);
    if (changed == 0 && !bytesFixed && freeUnused)
        consolePrintf("the map agrees with the chains; nothing changed\n");
    else if (changed == 0 && !bytesFixed)
        consolePrintf("every block in use is marked used; nothing changed\n");
    else
        consolePrintf("%i track%s changed; %i block%s free\n", changed, plural(changed), freeBlocks,
                      plural(freeBlocks));
}

namespace {

// The repair of one directory, then of each sub-directory below it that the
// image's repair has not gone into yet, the image's shape that of each in turn.
void fixDirectory(ImageBuffer &image, SubDirectoryVisits &visits, const std::string &where) {
    BlockAccount account;
    buildAccount(image, account, options.showAll != 0);
    const Finding *first = nullptr;
    int hiding = 0;
    for (const Finding &found : account.findings) {
        if (!mayHideBlocks(account, found)) continue;
        if (!first) first = &found;
        ++hiding;
    }
    if (first) printWhyNothingFreed(account, *first, hiding, where);
    rebuildMap(image, usedBlocks(account), first == nullptr, where);
    DiskShape outer = image.shape;
    for (const SubDirectory &sub : newSubDirectories(image, visits)) {
        std::string inside = where;
        consoleCaptureStart(inside);
        consolePrintf("partition \"");
        consoleDiskCodes(sub.slot + kSlotName, slotNameLength(sub.slot));
        consolePrintf("\" (tracks %i-%i): ", sub.inside.areaFirst, sub.inside.areaLast);
        consoleCaptureStop();
        image.shape = sub.inside;
        fixDirectory(image, visits, inside);
        image.shape = outer;
    }
}

}  // namespace

void fixMap(ImageBuffer &image) {
    SubDirectoryVisits visits{};
    fixDirectory(image, visits, "");
    if (visits.passedOver > 0)
        consolePrintf("fix: %i more partition%s left as they are: the repair goes into at most %i sub-directories of "
                      "an image\n", visits.passedOver, plural(visits.passedOver), kMostSubDirectories);
}
