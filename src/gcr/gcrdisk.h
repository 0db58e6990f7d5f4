// G64 and G71 images (GCR-1541, GCR-1571): the container of tracks as a
// drive's head reads them. Loading decodes every sector into the blocks of a
// D64 or D71 with an error byte per block (the read error a 1541 would
// report), and keeps the file and where each data block lies, so that every
// action works on the blocks as on any image, and a G64 written back changes
// only the data blocks an edit changed. Writing a G64 from blocks records
// each error byte as the drive would read it back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/image.h"
#include "gcr/gcrcode.h"

// One entry of the track table as the file gives it.
struct GcrTrackEntry {
    uint64_t offset;  // of the track's GCR bytes in the file (after its length word); 0: no data
    size_t length;    // GCR bytes of the track inside the file
    uint32_t speed;   // the speed zone (0-3), or the file offset of a speed map
};

// Where a decoded block came from.
struct GcrSector {
    uint8_t error;     // DOS error number of its read (0: read)
    bool dataFound;    // its data block was found: the block can be rewritten in place
    int entry;         // its track's entry in the table
    uint32_t dataBit;  // the data block's first bit on that track
};

struct GcrDisk {
    ImageBytes file;                    // the G64 or G71 as read (a NIB's or NBZ's: the G64 of its revolutions)
    const char *format;                 // "g64", "g71", "nib" or "nbz": the kind of file read
    uint64_t fileSize;                  // bytes of the file read
    bool twoSides;                      // a GCR-1571 image
    std::vector<GcrTrackEntry> tracks;  // the table, by entry (entry 2(T-1) is track T)
    // Filled track by track as the tracks are first read (ImageBuffer::readTrack):
    std::vector<uint8_t> pending;       // by track: 1 while it is not decoded yet
    std::vector<GcrSector> sectors;     // by block position of the decoded image (blockOffset / 256)
    ImageBytes blocks;                  // the decoded blocks as read: which an edit changed
    DiskId id;                          // the id in the header of 18/0, which error 29 compares with
    std::vector<std::string> leftOut;   // what a D64 (D71) cannot hold, one phrase each
    std::vector<std::string> faults;    // faults of the container, one phrase each
    int shiftedTrack;                   // a track whose headers all name the track next to it (0: none) ...
    int shiftedFrom;                    // ... and that track
};

// True when the bytes start with "GCR-1541" or "GCR-1571", or are a NIB
// or an NBZ (gcr/nib.h).
bool isGcrImage(const uint8_t *bytes, size_t size);

// "g64", "g71", "nib" or "nbz": the format of the file an image was read
// from as GCR; nullptr for others.
const char *gcrFormatName(const ImageBuffer &image);

// "g64" or "g71": the GCR image an edit of an image read from GCR writes
// (a NIB's and an NBZ's edits are written as a G64); nullptr for others.
const char *gcrWrittenFormat(const ImageBuffer &image);

// Decodes the G64 or G71 file held in image.bytes (a NIB or NBZ first made
// the G64 of its revolutions, its faults kept as the G64's): on success the image
// holds the decoded blocks and error bytes (a D64 of 35 tracks, or 40 when a
// sector of tracks 36-40 reads; a D71 of 70), its shape says so, image.gcr
// keeps the file, and "" is returned. Each track is decoded when a block of
// it is first asked for (blockAt), or by readAllTracks. A table that does not fit in the file
// returns why, in words that follow the file's name; the image is then left
// empty. Faults of single tracks (offsets or lengths past the end) are not
// failures: those tracks read as no sync, and GcrDisk::faults names them.
std::string readGcrImage(ImageBuffer &image);

// Decodes every track not decoded yet: what needs each sector's read error
// (the check, a conversion, a write) calls it first. Nothing for other images.
void readAllTracks(const ImageBuffer &image);

// The GCR image file of `image` into `out` ("GCR-1571" when `twoSides`): the
// file it was read from with each changed block rewritten in place, or, for
// blocks not read from GCR, every track written as a drive formats it, each
// error byte recorded so that it reads back. Returns "" or why it cannot be
// written ("block 17/4 ...": a changed block whose data block was not
// found; a family with no such image); `out` is then unusable.
std::string gcrFileBytes(const ImageBuffer &image, bool twoSides, std::vector<uint8_t> &out);

// The bytes of the block image file of an image read from GCR: its blocks,
// and its error bytes only when a sector has an error.
void blockFileBytes(const ImageBuffer &image, std::vector<uint8_t> &out);

// The read error the error byte stands for (the drive's job code: $01 none,
// $02 20, ..., $06 and $10 both 24, $0F 74), 0 for no error ($00 too), -1 for
// a byte the drive never writes.
int errorOfJobCode(int code);

// Prints what a conversion from GCR read: one line per track with errors
// ("track 17: 17/4 23 data checksum, ..."), then a summary of the sectors,
// the errors by number and what the block image leaves out.
void printGcrConversion(const ImageBuffer &image);
