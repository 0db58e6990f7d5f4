// Writing a file whole or not at all: the one way kestrel puts a file on disk
// (destination images, extracted files). The bytes go to a temporary file
// created exclusively, under an unpredictable name, in the folder that will
// hold the file; it is flushed to the device and then moved into place in one
// step. On any failure the temporary file is removed and whatever stood at the
// name before is left as it was. Nothing here prints or ends the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Where the last component of `path` (the file's own name) begins: after the
// last "/", on Windows also after the last backslash or ":"; 0 when none.
size_t fileNameStart(const std::string &path);

// The text after the last "." of the file's own name, in lower case (ASCII),
// which names the kind of file (".D64" gives "d64"); "" when the name has no dot.
std::string fileExtension(const std::string &path);

#ifdef _WIN32
// Windows: the UTF-16 form of a UTF-8 path, for the system's wide calls.
// Arguments arrive as UTF-8 (main takes them from the wide command line), so
// every name reaches the system whole, whatever the console's code page.
std::wstring widePath(const std::string &path);
#endif

// What may stand at the name before the write.
enum class WriteMode {
    // A regular file there is replaced, keeping its permission bits (and, where
    // the process may, its owner and group); one the process may not write
    // (say mode 0444, or another user's) is refused. A symbolic link is
    // followed to its final target, which is written (also when it does not
    // exist yet), and the link stays; as the system itself does, a link in a
    // sticky folder that others may write (/tmp) is followed only when it
    // belongs to the process's user or to the folder's owner. A new file gets
    // the usual mode from the umask.
    Replace,
    // The name must be free: nothing that stands there (a file, a folder, a
    // link, even a dangling one) is ever replaced or followed, also when it
    // appears while the file is being written.
    CreateNew,
};

enum class WriteResult {
    Written,
    NotRegular,     // Replace: a folder, device, FIFO or socket stands at the name (or the link's target)
    AlreadyExists,  // CreateNew: the name is taken
    Failed,         // anything else: no folder, no permission, disk full, size limit, a loop of links,
                    // a link planted in a shared sticky folder
};

// From now on a file-size limit (ulimit -f) makes a write fail, here and on
// the standard streams, instead of ending the process with SIGXFSZ; the
// failure is then reported like any other lost write. Nothing on Windows.
void letFileSizeLimitFailWrites();

// Writes `size` bytes to `path` as `mode` says. Only Written means the file
// changed; every other result leaves the name and the folder as they were.
// A file-size limit makes the write fail instead of ending the process.
WriteResult writeWholeFile(const std::string &path, const uint8_t *bytes, size_t size, WriteMode mode);

// A folder that new files are written into (-x), reached without following
// a symbolic link and, on POSIX, held open: a link planted in its path after
// it was opened cannot send the files elsewhere.
struct OutputFolder {
    std::string shown;              // the path as given, ending in a separator; "" for the working folder
    int handle = -1;                // POSIX: the folder's descriptor; -1 for the working folder
    std::vector<std::string> made;  // the folders the opening made, outermost first (Windows: their paths)
    std::vector<int> madeIn;        // POSIX: the descriptor of the folder each was made in
};

enum class FolderResult {
    Opened,
    NotAFolder,   // a file, FIFO or device stands at a name of the path
    ThroughLink,  // a symbolic link (Windows: a reparse point) stands at a name of the path
    Failed,       // no permission, a name too long, no room, ...
};

// Opens `path` (not empty) as the folder for new files, making each folder of
// the path that is missing (with the umask's mode). Never follows a symbolic
// link, also not one the path itself names: on POSIX each folder is opened
// relative to the one before it with O_NOFOLLOW; on Windows each is looked at
// before it is entered. On failure `failedAt` is the path up to the name that
// failed, and nothing the call made stays.
FolderResult openOutputFolder(const std::string &path, OutputFolder &folder, std::string &failedAt);

// Closes the folder; with `removeMade` it first removes the folders its
// opening made, innermost first, each only when it is empty.
void closeOutputFolder(OutputFolder &folder, bool removeMade);

// New files of one all-or-nothing run (such as an extraction) in one folder,
// written as a batch: each file's bytes go to a temporary file first
// (writeNewFile), then all take their names at once (nameNewFiles). So the
// data of the whole run reaches the device in one sync, and still no name
// ever stands for a file whose data was not made durable.
struct NewFiles {
    const OutputFolder *folder = nullptr;  // nullptr: the working folder, and names may be paths
    std::vector<std::string> paths;        // named so far, in the order they were named, as named in the folder
    std::vector<std::string> waiting;      // written to temporary files, not named yet, in the order written
    std::vector<std::string> temporaries;  // the temporary file of each waiting name, in the same order
};

// True when something stands at `name` in the run's folder (a file, a
// folder, a link, even a dangling one): a name CreateNew would refuse. An
// all-or-nothing run asks before it writes its first file.
bool nameTaken(const NewFiles &files, const std::string &name);

// Writes the bytes to a new temporary file beside `name` in the run's folder
// and adds the name to `files.waiting`; the file takes the name in
// nameNewFiles. Refused (AlreadyExists) when something stands at the name
// already. Until the files are named or removed, SIGHUP, SIGINT and SIGTERM
// remove every temporary file of the run before they end the process. On a
// failure nothing of this file stays; the files written before it wait on.
WriteResult writeNewFile(NewFiles &files, const std::string &name, const uint8_t *bytes, size_t size);

// Names the waiting files: first their data is made durable (Linux: one
// syncfs for the file system of their folder, with a sync of each file should
// that fail; elsewhere each file was synced as it was written), then each
// temporary file takes its name without replacing anything, then the folder
// is synced once (each folder once where the names are paths). Written when
// all are named. Otherwise every file of the run is removed, named or
// waiting, as removeNewFiles does, and `failed` is the name that could not be
// given: AlreadyExists when something took the name meanwhile, else Failed.
WriteResult nameNewFiles(NewFiles &files, std::string &failed);

// Removes every file that `files` holds, named (the names themselves, never
// what a name might now link to) or waiting, and empties it. Names already
// gone are skipped.
void removeNewFiles(NewFiles &files);
