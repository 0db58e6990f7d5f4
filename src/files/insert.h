// Inserting host files (-w): each becomes a closed file of the image, its
// blocks placed as a 1541 places them (disk/placement.h) and its entry in the
// first free slot of the directory, which grows as -adel grows it when none
// is free (disk/growth.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "disk/growth.h"
#include "disk/image.h"

// What one run of inserts knows: the image's account of blocks in use, taken
// before the first insert (no placement takes one, whatever the map says),
// the warnings given so far, and the directory's last block. Inserts write
// slots and blocks nobody uses, so the chain changes only where one grows it.
struct InsertRun {
    DirectoryGrowth growth;
    TrackSector directoryEnd;
};

// The account of `image`, named `imagePath` in messages, before its first
// insert. Ends the program with status 1 when the directory chain (from the
// link in 18/0, as the listing reads it) loops, leaves the image or runs into
// a file (requireDirectoryEnd).
InsertRun startInserts(const ImageBuffer &image, const std::string &imagePath);

// Inserts the `size` bytes at `bytes` as the file named by the host file name
// `fileName` (no folder; the host-name rule of base/nametext.h gives the
// entry's name and type) and prints "%3i: \"NAME\" TYPE, N blocks from T/S".
// `hostPath` names the host file in messages. Ends the program with status 1
// when the name cannot be read or a listed entry has it already; with status 2
// ("ERROR: Disk full '<image>'!") when the file's blocks, or a block for a
// directory without a free slot, cannot be found. The image is then left to
// no one: nothing is written. Precondition: block 18/0 is present.
void insertFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath, const std::string &fileName,
                const uint8_t *bytes, size_t size);
