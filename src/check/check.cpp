// The disk check: prints the account's findings, compares the map with what
// the chains use, reads the error bytes, and sums up.
#include "check/check.h"

#include <bit>

#include "base/console.h"
#include "base/options.h"
#include "check/layout.h"
#include "disk/partition.h"
#include "disk/blockset.h"
#include "gcr/gcrdisk.h"

namespace {

constexpr int kSlotName = 5;
constexpr int kNameLength = 16;
constexpr int kDosVersionOffset = 2;
// A D81's map block 40/1 carries the DOS version and its complement; the
// 1581 rejects the map (0 blocks free) without them.
constexpr int kD81MapSector = 1;
constexpr uint8_t kD81MapCheck[2] = {0x44, 0xBB};

// What the report functions below count into and capture their lines into.
using Tally = CheckReport;

// ---- Pieces of a line ----

void printBlock(TrackSector block) { consolePrintf("%i/%i", block.track, block.sector); }

// The header block of the directory checked: 18/0, 40/0, or a sub-directory's own.
std::string headerText(const DiskShape &shape) { return std::to_string(shape.systemTrack) + "/0"; }

// The header and map blocks as the object of a sentence; a sub-directory's are its own.
void printMapBlocks(const DiskShape &shape) {
    if (shape.family->map == MapLayout::D81)
        consolePrintf("%i/0-%i/2, the header and map", shape.systemTrack, shape.systemTrack);
    else
        consolePrintf("%s", shape.family->mapBlocks);
}

// The name up to its padding, in quotes, each character through the console layer.
void printName(const uint8_t *slot) {
    consolePrintf("\"");
    for (int i = 0; i < kNameLength && slot[kSlotName + i] != 0xA0; ++i)
        consoleDiskCode(slot[kSlotName + i]);
    consolePrintf("\"");
}

// "entry 3 "NAME" (18/1 slot 3)": the number -rd takes for the entry, then
// where it lies; "unlisted entry" for one the listing does not reach (so no
// edit can name it), "border entry 1" for a slot of the GEOS border block.
// `note`, when given, joins the place inside the parentheses.
void printEntry(const BlockAccount &account, int owner, const char *note = nullptr) {
    int entry = owner - kFirstEntryOwner;
    const AccountSlot &slot = account.slots[entry];
    if (entry >= account.directorySlots) consolePrintf("border entry %i ", entry - account.directorySlots);
    else if (slot.number >= 0) consolePrintf("entry %i ", slot.number);
    else consolePrintf("unlisted entry ");
    printName(slot.bytes);
    consolePrintf(" (%i/%i slot %i%s%s)", slot.block.track, slot.block.sector, slot.index, note ? ", " : "",
                  note ? note : "");
}

// Whose block it is, as the object of a sentence.
void printOwner(const BlockAccount &account, int owner, const char *note = nullptr) {
    if (owner >= kFirstEntryOwner) printEntry(account, owner, note);
    else if (owner == kOwnerDirectory) consolePrintf("the directory");
    else if (owner == kOwnerBorder) consolePrintf("the GEOS border block");
    else printMapBlocks(account.shape);
}

const char *roleName(ChainRole role) {
    switch (role) {
        case ChainRole::MapBlock: return "map block";
        case ChainRole::Directory: return "directory chain";
        case ChainRole::Data: return "data chain";
        case ChainRole::SideSectors: return "side-sector chain";
        case ChainRole::GeosInfo: return "GEOS info block";
        case ChainRole::VlirIndex: return "VLIR index block";
        case ChainRole::VlirRecord: return "VLIR record";
        case ChainRole::Border: return "GEOS border block";
    }
    return "chain";
}

// "the data chain", "VLIR record 3"; `article` "the " or "".
void printRole(const ChainInfo &chain, const char *article) {
    if (chain.role == ChainRole::VlirRecord) consolePrintf("VLIR record %i", chain.record);
    else consolePrintf("%s%s", article, roleName(chain.role));
}

// What names the first block of a chain.
std::string startNamer(const BlockAccount &account, ChainRole role) {
    if (role == ChainRole::Directory || role == ChainRole::Border) return headerText(account.shape);
    if (role == ChainRole::VlirRecord) return "the VLIR index block";
    return "the entry";
}

// A new finding, whose text is captured from here to the next; first the
// entry it is about, if any.
void beginLine(Tally &tally, bool error, const BlockAccount &account, int owner) {
    if (error) ++tally.errors;
    else ++tally.warnings;
    consoleCaptureStop();
    tally.findings.push_back({error, {}});
    consoleCaptureStart(tally.findings.back().text);
    if (owner >= kFirstEntryOwner) {
        printEntry(account, owner);
        consolePrintf(": ");
    }
}

// ---- The account's findings ----

// "<role>: <namer> links to T/S" for a finding about one link of a chain.
void printLink(const BlockAccount &account, const Finding &found, const char *verb) {
    const ChainInfo &chain = account.chains[found.chain];
    printRole(chain, "the ");
    consolePrintf(": ");
    if (found.at.track == 0) consolePrintf("%s", startNamer(account, chain.role).c_str());
    else printBlock(found.at);
    consolePrintf(" %s ", verb);
    printBlock(found.to);
}

void printRunInto(const BlockAccount &account, const Finding &found) {
    const ChainInfo &other = account.chains[found.otherChain];
    printLink(account, found, "links to");
    if (other.owner == kOwnerMapBlock && found.to.track != account.shape.systemTrack && found.to.sector != 0) {
        consolePrintf(", a block of track %i, which the %s keeps wholly used", found.to.track,
                      driveName(account.shape));
    } else if (other.owner == kOwnerMapBlock) {
        consolePrintf(", the map block");
    } else if (other.owner == account.chains[found.chain].owner) {
        consolePrintf(", a block of its own ");
        printRole(other, "");
    } else {
        consolePrintf(", a block of ");
        printOwner(account, other.owner, "cross-linked");
    }
}

void printChainFault(const BlockAccount &account, const Finding &found) {
    switch (found.kind) {
        case FindingKind::LinkAboveTracks:
            printLink(account, found, "links to");
            consolePrintf(", above the image's %i tracks", found.value);
            break;
        case FindingKind::LinkBeyondSectors:
            printLink(account, found, "links to");
            consolePrintf(", beyond the %i sectors of track %i", sectorsPerTrack(account.shape, found.to.track),
                          found.to.track);
            break;
        case FindingKind::LinkOutsideImage:
            printLink(account, found, "links to");
            consolePrintf(", a block outside the image");
            break;
        case FindingKind::ChainLoops:
            printLink(account, found, "links back to");
            consolePrintf(" (a loop)");
            break;
        case FindingKind::ChainRunsInto: printRunInto(account, found); break;
        case FindingKind::ChainLeavesArea:
            printLink(account, found, "links to");
            consolePrintf(", outside the partition (tracks %i-%i)", account.shape.areaFirst, account.shape.areaLast);
            break;
        case FindingKind::SingleBlockLinks:
            printLink(account, found, "links on to");
            consolePrintf(", though it stands alone");
            break;
        default: break;
    }
}

void printSideFinding(const Finding &found) {
    switch (found.kind) {
        case FindingKind::RelRecordLength: consolePrintf("REL file with record length 0"); break;
        case FindingKind::RelNoSideSectors:
            consolePrintf("REL file without side sectors (the entry names %i/%i)", found.to.track, found.to.sector);
            break;
        case FindingKind::RelTooManySides:
            consolePrintf("the side-sector chain has %i blocks, more than %i", found.value, found.expected);
            break;
        case FindingKind::RelSideNumber:
            consolePrintf("side sector %i/%i carries number %i, expected %i", found.at.track, found.at.sector,
                          found.value, found.expected);
            break;
        case FindingKind::RelSideRecordLength:
            consolePrintf("side sector %i/%i gives record length %i, the entry %i", found.at.track,
                          found.at.sector, found.value, found.expected);
            break;
        case FindingKind::RelSideList:
            consolePrintf("side sector %i/%i names %i/%i as side sector %i, the chain has %i/%i", found.at.track,
                          found.at.sector, found.to.track, found.to.sector, found.value, found.other.track,
                          found.other.sector);
            break;
        case FindingKind::RelDataCount:
            consolePrintf("the side sectors list %i data block%s, the data chain has %i", found.value,
                          plural(found.value), found.expected);
            break;
        case FindingKind::RelDataBlock:
            consolePrintf("side sector %i/%i names %i/%i as data block %i, the data chain has %i/%i",
                          found.at.track, found.at.sector, found.to.track, found.to.sector, found.value,
                          found.other.track, found.other.sector);
            break;
        case FindingKind::RelSuperList:
            consolePrintf("super side sector %i/%i names %i/%i as the first side sector of group %i, the chain has "
                          "%i/%i", found.at.track, found.at.sector, found.to.track, found.to.sector, found.value,
                          found.other.track, found.other.sector);
            break;
        case FindingKind::RelRecordCount:
            consolePrintf("the REL data holds %i bytes, no whole number of %i-byte records", found.value,
                          found.expected);
            break;
        default: break;
    }
}

void printEntryFinding(const Finding &found) {
    switch (found.kind) {
        case FindingKind::StartTrackZero:
            consolePrintf("the entry names %i/%i, on track 0, as its first block: it has no data to load",
                          found.to.track, found.to.sector);
            break;
        case FindingKind::GeosNoInfo:
            consolePrintf("GEOS file without an info block (the entry names %i/%i)", found.to.track,
                          found.to.sector);
            break;
        case FindingKind::GeosStructure:
            consolePrintf("GEOS structure byte %i is neither 0 (sequential) nor 1 (VLIR)", found.value);
            break;
        case FindingKind::FileOpen:
            consolePrintf("file left open (type byte $%02x); the drive's validate would scratch it", found.value);
            break;
        case FindingKind::UnknownType:
            consolePrintf("type byte $%02x names type %i, unknown to the 1541", found.value, found.value & 7);
            break;
        case FindingKind::ShownCount:
            consolePrintf("shows %i block%s, its chains have %i", found.value, plural(found.value), found.expected);
            break;
        case FindingKind::LastByteIndex:
            consolePrintf("last block %i/%i has used-byte index %i (a block holds 1-254 bytes: 2-255)",
                          found.at.track, found.at.sector, found.value);
            break;
        default: break;
    }
}

void printFinding(Tally &tally, const BlockAccount &account, const Finding &found) {
    beginLine(tally, isError(found.kind), account, kOwnerNone);
    printFindingText(account, found);
    consolePrintf("\n");
}

// ---- Each family's known faults ----

// Where a double-sided D71 keeps side 2's counts (18/0 DD-FF), the bytes of
// track 53 in 53/0 and the end of the 105 bitmap bytes of 53/0.
constexpr int kD71CountsOffset = 0xDD;
constexpr int kD71SideTracks = 35;
constexpr int kD71MapEnd = 0x69;

// True for track 53 of a double-sided D71, which holds side 2's map.
bool isD71SideMapTrack(const DiskShape &shape, int track) {
    return track != shape.systemTrack && isReservedTrack(shape, track);
}

// The side-2 map block (53/0) of a double-sided D71, else nullptr.
const uint8_t *d71SideMap(const ImageBuffer &image) {
    const DiskShape &shape = image.shape;
    if (shape.family->map != MapLayout::D71 || shape.tracks <= shape.family->sideTracks) return nullptr;
    return blockAt(image, shape.systemTrack + shape.family->sideTracks, 0);
}

// True when 18/0 DD-FF are all 0 while 53/0 DD-FF are not: side 2's counts
// written to the bitmap block (cc1541 does so), so the 1571 sees side 2 full.
bool d71CountsMisplaced(const ImageBuffer &image) {
    const uint8_t *header = headerBlock(image), *side = d71SideMap(image);
    if (!header || !side) return false;
    bool headerZero = true, sideZero = true;
    for (int i = kD71CountsOffset; i < kBlockSize; ++i) {
        headerZero = headerZero && header[i] == 0;
        sideZero = sideZero && side[i] == 0;
    }
    return headerZero && !sideZero;
}

// The D71's map faults: track 53 partly free (its bits in 53/0 or its count
// at 18/0 EE), side 2's counts in 53/0, other bytes beyond 53/0's map.
void reportD71Faults(Tally &tally, const ImageBuffer &image, const BlockAccount &account) {
    const uint8_t *header = headerBlock(image), *side = d71SideMap(image);
    if (!header || !side) return;
    int track = image.shape.systemTrack + kD71SideTracks;
    TrackMapEntry entry = trackMapEntry(image, track);
    if (entry.freeBits != 0 || entry.freeCount != 0) {
        beginLine(tally, true, account, kOwnerNone);
        consolePrintf("track %i: %i block%s marked free in %i/0, count %i at 18/0 $%02X; the 1571 keeps the track "
                      "wholly used (cbmconvert and cc1541 mark only %i/0)\n",
                      track, std::popcount(entry.freeBits), plural(std::popcount(entry.freeBits)), track,
                      entry.freeCount, kD71CountsOffset + track - kD71SideTracks - 1, track);
    }
    bool misplaced = d71CountsMisplaced(image);
    int stray = 0;
    for (int i = kD71MapEnd; i < kBlockSize; ++i) stray += side[i] != 0;
    if (misplaced) {
        beginLine(tally, true, account, kOwnerNone);
        consolePrintf("%i/0 bytes DD-FF hold side 2's free counts and 18/0 DD-FF are 0 (as cc1541 writes them): a "
                      "1571 shows tracks 36-70 full\n", track);
    } else if (stray > 0) {
        beginLine(tally, false, account, kOwnerNone);
        consolePrintf("%i/0: %i byte%s beyond the map (69-FF) not 0; the 1571 clears them on every map write\n",
                      track, stray, plural(stray));
    }
}

// The D81's header and map bytes: the version bytes the 1581 needs ($44 in
// 40/0 byte 02, $44 $BB in 40/1 and 40/2 bytes 02-03), the "3D" it formats,
// and the $00 of bytes 1D-1E (cbmconvert writes $A0 there, harmlessly).
void reportD81Faults(Tally &tally, const ImageBuffer &image, const BlockAccount &account) {
    const DiskShape &shape = image.shape;
    const uint8_t *header = headerBlock(image);
    if (shape.family->map != MapLayout::D81 || !header) return;
    if (header[kDosVersionOffset] != shape.family->dosVersion) {
        beginLine(tally, true, account, kOwnerNone);
        consolePrintf("%i/0: DOS version byte $%02x, not $44: a 1581 refuses to write to the disk (error 73)\n",
                      shape.systemTrack, header[kDosVersionOffset]);
    }
    for (int sector = kD81MapSector; sector <= kD81MapSector + 1; ++sector) {
        const uint8_t *map = blockAt(image, shape.systemTrack, sector);
        if (!map || (map[2] == kD81MapCheck[0] && map[3] == kD81MapCheck[1])) continue;
        beginLine(tally, true, account, kOwnerNone);
        consolePrintf("%i/%i: bytes 02-03 are $%02x $%02x, not $44 $BB: a 1581 rejects the map and shows 0 blocks "
                      "free\n", shape.systemTrack, sector, map[2], map[3]);
    }
    if (header[0x19] != '3' || header[0x1A] != 'D') {
        beginLine(tally, false, account, kOwnerNone);
        consolePrintf("%i/0: bytes 19-1A are $%02x $%02x, not \"3D\"%s\n", shape.systemTrack, header[0x19],
                      header[0x1A], header[0x19] == '2' && header[0x1A] == 'A' ? " (\"2A\", as cc1541 writes it)" : "");
    }
    if (header[0x1D] == 0xA0 && header[0x1E] == 0xA0) {
        beginLine(tally, false, account, kOwnerNone);
        consolePrintf("%i/0: bytes 1D-1E are $A0 $A0, where the 1581 writes $00 (as cbmconvert writes them; "
                      "harmless)\n", shape.systemTrack);
    }
}

// ---- The map against the account ----

struct MapView {
    const ImageBuffer &image;
    const BlockAccount &account;
    MapExtension extension;
};

// The free bits of a track's map entry (0 for a track the map does not cover).
uint64_t freeBits(const MapView &view, int track) {
    TrackMapEntry entry{0, 0};
    readMapEntry(view.image, view.extension, track, entry);
    return entry.freeBits;
}

void printSectors(int track, uint64_t sectors) {
    for (int sector = 0; sector < kMostSectors; ++sector)
        if (sectors >> sector & 1) consolePrintf(" %i/%i", track, sector);
}

// Errors: per owner, the blocks it uses that the map marks free.
void reportUsedButFree(Tally &tally, const MapView &view) {
    uint64_t usedFree[kMostTracks + 1] = {};
    std::vector<int> counts;
    for (int track = 1; track <= lastMapTrack(view.image, view.extension); ++track) {
        // Track 53 of a D71 has a finding of its own (reportD71Faults).
        if (isD71SideMapTrack(view.image.shape, track)) continue;
        usedFree[track] = view.account.usedSectors[track] & freeBits(view, track);
        for (int sector = 0; usedFree[track] >> sector; ++sector) {
            if (!(usedFree[track] >> sector & 1)) continue;
            int owner = ownerOf(view.account, track, sector);
            if (owner >= static_cast<int>(counts.size())) counts.resize(owner + 1, 0);
            ++counts[owner];
        }
    }
    for (int owner = 0; owner < static_cast<int>(counts.size()); ++owner) {
        if (counts[owner] == 0) continue;
        beginLine(tally, true, view.account, owner);
        if (owner < kFirstEntryOwner) {
            printOwner(view.account, owner);
            consolePrintf(": ");
        }
        consolePrintf("%i block%s in use marked free in the map:", counts[owner], plural(counts[owner]));
        for (int track = 1; track <= lastMapTrack(view.image, view.extension); ++track)
            for (int sector = 0; sector < sectorsPerTrack(view.image.shape, track); ++sector)
                if ((usedFree[track] >> sector & 1) && ownerOf(view.account, track, sector) == owner)
                    consolePrintf(" %i/%i", track, sector);
        consolePrintf("\n");
    }
}

// Warnings per track: count against bits, bits of sectors the track lacks,
// blocks marked used that nothing uses (not on the system track, which keeps
// art and loaders that nothing reaches).
void reportTrackEntries(Tally &tally, const MapView &view) {
    const DiskShape &shape = view.image.shape;
    bool countsMisplaced = d71CountsMisplaced(view.image);
    for (int track = 1; track <= lastMapTrack(view.image, view.extension); ++track) {
        TrackMapEntry entry{0, 0};
        readMapEntry(view.image, view.extension, track, entry);
        uint64_t bits = entry.freeBits;
        uint64_t real = realSectorMask(shape, track);
        int freeByBits = std::popcount(bits & real);
        if (outsidePartition(shape, track)) {
            if (freeByBits == 0 && entry.freeCount == 0) continue;
            beginLine(tally, true, view.account, kOwnerNone);
            consolePrintf("track %i: outside the partition (tracks %i-%i), yet marked free (count %i, %i bit%s)\n",
                          track, shape.areaFirst, shape.areaLast, entry.freeCount, freeByBits, plural(freeByBits));
            continue;
        }
        // reportD71Faults has a finding for track 53 and for side-2 counts kept in 53/0.
        bool explained = isD71SideMapTrack(shape, track) || (countsMisplaced && track > kD71SideTracks);
        if (entry.freeCount != freeByBits && !explained) {
            beginLine(tally, false, view.account, kOwnerNone);
            consolePrintf("track %i: free count %i, its bits mark %i free\n", track, entry.freeCount, freeByBits);
        }
        if (bits & ~real) {
            beginLine(tally, false, view.account, kOwnerNone);
            consolePrintf("track %i: bits set for sectors the track does not have:", track);
            for (int sector = sectorsPerTrack(shape, track); sector < mapEntryBitCount(view.image); ++sector)
                if (bits >> sector & 1) consolePrintf(" %i", sector);
            consolePrintf("\n");
        }
        uint64_t lost = real & ~bits & ~view.account.usedSectors[track];
        if (track == shape.systemTrack || lost == 0) continue;
        int count = std::popcount(lost);
        beginLine(tally, false, view.account, kOwnerNone);
        consolePrintf("track %i: %i block%s marked used that nothing uses:", track, count, plural(count));
        printSectors(track, lost);
        consolePrintf("\n");
    }
}

// ---- A truncated image ----

// True when 18/0 is cut off, or the directory or a file links into the part
// of the image that is cut off: to a block the image does not hold, or to a
// track above its tracks that its expected form has.
bool reachesCutPart(const BlockAccount &account, const ImageForm &form) {
    if (!account.mapPresent) return true;
    for (const Finding &found : account.findings)
        if (found.kind == FindingKind::LinkOutsideImage ||
            (found.kind == FindingKind::LinkAboveTracks && found.to.track <= form.tracks))
            return true;
    return false;
}

// On an image shorter than the form it is cut from: both sizes and the first
// block it lacks; an error when something reaches the part cut off.
void reportTruncation(Tally &tally, const ImageBuffer &image, const BlockAccount &account) {
    uint64_t size = image.bytes.size();
    if (!imageIsCut(image)) return;
    const ImageForm &form = *expectedImageForm(size);
    bool reached = reachesCutPart(account, form);
    beginLine(tally, reached, account, kOwnerNone);
    consolePrintf("the image is cut short: %llu byte%s of the %llu of a %i-track image%s; ",
                  static_cast<unsigned long long>(size), plural(static_cast<int>(size)),
                  static_cast<unsigned long long>(form.size), form.tracks, form.errorBytes ? " with error bytes" : "");
    int held = static_cast<int>(size / kBlockSize);  // a truncated image has no error bytes to leave out
    if (static_cast<uint64_t>(held) * kBlockSize >= formBlockBytes(form)) {
        consolePrintf("its blocks are whole, its error bytes are not\n");
        return;
    }
    TrackSector first = blockOfIndex(image.shape, held);
    consolePrintf("blocks from %i/%i on are absent%s\n", first.track, first.sector,
                  reached ? ", and the directory or a file reaches them" : "");
}

// On an image of no known size that no D64 form explains either (longer than
// the largest): its size, the nearest known size, and the first block that
// size has and the image lacks, or the bytes it has beyond it. The image is
// still read as today's D64 (40 tracks), so this is a warning.
void reportUnknownSize(Tally &tally, const ImageBuffer &image, const BlockAccount &account) {
    uint64_t size = image.bytes.size();
    if (image.shape.exactSize || expectedImageForm(size)) return;
    uint64_t known = 0;
    DiskShape nearest = nearestKnownShape(size, known);
    beginLine(tally, false, account, kOwnerNone);
    consolePrintf("the image's size, %llu bytes, is no known size; the nearest is %llu, %s %i-track %s image%s, ",
                  static_cast<unsigned long long>(size), static_cast<unsigned long long>(known),
                  nearest.tracks / 10 == 8 ? "an" : "a", nearest.tracks,
                  nearest.family->name, nearest.errorBytes ? " with error bytes" : "");
    uint64_t blockBytes = static_cast<uint64_t>(blockCount(nearest)) * kBlockSize;
    if (size > known) {
        consolePrintf("and it has %llu bytes more; it is read as a %i-track d64 image\n",
                      static_cast<unsigned long long>(size - known), image.shape.tracks);
    } else if (size >= blockBytes) {
        consolePrintf("whose blocks it holds, not all its error bytes; it is read as a %i-track d64 image\n",
                      image.shape.tracks);
    } else {
        TrackSector first = blockOfIndex(nearest, static_cast<int>(size / kBlockSize));
        consolePrintf("whose blocks from %i/%i on it lacks; it is read as a %i-track d64 image\n", first.track,
                      first.sector, image.shape.tracks);
    }
}

// ---- The rest of 18/0, the error bytes, the summary ----

// A warning for each area of 18/0 that could hold the map of tracks 36-40 and
// holds something else: the map is then not read there, and -fix leaves it.
void reportMalformedExtensions(Tally &tally, const ImageBuffer &image, const BlockAccount &account) {
    for (MapExtension area : {MapExtension::SpeedDos, MapExtension::DolphinDos}) {
        int track = malformedExtensionTrack(image, area);
        if (track == 0) continue;
        const uint8_t *entry = extensionEntryBytes(image, area, track);
        int offset = mapExtensionOffset(area);
        beginLine(tally, false, account, kOwnerNone);
        consolePrintf("18/0: bytes $%02x-$%02x are neither all 0 nor a %s map of tracks 36-40 (track %i: $%02x $%02x "
                      "$%02x $%02x); they are not read as a map\n",
                      offset, offset + 19, mapExtensionName(area), track, entry[0], entry[1], entry[2], entry[3]);
    }
}

// Two id bytes as the listing shows them, then in hex: "2A" ($32 $41).
void printIdBytes(uint8_t id1, uint8_t id2) {
    consolePrintf("\"");
    consoleDiskCode(id1);
    consoleDiskCode(id2);
    consolePrintf("\" ($%02x $%02x)", id1, id2);
}

// An image read from GCR: each sector's read error, naming the block and
// whose it is; the headers' disk id when 18/0 holds another; the faults of
// the container and what a block image could not hold.
void reportReadErrors(Tally &tally, const ImageBuffer &image, const BlockAccount &account) {
    const GcrDisk &disk = *image.gcr;
    for (int track = 1; track <= account.tracks; ++track) {
        for (int sector = 0; sector < sectorsPerTrack(image.shape, track); ++sector) {
            size_t index = static_cast<size_t>(blockOffset(image.shape, track, sector) / kBlockSize);
            int error = index < disk.sectors.size() ? disk.sectors[index].error : 0;
            if (error == 0) continue;
            beginLine(tally, false, account, ownerOf(account, track, sector));
            consolePrintf("block %i/%i: %i %s\n", track, sector, error, readErrorName(error));
        }
    }
    const uint8_t *header = headerBlock(image);
    int idOffset = image.shape.family->idOffset;
    if (header && disk.id.known && (header[idOffset] != disk.id.id1 || header[idOffset + 1] != disk.id.id2)) {
        beginLine(tally, false, account, kOwnerNone);
        consolePrintf("the sector headers carry the disk id ");
        printIdBytes(disk.id.id1, disk.id.id2);
        consolePrintf(", %s holds ", headerText(image.shape).c_str());
        printIdBytes(header[idOffset], header[idOffset + 1]);
        consolePrintf(" at $%02x-$%02x; a drive goes by the headers'\n", idOffset, idOffset + 1);
    }
    for (const std::string &fault : disk.faults) {
        beginLine(tally, false, account, kOwnerNone);
        consolePrintf("%s\n", fault.c_str());
    }
    std::string leftOut;
    for (const std::string &phrase : disk.leftOut) leftOut += (leftOut.empty() ? "" : "; ") + phrase;
    if (leftOut.empty()) return;
    beginLine(tally, false, account, kOwnerNone);
    consolePrintf("a %s image cannot hold what this %s holds: %s\n", image.shape.family->name, gcrFormatName(image),
                  leftOut.c_str());
}

void reportErrorBytes(Tally &tally, const ImageBuffer &image, const BlockAccount &account) {
    // The disk's check reports them; a sub-directory's would repeat it.
    if (insidePartition(image.shape)) return;
    if (image.gcr) {
        reportReadErrors(tally, image, account);
        return;
    }
    if (errorByteOf(image, 1, 0) < 0) return;
    for (int track = 1; track <= account.tracks; ++track) {
        for (int sector = 0; sector < sectorsPerTrack(image.shape, track); ++sector) {
            int code = errorByteOf(image, track, sector);
            int dosError = dosErrorNumber(code);
            if (code < 0 || dosError == 0) continue;
            beginLine(tally, false, account, kOwnerNone);
            if (dosError > 0)
                consolePrintf("%i/%i: the error byte reports DOS error %i ($%02x)\n", track, sector, dosError, code);
            else
                consolePrintf("%i/%i: the error byte holds $%02x, not a code the drive uses\n", track, sector, code);
        }
    }
}

// The summary's figures: the blocks in use, and the free blocks by the map
// and by the chains on the tracks the map covers.
void countSummary(Tally &tally, const MapView &view) {
    tally.mapPresent = view.account.mapPresent;
    if (!tally.mapPresent) return;
    const DiskShape &shape = view.image.shape;
    int lastTrack = lastMapTrack(view.image, view.extension);
    for (int track = 1; track <= highestTrack(shape); ++track) {
        int inUse = std::popcount(view.account.usedSectors[track]);
        tally.blocksUsed += inUse;
        if (track > lastTrack) tally.usedUncovered += inUse;
        if (track > lastTrack || track == shape.systemTrack || outsidePartition(shape, track)) continue;
        TrackMapEntry entry{0, 0};
        readMapEntry(view.image, view.extension, track, entry);
        tally.freeByMap += entry.freeCount;
        tally.freeByChains += sectorsPerTrack(shape, track) - inUse;
    }
    if (view.extension != MapExtension::None) tally.mapExtension = mapExtensionName(view.extension);
    tally.firstUncovered = lastTrack + 1;
    tally.lastUncovered = highestTrack(shape);
}

// ---- Sub-directories ----

void checkDirectory(const ImageBuffer &image, CheckReport &report, SubDirectoryVisits &visits, ImageBuffer *scratch);

// Each partition of the directory that is a sub-directory (it can be entered
// and was formatted inside) and whose area the image's check has not gone
// into yet, checked inside as its own disk, nested ones too; each finding of
// it joins the report after the partition's name. `scratch`, when given, is
// `image` itself, whose shape may be changed for a while; else one copy of
// the bytes serves every sub-directory below.
void checkPartitions(Tally &tally, const ImageBuffer &image, SubDirectoryVisits &visits, ImageBuffer *scratch) {
    std::vector<SubDirectory> subs = newSubDirectories(image, visits);
    if (subs.empty()) return;
    ImageBuffer copy;
    if (!scratch) {
        copy = image;
        scratch = &copy;
    }
    DiskShape outer = scratch->shape;
    for (const SubDirectory &sub : subs) {
        std::string name;
        consoleCaptureStart(name);
        consolePrintf("partition ");
        printName(sub.slot);
        consolePrintf(" (tracks %i-%i): ", sub.inside.areaFirst, sub.inside.areaLast);
        consoleCaptureStop();
        scratch->shape = sub.inside;
        CheckReport within;
        checkDirectory(*scratch, within, visits, scratch);
        scratch->shape = outer;
        for (CheckFinding &found : within.findings) tally.findings.push_back({found.error, name + found.text});
        tally.errors += within.errors;
        tally.warnings += within.warnings;
    }
}

// The signature and border block of a GEOS disk, for the summary: the
// signature's 16 bytes up to the first that is not printable ASCII.
void noteGeosDisk(const ImageBuffer &image, CheckReport &report) {
    TrackSector border;
    if (!geosBorderBlock(image, border)) return;
    const uint8_t *signature = headerBlock(image) + kGeosSignatureOffset;
    for (int i = 0; i < kGeosSignatureLength && signature[i] >= 0x20 && signature[i] < 0x7F; ++i)
        report.geosSignature += static_cast<char>(signature[i]);
    report.geosBorderTrack = border.track;
    report.geosBorderSector = border.sector;
}

void printSummary(const CheckReport &report) {
    consolePrintf("%i error%s, %i warning%s", report.errors, plural(report.errors), report.warnings,
                  plural(report.warnings));
    if (!report.mapPresent) {
        consolePrintf("\n");
        return;
    }
    consolePrintf("; %i block%s used by files and the directory; %i block%s free by the map, %i by the chains",
                  report.blocksUsed, plural(report.blocksUsed), report.freeByMap, plural(report.freeByMap),
                  report.freeByChains);
    if (report.mapExtension) consolePrintf(" (tracks 36-40 by the %s map)", report.mapExtension);
    if (report.usedUncovered > 0)
        consolePrintf("; %i used on tracks %i-%i, which the map does not cover", report.usedUncovered,
                      report.firstUncovered, report.lastUncovered);
    if (!report.geosSignature.empty())
        consolePrintf("; a GEOS disk (\"%s\" at 18/0 $AD, border block %i/%i)", report.geosSignature.c_str(),
                      report.geosBorderTrack, report.geosBorderSector);
    consolePrintf("\n");
}

}  // namespace

