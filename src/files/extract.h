// Extracting files (-x): the payload of each chosen entry's chain into a file
// of the current folder or a folder named, by the host-name rule
// (base/nametext.h). All or nothing: no existing file is ever replaced, and a
// run that fails takes back the files and folders it made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/filewrite.h"
#include "disk/filelayout.h"
#include "disk/image.h"

// A container written around each file instead of the bare payload (-x
// -p00): given the entry's 32-byte slot, the header that goes before the
// payload and the letter of the extension, which gets two digits, "00" unless
// files of the run would share the name ("p00", "p01", ... in directory order).
using ContainerHeader = void (*)(const uint8_t *slot, std::vector<uint8_t> &header, char &letter);

// A form GEOS entries are written in instead of their data chain (-x -cvt):
// the extension of their files, and the writer of a file's bytes from the
// entry's slot, structure and data (readFileStructure).
struct GeosForm {
    const char *extension;
    void (*write)(const uint8_t *slot, const FileStructure &structure, const std::vector<uint8_t> &data,
                  std::vector<uint8_t> &out);
};

// The bytes one image's -x may write at most, as a multiple of the image
// file's length (see extractFiles).
constexpr uint64_t kExtractBoundFactor = 8;

// What an extraction wrote, while a later step of the run may still fail.
struct ExtractedFiles {
    OutputFolder folder;  // the folder it wrote into, held open
    NewFiles written;     // its files there (written.folder points at `folder`, or is null)
};

// Writes one file per chosen entry into `folder` ("" for the current folder;
// else opened by openOutputFolder, base/filewrite.h: made where missing,
// never through a symbolic link) and prints "%3i: NAME (N bytes)" for each,
// NAME with the folder in front, once all are written. Chosen are, without
// numbers (options.extractFirst -1), the listed entries whose type byte is not
// 0 and that have a start block; with numbers, the entries numbered
// extractFirst..extractLast (as -rd numbers them) that have a start block; an
// entry that a looping directory lists again is written once. A file holds
// exactly the payload that the listing measures for its -vf and -vc columns
// (REL: the data chain). With `geos` (else null) each GEOS entry is written in
// that form instead, NAME.EXT (never a container), all or nothing: a GEOS entry
// whose info block, index or records cannot be read whole ends it before
// anything is written. Entries that would share a host name get "~1", "~2",
// ... before the extension, in directory order. With `container` (else null)
// each file is that container, named as ContainerHeader says, and its line
// gives the container's bytes. With nothing to write the folder is not opened.
// Returns "" when done, else the message (without "ERROR: ") of a failure that
// wrote nothing, or took back what it wrote: numbers were given and no such
// entry has a start block, a file of a name exists already, the folder cannot
// be opened, a file cannot be written, more than 100 containers would share
// a name, the files would come to more than kExtractBoundFactor times the
// image's length (a directory that names the same chains thousands of
// times). Ends the run (status 1) when standard output was lost, having
// written nothing. With `kept`, a run that goes on (an edit whose destination
// is written after) holds what was written there, the folder open, for
// takeBackExtraction or keepExtraction.
// Precondition: the header block (18/0, 40/0) is present.
std::string extractFiles(const ImageBuffer &image, const std::string &folder, ContainerHeader container = nullptr,
                         ExtractedFiles *kept = nullptr, const GeosForm *geos = nullptr);

// Takes back a done extraction: removes its files and the folders it made.
void takeBackExtraction(ExtractedFiles &kept);

// Keeps a done extraction as it is and closes its folder.
void keepExtraction(ExtractedFiles &kept);
