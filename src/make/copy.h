// Copying entries of a second image (-copy): what each chosen entry is to
// the image it goes into, its slot's name and type bytes as they stand and
// where its chain starts; the payload is read one entry at a time, when it
// is inserted, so that memory holds one file however often a directory names
// the same chain. The front end hands each to the insert, which places the
// data by the rules of the receiving disk's drive; nothing here writes an
// image or prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/nametext.h"
#include "disk/image.h"

// One entry to copy (or left out): its entry number in the second image, the
// 16 name bytes and the type byte (lock and closed bits included) of its
// slot, and the first block of its chain.
struct CopiedFile {
    int number;
    HostFileEntry entry;
    TrackSector start;
};

// The entries of `image` numbered first..last as the listing numbers them
// (with options.showAll as it is), or with first -1 every listed entry, that
// have a type byte other than 0 and a start block, in directory order, each
// checked to be whole; the 1581 partitions among them go to `partitions`
// instead (an area of the disk, no file: the caller warns and copies the
// rest). Returns "" when every other chosen entry can be copied; else, with
// `files` in no particular state, why not, in words that follow "entry N":
// a REL file (its side sectors belong to the disk it is on), a GEOS file
// (info block, VLIR records), a type a drive does not know, a chain that
// breaks off before its end (copying it would copy part of a file), or no
// entry with a file in the range given. Each chain is walked once however
// many entries name it. Precondition: the header block is present.
std::string collectCopies(const ImageBuffer &image, int first, int last, std::vector<CopiedFile> &files,
                          std::vector<CopiedFile> &partitions);

// Appends the payload of the file's chain to `data` (cleared first).
void readCopiedFile(const ImageBuffer &image, const CopiedFile &file, std::vector<uint8_t> &data);
