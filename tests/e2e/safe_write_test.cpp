// Safe writes: the edited image goes to a temporary file beside the
// destination and replaces it only once it is complete. A write that fails
// (file size limit, full file system) leaves an existing destination, and the
// source when it is the destination, exactly as it was, and no temporary file;
// a successful write replaces the file whole.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tools.h"

namespace {

constexpr unsigned kTimeoutSeconds = 20;
const std::string kWriteError = "ERROR: Could not write '";  // then the name, "'.", a line end

// An image with two files, so that "-rd 0" has an entry to remove.
ImageBuffer twoFileImage() {
    ImageBuffer image = formatImage("SAFE WRITES", "sw");
    addFile(image, randomBytes(3000, 7), "FIRST");
    addFile(image, randomBytes(100, 8), "SECOND");
    return image;
}

// The bytes the old destination held before the run.
const std::vector<uint8_t> kOldDestination(5000, 0x5A);

// Runs kestrel with a limit on the size of any file it writes, starting it
// with SIGXFSZ ignored (`ignoreSignal`) or at its default, which ends the
// process at the write that passes the limit unless kestrel ignores it.
RunResult runWithFileSizeLimit(const std::vector<std::string> &args, const std::string &cwd, rlim_t limit,
                               bool ignoreSignal) {
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit lowered = saved;
    lowered.rlim_cur = limit;
    auto previous = std::signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
    setrlimit(RLIMIT_FSIZE, &lowered);
    RunResult result = runBinary(args, cwd, "", kTimeoutSeconds);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    return result;
}

bool hasTemporaryFile(const std::string &folder) {
    for (const std::string &name : listFolder(folder))
        if (name.find(".kestrel-") != std::string::npos) return true;
    return false;
}

TEST(SafeWrite, FailedWriteKeepsExistingDestinationAndReportsIt) {
    TempDir dir;
    ImageBuffer image = twoFileImage();
    writeImage(dir.file("disk.d64"), image);
    writeBytes(dir.file("old.d64"), kOldDestination);

    RunResult result = runWithFileSizeLimit({"-rd", "0", "disk.d64", "old.d64"}, dir.path, 64 * 1024, true);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, kWriteError + "old.d64'.\n");
    EXPECT_NE(result.out.find(" X deleting...\n"), std::string::npos);
    EXPECT_TRUE(readBytes(dir.file("old.d64")) == kOldDestination);
    EXPECT_TRUE(readBytes(dir.file("disk.d64")) == bytesOf(image));
    EXPECT_FALSE(hasTemporaryFile(dir.path)) << "the temporary file must be removed";
}

// The limit's signal, left at its default, would end the process in the
// middle of the write; it is ignored while kestrel writes, so the write fails
// cleanly instead.
TEST(SafeWrite, FileSizeLimitFailsTheWriteInsteadOfEndingTheProcess) {
    TempDir dir;
    writeImage(dir.file("disk.d64"), twoFileImage());
    writeBytes(dir.file("old.d64"), kOldDestination);

    RunResult result = runWithFileSizeLimit({"-adel", "disk.d64", "old.d64"}, dir.path, 64 * 1024, false);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, kWriteError + "old.d64'.\n");
    EXPECT_TRUE(readBytes(dir.file("old.d64")) == kOldDestination);
    EXPECT_EQ(listFolder(dir.path), (std::vector<std::string>{"disk.d64", "old.d64"}));
}

TEST(SafeWrite, SourceAsDestinationIsReplacedWhole) {
    TempDir dir;
    ImageBuffer image = twoFileImage();
    writeImage(dir.file("disk.d64"), image);

    RunResult result = runBinary({"-rd", "0", "disk.d64", "disk.d64"}, dir.path, "", kTimeoutSeconds);
    ASSERT_EQ(result.status, 0) << result.err;
    // Removing entry 0 clears bytes 2..31 of the first slot of 18/1, nothing else.
    ImageBuffer expected = image;
    std::fill(slotBytes(expected, 18, 1, 0) + 2, slotBytes(expected, 18, 1, 0) + 32, 0);
    EXPECT_TRUE(readBytes(dir.file("disk.d64")) == bytesOf(expected));
    EXPECT_EQ(listFolder(dir.path), std::vector<std::string>{"disk.d64"});
}

