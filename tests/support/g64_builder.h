// Test helper: writes a G64 from the blocks of a 35-track D64, bit by bit
// with its own GCR writer, and knobs that damage it the way worn disks, copy
// protection and faulty tools do, so that a test states what a drive must
// read from each sector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

struct G64Knobs {
    std::map<std::pair<int, int>, int> errors;  // (track, sector) -> DOS error recorded: 20-24, 27, 29
    int entries = 84;           // half-track entries of the table
    int shiftBits = 0;          // every track's bits rotated by this many: no sync on a byte boundary
    int rotateBytes = 0;        // every track starts this many bytes later: the last sector wraps past the end
    int killerTrack = 0;        // this track holds nothing but one bits
    int noSyncTrack = 0;        // this track holds nothing but $55
    int missingTrack = 0;       // this track's offset is 0
    int halfTrackWithData = 0;  // half track T.5 holds a copy of track T
    bool extBlock = false;      // an "EXT" block right after the table; the tracks follow it
    int offsetPastEnd = 0;      // this track's offset lies past the end of the file
    int lengthPastEnd = 0;      // this track, stored last, claims 9,000 bytes
    int longTrack = 0;          // this track holds 8,000 bytes (the stored size becomes 8,000)
    bool tableOneOff = false;   // each track T >= 2 is stored at the entry of T + 1 (track 1 stays)
    const char *headerId = nullptr;  // the two id characters in every header instead of 18/0's
};

// The G64 of `d64` (174,848 bytes) with the knobs applied.
std::vector<uint8_t> buildG64(const std::vector<uint8_t> &d64, const G64Knobs &knobs = {});

// The offset of a block in a 35-track D64.
size_t d64BlockOffset(int track, int sector);

// Sectors of a track of a 1541.
int sectorsOfTrack(int track);

// A NIB as an imager dumps a 1541's tracks: the header (`MNIB-1541-RAW`,
// pairs of half-track number and density) and 8,192 bytes of each track,
// read from somewhere inside its revolution on through more than one turn.
// Knobs for dumps a reader must cope with.
struct NibKnobs {
    G64Knobs tracks;              // what each track holds (the G64 writer's knobs; syncs stay on byte boundaries)
    int startByte = 0;            // each dump starts this many bytes (plus 97 a track) into its revolution
    int noRepeatTrack = 0;        // this track's dump: one revolution, then bytes that never repeat it
    int halfTrackDump = 0;        // half track T.5 is dumped too, a copy of track T
    int cutInLastDump = 0;        // the file ends this many bytes into the last dump (0: whole)
    int listedTwice = 0;          // the header lists this track a second time, with track 1's bytes
    int listedBeyond = 0;         // the header lists this half-track number too (past track 42), with a dump
    int listedWithoutDump = 0;    // the header lists this many tracks after 35 whose dumps the file lacks
    int wrongDensity = 0;         // this track's density in the header is another zone's
};

// The NIB of `d64` (174,848 bytes): tracks 1-35 dumped with the knobs applied.
std::vector<uint8_t> buildNib(const std::vector<uint8_t> &d64, const NibKnobs &knobs = {});

// `bytes` packed as an NBZ: LZ77 with a marker byte (marker, 0: the marker
// itself; marker, length, offset: a copy; numbers 7 bits a byte, most
// significant first, bit 7 set while more follow).
std::vector<uint8_t> packNbz(const std::vector<uint8_t> &bytes);