void printFindingText(const BlockAccount &account, const Finding &found) {
    if (found.owner >= kFirstEntryOwner) {
        printEntry(account, found.owner);
        consolePrintf(": ");
    }
    std::string headerString = headerText(account.shape);
    const char *header = headerString.c_str();
    if (found.kind == FindingKind::DirectoryLinkElsewhere) {
        consolePrintf("the directory chain: %s links to ", header);
        printBlock(found.to);
        consolePrintf(", where a drive reads the directory from ");
        printBlock(account.driveStart);
        consolePrintf("; the check follows both");
    } else if (found.kind == FindingKind::DirectoryOffTrack) {
        consolePrintf("the directory chain: ");
        printBlock(found.to);
        consolePrintf(" lies off track %i", account.shape.systemTrack);
    } else if (found.kind == FindingKind::DirectoryLinkEnds) {
        consolePrintf("the directory chain: %s links to ", header);
        printBlock(found.to);
        consolePrintf(", on track 0, so the listing shows no entry; a drive reads the directory from ");
        printBlock(account.driveStart);
    } else if (found.chain >= 0) {
        printChainFault(account, found);
    } else {
        printSideFinding(found);  // each prints nothing for the other's kinds
        printEntryFinding(found);
    }
}

namespace {

// The check of one directory and, below it, of the sub-directories not yet gone into.
void checkDirectory(const ImageBuffer &image, CheckReport &report, SubDirectoryVisits &visits, ImageBuffer *scratch) {
    BlockAccount account;
    buildAccount(image, account, options.showAll != 0);
    report = CheckReport{};
    Tally &tally = report;
    MapView view{image, account, findMapExtension(image)};
    const uint8_t *map = headerBlock(image);
    noteGeosDisk(image, report);
    reportTruncation(tally, image, account);
    reportUnknownSize(tally, image, account);
    if (!map) {
        beginLine(tally, true, account, kOwnerNone);
        consolePrintf("%s lies outside the image (%llu byte%s): no map and no directory\n",
                      headerText(image.shape).c_str(),
                      static_cast<unsigned long long>(image.bytes.size()),
                      plural(static_cast<int>(image.bytes.size())));
    } else if (map[kDosVersionOffset] != image.shape.family->dosVersion && image.shape.family->map != MapLayout::D81) {
        beginLine(tally, false, account, kOwnerNone);
        consolePrintf("%s: DOS version byte $%02x, not $%02x\n", headerText(image.shape).c_str(),
                      map[kDosVersionOffset],
                      image.shape.family->dosVersion);
    }
    reportD81Faults(tally, image, account);
    reportD71Faults(tally, image, account);
    reportMalformedExtensions(tally, image, account);
    for (const Finding &found : account.findings) printFinding(tally, account, found);
    if (map) {
        reportUsedButFree(tally, view);
        reportTrackEntries(tally, view);
    }
    reportErrorBytes(tally, image, account);
    consoleCaptureStop();
    countSummary(tally, view);
    if (map) checkPartitions(tally, image, visits, scratch);
}

}  // namespace

void checkFindings(const ImageBuffer &image, CheckReport &report) {
    readAllTracks(image);
    SubDirectoryVisits visits{};
    checkDirectory(image, report, visits, nullptr);
    if (visits.passedOver == 0) return;
    report.findings.push_back({false, {}});
    consoleCaptureStart(report.findings.back().text);
    consolePrintf("%i more partition%s not checked: the check goes into at most %i sub-directories of an image",
                  visits.passedOver, plural(visits.passedOver), kMostSubDirectories);
    consoleCaptureStop();
    ++report.warnings;
}

void printCheckReport(const CheckReport &report) {
    for (const CheckFinding &finding : report.findings) {
        consolePrintf(finding.error ? "error: " : "warning: ");
        consolePrintCaptured(finding.text);
        consolePrintf("\n");
    }
    printSummary(report);
}

int checkImage(const ImageBuffer &image) {
    CheckReport report;
    checkFindings(image, report);
    printCheckReport(report);
    return report.errors;
}
