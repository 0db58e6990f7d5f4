// The directory as data: the layout of a 32-byte slot, the type names, and
// the walk over the slots in listing order that numbers the entries. The
// listing and the JSON report both read the directory through it, so that an
// entry number means the same slot everywhere. Nothing here prints.
#pragma once

#include <cstdint>

#include "disk/blockset.h"
#include "disk/image.h"
#include "disk/walk.h"

// Offsets inside a 32-byte directory slot.
constexpr int kSlotSize = 32;
constexpr int kSlotsPerBlock = 8;
constexpr int kSlotType = 2;
constexpr int kSlotStartTrack = 3;
constexpr int kSlotStartSector = 4;
constexpr int kSlotName = 5;          // 16 characters, padded with 0xA0
constexpr int kSlotBlockCount = 30;   // 16-bit little-endian
constexpr int kNameLength = 16;

// "DEL", "SEQ", "PRG", "USR", "REL" by the low three bits of the type byte,
// "???" for 5 to 7 ("CBM" for 5 on a 1581, its partitions).
const char *fileTypeName(const DiskShape &shape, int typeByte);

// True for a block a chain an entry names can start at: a track other than 0
// (no block), and not the header block (18/0 or 40/0, the directory's).
inline bool isStartBlock(const DiskShape &shape, TrackSector start) {
    return start.track != 0 && !(start.track == shape.systemTrack && start.sector == 0);
}

// True when the slot names a start block: start track not 0, not the header.
inline bool slotHasStartBlock(const DiskShape &shape, const uint8_t *slot) {
    return isStartBlock(shape, pairAt(slot, kSlotStartTrack));
}

// The directory's first block as the drive finds it: 18/1 on a 1541 or 1571;
// on a 1581 track 40, sector byte 01 of 40/0. Precondition: the header is present.
TrackSector driveDirectoryStart(const ImageBuffer &image);

// The type a 1581 gives its partitions (CBM); the 1541 and 1571 have no type 5.
constexpr int kTypePartition = 5;

// True for a 1581 partition: type 5 (CBM) on a D81.
inline bool isPartition(const DiskShape &shape, const uint8_t *slot) {
    return shape.family == &kFamilyD81 && (slot[kSlotType] & 7) == kTypePartition;
}

// The bytes of the slot's name before its $A0 padding (0..16): what a drive
// compares and the listing shows in quotes.
int slotNameLength(const uint8_t *slot);

// The 16-bit block count the slot claims.
int slotBlockCount(const uint8_t *slot);

// Bytes 2-3 of the file's first block, little-endian, into `address`; false
// (address untouched) when the slot has no start block or the image does not
// hold it.
bool slotStartAddress(const ImageBuffer &image, const uint8_t *slot, int &address);

// Cursor over the directory's slots, made by startDirectory and moved by
// nextListedSlot.
struct DirectoryCursor {
    BlockWalk walk;       // over the directory chain; walk.at is the block of the slot yielded last
    const uint8_t *block; // the directory block being read, nullptr before the first and after the last
    int slotIndex;        // slot of the block yielded last (0..7)
    int number;           // entry number of the slot yielded last (-1 before the first)
    TrackSector stopLink; // once the walk has ended early: the link the listing names in its warning,
                          // for a loop the block met again
    TrackSector beyondBlock; // the first block read through a sector beyond its track's count (18/19,
                             // whose bytes are 19/0's); {0, 0} while there is none. The edits write
                             // into no slot of it or of any block after it.
    PositionSet read;        // the positions of the directory blocks read so far
};

// A cursor at the start of the directory: the chain that block 18/0 names;
// on a D81 driveDirectoryStart. Precondition: the header block is present.
DirectoryCursor startDirectory(const ImageBuffer &image);

// The next slot the listing shows (type byte not 0, or every slot when
// showAll) and its entry number in cursor.number; nullptr at the end of the
// directory, with cursor.walk.stop saying why it ended (EndOfChain, or
// AbsentBlock and Loop when it ended early). A directory block whose first
// byte is above the highest track (40 on a D64) is read as the drive's first
// directory block instead. The walk ends as a Loop at
// the first block whose position (byte offset / 256, so 18/19 is 19/0) it has
// read before, the one it took in place of a link included: each slot of a
// looping chain comes once, with one number. Nothing outside the image.
const uint8_t *nextListedSlot(const ImageBuffer &image, DirectoryCursor &cursor, bool showAll);
uint8_t *nextListedSlot(ImageBuffer &image, DirectoryCursor &cursor, bool showAll);
