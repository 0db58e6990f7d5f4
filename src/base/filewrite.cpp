// Whole-file writes (see filewrite.h). The steps are the same on every
// platform and live at the bottom; the system calls behind them are in one
// POSIX and one Windows section.
#include "base/filewrite.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <climits>
#endif

namespace {

// How often a temporary name is drawn again when the one drawn is taken.
constexpr int kTemporaryAttempts = 64;

// The folder part of `path` up to and with its last separator; "" for a bare
// name, which lives in the working folder.
std::string folderOf(const std::string &path) { return path.substr(0, fileNameStart(path)); }

// 64 bits nobody can guess; should the system give no random source, the
// clock stands in (the exclusive create keeps that safe, only less private).
unsigned long long randomBits() {
    try {
        std::random_device source;
        return static_cast<unsigned long long>(source()) << 32 ^ source();
    } catch (const std::exception &) {
        return static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
}

// A temporary name in `folder`: ".kestrel-", twelve random letters and digits,
// ".tmp". Short, so that it fits wherever the destination's own name fits.
std::string temporaryNameIn(const std::string &folder) {
    static const char kCharacters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned long long bits = randomBits();
    std::string name = folder + ".kestrel-";
    for (int i = 0; i < 12; ++i, bits /= 36) name += kCharacters[bits % 36];
    return name + ".tmp";
}

// What stands at a name before the write.
enum class NameState { Free, RegularFile, OtherKind };

#ifdef _WIN32
// ---- Windows ------------------------------------------------------------------

using TemporaryFile = HANDLE;

struct OldFile {
    DWORD attributes = 0;
};

// A name that is a link (a reparse point) becomes the final path of what it
// links to. A link whose target cannot be opened is refused (false): Windows
// gives no plain way to learn where it would lead.
bool followLinks(std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char resolved[MAX_PATH * 4];
    DWORD length = GetFinalPathNameByHandleA(file, resolved, sizeof resolved, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= sizeof resolved) return false;
    path.assign(resolved, length);
    return true;
}

// Opens the name without any access right, which works on files, folders and
// devices alike, and asks what it is.
NameState inspectName(const std::string &path, OldFile &old) {
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NameState::Free : NameState::OtherKind;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                   !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (regular) old.attributes = info.dwFileAttributes;
    CloseHandle(file);
    return regular ? NameState::RegularFile : NameState::OtherKind;
}

bool somethingAt(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A new temporary file in `folder`, created only if the name is free.
bool createTemporary(const std::string &folder, TemporaryFile &file, std::string &name) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        name = temporaryNameIn(folder);
        file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return true;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

// Writes all bytes, forces them to the device and closes the file.
bool fillTemporary(TemporaryFile file, const uint8_t *bytes, size_t size, const OldFile *) {
    bool good = true;
    while (good && size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        good = WriteFile(file, bytes, chunk, &written, nullptr) && written == chunk;
        bytes += written;
        size -= written;
    }
    good = good && FlushFileBuffers(file);
    return CloseHandle(file) && good;
}

// The old file's attributes that say how it is shown (hidden, system,
// archive, not indexed) go to the new one; a read-only file is never replaced.
void keepAttributes(const std::string &name, const OldFile *old) {
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (old && (old->attributes & kept)) SetFileAttributesA(name.c_str(), old->attributes & kept);
}

WriteResult moveIntoPlace(const std::string &temporary, const std::string &target, WriteMode mode,
                          const OldFile *old) {
    keepAttributes(temporary, old);
    DWORD flags = MOVEFILE_WRITE_THROUGH | (mode == WriteMode::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(temporary.c_str(), target.c_str(), flags)) return WriteResult::Written;
    DWORD error = GetLastError();
    bool taken = mode == WriteMode::CreateNew && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
    return taken ? WriteResult::AlreadyExists : WriteResult::Failed;
}

void removeName(const std::string &path) { DeleteFileA(path.c_str()); }

// MoveFileEx itself refuses to replace a read-only file.
bool mayReplace(const std::string &) { return true; }

void syncFolder(const std::string &) {}  // MOVEFILE_WRITE_THROUGH has done it

struct WriteGuard {};

#else
// ---- POSIX --------------------------------------------------------------------

using TemporaryFile = int;
using OldFile = struct stat;

// How many links a name may lead through, as the system itself allows.
constexpr int kMaxLinkHops = 40;

// The rule the system applies itself (fs.protected_symlinks): a link in a
// sticky folder that everyone may write, such as /tmp, may have been planted
// by another user to send the write elsewhere; it is trusted only when it
// belongs to the process's user or to the folder's owner. Resolving the link
// here, and then renaming over its target, would bypass the system's check.
bool plantedByOthers(const std::string &link, const struct stat &info) {
    std::string folder = folderOf(link);
    struct stat around;
    if (stat(folder.empty() ? "." : folder.c_str(), &around) != 0) return true;
    bool shared = (around.st_mode & S_ISVTX) && (around.st_mode & S_IWOTH);
    return shared && info.st_uid != geteuid() && info.st_uid != around.st_uid;
}

// Follows `path` through symbolic links to the name that finally holds the
// file; a dangling link gives the name it points to. A relative link counts
// from the folder of the link. False on a loop or an unreadable link.
bool followLinks(std::string &path) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        if (plantedByOthers(path, info)) return false;
        char target[PATH_MAX];
        ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || length >= static_cast<ssize_t>(sizeof target)) return false;
        std::string next(target, static_cast<size_t>(length));
        path = next[0] == '/' ? next : folderOf(path) + next;
    }
    return false;
}

