// NIB and NBZ files: raw dumps of a 1541's tracks as an imager read them
// through a parallel cable. A NIB holds a header (`MNIB-1541-RAW`, a
// version, then pairs of half-track number and density) and 8,192 bytes of
// each listed track, read from wherever the head was: more than one turn of
// the disk. An NBZ is a whole NIB packed with the imager's LZ77. Reading one
// finds each track's revolution (where its bytes begin to repeat) and makes
// the G64 of those revolutions, which gcr/gcrdisk then reads as any G64.
// Knows nothing of blocks, files or disk families.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// True when the bytes start with "MNIB-1541-RAW".
bool isNibImage(const uint8_t *bytes, size_t size);

// True when the bytes unpack (NBZ's LZ77) to a start of "MNIB-1541-RAW".
bool isNbzImage(const uint8_t *bytes, size_t size);

// Unpacks an NBZ into `nib`: "" when it unpacks, else why not, in words that
// follow the file's name ("holds an LZ77 copy from before its start ...").
// The output is bounded by the largest NIB (a header and 120 dumps): a packed
// length beyond it is refused before anything is copied.
std::string unpackNbz(const uint8_t *bytes, size_t size, std::vector<uint8_t> &nib);

// The G64 (GCR-1541, 84 entries) of a NIB: each dumped track (and half
// track) as its revolution, started at a sync, its speed zone the density's.
// A dump whose revolution is not found (its bytes do not repeat, or it is
// cut too short) is kept whole as the track, and `faults` says so; faults
// of the header (a track listed twice, beyond track 42, or whose dump lies
// past the end of the file) go there too, one phrase each. Returns "" or,
// when the file cannot be read as a NIB at all, why not.
std::string nibToG64(const uint8_t *nib, size_t size, std::vector<uint8_t> &g64, std::vector<std::string> &faults);
