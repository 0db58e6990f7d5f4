// Blank disks: an image as the drive's format command ("N:name,id") writes
// it, for every family, laid out from the family record alone. Builds bytes
// in memory; reads no files, prints nothing.
#pragma once

#include <cstdint>

#include "disk/image.h"

// Where a 40-track D64 keeps the map of tracks 36-40 (the DOS extension that
// formatted it); None makes the 1541's 35 tracks.
enum class ExtendedMap { None, SpeedDos, DolphinDos };

// What a blank disk is made of.
struct BlankDisk {
    const DiskFamily *family;
    ExtendedMap extendedMap;  // D64 only
    bool errorBytes;          // an error byte per block ($01, no error) after the blocks
    const uint8_t *name;      // disk name bytes
    int nameLength;           // 0..16
    const uint8_t *id;        // the two id bytes
};

// The image of a freshly formatted disk: every block $00 except the header,
// the map (every block free but the header, map and first directory block;
// track 53 of a 1571 wholly used) and the empty first directory block
// (link 00 FF). Precondition: an extended map only on a D64.
ImageBuffer makeBlankImage(const BlankDisk &disk);
