// Image files.
#include "frontend/imagefile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Separators that end a folder name in a path on this platform.
#ifdef _WIN32
const char kPathSeparators[] = "/\\:";
#else
const char kPathSeparators[] = "/";
#endif

std::string temporaryNameFor(const std::string &path) {
#ifdef _WIN32
    unsigned long id = GetCurrentProcessId();
#else
    unsigned long id = static_cast<unsigned long>(getpid());
#endif
    return path + ".kestrel-" + std::to_string(id) + ".tmp";
}

bool replaceFile(const std::string &from, const std::string &to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// Writes all bytes and forces them to the device before the file is closed.
bool writeAll(std::FILE *file, const ImageBuffer &image) {
    size_t size = image.bytes.size();
    if (size > 0 && std::fwrite(image.bytes.data(), 1, size, file) != size) return false;
    if (std::fflush(file) != 0) return false;
#ifndef _WIN32
    if (fsync(fileno(file)) != 0 && errno != EINVAL) return false;
#endif
    return true;
}

// True when the open name is a folder. A folder opens for reading on Linux and
// its end position can be the largest file offset, a size that must not reach
// the allocator (a sanitized build aborts on it instead of failing).
bool isFolder(std::FILE *file) {
#ifdef _WIN32
    (void)file;
    return false;  // fopen refuses folders here
#else
    struct stat info;
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

int64_t tellPosition(std::FILE *file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<int64_t>(ftello(file));
#endif
}

bool resizeFor(ImageBuffer &image, int64_t size) {
    try {
        image.bytes.resize(static_cast<uint64_t>(size));
    } catch (const std::exception &) {
        return false;
    }
    return true;
}

}  // namespace

int imageExists(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "r");
#ifdef _WIN32
    // Windows refuses to open a folder, where Linux opens it and fails the
    // read; counting a folder as present makes both report it as unreadable.
    if (!file) {
        DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    }
#else
    if (!file) return 0;
#endif
    std::fclose(file);
    return 1;
}

LoadResult loadImage(const std::string &path, ImageBuffer &image) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) return LoadResult::CannotOpen;
    LoadResult result = LoadResult::CannotRead;
    int64_t end = -1;
    if (!isFolder(file) && std::fseek(file, 0, SEEK_END) == 0) end = tellPosition(file);
    // A size no buffer can take, or a read that comes up short, is reported
    // like a folder: the file cannot be read.
    if (end >= 0 && std::fseek(file, 0, SEEK_SET) == 0 && resizeFor(image, end)) {
        size_t got = end > 0 ? std::fread(image.bytes.data(), 1, image.bytes.size(), file) : 0;
        // One more byte would mean the file grew while we read it.
        if (got == image.bytes.size() && std::fgetc(file) == EOF && !std::ferror(file))
            result = LoadResult::Loaded;
    }
    std::fclose(file);
    if (result != LoadResult::Loaded) image.bytes.clear();
    return result;
}

int saveImage(const ImageBuffer &image, const std::string &path) {
    std::string temporary = temporaryNameFor(path);
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (!file) return 1;
    bool written = writeAll(file, image);
    if (std::fclose(file) != 0) written = false;
    if (written && replaceFile(temporary, path)) return 0;
    std::remove(temporary.c_str());
    return 1;
}

std::string fileNameOf(const std::string &path) {
    size_t separator = path.find_last_of(kPathSeparators);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool defaultDestination(const std::string &source, std::string &destination) {
    size_t lastComponent = source.find_last_of(kPathSeparators);
    size_t componentStart = lastComponent == std::string::npos ? 0 : lastComponent + 1;
    size_t dot = source.find_last_of('.');
    if (dot == std::string::npos || dot < componentStart) return false;
    destination = source.substr(0, dot) + ".out.d64";
    return true;
}
