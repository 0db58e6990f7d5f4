// The interactive block viewer (-block).
#pragma once

#include "disk/image.h"

// Brings a position into range: track below 1 -> 1, sector below 0 -> 0,
// track above the highest (40 on a D64) -> the last map track (35), then a
// sector at or beyond the track's count -> the track's last sector.
void clampTrackSector(const DiskShape &shape, int &track, int &sector);

// Clears the screen and draws the block at (track, sector) after clamping a
// copy: track and sector lines, 16 rows of hex and characters, the link. A
// block outside the image gets a line saying so and shows the link 0/0. The
// last line ("Next sector: ...") is left without its line end.
void showBlock(const ImageBuffer &image, int track, int sector);

// The key loop on options.viewTrack/viewSector: arrows move (up to the last
// map track, 35 on a D64, 70 on a D71, 80 on a D81, or beyond where the image
// holds those tracks), j follows the link to a block of the map's tracks or to
// one above that the image holds, Esc or q (or the end of the key source)
// leaves.
void runBlockViewer(const ImageBuffer &image);
