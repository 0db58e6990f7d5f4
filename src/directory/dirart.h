// Directory art: the edits that shape how a listing looks (-rename, -type,
// -blocks, -move, -undel, -header, -id). They change named bytes of the
// directory and the map block only; files' contents are never touched.
#pragma once

#include <string>

#include "base/options.h"
#include "disk/image.h"

constexpr int kDiskIdLength = 5;  // id, 0xA0 and DOS type, as the listing shows them

// The type byte a listing form names: "DEL", "SEQ", "PRG", "USR" or "REL"
// in any case, with '*' before it for a file left open (bit 7 clear) and '<'
// after it for a locked one (bit 6 set): "PRG" 0x82, "*SEQ" 0x01, "rel<"
// 0xC4. -1 when the text is no such form.
int typeByteOfForm(const char *text);

// Which of the edits a pass makes: -undel runs before the inserts of -w, the
// others after them; a run without -w makes them all in one pass.
enum class DirEditPass { All, Undeletes, AllButUndeletes };

// Makes the edits of options.dirEdits that `pass` names, in command-line order, each on the
// directory as the ones before it left it, and prints one line per edit
// with the entry number and the old and new value. Entries are counted as
// the listing counts them (-undel counts every slot). Ends the program with
// status 1 and makeDirectoryEdit's message when an edit is refused; the
// image, then partly edited, must not be written. Precondition: the header
// block (18/0, 40/0) is present.
void applyDirectoryEdits(ImageBuffer &image, DirEditPass pass);

// One edit as applyDirectoryEdits makes each (its line printed), on the
// directory as it stands: "" when it was made, else why not ("ERROR: ...",
// no line end: it names no entry that the directory holds and the edits may
// write, or the undelete is refused), the image left as it was. The editors
// make every change of the directory through here.
std::string makeDirectoryEdit(ImageBuffer &image, const DirEdit &edit);
