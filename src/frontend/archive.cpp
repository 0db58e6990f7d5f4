// Disk images inside zip and gzip archives.
#include "frontend/archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "base/filewrite.h"
#include "base/nametext.h"
#include "disk/family.h"
#include "frontend/imagefile.h"

namespace {

// ---- The zip container ----------------------------------------------------------

constexpr uint32_t kEndSignature = 0x06054b50;        // "PK\5\6"
constexpr uint32_t kDirectorySignature = 0x02014b50;  // "PK\1\2"
constexpr uint32_t kLocalSignature = 0x04034b50;      // "PK\3\4"
constexpr size_t kEndSize = 22;
constexpr size_t kDirectoryEntrySize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kMostCommentSize = 0xFFFF;
constexpr uint16_t kEncrypted = 1;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;

uint16_t le16(const uint8_t *at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }
uint32_t le32(const uint8_t *at) { return static_cast<uint32_t>(le16(at)) | static_cast<uint32_t>(le16(at + 2)) << 16; }

std::string number(uint64_t value) { return std::to_string(value); }

// The offset of the end record in the `tail` that ends at the archive's end:
// the last signature whose record and comment fit; -1 when there is none.
long findEndRecord(const std::vector<uint8_t> &tail) {
    for (size_t at = tail.size() - kEndSize + 1; at-- > 0;)
        if (le32(&tail[at]) == kEndSignature && at + kEndSize + le16(&tail[at + 20]) <= tail.size())
            return static_cast<long>(at);
    return -1;
}

// Reads the central directory's `count` entries out of its `bytes`.
std::string readEntries(const std::vector<uint8_t> &bytes, size_t count, std::vector<ZipMember> &members) {
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        std::string entry = "lies: entry " + number(i) + " of its central directory ";
        if (at + kDirectoryEntrySize > bytes.size()) return entry + "runs past the directory's end";
        const uint8_t *fixed = &bytes[at];
        if (le32(fixed) != kDirectorySignature) return entry + "has no signature (\"PK\\1\\2\")";
        size_t nameLength = le16(fixed + 28), variable = nameLength + le16(fixed + 30) + le16(fixed + 32);
        if (at + kDirectoryEntrySize + variable > bytes.size()) return entry + "runs past the directory's end";
        const char *name = reinterpret_cast<const char *>(fixed + kDirectoryEntrySize);
        members.push_back({std::string(name, nameLength), le16(fixed + 8), le16(fixed + 10), le32(fixed + 16),
                           le32(fixed + 20), le32(fixed + 24), le32(fixed + 42)});
        at += kDirectoryEntrySize + variable;
    }
    return "";
}

// Why the member cannot be inflated into an image at all, or "".
std::string memberProblem(const ZipMember &member) {
    if (member.flags & kEncrypted) return "is encrypted, which kestrel does not read";
    if (member.method != kStored && member.method != kDeflated)
        return "is compressed by method " + number(member.method) +
               "; kestrel reads stored (0) and deflated (8) members";
    if (member.size > kMaxImageFileSize)
        return "would come to " + number(member.size) + " bytes, more than any disk image (at most " +
               number(kMaxImageFileSize) + " are read)";
    if (member.method == kStored && member.compressedSize != member.size)
        return "lies: it is stored, but its sizes differ (" + number(member.compressedSize) + " and " +
               number(member.size) + " bytes)";
    return "";
}

// The text zlib gives for a failure, for a message.
std::string zlibText(const z_stream &stream, int result) {
    return stream.msg ? stream.msg : result == Z_MEM_ERROR ? "out of memory" : "error " + number(static_cast<unsigned>(-result));
}

