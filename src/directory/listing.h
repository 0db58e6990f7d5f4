// The directory walk: listing, CSV form, blocks-free figure, the entry edits
// (-rd, -sd, -start) and the track/sector export, all made in one pass.
#pragma once

#include <cstdint>

#include "disk/bam.h"
#include "disk/directory.h"
#include "disk/image.h"

// A view of one 32-byte slot inside a directory block of the image.
struct DirEntry {
    uint8_t *bytes;
};

// The export lists, filled by the walk (at most kExportCapacity entries).
constexpr int kExportCapacity = 150;
extern uint8_t exportTracks[kExportCapacity];
extern uint8_t exportSectors[kExportCapacity];
extern uint8_t exportCount;

// Walks the directory from block 18/0 and prints the listing when printListing
// is 1 (header, entry lines, blocks-free line), makes the edits chosen in
// `options` and prints the export for -e. The walk stops quietly, with a
// warning on standard error, at an absent block or after kMaxBlocks blocks.
// Precondition: block 18/0 is present.
void showDirectory(ImageBuffer &image, int printListing);

// Prints the quoted name, splat mark, type name and lock mark of one slot.
void printEntryName(DirEntry entry);

// ";" in CSV mode, else " ".
void printSeparator();
