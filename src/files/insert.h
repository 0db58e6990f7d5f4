// Inserting host files (-w): each becomes a closed file of the image, its
// blocks placed as the family's drive places them (disk/placement.h) and its
// entry in the first free slot of the directory, which grows by a block on the
// system track (18, 40) when none is free, as a drive grows it (disk/growth.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/nametext.h"
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

// The entry name and type that the host file name `fileName` (no folder)
// gives by the host-name rule of base/nametext.h. Ends the program with status
// 1, naming `hostPath`, when the rule cannot read it or the name is empty
// (".prg", ".hidden"), which a drive could not address.
HostFileEntry requireEntryName(const std::string &hostPath, const std::string &fileName);

// Inserts the `size` bytes at `bytes` as the file `entry` names and prints
// "%3i: \"NAME\" TYPE, N blocks from T/S". `hostPath` names the host file in
// messages. Ends the program with status 1 when a listed entry has the name
// already; with status 2 ("ERROR: Disk full '<image>'!") when the file's
// blocks, or a block on the system track for a directory without a free slot (the
// message then says the directory is full), cannot be found.
// The image is then left to no one: nothing is written. Precondition: the
// header block is present.
void insertFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath, const HostFileEntry &entry,
                const uint8_t *bytes, size_t size);