// Inflates `compressed` bytes from `zip` at `at` (a raw deflate stream) into
// exactly out.size() bytes; one byte more is offered, to see a stream that
// goes on past the size its directory entry states.
std::string inflateMember(const ByteSource &zip, uint64_t at, uint64_t compressed, ImageBytes &out) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return "could not be inflated (zlib: out of memory)";
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(compressed, kInflateChunk)));
    uint8_t spare;
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    bool spareGiven = false;
    uint64_t fed = 0;
    int result = Z_OK;
    while (result == Z_OK || result == Z_BUF_ERROR) {
        if (stream.avail_in == 0 && fed < compressed) {
            size_t count = static_cast<size_t>(std::min<uint64_t>(compressed - fed, kInflateChunk));
            if (!zip.read(at + fed, chunk.data(), count)) {
                inflateEnd(&stream);
                return "could not be read";
            }
            fed += count;
            stream.next_in = chunk.data();
            stream.avail_in = static_cast<uInt>(count);
        }
        if (stream.avail_out == 0) {
            if (spareGiven) break;
            spareGiven = true;
            stream.next_out = &spare;
            stream.avail_out = 1;
        }
        result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_BUF_ERROR && stream.avail_in == 0 && fed == compressed) break;
    }
    std::string problem;
    if (stream.total_out > out.size())
        problem = "lies: it inflates to more than the " + number(out.size()) + " bytes its directory entry says";
    else if (result == Z_STREAM_END && stream.total_out != out.size())
        problem = "lies: it inflates to " + number(stream.total_out) + " bytes, its directory entry says " +
                  number(out.size());
    else if (result == Z_BUF_ERROR) problem = "is cut short: its deflate stream ends before its last block";
    else if (result != Z_STREAM_END) problem = "is damaged (zlib: " + zlibText(stream, result) + ")";
    inflateEnd(&stream);
    return problem;
}

// True when `part` is "..": a component that leaves its folder.
bool climbs(const std::string &part) { return part == ".."; }

// The file's own name in `path`: after its last "/" or "\".
std::string lastComponent(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when the member's name ends in the extension of a disk image.
bool imageMember(const std::string &name) {
    if (name.empty() || name.back() == '/') return false;
    return familyNamed(fileExtension(lastComponent(name)).c_str()) != nullptr;
}

// A source over an open host file.
ByteSource fileSource(const ReadableFile &file) {
    return {file.size, [&file](uint64_t at, uint8_t *into, size_t count) { return readFileAt(file, at, into, count); }};
}

// The directory of the zip archive `path`; `opened` false when the file
// cannot be opened or read as a regular file (the load then says why).
ZipDirectory zipDirectoryOf(const std::string &path, bool &opened) {
    ReadableFile file;
    opened = openReadableFile(path, file) == LoadResult::Loaded;
    if (!opened) return {};
    ZipDirectory directory = readZipDirectory(fileSource(file));
    closeReadableFile(file);
    return directory;
}

ImageName nameWithProblem(const std::string &shown, const std::string &file, const std::string &problem) {
    return {shown, file, ImageSource::ZipMember, {}, problem};
}

// "archive.zip!member" for a member of the archive.
ImageName memberName(const std::string &archive, const ZipMember &member) {
    std::string shown = archive;
    shown += '!';
    shown += member.name;
    ImageName name{shown, archive, ImageSource::ZipMember, member, ""};
    if (!safeMemberName(member.name))
        name.problem = "is named with a path that leads out of its folder; it is not read";
    return name;
}

// "'a.zip!x.d64', 'a.zip!y.d64' and 2 more" for a message.
std::string namesOf(const std::vector<ImageName> &names) {
    std::string text;
    size_t shown = std::min<size_t>(names.size(), 3);
    for (size_t i = 0; i < shown; ++i) {
        text += i == 0 ? "'" : i + 1 == names.size() ? "' and '" : "', '";
        text += names[i].shown;
    }
    text += "'";
    if (names.size() > shown) text += " and " + number(names.size() - shown) + " more";
    return text;
}

}  // namespace

ByteSource bufferSource(const uint8_t *bytes, size_t size) {
    return {size, [bytes, size](uint64_t at, uint8_t *into, size_t count) {
                if (at > size || count > size - at) return false;
                if (count > 0) std::memcpy(into, bytes + at, count);  // an empty buffer may have no address
                return true;
            }};
}

