// Copying entries of a second image (-copy): what each chosen entry is to
// the image it goes into, its slot's name and type bytes as they stand and
// the payload of its chain. The front end hands each to the insert, which
// places the data by the rules of the receiving disk's drive; nothing here
// writes an image or prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/nametext.h"
#include "disk/image.h"

// One entry to copy: its entry number in the second image, the 16 name bytes
// and the type byte (lock and closed bits included) of its slot, and its data.
struct CopiedFile {
    int number;
    HostFileEntry entry;
    std::vector<uint8_t> data;
};

// The entries of `image` numbered first..last as the listing numbers them
// (with options.showAll as it is), or with first -1 every listed entry, that
// have a type byte other than 0 and a start block, in directory order, each
// whole. Returns "" when every chosen entry can be copied; else, with
// `files` in no particular state, why not, in words that follow "entry N":
// a REL file (its side sectors belong to the disk it is on), a GEOS file
// (info block, VLIR records), a 1581 partition or a type a drive does not
// know, a chain that breaks off before its end (copying it would copy part of
// a file), or no entry in the range given. Precondition: the header block
// is present.
std::string collectCopies(const ImageBuffer &image, int first, int last, std::vector<CopiedFile> &files);
