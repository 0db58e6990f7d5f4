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

// True when something stands at `path` (a file, a folder, a link, even a
// dangling one): a name CreateNew would refuse. An all-or-nothing run asks
// before it writes its first file.
bool nameTaken(const std::string &path);

// New files of one all-or-nothing run (such as an extraction): what was
// written so far, so that it can be taken back when a later file fails.
struct NewFiles {
    std::vector<std::string> paths;  // in the order they were written
};

// writeWholeFile in CreateNew mode; a file written joins `files`.
WriteResult writeNewFile(NewFiles &files, const std::string &path, const uint8_t *bytes, size_t size);

// Removes every file that `files` holds (the names themselves, never what a
// name might now link to) and empties it. Names already gone are skipped.
void removeNewFiles(NewFiles &files);