ZipDirectory readZipDirectory(const ByteSource &zip) {
    ZipDirectory directory;
    if (zip.size < kEndSize) {
        directory.problem = "is too short for a zip archive (" + number(zip.size) + " bytes)";
        return directory;
    }
    std::vector<uint8_t> tail(static_cast<size_t>(std::min<uint64_t>(zip.size, kEndSize + kMostCommentSize)));
    uint64_t tailStart = zip.size - tail.size();
    if (!zip.read(tailStart, tail.data(), tail.size())) {
        directory.problem = "could not be read";
        return directory;
    }
    long found = findEndRecord(tail);
    if (found < 0) {
        directory.problem = "is no zip archive (no end record of a central directory at its end)";
        return directory;
    }
    const uint8_t *end = &tail[static_cast<size_t>(found)];
    uint64_t endAt = tailStart + static_cast<uint64_t>(found);
    uint16_t count = le16(end + 10);
    uint32_t size = le32(end + 12), offset = le32(end + 16);
    if (le16(end + 4) != 0 || le16(end + 6) != 0 || le16(end + 8) != count)
        directory.problem = "is one part of an archive split over several files, which kestrel does not read";
    else if (count == 0xFFFF || size == 0xFFFFFFFF || offset == 0xFFFFFFFF)
        directory.problem = "is a ZIP64 archive, which kestrel does not read";
    else if (static_cast<uint64_t>(offset) + size > endAt)
        directory.problem = "lies: its central directory (" + number(size) + " bytes at " + number(offset) +
                            ") runs past its end record at " + number(endAt);
    else if (size > kMaxZipDirectory)
        directory.problem = "has a central directory of " + number(size) + " bytes, more than the " +
                            number(kMaxZipDirectory) + " kestrel reads";
    if (!directory.problem.empty()) return directory;
    std::vector<uint8_t> bytes(size);
    if (!zip.read(offset, bytes.data(), bytes.size())) directory.problem = "could not be read";
    else directory.problem = readEntries(bytes, count, directory.members);
    if (!directory.problem.empty()) directory.members.clear();
    return directory;
}

std::string readZipMember(const ByteSource &zip, const ZipMember &member, ImageBytes &out) {
    out.clear();
    std::string problem = memberProblem(member);
    if (!problem.empty()) return problem;
    uint8_t local[kLocalHeaderSize];
    if (static_cast<uint64_t>(member.localHeader) + kLocalHeaderSize > zip.size ||
        !zip.read(member.localHeader, local, sizeof local) || le32(local) != kLocalSignature)
        return "lies: no local header (\"PK\\3\\4\") stands at byte " + number(member.localHeader) +
               ", where its directory entry puts it";
    uint64_t data = static_cast<uint64_t>(member.localHeader) + kLocalHeaderSize + le16(local + 26) + le16(local + 28);
    if (data + member.compressedSize > zip.size)
        return "lies: its " + number(member.compressedSize) + " bytes from byte " + number(data) +
               " run past the archive's end at " + number(zip.size);
    out.resize(member.size);
    if (member.method == kStored) problem = zip.read(data, out.data(), out.size()) ? "" : "could not be read";
    else problem = inflateMember(zip, data, member.compressedSize, out);
    if (problem.empty() && crc32(0, out.data(), static_cast<uInt>(out.size())) != member.crc)
        problem = "fails its CRC-32 check: its bytes are not those the archive was made of";
    if (!problem.empty()) out.clear();
    return problem;
}

std::string gunzipBytes(const uint8_t *bytes, size_t size, ImageBytes &out) {
    out.clear();
    if (size < 2 || bytes[0] != 0x1F || bytes[1] != 0x8B) return "is no gzip file (no $1F $8B at its start)";
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return "could not be inflated (zlib: out of memory)";
    stream.next_in = const_cast<uint8_t *>(bytes);
    stream.avail_in = static_cast<uInt>(size);
    std::string problem;
    for (;;) {
        size_t done = out.size();
        if (done > kMaxImageFileSize) {
            problem = "inflates to more than " + number(kMaxImageFileSize) + " bytes, more than any disk image";
            break;
        }
        out.resize(std::min<size_t>(done + kInflateChunk, kMaxImageFileSize + 1));
        stream.next_out = out.data() + done;
        stream.avail_out = static_cast<uInt>(out.size() - done);
        int result = inflate(&stream, Z_NO_FLUSH);
        out.resize(out.size() - stream.avail_out);
        if (result == Z_STREAM_END) {
            // Another member may follow; anything else after one is left, as gzip leaves it.
            if (stream.avail_in < 2 || stream.next_in[0] != 0x1F || stream.next_in[1] != 0x8B) break;
            inflateReset(&stream);
            continue;
        }
        if (result == Z_OK || (result == Z_BUF_ERROR && stream.avail_out == 0)) continue;
        problem = result == Z_BUF_ERROR ? "is cut short: its compressed data ends before its last block"
                                        : "is damaged (zlib: " + zlibText(stream, result) + ")";
        break;
    }
    inflateEnd(&stream);
    if (!problem.empty()) out.clear();
    return problem;
}

