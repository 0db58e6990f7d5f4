// Where a drive puts the blocks of a file it saves: the first block on the
// track nearest the system track that has room, every next block an
// interleave on along the same track (10 on a 1541, 6 on a 1571, 1 on a
// 1581), then the next track outwards. Searches only: the caller takes the
// block it is given. Nothing here prints.
#pragma once

#include "disk/bam.h"
#include "disk/image.h"

// Both searches give only placeable blocks: marked free in the map, held by
// the image, on a track of the shape's file area that is not reserved (the
// system track; a D71's track 53) and not in skips.inUse (the blocks
// something uses whatever the map says; those they meet marked free join
// skips.passedOver, as with the other free-block searches).

// The first block of a new file: the tracks are tried by distance from the
// system track S, below before above (S-1, S+1, S-2, S+2, ...: 17, 19, ...,
// 1, 35 on a 1541, then 36 ... 70 on a 1571; 39, 41, ..., 1, 79, 80 on a
// 1581), and on the first that has a placeable block its lowest placeable
// sector is taken. Returns false, `found` untouched, when no track has one.
bool findFileStart(const ImageBuffer &image, SearchSkips &skips, TrackSector &found);

// The block that follows `previous` in a file, as the drive finds it: on the
// same track, `previous.sector` + the interleave; past the track's last sector
// it wraps round to one less than the overflow (the drive's own arithmetic:
// 20 + 10 on a 21-sector track gives 8), and from there the first placeable
// sector upwards, else from sector 0. A track without a placeable block passes
// the search on to the next track away from the system track, keeping the
// sector; past the first or last track of the area it crosses to the other
// side (S+1 or S-1) with sector 0. Returns false, `found` untouched, when no
// track has a placeable block. Precondition: `previous` lies on a track of the
// area other than the system track.
bool findNextFileBlock(const ImageBuffer &image, SearchSkips &skips, TrackSector previous, TrackSector &found);
