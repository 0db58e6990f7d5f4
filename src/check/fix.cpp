// The map repair: the account's blocks in use become the map.
#include "check/fix.h"

#include <bit>
#include <cassert>
#include <cstring>

#include "base/console.h"
#include "base/options.h"
#include "check/check.h"
#include "check/layout.h"

namespace {

// The 4 map bytes a track gets: used blocks used, the others free (or, when
// !freeUnused, as they were), track 18's unused blocks as they were.
void rebuiltEntry(const uint8_t *old, int track, const BlockSet &used, bool freeUnused, uint8_t out[4]) {
    uint32_t oldBits = mapEntryBits(old);
    uint32_t bits = 0;
    for (int sector = 0; sector < sectorsPerTrack(track); ++sector) {
        bool free = track == kDirTrack || !freeUnused ? (oldBits >> sector & 1) : true;
        if (free && !blockSetHas(used, track, sector)) bits |= uint32_t{1} << sector;
    }
    out[0] = static_cast<uint8_t>(std::popcount(bits));
    out[1] = static_cast<uint8_t>(bits);
    out[2] = static_cast<uint8_t>(bits >> 8);
    out[3] = static_cast<uint8_t>(bits >> 16);
}

// True for a finding after which the account may not know every block in
// use, so that a block the map marks used may be some owner's:
// - a link the walk cannot follow (above the tracks, beyond the sectors,
//   outside the image), of any chain: what lies beyond it is not walked;
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

// Says, on one line, why the repair frees nothing: the first finding that may
// hide blocks in use, and how many there are.
void printWhyNothingFreed(const BlockAccount &account, const Finding &first, int count) {
    if (count == 1) consolePrintf("fix: frees no block, since this finding may hide blocks in use: ");
    else consolePrintf("fix: frees no block, since %i findings may hide blocks in use, the first: ", count);
    printFindingText(account, first);
    consolePrintf("\n");
}

}  // namespace

void rebuildMap(ImageBuffer &image, const BlockSet &used, bool freeUnused) {
    assert(blockPresent(image, kDirTrack, 0));
    MapExtension extension = findMapExtension(image);
    int changed = 0;
    int freeBlocks = 0;
    for (int track = 1; track <= lastMapTrack(extension); ++track) {
        uint8_t *entry = mapEntryBytes(image, extension, track);
        if (!entry) continue;
        uint8_t rebuilt[4];
        rebuiltEntry(entry, track, used, freeUnused, rebuilt);
        if (track != kDirTrack) freeBlocks += rebuilt[0];
        if (std::memcmp(entry, rebuilt, sizeof rebuilt) == 0) continue;
        consolePrintf("fix: track %i: %i -> %i block%s free\n", track, entry[0], rebuilt[0], plural(rebuilt[0]));
        std::memcpy(entry, rebuilt, sizeof rebuilt);
        ++changed;
    }
    if (changed == 0 && freeUnused)
        consolePrintf("fix: the map agrees with the chains; nothing changed\n");
    else if (changed == 0)
        consolePrintf("fix: every block in use is marked used; nothing changed\n");
    else
        consolePrintf("fix: %i track%s changed; %i block%s free\n", changed, plural(changed), freeBlocks,
                      plural(freeBlocks));
}

void fixMap(ImageBuffer &image) {
    BlockAccount account;
    buildAccount(image, account, options.showAll != 0);
    const Finding *first = nullptr;
    int hiding = 0;
    for (const Finding &found : account.findings) {
        if (!mayHideBlocks(account, found)) continue;
        if (!first) first = &found;
        ++hiding;
    }
    if (first) printWhyNothingFreed(account, *first, hiding);
    rebuildMap(image, usedBlocks(account), first == nullptr);
}
