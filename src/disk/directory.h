// The directory as data: the walk over the directory the way the listing
// reads it, by blocks or by the slots it shows with their entry numbers (the
// slot layout is in slots.h). Every action that names entries by number (the
// listing's edits, directory art, extraction, insertion) reads the directory
// through it, so that a number means the same slot everywhere. Nothing here
// prints.
#pragma once

#include <cstdint>

#include "disk/image.h"
#include "disk/slots.h"
#include "disk/walk.h"

// The walk over the directory chain from the link in block 18/0 (`map`),
// with block 18/1 standing in for a block whose first byte is above 40.
// nextDirectoryBlock returns nullptr once the walk has ended; walk.stop then
// says why (EndOfChain, or AbsentBlock and Loop when it ended early) and
// walk.next names the block it could not read. At most kMaxBlocks blocks,
// nothing outside the image.
BlockWalk startDirectoryWalk(const uint8_t *map);
const uint8_t *nextDirectoryBlock(const ImageBuffer &image, BlockWalk &walk);
uint8_t *nextDirectoryBlock(ImageBuffer &image, BlockWalk &walk);

// Cursor over the slots of that walk, made by startDirectory and moved by
// nextListedSlot.
struct DirectoryCursor {
    BlockWalk walk;        // over the directory chain
    const uint8_t *block;  // the directory block being read; nullptr before the first and after the last
    int slotIndex;         // slot of the block yielded last (0..7)
    int number;            // entry number of the slot yielded last (-1 before the first)
    bool beyondTrack;      // a block so far was reached through a sector beyond its track's count
};

// A cursor at the start of the directory. Precondition: block 18/0 is present.
DirectoryCursor startDirectory(const ImageBuffer &image);

// The next slot the listing shows (type byte not 0, or every slot when
// showAll), its entry number in cursor.number; nullptr at the end of the
// directory (cursor.walk says why, as above).
const uint8_t *nextListedSlot(const ImageBuffer &image, DirectoryCursor &cursor, bool showAll);
uint8_t *nextListedSlot(ImageBuffer &image, DirectoryCursor &cursor, bool showAll);
