// Disk families: the shape of a disk as data. One record per drive family
// (1541 D64, 1571 D71, 1581 D81) holds every number that differs between
// them; one record per image (DiskShape) says which family it is and how
// much of it kestrel reads. Everything that needs a track count, a sector
// count, the header block or an interleave asks these. Pure data and
// arithmetic: nothing here reads files or prints.
#pragma once

#include <algorithm>
#include <cstdint>

constexpr int kBlockSize = 256;

// Bounds over every family, for fixed-size tables: the most tracks an image
// has (a D81 of 83 tracks), the most sectors a track has (a D81's 40), and
// the block slots of those (tracks x sectors).
constexpr int kMostTracks = 83;
constexpr int kMostSectors = 40;
constexpr int kMostBlocks = kMostTracks * kMostSectors;

// Every block position (blockOffset / 256) of any family lies below this: a
// sector byte beyond its track's count reaches up to 255 blocks past a track's
// start (on a D81 from track 83).
constexpr int kBlockPositions = 4096;

// Where a family keeps its availability map.
enum class MapLayout {
    D64,  // 18/0: 4 bytes a track (count, 3 bitmap bytes) for tracks 1-35
    D71,  // as D64 for side 1; side 2: bitmaps in 53/0 (3 bytes a track), counts in 18/0 DD-FF
    D81,  // 40/1 (tracks 1-40) and 40/2 (41-80): 6 bytes a track from offset 10
};

// A run of tracks of one side with the same sector count.
struct TrackZone {
    int lastTrack;  // the zone's last track, counted on its side
    int sectors;
};

// Where each track of a family's layout starts and how many sectors it has,
// worked out once from its zones, so that a block lookup is one index into
// it and one bounds check (the gate asks it on every access).
// Both are indexed by any track byte (0-255), so that no index needs a clamp.
struct TrackTable {
    int lastTrack;      // the highest track of the layout (42, 70, 83)
    int start[256];     // blocks before sector 0 of track t (t = 1..lastTrack); from lastTrack + 1
                        // on: the blocks of all tracks
    int sectors[256];   // sectors of track t; the nearest track's below 1 and above lastTrack
};

struct DiskFamily {
    const char *name;           // "d64", "d71", "d81": the -json "format"
    TrackZone zones[4];         // sectors per track on one side, by zones (the last zone runs on)
    int sideTracks;             // tracks of a side whose zones repeat on side 2 (35 on a 1571), else 0
    const TrackTable *trackTable;  // the zones (and side 2) as a table, by track
    int addressedTracks;        // tracks a block may lie on whatever the image's length (40 on a
                                // 1541: DOS extensions format 40), else 0
    int mapTracks;              // tracks the map covers
    int systemTrack;            // the track of header, map and directory
    int directorySector;        // the directory's first block on the system track
    int directoryInterleave;    // sectors between directory blocks, as the drive grows it
    int fileInterleave;         // sectors between a file's blocks, as the drive saves it
    int directoryCapacity;      // entries the drive's directory holds at most (its track's blocks
                                // but header and map, 8 each: growth on the track alone keeps to it)
    MapLayout map;
    int nameOffset;             // disk name in the header block (16 characters)
    int idOffset;               // disk id in the header block (5 shown: id, padding, DOS type)
    const char *typeFive;       // the name of file type 5: "CBM" (a partition) on a 1581, else "???"
    const char *drive;          // "1541", "1571", "1581", for messages
    uint8_t dosVersion;         // header byte 02 as the drive formats it ($41, $41, $44)
    const char *mapBlocks;      // the header and map blocks, as messages name them
    // How the drive's format command writes the header and the map:
    const char *dosType;        // the two bytes after the id and its padding byte ("2A", "3D")
    uint8_t sidesFlag;          // header byte 03 ($80 on a 1571: double-sided)
    int headerPadding;          // $A0 bytes after the DOS type (4 on a 1541 and 1571, 2 on a 1581)
    int linkedMapBlocks;        // map blocks after the header on the system track, each with a head of its own
                                // (DOS version, its complement, id, I/O byte) and linked in turn (2 on a 1581)
    uint8_t mapIoByte;          // the I/O byte the format writes into those heads ($C0 on a 1581)
};

// Where DOS extensions for the 1541 that format 40 tracks keep the map of
// tracks 36-40 in the header block's unused bytes, 4 bytes a track in the
// layout of tracks 1-35.
constexpr int kExtendedD64Tracks = 40;
constexpr int kSpeedDosMapOffset = 0xC0;
constexpr int kDolphinDosMapOffset = 0xAC;

// A file's first block is looked for on the tracks nearest the system track,
// alternately below and above it (17, 19, 16, 20, ...), then on the tracks
// left on the side that runs longer; the drives' orders (1541: 17 ... 1, 35;
// 1571: then 36 ... 70; 1581: 39, 41, ... 1, 79, 80) all follow from that.

extern const DiskFamily kFamilyD64;
extern const DiskFamily kFamilyD71;
extern const DiskFamily kFamilyD81;

