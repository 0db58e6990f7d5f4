// The editors in the terminal: the directory-art editor (-edit) and the block
// editor with its map view (-bedit, -bamedit). Each keeps the image and an
// undo list and makes every change through the edit functions the command
// line calls (directory/dirart, directory/append, blocks/), so whatever it
// writes, a run of edits could have written. The caller has made sure that
// standard input and output are a terminal.
#pragma once

#include <string>

#include "disk/image.h"

// Where and how an editor writes: the image's name (for messages and the
// directory's growth), the destination and the one save of the front end
// ("" when written, else the status line's error).
struct EditTarget {
    std::string imagePath;
    std::string destination;
    std::string (*save)(const ImageBuffer &image, const EditTarget &target);
};

// The directory as the C64 lists it, a cursor over its lines; runs until the
// user leaves (asked first when there are changes not written). The keys are
// in the manual's "Directory art by hand" and on the screen's last line.
// Precondition: the header block is present.
void runDirectoryEditor(ImageBuffer &image, const EditTarget &target);

// The block editor at options.viewTrack/viewSector (settled against the
// image), or with `mapView` its map view first; runs until the user leaves.
void runBlockEditor(ImageBuffer &image, const EditTarget &target, bool mapView);
