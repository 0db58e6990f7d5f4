// The format command's writes on a system track: the header block, the map
// blocks (each family's layout, every track of the area free but the header,
// map and first directory block, every other track used) and the empty
// first directory block. A blank disk is this on the family's system track;
// a 1581 partition formatted inside ("N" within it) is this on its first
// track, its area the partition's tracks. Writes bytes; prints nothing.
#pragma once

#include <cstdint>

#include "disk/image.h"

// What the format command is given: the disk name (0..16 bytes) and the two
// id bytes.
struct FormatNames {
    const uint8_t *name;
    int nameLength;
    const uint8_t *id;
};

// Formats the system track of `image.shape` as the family's drive does:
// header (link to the first directory block, DOS version, sides flag, name,
// id, DOS type and their padding), the heads of linked map blocks (a
// 1581's), the map of every map track (tracks outside the shape's area and a
// reserved track other than the system track, a 1571's 53, wholly used) and
// the first directory block (link 00 FF, then 00). Touches no other block.
// Precondition: the image holds the system track's blocks.
void formatSystemTrack(ImageBuffer &image, const FormatNames &names);
