// The blocks that a disk's directory and files use, as far as the directory
// tells: the account that the edits which take a free block trust over the
// availability map. Reads the image only; prints nothing.
#pragma once

#include "disk/blockset.h"
#include "disk/image.h"

struct BlocksInUse {
    BlockSet directory;  // header and map blocks, and every block of the two directory walks
    BlockSet files;      // every block of a chain a listed entry or the GEOS border block owns
};

// Walks the directory as the listing reads it (18/0, then its link on) and as
// a drive reads it (from 18/1), and from every listed slot (type byte not 0)
// follows every chain the entry owns (entrychains.h): its data chain, REL side
// sectors, GEOS info block, VLIR index and records (for a GEOS structure byte
// above 1 both the chain and the records its first block would list), each
// from a start other than track 0 and 18/0; of a 1581 partition (a CBM slot
// on a D81) the whole area its first block and size give, not followed. On a GEOS disk the border block
// counts as a chain too, and its slots as listed slots. Every walk follows any
// link the image holds (kAnyHeldBlock), and a block is recorded where its
// bytes lie (heldBlock), so a chain through 17/25 marks 18/4. Block 18/0 is
// recorded but never read for entries. Any image, however damaged, gives an
// answer: the walks are bounded and never read outside the image. The slot
// `leftOut`, when given, counts as empty: what the others use.
BlocksInUse collectBlocksInUse(const ImageBuffer &image, const uint8_t *leftOut = nullptr);