bool safeMemberName(const std::string &name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of("/\\", start);
        if (climbs(name.substr(start, end == std::string::npos ? std::string::npos : end - start))) return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

std::vector<ImageName> imagesNamed(const std::string &path) {
    ImageName plain{path, path, ImageSource::File, {}, ""};
    std::string extension = fileExtension(path);
    if (extension == "gz") return {{path, path, ImageSource::Gzip, {}, ""}};
    if (extension != "zip") {
        // "archive.zip!member", where no file has that whole name.
        bool ownFile = imageExists(path);
        for (size_t bang = path.find('!'); bang != std::string::npos && !ownFile; bang = path.find('!', bang + 1)) {
            std::string archive = path.substr(0, bang), wanted = path.substr(bang + 1);
            if (fileExtension(archive) != "zip" || isFolder(archive) || !imageExists(archive)) continue;
            bool opened = false;
            ZipDirectory directory = zipDirectoryOf(archive, opened);
            if (!opened) return {plain};
            if (!directory.problem.empty()) return {nameWithProblem(archive, archive, directory.problem)};
            for (const ZipMember &member : directory.members)
                if (member.name == wanted) return {memberName(archive, member)};
            return {nameWithProblem(archive, archive, "holds no member named '" + wanted + "'")};
        }
        return {plain};
    }
    bool opened = false;
    ZipDirectory directory = zipDirectoryOf(path, opened);
    if (!opened) return {plain};
    if (!directory.problem.empty()) return {nameWithProblem(path, path, directory.problem)};
    std::vector<ImageName> names;
    for (const ZipMember &member : directory.members)
        if (imageMember(member.name)) names.push_back(memberName(path, member));
    if (names.empty())
        names.push_back(nameWithProblem(path, path, "holds no disk image (a member named .d64, .d71 or .d81)"));
    return names;
}

ImageName oneImageNamed(const std::string &path) {
    std::vector<ImageName> names = imagesNamed(path);
    if (names.size() == 1) return names.front();
    return nameWithProblem(path, path, "holds " + number(names.size()) + " disk images (" + namesOf(names) +
                                           "); name one of them");
}

std::string loadArchivedImage(const ImageName &name, ImageBuffer &image) {
    image.bytes.clear();
    std::string problem;
    if (name.source == ImageSource::Gzip) {
        ImageBuffer packed;
        uint64_t size = 0;
        LoadResult result = loadImage(name.file, packed, size);
        if (result == LoadResult::TooLarge) problem = "is too large for a compressed disk image (" + number(size) + " bytes)";
        else if (result != LoadResult::Loaded) problem = "could not be read";
        else problem = gunzipBytes(packed.bytes.data(), packed.bytes.size(), image.bytes);
    } else {
        ReadableFile file;
        if (openReadableFile(name.file, file) != LoadResult::Loaded) problem = "could not be read";
        else problem = readZipMember(fileSource(file), name.member, image.bytes);
        closeReadableFile(file);
    }
    image.shape = shapeForSize(image.bytes.size());
    return problem;
}

std::string folderNameOfImage(const ImageName &name) {
    std::string file = name.file.substr(fileNameStart(name.file));
    if (name.source == ImageSource::ZipMember) {
        file += '!';
        file += lastComponent(name.member.name);
    }
    return hostNameOfImage(file);
}
