// Whole-file writes (see filewrite.h). The steps are the same on every
// platform and live at the bottom; the system calls behind them are in one
// POSIX and one Windows section.
#include "base/filewrite.h"

#include <algorithm>
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
// The system's source is asked once a run; each call after that steps a
// SplitMix64 sequence from that seed (an -x of many files draws a name each).
unsigned long long randomBits() {
    static unsigned long long state = [] {
        try {
            std::random_device source;
            return static_cast<unsigned long long>(source()) << 32 ^ source();
        } catch (const std::exception &) {
            return static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
        }
    }();
    unsigned long long bits = state += 0x9E3779B97F4A7C15ull;
    bits = (bits ^ bits >> 30) * 0xBF58476D1CE4E5B9ull;
    bits = (bits ^ bits >> 27) * 0x94D049BB133111EBull;
    return bits ^ bits >> 31;
}

// A temporary name in `folder`: ".kestrel-", twelve random letters and digits
// (5 bits each), ".tmp". Short, so that it fits wherever the destination's
// own name fits.
std::string temporaryNameIn(const std::string &folder) {
    static const char kCharacters[] = "abcdefghijklmnopqrstuvwxyz012345";
    unsigned long long bits = randomBits();
    char random[12];
    for (int i = 0; i < 12; ++i, bits >>= 5) random[i] = kCharacters[bits & 31];
    std::string name = folder;
    name.append(".kestrel-").append(random, sizeof random).append(".tmp");
    return name;
}

// Set once SIGXFSZ is ignored for the whole run: no write needs a guard then.
[[maybe_unused]] bool sizeLimitFailsWrites = false;

// What stands at a name before the write.
enum class NameState { Free, RegularFile, OtherKind };

#ifdef _WIN32
// ---- Windows ------------------------------------------------------------------

using TemporaryFile = HANDLE;

DWORD attributesOf(const std::string &path) { return GetFileAttributesW(widePath(path).c_str()); }

