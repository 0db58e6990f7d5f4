// What the check and the repair know about an image beyond the plain map of
// its family: where a D64's map of tracks 36-40 lives, and the error bytes
// some images carry after their blocks. How many tracks an image has is the
// disk floor's answer (its shape). Reads only, except writeMapEntry.
#pragma once

#include <cstdint>

#include "disk/bam.h"
#include "disk/image.h"

// The two common places in a D64's 18/0 for the map of tracks 36-40, 4 bytes a track
// in the layout of tracks 1-35.
enum class MapExtension {
    None,
    SpeedDos,    // bytes C0-D3
    DolphinDos,  // bytes AC-BF
};

// The extension a 40-track image keeps its map of tracks 36-40 in: a layout
// counts when each of its five entries is well formed (a count of at most 17,
// no bit for a sector above 16) and not all of its bytes are 0. SpeedDOS is
// tried first; DolphinDOS not at all on a GEOS disk, whose signature lies in
// the same bytes. None on images other than a D64 of 40 tracks or more (so
// also on a cut 40-track image) and when 18/0 is absent.
MapExtension findMapExtension(const ImageBuffer &image);

// For an area of 18/0 where a 40-track image may keep that map (SpeedDOS, or
// DolphinDOS on a disk without the GEOS signature, which lies in the same
// bytes) whose bytes are neither all 0 nor a well-formed map: the first track
// (36-40) whose entry is not well formed. 0 for any other area, on 35-track
// images and when 18/0 is absent.
int malformedExtensionTrack(const ImageBuffer &image, MapExtension area);

// The offset in 18/0 of an extension's first map entry (SpeedDOS: C0, else AC).
int mapExtensionOffset(MapExtension extension);

const char *mapExtensionName(MapExtension extension);

// The last track the map covers: 40 with an extension, else the family's
// map tracks (35 on a D64).
int lastMapTrack(const ImageBuffer &image, MapExtension extension);

// The 4 bytes of an extension's entry of track 36-40 (count, then the bits of
// sectors 0-7, 8-15, 16-23), or nullptr when 18/0 is absent or the track is
// not 36-40.
const uint8_t *extensionEntryBytes(const ImageBuffer &image, MapExtension extension, int track);

// A track's map entry as the check and the repair read it: the family's map,
// and on a D64 the tracks 36-40 from the extension. False (entry untouched)
// when the map does not cover the track or a map block is absent.
bool readMapEntry(const ImageBuffer &image, MapExtension extension, int track, TrackMapEntry &entry);

// Writes a track's entry where readMapEntry reads it; nothing where it reads none.
void writeMapEntry(ImageBuffer &image, MapExtension extension, int track, TrackMapEntry entry);

// The bits a track's map entry has room for: 24, or 40 on a D81.
int mapEntryBitCount(const ImageBuffer &image);

// The sectors of a track as a bit mask (bit s for sector s).
inline uint64_t realSectorMask(const DiskShape &shape, int track) {
    return (uint64_t{1} << sectorsPerTrack(shape, track)) - 1;
}

// The error byte of a block, or -1 when the image carries none (only the
// sizes with error bytes do) or the block has no index.
int errorByteOf(const ImageBuffer &image, int track, int sector);

// The DOS error number an error byte stands for: 0 for "no error" (0x00 and
// 0x01), 24 for both 0x06 and 0x10 (imagers and emulators differ), -1 for a
// value the drive does not use.
int dosErrorNumber(int errorByte);
