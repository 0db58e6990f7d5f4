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
#include "disk/filelayout.h"
#include "disk/image.h"

// One entry to copy (or left out): its entry number in the second image, the
// 16 name bytes and the type byte (lock and closed bits included) of its
// slot, and the slot itself (in the second image, which no step edits).
struct CopiedFile {
    int number;
    HostFileEntry entry;
    const uint8_t *slot;
};

// The entries of `image` numbered first..last as the listing numbers them
// (with options.showAll as it is), or with first -1 every listed entry, that
// have a type byte other than 0 and a start block, in directory order, each
// checked to be whole; the 1581 partitions among them go to `partitions`
// instead (an area of the disk, no file: the caller warns and copies the
// rest). Returns "" when every other chosen entry can be copied whole (a
// REL file with its record length, a GEOS file with its info block and
// records, by readFileStructure); else, with `files` in no particular state,
// why not, in words that follow "entry N": a type a drive does not know, a
// chain, info block or record that cannot be followed to its end (copying
// it would copy part of a file), a REL record length of 0, a GEOS structure
// byte other than 0 and 1, or no entry with a file in the range given. A
// plain file's chain is walked once however many entries name it.
// Precondition: the header block is present.
std::string collectCopies(const ImageBuffer &image, int first, int last, std::vector<CopiedFile> &files,
                          std::vector<CopiedFile> &partitions);

// The file's structure and data (readFileStructure): the chain's payload,
// for a VLIR file every record's. Precondition: collectCopies chose it.
void readCopiedFile(const ImageBuffer &image, const CopiedFile &file, FileStructure &structure,
                    std::vector<uint8_t> &data);
