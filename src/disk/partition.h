// 1581 partitions entered as sub-directories: whether a CBM entry's area can
// be one, and the shape of the disk inside it. A sub-directory is the 1581's
// layout with another system track: header F/0, maps F/1 and F/2 (80 tracks,
// every track outside the area marked used), directory from F/3, files placed
// outward from F within the area. Reads only; prints nothing.
#pragma once

#include <vector>

#include "disk/image.h"

// True when the shape is that of a sub-directory (its system track is not
// the family's).
inline bool insidePartition(const DiskShape &shape) { return shape.systemTrack != shape.family->systemTrack; }

// True for a track outside the area of the sub-directory the shape is; its
// map marks such a track wholly used. False on every shape that is no sub-directory.
inline bool outsidePartition(const DiskShape &shape, int track) {
    return insidePartition(shape) && (track < shape.areaFirst || track > shape.areaLast);
}

// Why a slot cannot be entered, or Fits.
enum class PartitionFit {
    Fits,
    NotCbm,          // not a 1581 disk, or the type is not CBM
    NotTrackStart,   // the first block is not sector 0 of a track
    NotWholeTracks,  // the size does not end at the end of a track
    TooSmall,        // fewer than 3 tracks
    OutsideArea,     // runs beyond the tracks of the directory it lies in
    CrossesSystem,   // holds the track of that directory
};

// The smallest sub-directory the 1581 accepts, in tracks.
constexpr int kPartitionLeastTracks = 3;

// Whether the CBM entry at `slot`, in the directory of `outer`, can be
// entered as a sub-directory; when it Fits, `inside` is the shape within it
// (system track its first track, area its tracks), else untouched.
PartitionFit partitionShape(const DiskShape &outer, const uint8_t *slot, DiskShape &inside);

// The reason as a message's words ("its first block is not sector 0 of a track").
const char *partitionFitText(PartitionFit fit);

// True when the area holds a 1581 header and map (F/0 byte 02 $44, F/1 bytes
// 02-03 $44 $BB): it was formatted inside, so it is a sub-directory.
bool partitionFormatted(const ImageBuffer &image, const DiskShape &inside);

// The first listed CBM entry of the image's directory whose name is `name`
// (`length` bytes, 0..16; the name's padding $A0 not counted), else the first
// listed entry of another type by that name, else nullptr.
const uint8_t *findEntryNamed(const ImageBuffer &image, const uint8_t *name, int length);

// The sub-directories one image's walk (the check's, the repair's) has gone
// into, by area, and how many more it met: each area is gone into once per
// image, whichever directory lists it, and at most kMostSubDirectories in
// all, so that partitions that list each other's sub-partitions cost no more
// than the areas they name.
constexpr int kMostSubDirectories = 256;
struct SubDirectoryVisits {
    bool entered[kMostTracks + 1][kMostTracks + 1];  // by first and last track
    int count;      // areas gone into
    int passedOver; // sub-directories met beyond kMostSubDirectories
};

// A sub-directory to go into: its slot in the directory read, its shape.
struct SubDirectory {
    const uint8_t *slot;
    DiskShape inside;
};

// The listed partitions of the image's directory that can be entered and
// were formatted inside, in directory order, whose area `visits` has not
// entered yet; each is recorded as entered (past the bound, counted once in
// visits.passedOver instead and left out). None on another family.
std::vector<SubDirectory> newSubDirectories(const ImageBuffer &image, SubDirectoryVisits &visits);