NameState inspectName(const std::string &path, OldFile &old) {
    if (lstat(path.c_str(), &old) != 0) return NameState::Free;  // the create in its folder tells the rest
    return S_ISREG(old.st_mode) ? NameState::RegularFile : NameState::OtherKind;
}

// A rename would replace a file that the process may not write (the folder's
// permission is all rename asks for): such a file is left alone, as cp and
// shell redirections leave it.
bool mayReplace(const std::string &path) { return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0; }

bool somethingAt(const std::string &path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// A new temporary file in `folder`: created exclusively (a file or link
// planted at the name makes the open fail, never followed), readable and
// writable by its owner only until it is complete.
bool createTemporary(const std::string &folder, TemporaryFile &file, std::string &name) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        name = temporaryNameIn(folder);
        file = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file >= 0) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

// The mode a new file gets from the umask.
mode_t newFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The old file's owner and group where the process may set them, then its
// permission bits (after the owner, whose change would clear them); a new
// file gets the umask's mode. A file system that keeps no such bits is left
// as it is.
void keepAttributes(TemporaryFile file, const OldFile *old) {
    if (!old) {
        (void)fchmod(file, newFileMode());
        return;
    }
    if (fchown(file, old->st_uid, old->st_gid) != 0 && fchown(file, static_cast<uid_t>(-1), old->st_gid) != 0) {
        // Neither is allowed: the file keeps the writer's owner and group.
    }
    (void)fchmod(file, old->st_mode & 0777);
}

// Writes all bytes, takes over the attributes, forces everything to the
// device and closes the file.
bool fillTemporary(TemporaryFile file, const uint8_t *bytes, size_t size, const OldFile *old) {
    bool good = true;
    while (good && size > 0) {
        ssize_t written = write(file, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        good = written > 0;
        if (good) {
            bytes += written;
            size -= static_cast<size_t>(written);
        }
    }
    if (good) keepAttributes(file, old);
    good = good && (fsync(file) == 0 || errno == EINVAL);
    return close(file) == 0 && good;
}

// Moves without replacing: renameat2 where the system and file system have
// it, else a hard link (which never replaces) and the removal of the old name.
WriteResult moveWithoutReplacing(const std::string &temporary, const std::string &target) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return WriteResult::Written;
    if (errno == EEXIST) return WriteResult::AlreadyExists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return WriteResult::Failed;
#endif
    if (link(temporary.c_str(), target.c_str()) != 0)
        return errno == EEXIST ? WriteResult::AlreadyExists : WriteResult::Failed;
    unlink(temporary.c_str());
    return WriteResult::Written;
}

WriteResult moveIntoPlace(const std::string &temporary, const std::string &target, WriteMode mode, const OldFile *) {
    if (mode == WriteMode::CreateNew) return moveWithoutReplacing(temporary, target);
    return std::rename(temporary.c_str(), target.c_str()) == 0 ? WriteResult::Written : WriteResult::Failed;
}

void removeName(const std::string &path) { unlink(path.c_str()); }

// Makes the new name itself durable; a folder that cannot be synced is no
// failure of the write, which is complete.
void syncFolder(const std::string &folder) {
    int handle = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) return;
    (void)fsync(handle);
    close(handle);
}

// A file-size limit lets the write fail (EFBIG) instead of ending the
// process with SIGXFSZ, for as long as the guard lives.
struct WriteGuard {
    struct sigaction saved;
    WriteGuard() {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &saved);
    }
    ~WriteGuard() { sigaction(SIGXFSZ, &saved, nullptr); }
};
#endif

}  // namespace

bool nameTaken(const std::string &path) { return somethingAt(path); }

void letFileSizeLimitFailWrites() {
#ifndef _WIN32
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

size_t fileNameStart(const std::string &path) {
#ifdef _WIN32
    size_t separator = path.find_last_of("/\\:");
#else
    size_t separator = path.find_last_of('/');
#endif
    return separator == std::string::npos ? 0 : separator + 1;
}

// ---- The steps ------------------------------------------------------------------

WriteResult writeWholeFile(const std::string &path, const uint8_t *bytes, size_t size, WriteMode mode) {
    std::string target = path;
    OldFile old{};
    bool replacing = false;
    if (mode == WriteMode::Replace) {
        if (!followLinks(target)) return WriteResult::Failed;
        NameState state = inspectName(target, old);
        if (state == NameState::OtherKind) return WriteResult::NotRegular;
        replacing = state == NameState::RegularFile;
        if (replacing && !mayReplace(target)) return WriteResult::Failed;
    } else if (somethingAt(path)) {
        return WriteResult::AlreadyExists;
    }

    [[maybe_unused]] WriteGuard guard;
    TemporaryFile file;
    std::string temporary;
    if (!createTemporary(folderOf(target), file, temporary)) return WriteResult::Failed;
    const OldFile *kept = replacing ? &old : nullptr;
    WriteResult result = WriteResult::Failed;
    if (fillTemporary(file, bytes, size, kept)) result = moveIntoPlace(temporary, target, mode, kept);
    if (result == WriteResult::Written) syncFolder(folderOf(target));
    else removeName(temporary);
    return result;
}

WriteResult writeNewFile(NewFiles &files, const std::string &path, const uint8_t *bytes, size_t size) {
    WriteResult result = writeWholeFile(path, bytes, size, WriteMode::CreateNew);
    if (result == WriteResult::Written) files.paths.push_back(path);
    return result;
}

void removeNewFiles(NewFiles &files) {
    for (const std::string &path : files.paths) removeName(path);
    files.paths.clear();
}
