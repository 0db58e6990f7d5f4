// Growing a directory, shared by the edits that add to it (the DEL append,
// the merge, inserted files): what growth must know (the blocks in use by the
// directory's account, which no search may take whatever the map says), the
// directory's last block or an error exit when the chain must not be
// extended, the block a new directory block takes, and the warnings of the
// free-block searches. The DEL append and the merge trace what they do; an
// insert does not.
#pragma once

#include <string>

#include "disk/bam.h"
#include "disk/inuse.h"

// What the growth of one image's directory knows and has said.
struct DirectoryGrowth {
    std::string path;     // the image's name as messages on standard error show it
    BlocksInUse inUse;    // taken from the image before anything grows
    SearchSkips skips;    // for the searches: every block of inUse
    BlockSet warnedFree;  // blocks already named in a warning about the map
    bool warnedOffTrack;  // the warning about a block off the system track is out
    bool traced;          // the walk and the changes print their trace lines
};

// The account of the image named `path`, before its directory grows.
DirectoryGrowth startGrowth(const ImageBuffer &image, const std::string &path, bool traced);

// The end of the directory chain from `start` (with findLastBlock's two lines
// when traced). Ends the program with status 1 and a message naming
// growth.path when the chain loops, reaches an absent block or a sector beyond
// its track, or runs into a block that a listed file uses or into the header
// block 18/0 or 40/0 (as its start only, for the merge, the header is the anchor).
TrackSector requireDirectoryEnd(const ImageBuffer &image, TrackSector start, const DirectoryGrowth &growth);
// The same, reporting instead of ending the program: "" and the end in
// `last`, or the message ("ERROR: ...", no line end) and `last` untouched.
std::string directoryEndProblem(const ImageBuffer &image, TrackSector start, const DirectoryGrowth &growth,
                                TrackSector &last);

// Adds a directory block after `last`, as the DEL append always has: the
// interleaved search from `last` with interleave 3 finds it, it is linked
// from `last`, cleared with the link 0/255 and marked used (each step traced
// when growth.traced). With `directoryTrackOnly`, as a drive grows it, only
// the system track is searched (from `last` when it lies there, else from its sector 0).
// Returns false, changing nothing, when no block is free.
bool growDirectory(ImageBuffer &image, TrackSector last, DirectoryGrowth &growth, bool directoryTrackOnly,
                   TrackSector &added);

// The warnings of one search, on standard error: a line for each block it
// passed over although the map marks it free (once per block and growth),
// and, once per growth, a line when the block it found (nullptr: none) lies
// off the system track.
void warnAfterSearch(const ImageBuffer &image, DirectoryGrowth &growth, const TrackSector *found);
