// Where a 1541 puts the blocks of a file it saves: the first block on the
// track nearest the directory that has room, every next block ten sectors on
// along the same track, then the next track outwards. Searches only: the
// caller takes the block it is given. Nothing here prints.
#pragma once

#include "disk/bam.h"
#include "disk/image.h"

constexpr int kFileInterleave = 10;

// Both searches give only placeable blocks: marked free in the map, held by
// the image, not on track 18 and not in skips.inUse (the blocks something uses
// whatever the map says; those they meet marked free join skips.passedOver,
// as with the other free-block searches).

// The first block of a new file: the tracks are tried in the order 17, 19, 16,
// 20, ..., 1, 35 (track 18 never), and on the first that has a placeable block
// its lowest placeable sector is taken. Returns false, `found` untouched, when
// no track 1..35 has one.
bool findFileStart(const ImageBuffer &image, SearchSkips &skips, TrackSector &found);

// The block that follows `previous` in a file, as the drive finds it: on the
// same track, `previous.sector` + 10; past the track's last sector it wraps
// round to one less than the overflow (the drive's own arithmetic: 20 + 10 on
// a 21-sector track gives 8), and from there the first placeable sector
// upwards, else from sector 0. A track without a placeable block passes the
// search on to the next track away from track 18, keeping the sector; past
// track 1 or 35 it crosses to the other side of the directory (19 or 17) with
// sector 0. Returns false, `found` untouched, when no track 1..35 has a
// placeable block. Precondition: `previous` lies on a track 1..35 other than 18.
bool findNextFileBlock(const ImageBuffer &image, SearchSkips &skips, TrackSector previous, TrackSector &found);
