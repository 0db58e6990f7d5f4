// Lynx archives (.lnx): many C64 files in one host file, laid out in 254-byte
// blocks as on a disk. Reads one into the files -w inserts, and writes the
// chosen entries of an image as one (-x -lnx). Never trusts an archive: every
// line of its directory and every file's place is checked against its size
// before a byte is taken, and one that lies gets a problem text, never a
// partial result. Reads and writes no host file and prints nothing.
//
// The layout, as cbmconvert writes and reads it: an optional BASIC stub
// (load address $0801, its lines linked up to a link of 0) and a carriage
// return; a signature line " <directory blocks>  <text holding LYNX>"; a line
// " <entries> "; per entry its name (PETSCII, at most 16 bytes, $A0 padded),
// " <blocks>", the type letter (D, S, P, U, R), for REL " <record length> ",
// and " <bytes used in its last block + 1> ", each line ending in a carriage
// return ($0D). The files follow from (directory blocks x 254) on, each in
// whole blocks of 254 bytes but the last, which may end early; a REL file's
// blocks begin with its side sectors, (blocks + 119) / 121 of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "containers/containers.h"
#include "disk/image.h"

// A Lynx archive's files in directory order, each at its data. The last
// file's last-block byte may be missing (some writers leave it out): the file
// then takes the rest of the archive, at most its blocks, with a warning.
// Refused: a BASIC stub whose lines link outside it, no "LYNX" in the
// signature line, a line cut short or past the directory's blocks, a number
// or type letter where the other belongs, a name above 16 bytes or empty, no
// entry, a file whose data would end past the archive's end, and (after all
// of that) a REL file, which -w cannot write (it writes no side sectors).
ContainerRead readLynx(const uint8_t *bytes, size_t size);

// The chosen entries of `image` (as -x chooses them: options.extractFirst,
// extractLast, showAll; 1581 partitions left out) as one Lynx archive in
// `archive`, their names and type letters as the slots give them, REL files
// with their record length and side sectors of zeros (as cbmconvert writes
// them); `files` counts them. Returns "" when written, else why not (nothing
// in `archive`): no entry chosen with numbers given, a GEOS file or a type
// 5 to 7 (no Lynx letter), a name that holds a carriage return, files that
// would take more than `bound` bytes (a directory naming the same chains
// many times). Precondition: the header block is present.
std::string lynxOfImage(const ImageBuffer &image, uint64_t bound, std::vector<uint8_t> &archive, int &files);
