// ZipCode 4-packs: a D64 in four host files "1!name" (tracks 1-8), "2!name"
// (9-16), "3!name" (17-25) and "4!name" (26-35), and "5!name" (36-40) for
// a disk of 40 tracks. Reads the blocks of a pack into a D64 image (-zipdisk)
// and packs an image's blocks into one (-x -zipcode), as zip2disk and
// disk2zip do. Never trusts a pack: every block header and every coded run
// is checked against its file's size and its block's 256 bytes before a
// byte is taken, and a pack that lies gets a problem text, never part of an
// image. Reads and writes no host file and prints nothing.
//
// Each file begins with a load address, $03FE in 1!name (then the disk id of
// the block headers, 2 bytes) and $0400 in the others. Each block then: the
// track in bits 0-5 and the method in bits 6-7 of its first byte, the sector
// in its second; method 0 keeps the 256 bytes as they are, 1 fills the block
// with the one byte that follows, 2 codes it by runs: a length byte, a marker
// byte, then that many bytes, in which the marker is followed by a count and
// the byte repeated. The packer takes a track's sectors alternately from its
// first and second half (0, 11, 1, 12, ... on a track of 21), each block in
// the shortest of the three forms (runs from 4 bytes on, the marker the
// lowest byte value the block lacks; stored where runs would save less than
// 3 bytes); a reader places each block by its own track and sector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/image.h"

// Files of the largest pack (5!name for tracks 36-40), and of a 35-track one.
constexpr int kZipCodeParts = 5;
constexpr int kZipCodeDiskParts = 4;

// Which file of a pack a host file's own name is: N for "N!rest" (N from 1
// to 5, rest not empty), else 0.
int zipCodePart(const std::string &fileName);

// The D64 a pack holds: `parts` holds the bytes of 1!name to 4!name and
// optionally 5!name (an empty fifth: none), giving a disk of 35 or 40 tracks
// without error bytes. Returns "" when every block of those tracks was found
// once, else why not, and `badPart` the file (1 to 5) it is about: a file
// without its load address or cut inside a block, a block of a track that
// belongs to another file or of a sector beyond its track, a block given
// twice or missing, method 3, runs that do not fill exactly 256 bytes.
std::string diskOfZipCode(const std::vector<std::vector<uint8_t>> &parts, ImageBuffer &image, int &badPart);

// The files of a pack of `image` (a D64 of 35 or 40 tracks) as disk2zip packs
// them, with the disk id of its header block (18/0 bytes $A2-$A3): four
// files, five for 40 tracks. Returns "" when packed, else why not: another
// family or length of image, a block whose error byte says the drive could not
// read it (a pack has no room for errors).
std::string zipCodeOfImage(const ImageBuffer &image, std::vector<std::vector<uint8_t>> &parts);
