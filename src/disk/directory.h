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
// "???" for 5 to 7.
const char *fileTypeName(int typeByte);

// True for a block a chain an entry names can start at: a track other than 0
// (no block), and not 18/0 (the map, which is the directory's).
inline bool isStartBlock(TrackSector start) {
    return start.track != 0 && !(start.track == kDirTrack && start.sector == 0);
}

// True when the slot names a start block: start track not 0, start not 18/0.
inline bool slotHasStartBlock(const uint8_t *slot) { return isStartBlock(pairAt(slot, kSlotStartTrack)); }

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

// A cursor at the start of the chain that block 18/0 names.
// Precondition: block 18/0 is present.
DirectoryCursor startDirectory(const ImageBuffer &image);

// The next slot the listing shows (type byte not 0, or every slot when
// showAll) and its entry number in cursor.number; nullptr at the end of the
// directory, with cursor.walk.stop saying why it ended (EndOfChain, or
// AbsentBlock and Loop when it ended early). A directory block whose first
// byte is above 40 is read as block 18/1 instead. The walk ends as a Loop at
// the first block whose position (byte offset / 256, so 18/19 is 19/0) it has
// read before, the one it took in place of a link included: each slot of a
// looping chain comes once, with one number. Nothing outside the image.
const uint8_t *nextListedSlot(const ImageBuffer &image, DirectoryCursor &cursor, bool showAll);
uint8_t *nextListedSlot(ImageBuffer &image, DirectoryCursor &cursor, bool showAll);
