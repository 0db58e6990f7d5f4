// The block account of an image: which owner (18/0, the directory, the GEOS
// border block, a directory entry) uses which block, through which chain, and
// what went wrong on the way. The check prints it, the repair rebuilds the
// map from it. Reads the image only; prints nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/blockset.h"
#include "disk/entrychains.h"
#include "disk/image.h"

// Owners of blocks. Entry owners index BlockAccount::slots: the slots of the
// directory blocks in the order the walks reach them, then those of a GEOS
// border block.
constexpr int kOwnerNone = -1;
constexpr int kOwnerMapBlock = 0;   // header and map blocks (18/0; 53/0 and track 53 of a D71; 40/0-40/2)
constexpr int kOwnerDirectory = 1;  // the directory chain
constexpr int kOwnerBorder = 2;     // the border block of a GEOS disk
constexpr int kFirstEntryOwner = 3;

inline int entryOwner(int entry) { return kFirstEntryOwner + entry; }

struct ChainInfo {
    int owner;
    ChainRole role;
    int record;  // VLIR record number, else 0
};

// Everything the walks can find. Errors first, then warnings.
enum class FindingKind : uint8_t {
    // errors
    DirectoryLinkElsewhere,  // 18/0 links to `to`, a block other than 18/1, where a drive starts the directory
    LinkAboveTracks,      // chain: `at` links to `to`, a track above the image's tracks
    LinkBeyondSectors,    // chain: `at` links to `to`, a sector beyond its track
    LinkOutsideImage,     // chain: `at` links to `to`, a block the image does not hold
    ChainLoops,           // chain: `at` links back to `to`
    ChainRunsInto,        // chain: `at` links to `to`, a block of chain `otherChain`
    ChainLeavesArea,      // chain (not the directory's) in a sub-directory: `at` links to `to`, on a
                          // track outside the partition's area
    DirectoryOffTrack,    // directory block `to` lies off track 18
    RelRecordLength,      // record length 0
    RelNoSideSectors,     // side-sector link on track 0
    RelTooManySides,      // `value` side-sector blocks, more than `expected` (6; 756 after a 1581's super side sector)
    RelSideNumber,        // side sector `at` carries number `value`, expected `expected`
    RelSideRecordLength,  // side sector `at` gives record length `value`, the entry `expected`
    RelSideList,          // side sector `at` lists `to` as side sector `value`; the chain has `other`
    RelDataCount,         // the side sectors list `value` data blocks, the chain has `expected`
    RelDataBlock,         // side sector `at` lists `to` as data block `value`; the chain has `other`
    RelSuperList,         // super side sector `at` lists `to` as group `value`'s first side sector; the chain has `other`
    GeosNoInfo,           // info link on track 0
    GeosStructure,        // structure byte `value` is neither 0 nor 1
    SingleBlockLinks,     // chain (info, VLIR index, border block) `at` links on to `to`
    // warnings
    DirectoryLinkEnds,    // 18/0 links to `to`, on track 0: the directory is read from 18/1, as a drive reads it
    StartTrackZero,       // a file entry names no first block (track 0): directory art, or lost
    FileOpen,             // type byte `value` has bit 7 clear
    UnknownType,          // type byte `value` has type 5-7
    ShownCount,           // the entry shows `value` blocks, its chains have `expected`
    LastByteIndex,        // last block `at` has used-byte index `value`
    RelRecordCount,       // the REL data holds `value` bytes, no whole number of `expected`-byte records
};

constexpr bool isError(FindingKind kind) { return kind < FindingKind::DirectoryLinkEnds; }

struct Finding {
    FindingKind kind;
    int owner;             // who the finding is about (kOwnerNone: the disk)
    int chain;             // index into BlockAccount::chains, or -1
    int otherChain;        // ChainRunsInto: the chain that had the block first
    TrackSector at;        // the block that links, or is named ({0, 0}: the chain's start)
    TrackSector to;        // the block linked to or listed
    TrackSector other;     // what the chain has where a list names `to`
    int value;
    int expected;
};

// A slot the account read, and how a user names it.
struct AccountSlot {
    const uint8_t *bytes;
    TrackSector block;  // the directory block (or border block) that holds it
    int index;          // 0-7 within that block
    int number;         // the entry number the listing and the edits (-rd, -rename, ...) give it, counted
                        // with the run's -va setting; -1 when they do not reach it (the listing does not
                        // read its block, or it is a border slot)
};

struct BlockAccount {
    bool mapPresent;                   // the header lies inside the image; nothing else is known otherwise
    DiskShape shape;                   // the image's shape
    int tracks;                        // the image's tracks (shape.tracks)
    TrackSector driveStart;            // where the drive starts the directory (18/1; 40/3 on a D81)
    int directorySlots;                // entries 0..directorySlots-1 are directory slots, the rest border slots
    std::vector<AccountSlot> slots;    // every slot by entry owner
    int chainOf[kMostBlocks];          // by blockIndex: the chain that reached the block first, or -1
    uint64_t usedSectors[kMostTracks + 1];  // per track, bit s set when some owner uses sector s
    std::vector<ChainInfo> chains;
    std::vector<Finding> findings;     // in the order found
};

// Walks 18/0, the directory chain as the listing reads it (from 18/0's link)
// and as a drive reads it (from 18/1; a link in 18/0 that reaches another
// block is an error, and the blocks of both walks are the directory's), the
// GEOS border block, then every entry whose type byte is not 0 in entry
// order: its chain, REL side sectors, GEOS info block, VLIR index and
// records. Each block goes to the first owner that reaches it. Every walk
// goes through the bounded walker with the image's tracks and real sectors
// only, and ends at the first block it has reached before, so the whole
// account costs at most one step per block plus one per chain. Slots are
// numbered as the listing numbers them, every slot when countAll (-va), else
// those whose type byte is not 0. Never reads outside the image.
void buildAccount(const ImageBuffer &image, BlockAccount &account, bool countAll);

// The blocks some owner uses.
BlockSet usedBlocks(const BlockAccount &account);

// The owner of a block, kOwnerNone for blocks nothing uses or without an index.
int ownerOf(const BlockAccount &account, int track, int sector);
