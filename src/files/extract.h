// Extracting files (-x): the payload of each chosen entry's chain into a file
// of the current folder, named by the host-name rule (base/nametext.h). All or
// nothing: no existing file is ever replaced, and a run that fails takes back
// the files it wrote.
#pragma once

#include "disk/image.h"

// Writes one file per chosen entry and prints "%3i: NAME (N bytes)" for each
// once all are written. Chosen are, without numbers (options.extractFirst -1),
// the listed entries whose type byte is not 0 and that have a start block;
// with numbers, the entries numbered extractFirst..extractLast (as -rd numbers
// them) that have a start block; an entry that a looping directory lists
// again is written once. A file holds exactly the payload that the
// listing measures for its -vf and -vc columns (REL: the data chain). Entries
// that would share a host name get "~1", "~2", ... before the extension, in
// directory order.
// Ends with status 1, having written nothing, when numbers were given and no
// such entry has a start block, or when a file of that name already exists;
// with status 1, after removing what it wrote, when a file cannot be written.
// Precondition: block 18/0 is present.
void extractFiles(const ImageBuffer &image);
