// The command-line parser: fills the program-wide `options` and names the
// image files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/options.h"

// One -copy IMAGE [num [last]]: the image whose entries it copies, the range
// (first -1: every listed entry) and the -w files given before it, so that
// copies and inserts run in command-line order.
struct CopyRequest {
    std::string image;
    int first;
    int last;
    size_t afterInserts;
};

// One -mkpart NAME BLOCKS: the name as typed (for messages) and its bytes,
// the size, and the -w files and copies given before it, so that it runs
// among them in command-line order.
struct PartitionRequest {
    std::string shown;
    NameText name;
    int blocks;
    size_t afterInserts;
    size_t afterCopies;
};

// Names taken from the plain arguments; empty until one is placed.
struct RunPaths {
    std::string source;
    std::string second;
    std::string destination;
    std::vector<const char *> images;  // -json, or -check/-x with two images or more: every plain argument
                                       // (in argv), in order; the rest stay empty
    std::vector<std::string> inserts;  // -w FILE, in command-line order
    std::vector<std::string> partitions;  // -part NAME as typed, for messages (options.partitions holds the bytes)
    std::vector<CopyRequest> copies;   // -copy IMAGE [num [last]], in command-line order
    std::vector<PartitionRequest> newPartitions;  // -mkpart NAME BLOCKS, in command-line order
    std::string into;                  // -into DIR: the folder -x writes into ("" for the current one)
    std::string zipDisk;               // -zipdisk FILE: a file of the ZipCode 4-pack the new image is made of
};

// Reads argv[1..argc-1] into `options` and the paths. Every argument error
// ends the program with status 1 (exitWithError for the messages of the short
// usage's options, exitWithMessage for the rest), and so, after the
// last argument, does a conflict: a second range option (-rd, -sd), -rd, -sd
// or -start with an action that replaces the listing, an option that -json
// cannot go with (an editing option, -check, -x, -block, -bam, -e), -json
// without an image. -json wherever an option stands (not as the value another
// option consumes, not after "--") makes every plain argument an image, also
// those before it. "-h", "--help" and "--version" set their request and
// end the reading there (nothing is then refused); after "--" every argument
// is a plain one (an image named "-vintage.d64", say). Likewise -check or -x
// without an editing option, -block or -bam makes every plain argument an
// image; with fewer than two the one named (if any) becomes the source, and
// the run is that of one image. -into is refused without -x, twice, or
// without a folder name. -new (wherever an option stands) has no source: its
// one plain argument, before or after it, is the destination, the image it
// makes; a second one, -merge, or no path is refused, and so are -40 and
// -errorbytes without -new. -clash takes refuse, skip or replace (any case)
// and is refused without -w or -copy; -adel counts how often it is given; the
// numbers of every -block are kept in options.viewNumbers, for the image.
RunPaths parseCommandLine(int argc, char **argv);

// The settings of an insert that no -w... option changes: the entry as the
// host name (or the copied slot) gives it, placed by the run's rules.
extern const InsertSettings kDriveInsert;
