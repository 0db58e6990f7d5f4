// Image files.
#include "frontend/imagefile.h"

#include <algorithm>
#include <cstdio>

#include "base/console.h"
#include "base/filewrite.h"
#include "gcr/gcrdisk.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

#ifdef _WIN32
// Opens the name for reading when it is a regular file on a disk; -1 with
// `result` set otherwise. A device (CON, NUL) or a pipe is never read.
int openRegularFile(const std::string &path, uint64_t &size, LoadResult &result) {
    int file = _wopen(widePath(path).c_str(), _O_RDONLY | _O_BINARY);
    result = LoadResult::CannotOpen;
    if (file < 0) return -1;
    struct _stat64 info;
    result = LoadResult::CannotRead;
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(file))) == FILE_TYPE_DISK && _fstat64(file, &info) == 0 &&
        (info.st_mode & _S_IFMT) == _S_IFREG) {
        size = static_cast<uint64_t>(info.st_size);
        return file;
    }
    _close(file);
    return -1;
}

int readSome(int file, uint8_t *into, size_t count) {
    return _read(file, into, static_cast<unsigned>(count > (1u << 30) ? (1u << 30) : count));
}

// The names in `folder` ("" for the working folder) of the regular files
// (no folder, device or reparse point); false when it cannot be read.
bool regularFilesIn(const std::string &folder, std::vector<std::string> &names) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(widePath((folder.empty() ? std::string(".") : folder) + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
            continue;
        int length = WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, nullptr, 0, nullptr, nullptr);
        std::string name(length > 0 ? static_cast<size_t>(length) : 0, '\0');
        if (length > 0) WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name.data(), length, nullptr, nullptr);
        if (!name.empty()) name.pop_back();  // the terminating 0
        names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

void closeFile(int file) { _close(file); }

bool seekTo(int file, uint64_t at) { return _lseeki64(file, static_cast<__int64>(at), SEEK_SET) >= 0; }

// The C runtime's stat fails on a folder named with a separator at its end.
bool folderAt(const std::string &path) {
    std::string name = path;
    while (name.size() > 1 && (name.back() == '/' || name.back() == '\\') && name[name.size() - 2] != ':')
        name.pop_back();
    struct _stat64 info;
    return _wstat64(widePath(name).c_str(), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFDIR;
}
#else
// Opens the name for reading when it is a regular file; -1 with `result` set
// otherwise. The type is known before the open, so a FIFO, device or socket is
// never opened; the open does not wait either, should the name change between.
int openRegularFile(const std::string &path, uint64_t &size, LoadResult &result) {
    struct stat info;
    result = LoadResult::CannotOpen;
    if (stat(path.c_str(), &info) != 0) return -1;
    result = LoadResult::CannotRead;
    if (!S_ISREG(info.st_mode)) return -1;
    int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        result = LoadResult::CannotOpen;
        return -1;
    }
    if (fstat(file, &info) == 0 && S_ISREG(info.st_mode)) {
        size = static_cast<uint64_t>(info.st_size);
        return file;
    }
    close(file);
    return -1;
}

ssize_t readSome(int file, uint8_t *into, size_t count) {
    for (;;) {
        ssize_t got = read(file, into, count);
        if (got >= 0 || errno != EINTR) return got;
    }
}

void closeFile(int file) { close(file); }

bool seekTo(int file, uint64_t at) { return lseek(file, static_cast<off_t>(at), SEEK_SET) >= 0; }

