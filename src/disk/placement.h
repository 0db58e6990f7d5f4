// Where a drive puts the blocks of a file it saves: the first block on the
// track nearest the system track that has room, every next block an
// interleave on along the same track (10 on a 1541, 6 on a 1571, 1 on a
// 1581), then the next track outwards. The rules a run may change (the
// interleave, the first block, the system track, tracks 36-40 of a D64 with a
// map for them) travel in one record. Searches, and marks the block a caller
// takes; nothing here prints.
#pragma once

#include <bitset>

#include "disk/bam.h"
#include "disk/image.h"

// The rules of one file's placement. drivePlacement gives the drive's own.
struct PlacementRules {
    int interleave;        // sectors from one block to the next on a track (1 and up)
    bool systemTrack;      // the system track's free blocks may be taken too (never its header and map blocks)
    int extensionOffset;   // on a 40-track D64: the offset in 18/0 of the map of tracks 36-40
                           // (SpeedDOS C0, DolphinDOS AC), which files may then take; 0: they may not
};

// The drive's rules for the shape: its family's interleave, no system track,
// no tracks beyond the map.
PlacementRules drivePlacement(const DiskShape &shape);

// The last track the rules let a file reach: 40 with an extension map, else
// the shape's area.
int lastPlacementTrack(const ImageBuffer &image, const PlacementRules &rules);

// True when the rules let a file take blocks of `track` at all (in the area,
// not reserved unless it is the system track and that is allowed).
bool isPlacementTrack(const ImageBuffer &image, const PlacementRules &rules, int track);

// Both searches give only placeable blocks: marked free in the map (for
// tracks 36-40 the extension's), held by the image, on a placement track, not
// a header or map block, and not in skips.inUse (the blocks something uses
// whatever the map says; those they meet marked free join skips.passedOver, as
// with the other free-block searches).

// The tracks a run of searches has seen the map mark full, by number. A full
// track stays full until a block of it is freed or the map's blocks are
// written; the caller clears the record then.
using FullTracks = std::bitset<kMostTracks + 1>;

// The first block of a new file: the tracks are tried by distance from the
// system track S, below before above (S-1, S+1, S-2, S+2, ...: 17, 19, ...,
// 1, 35 on a 1541, then 36 ... 40 with an extension map, 36 ... 70 on a 1571;
// 39, 41, ..., 1, 79, 80 on a 1581; S itself last when allowed), and on the
// first that has a placeable block its lowest placeable sector is taken.
// Returns false, `found` untouched, when no track has one. Tracks in `full`
// are passed over; those found full join it.
bool findFileStart(const ImageBuffer &image, const PlacementRules &rules, SearchSkips &skips, FullTracks &full,
                   TrackSector &found);

// The first block of a file that is to start at `start`: that block when it is
// placeable, else the first placeable sector above it on its track, else from
// sector 0; a track without one passes the search on as findNextFileBlock
// does, where the same sector is looked for first. A sector of -1 asks for
// the track's lowest. Returns false, `found`
// untouched, when no track has a placeable block. Precondition: `start.track`
// is a placement track.
bool findFileStartAt(const ImageBuffer &image, const PlacementRules &rules, SearchSkips &skips, TrackSector start,
                     TrackSector &found);

// The block that follows `previous` in a file, as the drive finds it: on the
// same track, `previous.sector` + the interleave; past the track's last sector
// it wraps round to one less than the overflow (the drive's own arithmetic:
// 20 + 10 on a 21-sector track gives 8), and from there the first placeable
// sector upwards, else from sector 0. A track without a placeable block passes
// the search on to the next track away from the system track (the system
// track itself passes it upwards), keeping the sector; past the first or last
// track it crosses to the other side (S+1 or S-1) with sector 0. Returns
// false, `found` untouched, when no track has a placeable block.
// Precondition: `previous` lies on a placement track.
bool findNextFileBlock(const ImageBuffer &image, const PlacementRules &rules, SearchSkips &skips,
                       TrackSector previous, TrackSector &found);

// Marks a block of a placement track used (free false) or free in the map the
// rules read it from, its track's count moved with it. Does nothing where that
// map is absent.
void markPlacedBlock(ImageBuffer &image, const PlacementRules &rules, TrackSector block, bool free);
