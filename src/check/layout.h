// What the check and the repair know about an image beyond the plain
// 35-track map: where a map of tracks 36-40 lives, and the error bytes some
// images carry after their blocks. How many tracks an image has is the disk
// floor's answer (imageTrackCount). Reads only.
#pragma once

#include <cstdint>

#include "disk/image.h"

// The two common places in 18/0 for the map of tracks 36-40, 4 bytes a track
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
// the same bytes. None on 35-track images (imageTrackCount, so also on a cut
// 40-track image) and when 18/0 is absent.
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

// The last track the map covers: 40 with an extension, else 35.
int lastMapTrack(MapExtension extension);

// The 4 map bytes of a track (count, then bits of sectors 0-7, 8-15, 16-23),
// or nullptr when the map does not cover the track or 18/0 is absent.
const uint8_t *mapEntryBytes(const ImageBuffer &image, MapExtension extension, int track);
uint8_t *mapEntryBytes(ImageBuffer &image, MapExtension extension, int track);

// The 24 free bits of a map entry, sector 0 in bit 0.
inline uint32_t mapEntryBits(const uint8_t *entry) {
    return static_cast<uint32_t>(entry[1] | entry[2] << 8 | entry[3] << 16);
}

// The sectors of a track as a bit mask (bit s for sector s).
inline uint32_t realSectorMask(int track) { return (uint32_t{1} << sectorsPerTrack(track)) - 1; }

// The error byte of a block, or -1 when the image carries none (only the
// forms with error bytes do, imageHasErrorBytes) or the block has no index.
int errorByteOf(const ImageBuffer &image, int track, int sector);

// The DOS error number an error byte stands for: 0 for "no error" (0x00 and
// 0x01), -1 for a value the drive does not use.
int dosErrorNumber(int errorByte);
