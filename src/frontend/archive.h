// Disk images inside archives: the members of a .zip archive whose names end
// in an image's extension (.d64, .d71, .d81), and the one image a .gz file
// holds. An archive is only a way of reading an image's bytes: the image
// read from a zip is named "archive.zip!inner.d64" in every header, JSON line
// and message (one from a .gz by the .gz's own name), and kestrel never
// writes into an archive. zlib inflates; the zip container (end record,
// central directory, local headers) is read here, stored and deflated
// members only.
//
// Memory stays bounded whatever an archive claims: an inner image may come to
// at most kMaxImageFileSize bytes (the bound of any image file), a zip's
// central directory may take at most kMaxZipDirectory bytes, and compressed
// bytes stream through a buffer of kInflateChunk bytes. Sizes, offsets and
// CRC-32s are checked against what inflates; a lie gives a problem text, never
// part of an image. Nothing here prints or ends the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/image.h"

// The largest central directory of a zip read (every member's name, extra
// field and comment): far above what thousands of images need.
constexpr uint64_t kMaxZipDirectory = 4 * 1024 * 1024;

// The compressed bytes read at a time.
constexpr size_t kInflateChunk = 64 * 1024;

// ---- Reading zip and gzip bytes ------------------------------------------------

// Bytes of a host file or of a buffer, read at any offset below `size`.
struct ByteSource {
    uint64_t size;
    std::function<bool(uint64_t at, uint8_t *into, size_t count)> read;  // false: a read error
};

// A source over `size` bytes at `bytes`, which must outlive it.
ByteSource bufferSource(const uint8_t *bytes, size_t size);

// One member of a zip archive, as its central directory describes it.
struct ZipMember {
    std::string name;         // the stored name's bytes
    uint16_t flags;           // bit 0: encrypted
    uint16_t method;          // 0 stored, 8 deflated; others are not read
    uint32_t crc;             // CRC-32 of its bytes
    uint32_t compressedSize;  // bytes in the archive
    uint32_t size;            // bytes once inflated
    uint32_t localHeader;     // offset of its local header
};

// The members of a zip archive in central-directory order, or why it cannot
// be read: a phrase after the archive's name ("is no zip archive ...",
// "lies: ..."): no end record in its last 65,557 bytes, a split or ZIP64
// archive, a central directory past the end record or above kMaxZipDirectory,
// an entry cut short or without its signature.
struct ZipDirectory {
    std::vector<ZipMember> members;
    std::string problem;
};
ZipDirectory readZipDirectory(const ByteSource &zip);

// Puts the bytes of `member` into `out`: "" when read, else a phrase after
// the member's name ("is encrypted", "lies: ...", ...): an encrypted member,
// another method, a size above kMaxImageFileSize, a local header that is not
// there, data past the end of the archive, a deflate stream that is damaged,
// cut short, or inflates to another size than the directory says, a CRC-32
// that does not match. `out` then holds nothing that may be used.
std::string readZipMember(const ByteSource &zip, const ZipMember &member, ImageBytes &out);

// Puts the bytes a gzip file holds into `out` (its members one after the
// other; bytes after the last member that begin no member are ignored, as
// gzip ignores them): "" when read, else a phrase after the file's name: no
// gzip header, a damaged or cut stream, a CRC-32 or length that does not
// match, more than kMaxImageFileSize bytes.
std::string gunzipBytes(const uint8_t *bytes, size_t size, ImageBytes &out);

// True when a zip member's name can name an image: not a path that starts at
// a root or a drive, or climbs out of its folder with a ".." component.
bool safeMemberName(const std::string &name);

// ---- Images named on the command line -----------------------------------------

enum class ImageSource { File, ZipMember, Gzip };

// One image to read, as a name on the command line gives it.
struct ImageName {
    std::string shown;    // how headers, JSON lines and messages name it
    std::string file;     // the host file it is read from
    ImageSource source;
    ZipMember member;     // ImageSource::ZipMember: the member, as the directory gave it
    std::string problem;  // why it cannot be read, a phrase after `shown`; "" when it can be tried
};

// The images a name gives: a host file that is no archive (or cannot be
// opened: the load then says why) gives itself; a .gz (any case) its one
// image; a .zip every member whose name ends in .d64, .d71 or .d81 (any
// case), in its directory's order, each shown as "archive.zip!member"; a
// name "archive.zip!member" that names no file of its own, where
// archive.zip is one, that member. A zip that cannot be read, that holds no
// such member or not the one named, gives one name with the problem; a
// member whose name is unsafe (safeMemberName) gives its name with the problem.
std::vector<ImageName> imagesNamed(const std::string &path);

// The name `path` gives when it names one image inside an archive; a name
// with `problem` set when it names none or several (naming them), or an
// archive that cannot be read; ImageSource::File for any other name.
ImageName oneImageNamed(const std::string &path);

// Reads the image an archive holds into `image`, with the shape of its size:
// "" when read, else a phrase after the name (the image then empty).
// Precondition: name.source is not File and name.problem is empty.
std::string loadArchivedImage(const ImageName &name, ImageBuffer &image);

// The host name of the folder -x gives an image read from `name` (its file
// name, and a zip member's own name without its folders, joined by "!").
std::string folderNameOfImage(const ImageName &name);