// The family whose name ("d64", "d71", "d81") is `name`, or nullptr.
const DiskFamily *familyNamed(const char *name);


// A length a D64 image file was made in before the other sizes were known:
// the rules for a file of any size outside the family table (a cut or padded
// D64) read from these four.
struct ImageForm {
    uint64_t size;    // bytes of the file
    int tracks;       // 35 or 40
    bool errorBytes;  // an error byte per block follows the blocks
};

// The smallest form at or above `size` (the form an image of that length is,
// or was before it was cut short); nullptr above the largest form.
const ImageForm *expectedImageForm(uint64_t size);

// The bytes of a form that hold blocks: its tracks' blocks, 256 bytes each.
uint64_t formBlockBytes(const ImageForm &form);

// True when the length is below that of its expected form: the file has been
// cut short (a file longer than every form is not).
bool imageIsTruncated(uint64_t size);

// Tracks of a D64 by its length: the most tracks of a form whose blocks
// the image holds whole (40 from 196,608 bytes on), else 35, also for a cut
// image. shapeForSize takes a D64's tracks from here for the sizes outside
// the family table.
int imageTrackCount(uint64_t size);

// One image's shape: its family and what of it kestrel reads.
// A shape made without values is that of a 35-track D64 of unknown length:
// what an image buffer holds until its file is loaded.
struct DiskShape {
    const DiskFamily *family = &kFamilyD64;
    int tracks = 35;          // tracks kestrel reads (35 on a single-sided D71)
    bool errorBytes = false;  // an error byte per block follows the blocks
    bool exactSize = false;   // the file has one of the family's sizes; else a D64 read by the rules for any size
    int systemTrack = 18;     // header, map and directory track
    int areaFirst = 1;        // the tracks a file may be placed on
    int areaLast = 35;
};

constexpr DiskShape kShapeD64{};

// The shape an image file of `size` bytes has: a size of the family table
// (D64 35-42 tracks, D71, D81 80-83 tracks, each with or without error bytes)
// gives that family; every other size a D64 of 35 or 40 tracks by the rules
// of a cut or padded file (imageTrackCount).
DiskShape shapeForSize(uint64_t size);

// The shape of the table size nearest to `size` (the smaller of two as near),
// and that size: what a file of no known size most likely was.
DiskShape nearestKnownShape(uint64_t size, uint64_t &knownSize);

// The shape of an image as the family's drive formats it: the tracks of its
// map (or `tracks` when above that, for a 40-track D64), with or without
// error bytes.
DiskShape formattedShape(const DiskFamily &family, int tracks, bool errorBytes);

// A D71 read as its side 1 only (its header marks it single-sided).
DiskShape singleSided(const DiskShape &shape);

// Sectors of `track` on this shape. Tracks outside the family's range get
// the nearest zone's count (21 at track 0 and below on a D64, 17 above 40).
inline int sectorsPerTrack(const DiskShape &shape, int track) {
    return shape.family->trackTable->sectors[std::clamp(track, 0, 255)];
}

// The highest track a block may lie on: the image's tracks, and at least 40
// on a D64 (whose tracks 36-40 are there when the file holds them).
inline int highestTrack(const DiskShape &shape) { return std::max(shape.tracks, shape.family->addressedTracks); }

// The tracks the map covers and the searches look at (35, 70 or 35, 80).
inline int mapTracks(const DiskShape &shape) { return std::min(shape.family->mapTracks, shape.tracks); }

// Blocks of the image's tracks.
inline int blockCount(const DiskShape &shape) { return shape.family->trackTable->start[shape.tracks + 1]; }

// The most blocks any walk yields before it is taken to loop: the image's
// blocks, and at least the 768 of a 40-track D64.
constexpr int kExtendedD64Blocks = 768;
inline int walkBound(const DiskShape &shape) { return std::max(blockCount(shape), kExtendedD64Blocks); }

// Byte offset of a block by the family's layout; only the low 8 bits of each
// argument count. Pure arithmetic: the offset may lie outside any image, and
// a track above highestTrack gives the offset of that track's band.
inline int blockOffset(const DiskShape &shape, int track, int sector) {
    int clamped = std::clamp(track & 0xFF, 1, highestTrack(shape));
    return (shape.family->trackTable->start[clamped] + (sector & 0xFF)) * kBlockSize;
}

// The header block (18/0 or 40/0).
inline int headerTrack(const DiskShape &shape) { return shape.systemTrack; }

// True for a block that holds the header or the map (18/0; 18/0 and 53/0 of
// a double-sided D71; 40/0-40/2 of a D81).
bool isSystemBlock(const DiskShape &shape, int track, int sector);

// The drive of the shape's family, for messages ("1541").
inline const char *driveName(const DiskShape &shape) { return shape.family->drive; }

// True when both shapes are of one family.
inline bool sameFamily(const DiskShape &a, const DiskShape &b) { return a.family == b.family; }

// True for a track no file is placed on: the system track, and on a
// double-sided D71 track 53, which the 1571 keeps wholly used.
bool isReservedTrack(const DiskShape &shape, int track);