TEST(SafeWrite, SourceAsDestinationIsKeptWhenTheWriteFails) {
    TempDir dir;
    ImageBuffer image = twoFileImage();
    writeImage(dir.file("disk.d64"), image);

    RunResult result = runWithFileSizeLimit({"-rd", "0", "disk.d64", "disk.d64"}, dir.path, 100 * 1024, true);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, kWriteError + "disk.d64'.\n");
    EXPECT_TRUE(readBytes(dir.file("disk.d64")) == bytesOf(image));
    EXPECT_EQ(listFolder(dir.path), std::vector<std::string>{"disk.d64"});
}

// A small file system of its own, unmounted when the test ends.
struct SmallFileSystem {
    std::string path;
    bool mounted = false;
    SmallFileSystem(const std::string &at, const char *size) : path(at) {
        std::filesystem::create_directory(path);
        std::string options = std::string("size=") + size;
        mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted) umount2(path.c_str(), MNT_DETACH);
    }
};

TEST(SafeWrite, FullFileSystemKeepsSourceAndDestination) {
    TempDir dir;
    // Room for the source image (683 blocks) and a little more, not for a second copy.
    SmallFileSystem small(dir.file("small"), "240k");
    if (!small.mounted) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    ImageBuffer image = twoFileImage();
    writeImage(small.path + "/disk.d64", image);
    writeBytes(small.path + "/old.d64", kOldDestination);

    for (const char *destination : {"old.d64", "disk.d64"}) {
        SCOPED_TRACE(destination);
        RunResult result = runBinary({"-sd", "1", "disk.d64", destination}, small.path, "", kTimeoutSeconds);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, kWriteError + destination + "'.\n");
        EXPECT_TRUE(readBytes(small.path + "/old.d64") == kOldDestination);
        EXPECT_TRUE(readBytes(small.path + "/disk.d64") == bytesOf(image));
        EXPECT_EQ(listFolder(small.path), (std::vector<std::string>{"disk.d64", "old.d64"}));
    }
}

// The file-write calls of a trace (strace -f -y) as events, in order:
// "create" and "write" for a temporary file (repeated writes once),
// "fsync temporary", "fsync FOLDER", "syncfs FOLDER" (FOLDER relative to
// `root`, "." for itself) and "name NAME" for a rename or link that gave a
// name. Each line that named a file whose data no sync had reached before
// (an fsync of its temporary file, or a syncfs of its folder after its
// creation) goes to `undurable`.
std::vector<std::string> writeEvents(const std::string &trace, const std::string &root,
                                     std::vector<std::string> &undurable) {
    auto pathIn = [](const std::string &text) {  // the first "<path>" strace -y added
        size_t open = text.find('<');
        return open == std::string::npos ? std::string() : text.substr(open + 1, text.find('>', open) - open - 1);
    };
    auto relative = [&](const std::string &path) {
        return path == root ? std::string(".") : path.starts_with(root + "/") ? path.substr(root.size() + 1) : path;
    };
    auto base = [](const std::string &path) { return path.substr(path.rfind('/') + 1); };
    std::vector<std::string> events;
    std::vector<std::pair<std::string, std::string>> created;  // folder, name of each temporary file
    std::set<std::string> durable;
    for (const std::string &line : splitLines(trace)) {  // "PID call(arguments) = result"
        size_t space = line.find(' '), open = line.find('(');
        if (space == std::string::npos || open == std::string::npos || open < space) continue;
        std::string call = line.substr(space + 1, open - space - 1), arguments = line.substr(open);
        std::string path = pathIn(arguments);
        bool temporary = base(path).starts_with(".kestrel-");
        if (call == "openat" && contains(line, "O_CREAT")) {
            std::string made = pathIn(line.substr(line.rfind(" = ")));
            if (!base(made).starts_with(".kestrel-")) continue;
            created.push_back({made.substr(0, made.rfind('/')), base(made)});
            events.push_back("create");
        } else if (call == "write" && temporary) {
            if (events.empty() || events.back() != "write") events.push_back("write");
        } else if (call == "fsync" || call == "fdatasync") {
            if (temporary) durable.insert(base(path));
            events.push_back("fsync " + (temporary ? std::string("temporary") : relative(path)));
        } else if (call == "syncfs") {
            for (const auto &[folder, name] : created)
                if (folder == path) durable.insert(name);
            events.push_back("syncfs " + relative(path));
        } else if (call.starts_with("rename") || call.starts_with("link")) {
            std::vector<std::string> quoted;  // the texts between pairs of quotes
            for (size_t at = line.find('"'); at != std::string::npos; at = line.find('"', at + 1)) {
                size_t end = line.find('"', at + 1);
                quoted.push_back(line.substr(at + 1, end - at - 1));
                at = end;
            }
            if (quoted.size() < 2 || !contains(line, ") = 0")) continue;
            if (!durable.count(base(quoted[0]))) undurable.push_back(line);
            events.push_back("name " + quoted[1]);
        }
    }
    return events;
}

