// Inserting host files (-w): each becomes a closed file of the image, its
// blocks placed as a 1541 places them and its entry in the first free slot of
// the directory (which grows as -adel grows it when none is free).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "disk/blockset.h"
#include "disk/image.h"

// What one run of inserts knows: the image's name for the messages and the
// blocks in use (taken before the first insert, then kept up to date), which
// no placement takes whatever the map says.
struct InsertRun {
    std::string imagePath;
    BlockSet inUse;
};

// Takes the account of `image` before its first insert.
InsertRun startInserts(const ImageBuffer &image, const std::string &imagePath);

// Inserts `bytes` as the file named by the host file name `fileName` (no
// folder; the host-name rule gives the entry's name and type) and prints
// "%3i: \"NAME\" TYPE, N blocks from T/S". `hostPath` names the host file in
// the messages. Ends the program, the image then being left to no one, with
// status 1 when the name cannot be read or is on the disk already, or when the
// directory chain loops or leaves the image; with status 2 ("ERROR: Disk full
// '<image>'!") when the file's blocks, or a block for a directory with no free
// slot, cannot be found. Precondition: block 18/0 is present.
void insertFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath, const std::string &fileName,
                const uint8_t *bytes, size_t size);