bool folderAt(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The names in `folder` ("" for the working folder) of the regular files,
// followed through links as a load follows them (no folder, FIFO, device or
// socket); false when it cannot be read.
bool regularFilesIn(const std::string &folder, std::vector<std::string> &names) {
    DIR *listing = opendir(folder.empty() ? "." : folder.c_str());
    if (!listing) return false;
    while (const struct dirent *entry = readdir(listing)) {
        std::string name = entry->d_name;
        struct stat info;
        if (stat((folder + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) names.push_back(name);
    }
    closedir(listing);
    return true;
}
#endif

// True when `name` matches `pattern`: '*' stands for any run of characters,
// '?' for one character (a UTF-8 sequence counts as one), anything else for
// itself. The last '*' met is tried with ever longer runs (no backtracking
// beyond it is ever needed), so a match takes time linear in each length.
bool matchesPattern(const char *pattern, const char *name) {
    const char *star = nullptr, *resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern != '\0' && *pattern == *name)) {
            bool any = *pattern++ == '?';
            ++name;
            while (any && (static_cast<unsigned char>(*name) & 0xC0) == 0x80) ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
            while ((static_cast<unsigned char>(*name) & 0xC0) == 0x80) name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

// Reads exactly image.bytes.size() bytes; one more would mean the file grew
// since its size was taken.
bool readWhole(int file, ImageBuffer &image) {
    size_t done = 0;
    while (done < image.bytes.size()) {
        auto got = readSome(file, image.bytes.data() + done, image.bytes.size() - done);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    uint8_t extra;
    return readSome(file, &extra, 1) == 0;
}

}  // namespace

bool isFolder(const std::string &path) { return folderAt(path); }

HostFiles hostFilesOf(const std::string &path) {
    HostFiles found{{}, HostFilesKind::One, true};
    size_t nameStart = fileNameStart(path);
    std::string last = path.substr(nameStart);
    std::string folder = path.substr(0, nameStart);
    bool pattern = last.find_first_of("*?") != std::string::npos;
    if (!pattern && !folderAt(path)) {
        found.paths.push_back(path);
        return found;
    }
    if (!pattern) {
        folder = path;
        if (fileNameStart(folder) != folder.size()) folder += '/';
        last.assign(1, '*');
    }
    found.kind = pattern ? HostFilesKind::Pattern : HostFilesKind::Folder;
    std::vector<std::string> names;
    found.readable = regularFilesIn(folder, names);
    std::sort(names.begin(), names.end());
    // As a shell's '*' does, only a pattern that begins with '.' takes a hidden file.
    for (const std::string &name : names)
        if ((name[0] != '.' || last[0] == '.') && matchesPattern(last.c_str(), name.c_str()))
            found.paths.push_back(folder + name);
    return found;
}

int imageExists(const std::string &path) {
#ifdef _WIN32
    // Windows refuses to open a folder, where Linux opens it and fails the
    // read; counting a folder as present makes both report it as unreadable.
    std::FILE *file = _wfopen(widePath(path).c_str(), L"r");
    if (!file) {
        DWORD attributes = GetFileAttributesW(widePath(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    }
    std::fclose(file);
    return 1;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return 0;
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return 1;
    int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) return 0;
    close(file);
    return 1;
#endif
}

LoadResult loadImage(const std::string &path, ImageBuffer &image, uint64_t &fileSize) {
    LoadResult result;
    fileSize = 0;
    int file = openRegularFile(path, fileSize, result);
    if (file < 0) {
        if (result != LoadResult::CannotOpen) image.bytes.clear();
        return result;
    }
    result = LoadResult::TooLarge;
    if (fileSize <= kMaxImageFileSize) {
        image.bytes.resize(static_cast<size_t>(fileSize));
        result = readWhole(file, image) ? LoadResult::Loaded : LoadResult::CannotRead;
    }
    closeFile(file);
    if (result != LoadResult::Loaded) image.bytes.clear();
    image.shape = shapeForSize(image.bytes.size());
    return result;
}

LoadResult openReadableFile(const std::string &path, ReadableFile &file) {
    LoadResult result;
    file.handle = openRegularFile(path, file.size, result);
    return file.handle < 0 ? result : LoadResult::Loaded;
}

bool readFileAt(const ReadableFile &file, uint64_t at, uint8_t *into, size_t count) {
    if (!seekTo(file.handle, at)) return false;
    size_t done = 0;
    while (done < count) {
        auto got = readSome(file.handle, into + done, count - done);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

void closeReadableFile(ReadableFile &file) {
    if (file.handle >= 0) closeFile(file.handle);
    file.handle = -1;
}

void confirmShape(const std::string &path, ImageBuffer &image) {
    std::string shown = consoleOutsideText(path, ConsoleStream::Error);
    const char *name = shown.c_str();
    const DiskShape &shape = image.shape;
    const DiskFamily *family = shape.family;
    const uint8_t *header = headerBlock(image);
    if (family == &kFamilyD71 && header && !(header[3] & 0x80)) {
        consoleErrorf("WARNING: '%s' is a D71 whose block 18/0 marks it single-sided (byte 03 is $%02x); kestrel "
                      "reads side 1 (tracks 1-35) only and leaves tracks 36-70 as they are.\n",
                      name, header[3]);
        image.shape = singleSided(shape);
    }
    const uint8_t *map = family == &kFamilyD81 ? blockAt(image, shape.systemTrack, 1) : nullptr;
    if (map && (header[2] != 0x44 || map[2] != 0x44 || map[3] != 0xBB))
        consoleErrorf("WARNING: '%s' has the size of a D81, but its header does not look like one (40/0 byte 02 is "
                      "$%02x, 40/1 bytes 02-03 are $%02x $%02x, where a 1581 writes $44 and $44 $BB); kestrel reads "
                      "it as a D81.\n",
                      name, header[2], map[2], map[3]);
    if (map && header[1] != family->directorySector)
        consoleErrorf("WARNING: '%s': block 40/0 starts the directory at 40/%i, not 40/%i; kestrel reads it from "
                      "there, as a 1581 does.\n",
                      name, header[1], family->directorySector);
    std::string extension = fileExtension(path);
    if (familyNamed(extension.c_str()) && extension != family->name)
        consoleErrorf("WARNING: '%s' is named .%s, but its size (%llu bytes) is %s %s image; kestrel "
                      "reads it as a %s image.\n",
                      name, extension.c_str(), static_cast<unsigned long long>(image.bytes.size()),
                      image.shape.exactSize ? "that of a" : "no known size, which is read as a", family->name,
                      family->name);
}

const DiskFamily *familyOfExtension(const std::string &extension) {
    if (extension == "g64") return &kFamilyD64;
    if (extension == "g71") return &kFamilyD71;
    return familyNamed(extension.c_str());
}

std::string decodeGcrFile(const std::string &path, ImageBuffer &image) {
    if (!isGcrImage(image.bytes.data(), image.bytes.size())) return "";
    std::string problem = readGcrImage(image);
    if (!problem.empty() || !image.gcr) return problem;
    std::string shown = consoleOutsideText(path, ConsoleStream::Error);
    for (const std::string &fault : image.gcr->faults) consoleErrorf("WARNING: '%s': %s.\n", shown.c_str(), fault.c_str());
    return "";
}

ImageFileOut imageFileOut(const ImageBuffer &image, const std::string &path) {
    ImageFileOut out{image.bytes.data(), image.bytes.size(), {}, {}};
    std::string extension = fileExtension(path);
    if (extension == "nib" || extension == "nbz")
        out.problem = "cannot be written as '" + consoleOutsideText(path, ConsoleStream::Error) +
                      "': kestrel reads NIB and NBZ dumps but does not write them (name a .g64 or .d64)";
    else if (extension == "g64" || extension == "g71") out.problem = gcrFileBytes(image, extension == "g71", out.made);
    else if (image.gcr) blockFileBytes(image, out.made);
    else return out;
    out.data = out.made.data();
    out.size = out.made.size();
    return out;
}

int saveImage(const ImageBuffer &image, const std::string &path) {
    ImageFileOut out = imageFileOut(image, path);
    if (!out.problem.empty()) return 1;
    WriteResult result = writeWholeFile(path, out.data, out.size, WriteMode::Replace);
    return result == WriteResult::Written ? 0 : 1;
}

bool defaultDestination(const std::string &source, const char *format, std::string &destination) {
    size_t componentStart = fileNameStart(source);
    size_t dot = source.find_last_of('.');
    if (dot == std::string::npos || dot < componentStart) return false;
    destination = source.substr(0, dot) + ".out." + format;
    return true;
}
