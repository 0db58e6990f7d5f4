// Inserting host files (-w): each becomes a closed file of the image, its
// blocks placed as the family's drive places them (disk/placement.h) and its
// entry in the first free slot of the directory, which grows by a block on the
// system track (18, 40) when none is free, as a drive grows it (disk/growth.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/nametext.h"
#include "base/options.h"
#include "disk/filelayout.h"
#include "disk/growth.h"
#include "disk/image.h"
#include "disk/placement.h"

// What one run of inserts knows: the image's account of blocks in use, taken
// before the first insert (no placement takes one, whatever the map says),
// the warnings given so far, and the directory's last block. Inserts write
// slots and blocks nobody uses, so the chain changes only where one grows it.
struct InsertRun {
    DirectoryGrowth growth;
    TrackSector directoryEnd;
    PlacementRules rules;  // the run's: -il, -dirtrack, -tracks40 over the drive's own
    FullTracks fullTracks; // tracks the first-block search found full, till a block is freed
    std::string partition; // the innermost -part the run works in, as messages show it; "" at the root
    // The directory blocks the listing reads, in its order, and the link bytes
    // that walk read (the header's first, then each block's): while those
    // stand, the walk would read the same blocks again.
    std::vector<uint8_t *> directoryBlocks;
    std::vector<uint8_t *> readLinks;
    std::vector<uint16_t> readLinkValues;
};

// The account of `image`, named `imagePath` in messages, before its first
// insert, with the run's placement `rules`. Ends the program with status 1
// when the directory chain (from the link in 18/0, as the listing reads it)
// loops, leaves the image or runs into a file (requireDirectoryEnd).
InsertRun startInserts(const ImageBuffer &image, const std::string &imagePath, PlacementRules rules);

// The entry name and type of one insert: the name of -wname, else the one the
// host file name `fileName` (no folder) gives by the host-name rule of
// base/nametext.h; the type of -wtype, else the one the host name's extension
// gives. Ends the program with status 1, naming `hostPath`, when the rule
// cannot read the host name it needs or the name is empty (".prg",
// ".hidden"), which a drive could not address.
HostFileEntry requireEntryName(const std::string &hostPath, const std::string &fileName,
                               const InsertSettings &settings);

// Inserts the `size` bytes at `bytes` as the file `entry` names, placed by the
// run's rules and `settings` (interleave, first block), and prints
// "%3i: \"NAME\" TYPE, N blocks from T/S, interleave I". `hostPath` names the
// host file in messages. A listed entry of the name ends the program with
// status 1, naming that entry as the listing shows it; with options.nameClash
// Skip the file is left out with a warning instead; with settings.replace or
// nameClash Replace the new file is written whole first, and only then are
// the old file's blocks that nothing else uses freed and its slot (keeping
// its number) given the new entry, with the old type byte's lock and closed
// bits unless settings.typeByte is given; a partition is never replaced
// (status 1). Status 1 too for a first track that the rules do not let a file
// take (naming -dirtrack or -tracks40 where it would), and for type 5 on a
// 1581 disk (a partition's); status 2 ("ERROR: Disk full '<image>'! ..." with
// the blocks missing, inside a partition "ERROR: Partition '<name>' of
// '<image>' is full!") when the file's blocks, or a block on the system track
// for a directory without a free slot (the message then says the directory
// is full), cannot be found.
// The image is then left to no one: nothing is written. Precondition: the
// header block is present.
void insertFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath, const HostFileEntry &entry,
                const InsertSettings &settings, const uint8_t *bytes, size_t size);

// Inserts a REL file: `size` bytes of records of `recordLength` (1..254)
// bytes, as insertFile inserts a file (same placement, messages and exits;
// `entry` carries a REL type byte), its side sectors built as the image's
// drive builds them: one for each 120 data blocks, at most 6 on a 1541 or
// 1571, and on a 1581 (unless its I/O byte says otherwise) a super side
// sector before them; its data and side sectors are taken in the order
// relStreamOrder gives. The entry gets the record length and the first side
// sector (or the super side sector) in bytes 15-17, and the blocks of all of
// them as its count. Status 1 for more side sectors than the drive allows.
void insertRelFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath, const HostFileEntry &entry,
                   const InsertSettings &settings, int recordLength, const uint8_t *bytes, size_t size);

// Inserts a file of any structure (disk/filelayout.h): a plain file as
// insertFile, a REL file as insertRelFile, a GEOS file with its info block,
// index block and records (for VLIR, `bytes` holds the records and the
// structure says where each lies), taken in that order, the entry's GEOS
// fields (structure, type, date) as the structure gives them.
void insertStructuredFile(ImageBuffer &image, InsertRun &run, const std::string &hostPath,
                          const HostFileEntry &entry, const InsertSettings &settings,
                          const FileStructure &structure, const uint8_t *bytes, size_t size);

// Makes a 1581 partition named `name` (1..16 bytes; `shownName` as the user
// typed it, for messages) of `blocks` blocks (whole tracks, at least
// kPartitionLeastTracks of them) in the directory the run works in, as the
// drive's partition command ("/0:name,...,C") and then its format command
// inside it do: the lowest run of wholly free tracks of the area that does
// not hold the directory's track (free in the map, used by nothing the
// account knows), marked used; a CBM entry for it in the first free slot (the
// directory grows as for a file); a header, map (every track outside the
// partition used) and empty directory on its first track, named `name`, with
// the disk's id. Prints "%3i: \"NAME\" CBM, N blocks, tracks A-B, formatted
// inside". Status 1 on a disk of another family and for a name an entry has
// already; status 2 when no such run of tracks, or no slot, can be found.
void makePartition(ImageBuffer &image, InsertRun &run, const std::string &shownName, const NameText &name,
                   int blocks);
