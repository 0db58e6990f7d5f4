// Image files.
#include "frontend/imagefile.h"

#include <cstdio>

#include "base/filewrite.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
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

void closeFile(int file) { _close(file); }

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

bool folderAt(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
#endif

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
    return result;
}

int saveImage(const ImageBuffer &image, const std::string &path) {
    WriteResult result = writeWholeFile(path, image.bytes.data(), image.bytes.size(), WriteMode::Replace);
    return result == WriteResult::Written ? 0 : 1;
}

bool defaultDestination(const std::string &source, std::string &destination) {
    size_t componentStart = fileNameStart(source);
    size_t dot = source.find_last_of('.');
    if (dot == std::string::npos || dot < componentStart) return false;
    destination = source.substr(0, dot) + ".out.d64";
    return true;
}
