// Test helper: builds D64 images byte by byte (format, add files, link blocks,
// set map bits), blank D81 images with partitions, and T64 tapes, so that
// tests can state exactly what an image holds.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "disk/image.h"

// A freshly formatted image: block 18/0 links to 18/1 (link 0/255), every
// sector of tracks 1..35 free except 18/0 and 18/1, counts to match, the name
// and the two-character id padded with 0xA0, " 2A" after the id.
ImageBuffer formatImage(const std::string &name = "TEST DISK", const std::string &id = "ab", int tracks = 35);

// Marks a block used (clears its bit, lowers the count) or free.
void markBlock(ImageBuffer &image, int track, int sector, bool free);

// The 32 bytes of slot `index` (0..7) of a directory block.
uint8_t *slotBytes(ImageBuffer &image, int track, int sector, int index);

// Writes `data` as a chain of blocks taken from the free blocks (first on
// track 17 and below, then from 19 upward, each sector `interleave` on from
// the last) and adds a directory entry of `type` with `name` in the first
// free slot of the directory (a new 18/x block when all are full). Returns
// the start block; marks the blocks used. An empty file takes one block.
TrackSector addFile(ImageBuffer &image, const std::vector<uint8_t> &data, const std::string &name,
                    uint8_t type = 0x82, int interleave = 10);

// Puts a raw 32-byte entry in the first slot whose type byte is 0.
uint8_t *addRawEntry(ImageBuffer &image, uint8_t type, int startTrack, int startSector, const std::string &name,
                     int blocks);

// Sets a block's first two bytes directly (no trace line).
void linkBlock(ImageBuffer &image, int track, int sector, int nextTrack, int nextSector);

// The file's bytes, or an empty vector when it cannot be read.
std::vector<uint8_t> readBytes(const std::string &path);
void writeBytes(const std::string &path, const std::vector<uint8_t> &bytes);
// The image's bytes as a plain vector, to compare with files read back.
inline std::vector<uint8_t> bytesOf(const ImageBuffer &image) { return {image.bytes.begin(), image.bytes.end()}; }
inline void writeImage(const std::string &path, const ImageBuffer &image) { writeBytes(path, bytesOf(image)); }

// Deterministic pseudo-random bytes.
std::vector<uint8_t> randomBytes(size_t length, uint32_t seed);

// ================================================================ D81

// Offset of a D81 block.
size_t d81Block(int track, int sector);

// A 1581 header, map and empty directory on track `system` as its format
// ("N" inside a partition of tracks first-last) writes them: every track
// outside the area marked used; id "AB".
void formatD81(std::vector<uint8_t> &image, int system, int first, int last, const std::string &name);

// A blank D81 as the 1581 formats it: name "BLANK", id "AB".
std::vector<uint8_t> blankD81();

// Puts a CBM entry for the whole tracks first-last in slot `slot` of the
// directory on track `system`, and marks the tracks used in its map.
void addPartition(std::vector<uint8_t> &image, int system, int slot, const std::string &name, int first, int last);

// ================================================================ T64

// A T64 tape image: a directory of `slots` entries, one for each file (name,
// C64 file type, start address, end address as stored, data), the data after it.
struct TapeFile {
    std::string name;
    int type, start, end;
    std::vector<uint8_t> data;
};
std::vector<uint8_t> tapeImage(const std::vector<TapeFile> &files, size_t slots);

// ================================================================ PC64 and CVT

// Appends bytes; a name as 16 upper-case bytes padded with 0xA0; zeros up to
// a whole 254-byte block.
void put(std::vector<uint8_t> &out, std::initializer_list<int> bytes);
void putName(std::vector<uint8_t> &out, const std::string &name);
void padToBlock(std::vector<uint8_t> &out);

// A PC64 file of a relative file: "C64File", the name, the record length,
// `records` records of pseudo-random bytes.
std::vector<uint8_t> pc64Rel(const std::string &name, int recordLength, size_t records, uint32_t seed);

// A GEOS Convert file, byte-built from the format notes: the directory entry
// (USR, GEOS type 6 for VLIR, 7 for sequential, 1988-05-17 12:30) and
// signature "PRG formatted GEOS file V1.0", the info block (class "Check File
// V1.0"), for VLIR the record table (blocks and last-block index per record,
// 0/FF for an empty one), then the data, every record but the last padded to
// whole blocks (the last must not be empty).
std::vector<uint8_t> geosConvert(const std::string &name, bool vlir, const std::vector<std::vector<uint8_t>> &records);
