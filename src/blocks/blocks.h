// Block commands: the changes scripts make to single blocks (-bwrite,
// -bpoke, -bfill, -bcopy, -bused, -bfree) and what they read out (-bread,
// -chain). The block editor makes its changes through the same functions.
// Nothing here parses arguments or ends the program: each function returns
// "" or the message that the caller reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/options.h"
#include "disk/image.h"

// "" when the image holds the block (track, sector), a real sector of its
// track; else the message naming `given` (the command as typed, "-bfill 18/30").
std::string blockProblem(const ImageBuffer &image, const std::string &given, int track, int sector);

// Puts `count` bytes at `offset` of a block blockProblem accepts; the message
// when they would reach past its end, the block then unchanged.
std::string putBlockBytes(ImageBuffer &image, const std::string &given, TrackSector block, int offset,
                          const uint8_t *bytes, size_t count);

// Marks a block used or free in the map (setBlockBit: the track's count
// follows): inside a partition (-part) the partition's own map. The message
// when the block lies on no track the map covers, outside the partition's
// area, or the image lacks the map block that holds its bit.
std::string markBlock(ImageBuffer &image, const std::string &given, TrackSector block, bool used);

// Prints the chain from `start`, each block as T/S on one line, then a line
// with the count, the bytes used in the last block (its link's sector byte
// minus 1) and why the walk stopped where it did not end as a chain ends.
void printChain(const ImageBuffer &image, TrackSector start);

// What a command needs from outside the image: the host file of -bwrite,
// the other image of -bcopy (nullptr: this one).
struct BlockInput {
    const uint8_t *fileBytes;
    size_t fileSize;
    const ImageBuffer *from;
};

// Runs one command on the image; "" when it was done, else the message (the
// image as it was). -bread writes its host file through the one safe write;
// -chain with track 0 starts at the file of entry `sector` as the listing
// counts it.
std::string runBlockCommand(ImageBuffer &image, const BlockCommand &command, const BlockInput &input);