HANDLE openForQuery(const std::string &path) {
    return CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The UTF-8 form of a wide path the system gave back.
std::string utf8Path(const wchar_t *path, int length) {
    int size = WideCharToMultiByte(CP_UTF8, 0, path, length, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, path, length, result.data(), size, nullptr, nullptr);
    return result;
}

struct OldFile {
    DWORD attributes = 0;
};

// A name that is a link (a reparse point) becomes the final path of what it
// links to. A link whose target cannot be opened is refused (false): Windows
// gives no plain way to learn where it would lead.
bool followLinks(std::string &path) {
    DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    HANDLE file = openForQuery(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    wchar_t resolved[MAX_PATH * 4];
    DWORD capacity = sizeof resolved / sizeof resolved[0];
    DWORD length = GetFinalPathNameByHandleW(file, resolved, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= capacity) return false;
    path = utf8Path(resolved, static_cast<int>(length));
    return true;
}

// Opens the name without any access right, which works on files, folders and
// devices alike, and asks what it is.
NameState inspectName(const std::string &path, OldFile &old) {
    HANDLE file = openForQuery(path);
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

// Windows writes by path: a folder is named by the path in front of a name.
constexpr int kWorkingFolder = -1;
int folderHandle(const OutputFolder *) { return kWorkingFolder; }
std::string pathInFolder(const OutputFolder *folder, const std::string &name) {
    return folder ? folder->shown + name : name;
}

bool somethingAt(int, const std::string &path) { return attributesOf(path) != INVALID_FILE_ATTRIBUTES; }

// A new temporary file in `folder`, created only if the name is free.
bool createTemporary(int, const std::string &folder, TemporaryFile &file, std::string &name) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        name = temporaryNameIn(folder);
        file = CreateFileW(widePath(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return true;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

// Writes all bytes, forces them to the device (always: Windows has no sync
// of a whole file system for a batch) and closes the file.
bool fillTemporary(TemporaryFile file, const uint8_t *bytes, size_t size, const OldFile *, bool) {
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
    if (old && (old->attributes & kept)) SetFileAttributesW(widePath(name).c_str(), old->attributes & kept);
}

WriteResult moveIntoPlace(int, const std::string &temporary, const std::string &target, WriteMode mode,
                          const OldFile *old) {
    keepAttributes(temporary, old);
    DWORD flags = MOVEFILE_WRITE_THROUGH | (mode == WriteMode::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(widePath(temporary).c_str(), widePath(target).c_str(), flags)) return WriteResult::Written;
    DWORD error = GetLastError();
    bool taken = mode == WriteMode::CreateNew && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
    return taken ? WriteResult::AlreadyExists : WriteResult::Failed;
}

void removeName(int, const std::string &path) { DeleteFileW(widePath(path).c_str()); }

// MoveFileEx itself refuses to replace a read-only file.
bool mayReplace(const std::string &) { return true; }

void syncFolder(int, const std::string &) {}  // MOVEFILE_WRITE_THROUGH has done it

// Where a path's first folder name begins: after a drive ("C:") and the
// separators of a path from the root.
size_t rootLength(const std::string &path) {
    size_t at = path.find_first_not_of("/\\", path.size() >= 2 && path[1] == ':' ? 2 : 0);
    return at == std::string::npos ? path.size() : at;
}

// One folder of the path, `prefix` up to and with it: looked at before it is
// entered, made when missing.
FolderResult enterFolder(const std::string &prefix, OutputFolder &folder) {
    DWORD attributes = attributesOf(prefix);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!CreateDirectoryW(widePath(prefix).c_str(), nullptr)) return FolderResult::Failed;
        folder.made.push_back(prefix);
        attributes = attributesOf(prefix);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return FolderResult::Failed;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderResult::ThroughLink;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? FolderResult::Opened : FolderResult::NotAFolder;
}

FolderResult walkFolders(const std::string &path, OutputFolder &folder, std::string &failedAt) {
    for (size_t at = rootLength(path); at < path.size();) {
        size_t end = std::min(path.find_first_of("/\\", at), path.size());
        if (end > at) {
            failedAt = path.substr(0, end);
            FolderResult result = enterFolder(failedAt, folder);
            if (result != FolderResult::Opened) return result;
        }
        at = end + 1;
    }
    return FolderResult::Opened;
}

void removeMadeFolders(OutputFolder &folder) {
    for (size_t i = folder.made.size(); i-- > 0;) RemoveDirectoryW(widePath(folder.made[i]).c_str());
}

void closeFolderHandles(OutputFolder &) {}

// Windows: Ctrl+C ends a console program without the signals of POSIX; the
// guard has nothing to do.
void armGuard() {}
void disarmGuard() {}
bool createGuarded(int at, const std::string &folder, TemporaryFile &file, std::string &name) {
    return createTemporary(at, folder, file, name);
}
void forgetTemporaries(int, const std::vector<std::string> &) {}
struct InterruptionsHeld {};

// Each file was flushed as it was written.
bool syncWaitingData(const NewFiles &) { return true; }

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

// A folder held open is the descriptor its names are relative to.
constexpr int kWorkingFolder = AT_FDCWD;
int folderHandle(const OutputFolder *folder) { return folder && folder->handle >= 0 ? folder->handle : kWorkingFolder; }
std::string pathInFolder(const OutputFolder *, const std::string &name) { return name; }

bool somethingAt(int at, const std::string &path) {
    struct stat info;
    return fstatat(at, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// A new temporary file in `folder`: created exclusively (a file or link
// planted at the name makes the open fail, never followed), readable and
// writable by its owner only until it is complete.
bool createTemporary(int at, const std::string &folder, TemporaryFile &file, std::string &name) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
        name = temporaryNameIn(folder);
        file = openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
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
// device when `syncNow` says so (a batch syncs its files together later) and
// closes the file.
bool fillTemporary(TemporaryFile file, const uint8_t *bytes, size_t size, const OldFile *old, bool syncNow) {
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
    if (syncNow) good = good && (fsync(file) == 0 || errno == EINVAL);
    return close(file) == 0 && good;
}

// Moves without replacing: renameat2 where the system and file system have
// it, else a hard link (which never replaces) and the removal of the old name.
WriteResult moveWithoutReplacing(int at, const std::string &temporary, const std::string &target) {
#ifdef RENAME_NOREPLACE
    if (renameat2(at, temporary.c_str(), at, target.c_str(), RENAME_NOREPLACE) == 0) return WriteResult::Written;
    if (errno == EEXIST) return WriteResult::AlreadyExists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return WriteResult::Failed;
#endif
    if (linkat(at, temporary.c_str(), at, target.c_str(), 0) != 0)
        return errno == EEXIST ? WriteResult::AlreadyExists : WriteResult::Failed;
    unlinkat(at, temporary.c_str(), 0);
    return WriteResult::Written;
}

WriteResult moveIntoPlace(int at, const std::string &temporary, const std::string &target, WriteMode mode,
                          const OldFile *) {
    if (mode == WriteMode::CreateNew) return moveWithoutReplacing(at, temporary, target);
    // Replace writes in the working folder only.
    return std::rename(temporary.c_str(), target.c_str()) == 0 ? WriteResult::Written : WriteResult::Failed;
}

void removeName(int at, const std::string &path) { unlinkat(at, path.c_str(), 0); }

// Makes the new name itself durable; a folder that cannot be synced is no
// failure of the write, which is complete.
void syncFolder(int at, const std::string &folder) {
    int handle = openat(at, folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) return;
    (void)fsync(handle);
    close(handle);
}

// The data of a batch's temporary files, made durable once for all of them:
// Linux syncs the file system of each folder they are in (one call for the
// run instead of one a file), and should that fail, each file in turn, which
// also tells whose data could not be written. Elsewhere each file was synced
// as it was written.
bool syncWaitingData(const NewFiles &files) {
#ifdef __linux__
    int at = folderHandle(files.folder);
    std::vector<std::string> folders;
    for (const std::string &temporary : files.temporaries)
        if (std::find(folders.begin(), folders.end(), folderOf(temporary)) == folders.end())
            folders.push_back(folderOf(temporary));
    bool good = true;
    for (const std::string &folder : folders) {
        int handle = openat(at, folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bool synced = handle >= 0 && syncfs(handle) == 0;
        if (handle >= 0) close(handle);
        for (size_t i = 0; !synced && i < files.temporaries.size(); ++i) {
            if (folderOf(files.temporaries[i]) != folder) continue;
            int file = openat(at, files.temporaries[i].c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            good = good && file >= 0 && (fsync(file) == 0 || errno == EINVAL);
            if (file >= 0) close(file);
        }
    }
    return good;
#else
    (void)files;
    return true;
#endif
}

// The signals that end a run from outside while a temporary file exists:
// the terminal's Ctrl+C and hang-up, and kill's default.
const int kInterruptions[] = {SIGHUP, SIGINT, SIGTERM};
constexpr int kInterruptionCount = sizeof kInterruptions / sizeof kInterruptions[0];

// The temporary files a signal takes away, each by the folder it is relative
// to and its name. Changed only while the interruptions are held off, so a
// handler never meets it half-changed; the handler reads the first
// `pendingCount` entries and allocates nothing.
struct Pending {
    int at;
    std::string name;
};
std::vector<Pending> pending;
volatile sig_atomic_t pendingCount = 0;
int guardDepth = 0;  // armGuard calls not yet matched by disarmGuard
struct sigaction savedSizeLimit;
bool sizeLimitSet = false;
struct sigaction savedInterruptions[kInterruptionCount];
bool caught[kInterruptionCount] = {};

// Removes the temporary files, then gives the signal to the action it had
// before the write (the viewer's terminal restore, or the default end).
void removeTemporariesAndEnd(int signalNumber) {
    for (sig_atomic_t i = 0; i < pendingCount; ++i) unlinkat(pending[i].at, pending[i].name.c_str(), 0);
    pendingCount = 0;
    for (int i = 0; i < kInterruptionCount; ++i)
        if (kInterruptions[i] == signalNumber) sigaction(signalNumber, &savedInterruptions[i], nullptr);
    raise(signalNumber);  // delivered once the handler returns
}

// For as long as it lives, SIGHUP, SIGINT and SIGTERM wait; one that came
// meanwhile is delivered at its end.
struct InterruptionsHeld {
    sigset_t before;
    InterruptionsHeld() {
        sigset_t interruptions;
        sigemptyset(&interruptions);
        for (int signalNumber : kInterruptions) sigaddset(&interruptions, signalNumber);
        sigprocmask(SIG_BLOCK, &interruptions, &before);
    }
    ~InterruptionsHeld() { sigprocmask(SIG_SETMASK, &before, nullptr); }
};

// From armGuard until the matching disarmGuard (a write, or a batch from its
// first file until its files are named or removed): a file-size limit lets
// the write fail (EFBIG) instead of ending the process with SIGXFSZ, and
// SIGHUP, SIGINT or SIGTERM remove the temporary files before they end the
// process (a signal the process was started ignoring stays ignored).
void armGuard() {
    if (guardDepth++ > 0) return;
    sizeLimitSet = !sizeLimitFailsWrites;  // SIGXFSZ is not ignored for the whole run already
    if (sizeLimitSet) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &savedSizeLimit);
    }
    struct sigaction remove = {};
    remove.sa_handler = removeTemporariesAndEnd;
    sigemptyset(&remove.sa_mask);
    for (int i = 0; i < kInterruptionCount; ++i) {
        caught[i] = false;
        if (sigaction(kInterruptions[i], nullptr, &savedInterruptions[i]) != 0 ||
            savedInterruptions[i].sa_handler == SIG_IGN)
            continue;
        sigaction(kInterruptions[i], &remove, nullptr);
        caught[i] = true;
    }
}

void disarmGuard() {
    if (--guardDepth > 0) return;
    if (sizeLimitSet) sigaction(SIGXFSZ, &savedSizeLimit, nullptr);
    for (int i = 0; i < kInterruptionCount; ++i)
        if (caught[i]) sigaction(kInterruptions[i], &savedInterruptions[i], nullptr);
}

// createTemporary, with the signals held off until the name is where the
// handler finds it.
bool createGuarded(int at, const std::string &folder, TemporaryFile &file, std::string &name) {
    InterruptionsHeld held;
    bool created = createTemporary(at, folder, file, name);
    if (created) {
        pending.push_back({at, name});
        pendingCount = static_cast<sig_atomic_t>(pending.size());
    }
    return created;
}

// The temporary files `names` (in folder `at`) have their names or are gone:
// a signal has nothing left to remove of them.
void forgetTemporaries(int at, const std::vector<std::string> &names) {
    InterruptionsHeld held;
    std::erase_if(pending, [&](const Pending &entry) {
        return entry.at == at && std::find(names.begin(), names.end(), entry.name) != names.end();
    });
    pendingCount = static_cast<sig_atomic_t>(pending.size());
}

// Opens the folder `name` in `parent` without following a link, making it
// when it is missing (`made` then says so).
FolderResult openFolderIn(int parent, const std::string &name, int &opened, bool &made) {
    made = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        opened = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (opened >= 0) return FolderResult::Opened;
        if (errno != ENOENT || made) break;
        if (mkdirat(parent, name.c_str(), 0777) == 0) made = true;
        else if (errno != EEXIST) return FolderResult::Failed;
    }
    struct stat info;
    if (fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(info.st_mode))
        return FolderResult::Failed;
    return S_ISLNK(info.st_mode) ? FolderResult::ThroughLink : FolderResult::NotAFolder;
}

// Each folder of the path in turn, relative to the one before. The folder a
// new one is made in stays open (for its removal), the others are closed.
FolderResult walkFolders(const std::string &path, OutputFolder &folder, std::string &failedAt) {
    failedAt = path.substr(0, 1);
    int current = path[0] == '/' ? open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
    if (current == -1) return FolderResult::Failed;
    for (size_t at = 0; at < path.size();) {
        size_t end = std::min(path.find('/', at), path.size());
        if (end > at) {
            failedAt = path.substr(0, end);
            int next = -1;
            bool made = false;
            FolderResult result = openFolderIn(current, path.substr(at, end - at), next, made);
            if (made) {
                folder.made.push_back(path.substr(at, end - at));
                folder.madeIn.push_back(current);
            } else if (current >= 0) {
                close(current);
            }
            current = next;
            if (result != FolderResult::Opened) return result;
        }
        at = end + 1;
    }
    folder.handle = current;
    return FolderResult::Opened;
}

void removeMadeFolders(OutputFolder &folder) {
    for (size_t i = folder.made.size(); i-- > 0;) unlinkat(folder.madeIn[i], folder.made[i].c_str(), AT_REMOVEDIR);
}

void closeFolderHandles(OutputFolder &folder) {
    for (int handle : folder.madeIn)
        if (handle >= 0) close(handle);
    if (folder.handle >= 0) close(folder.handle);
    folder.madeIn.clear();
    folder.handle = -1;
}
#endif

}  // namespace

void letFileSizeLimitFailWrites() {
#ifndef _WIN32
    std::signal(SIGXFSZ, SIG_IGN);
    sizeLimitFailsWrites = true;
#endif
}

#ifdef _WIN32
std::wstring widePath(const std::string &path) {
    int size = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring result(size > 0 ? size : 0, L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), result.data(), size);
    return result;
}
#endif

size_t fileNameStart(const std::string &path) {
#ifdef _WIN32
    size_t separator = path.find_last_of("/\\:");
#else
    size_t separator = path.find_last_of('/');
#endif
    return separator == std::string::npos ? 0 : separator + 1;
}

std::string fileExtension(const std::string &path) {
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < fileNameStart(path)) return "";
    std::string extension = path.substr(dot + 1);
    for (char &c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

// ---- The steps ------------------------------------------------------------------

namespace {

// A batch's files are synced together (syncWaitingData) where the system
// can sync a whole file system; elsewhere each file as it is written.
#ifdef __linux__
constexpr bool kSyncEachFile = false;
#else
constexpr bool kSyncEachFile = true;
#endif

// Arms the guard for as long as it lives.
struct Guarded {
    Guarded() { armGuard(); }
    ~Guarded() { disarmGuard(); }
    Guarded(const Guarded &) = delete;
    Guarded &operator=(const Guarded &) = delete;
};

// The write, with `path` relative to `at` (a folder held open, or the working
// folder); Replace is only asked for in the working folder.
WriteResult writeIn(int at, const std::string &path, const uint8_t *bytes, size_t size, WriteMode mode) {
    std::string target = path;
    OldFile old{};
    bool replacing = false;
    if (mode == WriteMode::Replace) {
        if (!followLinks(target)) return WriteResult::Failed;
        NameState state = inspectName(target, old);
        if (state == NameState::OtherKind) return WriteResult::NotRegular;
        replacing = state == NameState::RegularFile;
        if (replacing && !mayReplace(target)) return WriteResult::Failed;
    } else if (somethingAt(at, path)) {
        return WriteResult::AlreadyExists;
    }

    Guarded guard;
    TemporaryFile file;
    std::string temporary;
    std::string folder = folderOf(target);
    if (!createGuarded(at, folder, file, temporary)) return WriteResult::Failed;
    const OldFile *kept = replacing ? &old : nullptr;
    WriteResult result = WriteResult::Failed;
    if (fillTemporary(file, bytes, size, kept, true)) result = moveIntoPlace(at, temporary, target, mode, kept);
    if (result != WriteResult::Written) removeName(at, temporary);
    forgetTemporaries(at, {temporary});
    if (result == WriteResult::Written) syncFolder(at, folder);
    return result;
}

}  // namespace

WriteResult writeWholeFile(const std::string &path, const uint8_t *bytes, size_t size, WriteMode mode) {
    return writeIn(kWorkingFolder, path, bytes, size, mode);
}

FolderResult openOutputFolder(const std::string &path, OutputFolder &folder, std::string &failedAt) {
    folder = OutputFolder{};
    FolderResult result = walkFolders(path, folder, failedAt);
    if (result != FolderResult::Opened) {
        closeOutputFolder(folder, true);
        return result;
    }
    folder.shown = path;
    if (fileNameStart(path) != path.size()) folder.shown += '/';
    return result;
}

void closeOutputFolder(OutputFolder &folder, bool removeMade) {
    if (removeMade) removeMadeFolders(folder);
    closeFolderHandles(folder);
    folder.made.clear();
}

bool nameTaken(const NewFiles &files, const std::string &name) {
    return somethingAt(folderHandle(files.folder), pathInFolder(files.folder, name));
}

WriteResult writeNewFile(NewFiles &files, const std::string &name, const uint8_t *bytes, size_t size) {
    int at = folderHandle(files.folder);
    std::string path = pathInFolder(files.folder, name);
    if (somethingAt(at, path)) return WriteResult::AlreadyExists;
    if (files.waiting.empty()) armGuard();  // until the batch is named or removed
    TemporaryFile file;
    std::string temporary;
    bool written = createGuarded(at, folderOf(path), file, temporary);
    if (written && !fillTemporary(file, bytes, size, nullptr, kSyncEachFile)) {
        removeName(at, temporary);
        forgetTemporaries(at, {temporary});
        written = false;
    }
    if (!written) {
        if (files.waiting.empty()) disarmGuard();
        return WriteResult::Failed;
    }
    files.waiting.push_back(name);
    files.temporaries.push_back(temporary);
    return WriteResult::Written;
}

namespace {

// Syncs each folder the run's names are in once, so that the names are
// durable: one folder sync for a run of files instead of one a file.
void syncFoldersOf(const NewFiles &files) {
    // The names of one run share a folder unless they are paths (the working
    // folder's run, where a name may hold one).
    std::vector<std::string> synced;
    for (const std::string &name : files.paths) {
        std::string folder = files.folder ? std::string() : folderOf(name);
        if (std::find(synced.begin(), synced.end(), folder) != synced.end()) continue;
        synced.push_back(folder);
        syncFolder(folderHandle(files.folder), pathInFolder(files.folder, folder));
    }
}

}  // namespace

WriteResult nameNewFiles(NewFiles &files, std::string &failed) {
    if (files.waiting.empty()) return WriteResult::Written;
    int at = folderHandle(files.folder);
    WriteResult result = WriteResult::Written;
    if (!syncWaitingData(files)) {
        result = WriteResult::Failed;
        failed = files.waiting.front();
    }
    {
        // A signal during the renames waits until every file is named or
        // every file is removed: the run ends with all of them or none.
        [[maybe_unused]] InterruptionsHeld held;
        size_t named = 0;
        for (; result == WriteResult::Written && named < files.waiting.size(); ++named) {
            result = moveIntoPlace(at, files.temporaries[named], pathInFolder(files.folder, files.waiting[named]),
                                   WriteMode::CreateNew, nullptr);
            if (result != WriteResult::Written) {
                failed = files.waiting[named];
                break;
            }
            files.paths.push_back(files.waiting[named]);
        }
        // The named files' temporary names are gone; the rest are removed here.
        forgetTemporaries(at, files.temporaries);
        files.waiting.erase(files.waiting.begin(), files.waiting.begin() + static_cast<std::ptrdiff_t>(named));
        files.temporaries.erase(files.temporaries.begin(), files.temporaries.begin() + static_cast<std::ptrdiff_t>(named));
        if (result != WriteResult::Written) {
            removeNewFiles(files);
            return result;
        }
        disarmGuard();
    }
    syncFoldersOf(files);
    return WriteResult::Written;
}

void removeNewFiles(NewFiles &files) {
    int at = folderHandle(files.folder);
    for (const std::string &name : files.paths) removeName(at, pathInFolder(files.folder, name));
    for (const std::string &temporary : files.temporaries) removeName(at, temporary);
    forgetTemporaries(at, files.temporaries);
    if (!files.waiting.empty()) disarmGuard();
    files.paths.clear();
    files.waiting.clear();
    files.temporaries.clear();
}
