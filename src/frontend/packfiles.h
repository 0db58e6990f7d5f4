// The host files of the containers that hold a whole disk's worth: the
// chosen files of an image as one Lynx archive (-x -lnx), the image as a
// ZipCode 4-pack (-x -zipcode), and the D64 a 4-pack holds (-zipdisk). The
// formats themselves are containers/lynx and containers/zipcode; this reads
// and writes their files, as -x writes its own: all or nothing, never over
// a file that exists.
#pragma once

#include <string>

#include "disk/image.h"
#include "files/extract.h"

// Writes `image` as -x -lnx or -x -zipcode asks into `folder` ("" for the
// current one; made where missing, never through a symbolic link, as -x
// makes it), named after `stem`: "stem.lnx", or "1!stem" to "4!stem" ("5!stem"
// too for 40 tracks); then prints "NAME (N bytes)" for each, a Lynx archive
// with the number of its files. Returns "" when written, else the message
// (without "ERROR: ") of a run that wrote nothing: a name that exists
// already, the folder or a file that cannot be written, and what
// lynxOfImage and zipCodeOfImage refuse. With `kept`, as for extractFiles.
// Precondition: the header block is present.
std::string writePackedImage(const ImageBuffer &image, const std::string &folder, const std::string &stem,
                             ExtractedFiles *kept = nullptr);

// Reads the ZipCode 4-pack that `path` names into `image`: the path of its
// first file ("dir/1!name") or of any other, or the pack's name without a
// file's prefix ("dir/name"); its files "1!name" to "4!name" stand in one
// folder, and "5!name" beside them makes a disk of 40 tracks. Returns "" when
// read, else the message (without "ERROR: ") naming the file at fault.
std::string loadZipCodeDisk(const std::string &path, ImageBuffer &image);
