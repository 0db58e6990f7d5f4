// Image files: existence test, whole-file load with its size and file-type
// checks, the save through the one safe file write, and the default
// destination name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/image.h"

// The largest file taken as an image: far above the largest image (a D81 of
// 83 tracks with error bytes, 853,240 bytes), far below a size that could
// strain the machine.
constexpr uint64_t kMaxImageFileSize = 4 * 1024 * 1024;

// 1 when the name can be opened for reading, or names something that is not
// a regular file (a folder, FIFO, device, socket: loadImage refuses those),
// else 0. Never opens anything but a regular file or a folder, so it cannot
// block on a FIFO or touch a device.
int imageExists(const std::string &path);

// True when the name is a folder (followed through links).
bool isFolder(const std::string &path);

// What a -w argument named: one file, a folder, or a pattern.
enum class HostFilesKind { One, Folder, Pattern };

// The host files one -w argument names, in the order they are inserted.
struct HostFiles {
    std::vector<std::string> paths;  // each as the argument's folder part and the file's name give it
    HostFilesKind kind;
    bool readable;                   // false: the folder (of the pattern) could not be read
};

// A path that names no folder and holds no '*' or '?' in its last component
// is that one file (which need not exist). A folder gives every regular file
// in it (followed through links; no sub-folder, FIFO or device), a '*' or '?'
// in the last component every regular file of its folder whose name matches
// ('*' any run of characters, '?' one; no other character is special): in
// byte order of the names. A name beginning with '.' is left out unless the
// pattern begins with '.'. Nothing is opened but the folder.
HostFiles hostFilesOf(const std::string &path);

enum class LoadResult { Loaded, CannotOpen, CannotRead, TooLarge };

// Reads the whole file into `image` and gives it the shape of its size
// (shapeForSize). CannotRead covers a name that is not a
// regular file (refused before it is opened, so a FIFO cannot block) and a
// file that does not read whole (it shrank or grew); TooLarge a file above
// kMaxImageFileSize, refused before anything is allocated, with its size in
// `fileSize`. CannotOpen leaves `image` untouched; the other failures leave it
// empty.
LoadResult loadImage(const std::string &path, ImageBuffer &image, uint64_t &fileSize);

// A regular file held open for reading piece by piece (a zip archive, whose
// members are read one at a time), opened as loadImage opens a file: never a
// FIFO, device or folder.
struct ReadableFile {
    int handle = -1;
    uint64_t size = 0;
};

// Opens `path`: Loaded when it is open (close it with closeReadableFile),
// else CannotOpen or CannotRead as loadImage says them.
LoadResult openReadableFile(const std::string &path, ReadableFile &file);

// Reads `count` bytes at offset `at`; false when they cannot all be read.
bool readFileAt(const ReadableFile &file, uint64_t at, uint8_t *into, size_t count);

void closeReadableFile(ReadableFile &file);

// Confirms the shape loadImage gave the image by its size against what its
// header says and what its name says, and prints a one-line "WARNING: ..." on
// standard error for each doubt: a D71 whose 18/0 byte 03 has bit 7 clear is
// single-sided and from here on read as its 35 tracks of side 1 (the bytes of
// tracks 36-70 stay as they are); a D81 whose 40/0 byte 02 is not $44 or
// whose 40/1 bytes 02-03 are not $44 $BB, or whose directory does not start
// at 40/3, is still read as a D81; an extension .d64, .d71 or .d81 that names
// another family than the size is only a hint and changes nothing.
void confirmShape(const std::string &path, ImageBuffer &image);

// The family an image name's extension names: .d64 and .g64 a 1541's, .d71
// and .g71 a 1571's, .d81 a 1581's; nullptr for any other.
const DiskFamily *familyOfExtension(const std::string &extension);

// A GCR image (G64, G71, NIB or NBZ, known by its signature whatever its name) that
// loadImage read is decoded into its blocks (gcr/gcrdisk.h), and each fault
// of its container is a "WARNING: ..." line on standard error. Returns why
// it cannot be read, after the file's name ("has a track table ..."), or "";
// any other image is left as it is.
std::string decodeGcrFile(const std::string &path, ImageBuffer &image);

// The bytes written for `image` under `path`: a .nib or .nbz name is
// refused (no dump is written), a .g64 or .g71 name gets the
// GCR image (the one read, rewritten in place, or encoded from the blocks),
// an image read from GCR under any other name its block image (error bytes
// only when a sector has an error), every other image its own bytes.
struct ImageFileOut {
    const uint8_t *data;
    size_t size;
    std::vector<uint8_t> made;  // the bytes made for it, when they are not the image's own
    std::string problem;        // why it cannot be written so (after the source's name), else ""
};
ImageFileOut imageFileOut(const ImageBuffer &image, const std::string &path);

// Writes imageFileOut's bytes to `path` through writeWholeFile
// (base/filewrite.h) in Replace mode: 0 when written, 1 when not (then
// nothing has changed). Precondition: imageFileOut found no problem.
int saveImage(const ImageBuffer &image, const std::string &path);

// The source name up to its extension's ".", followed by ".out." and the
// format's name (".out.d64", ".out.d71", ".out.d81", ".out.g64"). Only a
// "." in the last path component counts. Returns false when there is none.
bool defaultDestination(const std::string &source, const char *format, std::string &destination);