// Every file kestrel writes reaches the disk before it takes its name: under
// strace the temporary file renamed (or linked, where renameat2 is missing)
// onto each written name was synced before, and each folder is synced after
// its names. A single file (the destination image, also the source itself)
// syncs its temporary file; the files of -x are a batch: all written, their
// data synced at once (one syncfs of their folder), then all named, then the
// folder synced once, for each image's folder in turn.
TEST(SafeWrite, TemporaryFileIsSyncedBeforeItTakesTheName) {
    REQUIRE_TOOL("strace -o /dev/null true", "strace");
    const std::vector<std::string> single = {"create", "write", "fsync temporary"};
    auto batch = [](const std::string &folder) {
        return std::vector<std::string>{"create",       "write",           "create",          "write",
                                        "syncfs " + folder, "name first.prg", "name second.prg", "fsync " + folder};
    };
    auto join = [](std::vector<std::string> a, const std::vector<std::string> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {{"-rd", "0", "disk.d64", "new.d64"}, join(single, {"name new.d64", "fsync ."})},
        {{"-adel", "disk.d64", "disk.d64"}, join(single, {"name disk.d64", "fsync ."})},
        {{"-x", "disk.d64"}, batch(".")},
        {{"-x", "disk.d64", "copy.d64", "-into", "out"}, join(batch("out/disk"), batch("out/copy"))},
        {{"-x", "disk.d64", "-into", "one/two"}, batch("one/two")},
    };
    for (const Case &c : cases) {
        TempDir dir;
        writeImage(dir.file("disk.d64"), twoFileImage());
        writeImage(dir.file("copy.d64"), twoFileImage());
        // (The leak check of a sanitizer build cannot run under ptrace.)
        std::string command = "cd '" + dir.path + "' && ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 strace -f -y "
                              "-o trace.txt -e trace=openat,write,fsync,fdatasync,syncfs,rename,renameat,renameat2,"
                              "link,linkat '" + kestrelBinary() + "'";
        for (const std::string &arg : c.args) command += " " + arg;
        SCOPED_TRACE(command);
        int status = -1;
        shellOutput(command + " >/dev/null 2>&1", &status);
        ASSERT_EQ(status, 0);
        std::vector<std::string> undurable;
        std::string root = std::filesystem::canonical(dir.path).string();
        EXPECT_EQ(writeEvents(shellOutput("cat '" + dir.file("trace.txt") + "'"), root, undurable), c.events);
        EXPECT_EQ(undurable, std::vector<std::string>{});
    }
}

// A signal that ends the run while the data is flushed (strace sends it as
// kestrel enters its first fsync, or for -x the syncfs of its batch) takes
// the temporary files with it, every one of the batch: the folder holds what
// it held before, and the process ends by that signal.
TEST(SafeWrite, SignalDuringTheFlushRemovesTheTemporaryFile) {
    REQUIRE_TOOL("strace -o /dev/null true", "strace");
    const std::vector<std::string> runs[] = {{"-rd", "0", "disk.d64", "new.d64"}, {"-adel", "disk.d64", "disk.d64"},
                                             {"-x", "disk.d64"}};
    for (const char *signal : {"SIGINT", "SIGTERM", "SIGHUP"})
        for (const std::vector<std::string> &args : runs) {
            TempDir dir;
            writeImage(dir.file("disk.d64"), twoFileImage());
            std::vector<std::string> before = listFolder(dir.path);
            std::string command = "cd '" + dir.path + "' && ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 strace -f -o "
                                  "/dev/null -e trace=fsync,syncfs -e inject=fsync,syncfs:signal=" + signal + ":when=1 '" +
                                  kestrelBinary() + "'";
            for (const std::string &arg : args) command += " " + arg;
            SCOPED_TRACE(command);
            int status = -1;
            shellOutput(command + " >/dev/null 2>&1", &status);
            EXPECT_GT(status, 128);  // ended by the signal
            EXPECT_EQ(listFolder(dir.path), before);
            EXPECT_TRUE(readBytes(dir.file("disk.d64")) == bytesOf(twoFileImage()));
        }
}

}  // namespace
