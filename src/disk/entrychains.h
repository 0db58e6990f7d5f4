// Which chains a directory entry owns, by the bytes of its slot and, for a
// VLIR file, of its index block; and the border block a GEOS disk names in
// 18/0. The two accounts of blocks in use (the edits' account in inuse.h and
// the check's) both learn an entry's chains here, so that the REL and GEOS
// rules live in one place. Reads only; follows no link.
#pragma once

#include <cstdint>

#include "disk/image.h"

// What a chain is to its owner.
enum class ChainRole : uint8_t { MapBlock, Directory, Data, SideSectors, GeosInfo, VlirIndex, VlirRecord, Border };

// Offsets inside a 32-byte slot beyond those of directory.h.
constexpr int kSlotSideOrInfo = 21;    // REL: first side sector; GEOS: info block
constexpr int kSlotRecordLength = 23;  // REL: record length; GEOS: structure (0 sequential, 1 VLIR)
constexpr int kSlotGeosType = 24;      // GEOS file type, 0 for a plain file

constexpr int kTypeDel = 0;
constexpr int kTypeRel = 4;

// What the slot's bytes make of an entry.
struct EntryKind {
    int type;               // bits 0-2 of the type byte
    bool geos;              // SEQ, PRG or USR with a GEOS file type
    bool vlir;              // GEOS with structure byte 1: the first block is a VLIR index
    bool unknownStructure;  // GEOS with a structure byte above 1: sequential or VLIR, nobody knows
};

EntryKind entryKind(const uint8_t *slot);

// A chain a slot names: its role and its first block (track 0: none named).
struct NamedChain {
    ChainRole role;
    TrackSector start;
};

// The chains a slot names, in the order the accounts walk them: the entry's
// own chain from bytes 03-04 (VlirIndex for a VLIR file, else Data), then, from
// bytes 15-16, the REL side sectors or the GEOS info block. Starts are the
// slot's bytes as they are; judging them (track 0, 18/0) is the caller's part.
struct SlotChains {
    int count;  // 1 or 2
    NamedChain chains[2];
};

SlotChains slotChains(const uint8_t *slot, EntryKind kind);

// The 127 record pairs of a VLIR index block, from byte 2.
constexpr int kVlirRecords = 127;

enum class VlirPair {
    End,     // (0, 0): no record from here on
    Empty,   // track 0, sector not 0: an empty record
    Record,  // any other pair: the first block of a record's chain
};

// Record `record` (0..126) of the index block `index`; `start` is set for a Record.
VlirPair vlirRecord(const uint8_t *index, int record, TrackSector &start);

// A GEOS info block's class (20 bytes of ASCII, ended by a 0).
constexpr int kGeosClassOffset = 0x4D;
constexpr int kGeosClassLength = 20;

// Where 18/0 holds a GEOS disk's signature, and its length.
constexpr int kGeosSignatureOffset = 0xAD;
constexpr int kGeosSignatureLength = 16;

// True when 18/0 carries the signature of a GEOS disk ("GEOS format V1." at
// AD); `border` is then set to the border block named at AB-AC.
bool geosBorderBlock(const ImageBuffer &image, TrackSector &border);
