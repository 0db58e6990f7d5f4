// What kestrel does with the files around it, as an attacker or a careless
// user would set them up: links, FIFOs and folders at the destination, kept
// permissions, long names, lost standard output, oversized and special
// sources, and file names full of terminal escapes. Special files are made
// with mkfifo; /dev/full is only ever a redirection of a standard stream.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tmux_session.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned kTimeoutSeconds = 10;

// The source of every case: two files, so that "-rd 0" has an entry to remove.
ImageBuffer sourceImage() {
    ImageBuffer image = formatImage("FILE SAFETY", "fs");
    addFile(image, randomBytes(3000, 7), "FIRST");
    addFile(image, randomBytes(100, 8), "SECOND");
    return image;
}

// The source after "-rd 0": bytes 2..31 of the first slot of 18/1 cleared.
std::vector<uint8_t> editedImage() {
    ImageBuffer image = sourceImage();
    std::fill(slotBytes(image, 18, 1, 0) + 2, slotBytes(image, 18, 1, 0) + 32, 0);
    return bytesOf(image);
}

// What an existing destination holds before the run.
const std::vector<uint8_t> kOldBytes(5000, 0x5A);

// A name with terminal escapes: set the title, paint the background red.
const std::string kEscapeName = "evil\x1b]0;PWNED\x07\x1b[41m.d64";

std::string textOf(const std::vector<uint8_t> &bytes) { return std::string(bytes.begin(), bytes.end()); }

// Runs kestrel through /bin/sh in `cwd`, with `form` around the command line
// ("{}" stands for it), e.g. "{} >/dev/full". The streams that the form does
// not redirect are captured, through files outside `cwd`.
RunResult runInShell(const std::string &form, const std::vector<std::string> &args, const std::string &cwd) {
    std::string command = shellWord(kestrelBinary());
    for (const std::string &arg : args) command.append(1, ' ').append(shellWord(arg));
    std::string line = form;
    line.replace(line.find("{}"), 2, command);
    TempDir capture;
    std::string printed = shellOutput("cd " + shellWord(cwd) + " && { timeout " + std::to_string(kTimeoutSeconds) +
                                      " sh -c " + shellWord(line) + " >" + capture.file("out") + " 2>" +
                                      capture.file("err") + "; echo $?; }");
    return RunResult{std::stoi(printed), textOf(readBytes(capture.file("out"))),
                     textOf(readBytes(capture.file("err")))};
}

// Where a symbolic link points; "" when the name is not a link.
std::string linkTarget(const std::string &path) {
    std::error_code error;
    return fs::read_symlink(path, error).string();
}

bool isFifo(const std::string &path) { return fs::is_fifo(fs::symlink_status(path)); }

unsigned modeOf(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

unsigned newFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void makeFifo(const std::string &path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path; }

// A sparse file: its size costs no disk space.
void makeSparse(const std::string &path, uintmax_t size) {
    writeBytes(path, {});
    fs::resize_file(path, size);
}

// One run: the folder holds disk.d64 and what `prepare` adds; kestrel runs
// with `args` (through `shellForm` when it is set); then the status, the end
// of standard output, all of standard error and the folder are checked.
struct FileCase {
    const char *what;
    void (*prepare)(const TempDir &);
    std::vector<std::string> args;
    const char *shellForm;
    int status;
    std::string outEnd;
    std::string err;
    void (*check)(const TempDir &);
};

const std::string kLongName = std::string(246, 'n') + ".d64";  // 250 characters

// Cases that hold on every system kestrel runs on.
const std::vector<FileCase> kPortableCases = {
    {"a FIFO as destination is refused without blocking",
     [](const TempDir &d) { makeFifo(d.file("pipe.d64")); },
     {"-rd", "0", "disk.d64", "pipe.d64"}, "", 1, "", "ERROR: Could not write 'pipe.d64'.\n",
     [](const TempDir &d) {
         EXPECT_TRUE(isFifo(d.file("pipe.d64")));
         EXPECT_EQ(listFolder(d.path), (std::vector<std::string>{"disk.d64", "pipe.d64"}));
     }},
    {"a folder as destination is refused and left as it was",
     [](const TempDir &d) {
         fs::create_directory(d.file("folder.d64"));
         writeBytes(d.file("folder.d64/inside"), kOldBytes);
     },
     {"-rd", "0", "disk.d64", "folder.d64"}, "", 1, "", "ERROR: Could not write 'folder.d64'.\n",
     [](const TempDir &d) {
         EXPECT_EQ(listFolder(d.file("folder.d64")), std::vector<std::string>{"inside"});
         EXPECT_EQ(readBytes(d.file("folder.d64/inside")), kOldBytes);
         EXPECT_EQ(listFolder(d.path), (std::vector<std::string>{"disk.d64", "folder.d64"}));
     }},
    {"a 250-character destination name",
     [](const TempDir &) {},
     {"-rd", "0", "disk.d64", kLongName}, "", 0, "BLOCKS FREE.\n\n", "",
     [](const TempDir &d) {
         EXPECT_EQ(readBytes(d.file(kLongName)), editedImage());
         EXPECT_EQ(listFolder(d.path), (std::vector<std::string>{"disk.d64", kLongName}));
     }},
    {"lost standard output ends with status 1",
     [](const TempDir &) {},
     {"-csv", "disk.d64"}, "{} >/dev/full", 1, "", "ERROR: Could not write to standard output.\n",
     [](const TempDir &) {}},
    {"lost standard output: no destination is written",
     [](const TempDir &) {},
     {"-rd", "0", "disk.d64", "out.d64"}, "{} >/dev/full", 1, "", "ERROR: Could not write to standard output.\n",
     [](const TempDir &d) { EXPECT_EQ(listFolder(d.path), std::vector<std::string>{"disk.d64"}); }},
    {"a file error that standard output cannot take is named on standard error",
     [](const TempDir &) {},
     {"nosuch.d64"}, "{} >/dev/full", 1, "", "ERROR: Could not write to standard output.\n",
     [](const TempDir &) {}},
    {"lost standard output: -x takes back the files it wrote",
     [](const TempDir &) {},
     {"-x", "disk.d64"}, "{} >/dev/full", 1, "", "ERROR: Could not write to standard output.\n",
     [](const TempDir &d) { EXPECT_EQ(listFolder(d.path), std::vector<std::string>{"disk.d64"}); }},
    {"a lost warning on standard error ends with status 1",
     [](const TempDir &d) {
         ImageBuffer looping = sourceImage();
         linkBlock(looping, 18, 1, 18, 1);
         writeImage(d.file("disk.d64"), looping);
     },
     {"disk.d64"}, "{} 2>/dev/full", 1, "BLOCKS FREE.\n", "", [](const TempDir &) {}},
    {"a 3 GiB sparse source is refused before it is read",
     [](const TempDir &d) { makeSparse(d.file("big.d64"), 3ull << 30); },
     {"-rd", "0", "big.d64"}, "", 1, "ERROR: File 'big.d64' is too large for a disk image (3221225472 bytes).", "",
     [](const TempDir &d) {
         struct rusage usage;
         getrusage(RUSAGE_CHILDREN, &usage);
         EXPECT_LT(usage.ru_maxrss, 1024 * 1024) << "kilobytes";
         EXPECT_EQ(listFolder(d.path), (std::vector<std::string>{"big.d64", "disk.d64"}));
     }},
    {"one byte over 4 MiB is too large for the second image too",
     [](const TempDir &d) { makeSparse(d.file("big.d64"), (4u << 20) + 1); },
     {"-merge", "disk.d64", "big.d64"}, "", 1,
     "ERROR: 2nd file 'big.d64' is too large for a disk image (4194305 bytes).", "", [](const TempDir &) {}},
    {"exactly 4 MiB is read",
     [](const TempDir &d) { makeSparse(d.file("big.d64"), 4u << 20); },
     {"big.d64"}, "", 0, "BLOCKS FREE.\n", "", [](const TempDir &) {}},
    {"a FIFO as source is refused without blocking",
     [](const TempDir &d) { makeFifo(d.file("pipe.d64")); },
     {"pipe.d64"}, "", 1, "ERROR: File 'pipe.d64' could not be read.", "", [](const TempDir &) {}},
    {"a FIFO as second image likewise",
     [](const TempDir &d) { makeFifo(d.file("pipe.d64")); },
     {"-merge", "disk.d64", "pipe.d64"}, "", 1, "ERROR: 2nd file 'pipe.d64' could not be read.", "",
     [](const TempDir &) {}},
    {"into a pipe a name keeps its escape bytes (standard output)",
     [](const TempDir &) {},
     {kEscapeName}, "", 1, "ERROR: File '" + kEscapeName + "' not found.", "", [](const TempDir &) {}},
    {"into a pipe a name keeps its escape bytes (standard error)",
     [](const TempDir &) {},
     {"-rd", "0", "disk.d64", "-" + kEscapeName}, "", 1, "", "ERROR: Unknown option '-" + kEscapeName + "'.",
     [](const TempDir &) {}},
};

// Symbolic links and POSIX permission bits, owner and group.
const std::vector<FileCase> kLinkAndPermissionCases = {
    {"a link is followed to its target, relative to the link's folder; the link stays",
     [](const TempDir &d) {
         fs::create_directories(d.file("targets"));
         fs::create_directories(d.file("links"));
         writeBytes(d.file("targets/real.d64"), kOldBytes);
         fs::create_symlink("../targets/real.d64", d.file("links/out.d64"));
     },
     {"-rd", "0", "disk.d64", "links/out.d64"}, "", 0, "BLOCKS FREE.\n\n", "",
     [](const TempDir &d) {
         EXPECT_EQ(linkTarget(d.file("links/out.d64")), "../targets/real.d64");
         EXPECT_EQ(readBytes(d.file("targets/real.d64")), editedImage());
         EXPECT_EQ(listFolder(d.file("targets")), std::vector<std::string>{"real.d64"});
         EXPECT_EQ(listFolder(d.file("links")), std::vector<std::string>{"out.d64"});
     }},
    {"a dangling link in an existing folder: its target is written",
     [](const TempDir &d) { fs::create_symlink("new.d64", d.file("link.d64")); },
     {"-rd", "0", "disk.d64", "link.d64"}, "", 0, "BLOCKS FREE.\n\n", "",
     [](const TempDir &d) {
         EXPECT_EQ(linkTarget(d.file("link.d64")), "new.d64");
         EXPECT_EQ(readBytes(d.file("new.d64")), editedImage());
         EXPECT_EQ(modeOf(d.file("new.d64")), newFileMode());
     }},
    {"a link to a FIFO is refused too",
     [](const TempDir &d) {
         makeFifo(d.file("pipe.d64"));
         fs::create_symlink("pipe.d64", d.file("link.d64"));
     },
     {"-rd", "0", "disk.d64", "link.d64"}, "", 1, "", "ERROR: Could not write 'link.d64'.\n",
     [](const TempDir &d) {
         EXPECT_TRUE(isFifo(d.file("pipe.d64")));
         EXPECT_EQ(listFolder(d.path), (std::vector<std::string>{"disk.d64", "link.d64", "pipe.d64"}));
     }},
    // -x into a folder: never through a link planted in its path, never over a file.
    {"-into through a link to a folder is refused; nothing is made behind it",
     [](const TempDir &d) {
         fs::create_directory(d.file("target"));
         fs::create_symlink("target", d.file("out"));
     },
     {"-x", "disk.d64", "-into", "out/new"}, "", 1, "",
     "ERROR: 'out' is a symbolic link, which '-x' never writes through; nothing was extracted.\n",
     [](const TempDir &d) { EXPECT_TRUE(listFolder(d.file("target")).empty()); }},
    {"-into a dangling link is refused; its target is not made",
     [](const TempDir &d) { fs::create_symlink("made", d.file("out")); },
     {"-x", "disk.d64", "-into", "out"}, "", 1, "",
     "ERROR: 'out' is a symbolic link, which '-x' never writes through; nothing was extracted.\n",
     [](const TempDir &d) { EXPECT_EQ(listFolder(d.path), (std::vector<std::string>{"disk.d64", "out"})); }},
    {"-into a file is refused, and the folders made before it are taken back",
     [](const TempDir &d) { writeBytes(d.file("file"), kOldBytes); },
     {"-x", "disk.d64", "-into", "file/sub"}, "", 1, "", "ERROR: 'file' is not a folder; nothing was extracted.\n",
     [](const TempDir &d) {
         EXPECT_EQ(readBytes(d.file("file")), kOldBytes);
         EXPECT_EQ(listFolder(d.path), (std::vector<std::string>{"disk.d64", "file"}));
     }},
    {"many images: a link planted at one image's folder fails that image alone",
     [](const TempDir &d) {
         writeImage(d.file("other.d64"), sourceImage());
         fs::create_directory(d.file("target"));
         fs::create_symlink("target", d.file("disk"));
     },
     {"-x", "disk.d64", "other.d64"}, "", 1, "",
     "ERROR: 'disk' is a symbolic link, which '-x' never writes through; nothing was extracted.\n",
     [](const TempDir &d) {
         EXPECT_TRUE(listFolder(d.file("target")).empty());
         EXPECT_EQ(listFolder(d.file("other")), (std::vector<std::string>{"first.prg", "second.prg"}));
     }},
    {"a file-size limit on standard output is lost output, not a signal",
     [](const TempDir &) {},
     {"-bam", "disk.d64"}, "(ulimit -f 1; exec {} >map.txt)", 1, "", "ERROR: Could not write to standard output.\n",
     [](const TempDir &d) { EXPECT_EQ(listFolder(d.path), (std::vector<std::string>{"disk.d64", "map.txt"})); }},
    {"mode 0600 is kept",
     [](const TempDir &d) {
         writeBytes(d.file("old.d64"), kOldBytes);
         chmod(d.file("old.d64").c_str(), 0600);
     },
     {"-rd", "0", "disk.d64", "old.d64"}, "", 0, "BLOCKS FREE.\n\n", "",
     [](const TempDir &d) {
         EXPECT_EQ(readBytes(d.file("old.d64")), editedImage());
         EXPECT_EQ(modeOf(d.file("old.d64")), 0600u);
     }},
    {"mode 0640 is kept, and owner and group where the process may set them",
     [](const TempDir &d) {
         writeBytes(d.file("old.d64"), kOldBytes);
         chmod(d.file("old.d64").c_str(), 0640);
         if (geteuid() == 0) {
             ASSERT_EQ(chown(d.file("old.d64").c_str(), 4321, 4322), 0);
         }
     },
     {"-rd", "0", "disk.d64", "old.d64"}, "", 0, "BLOCKS FREE.\n\n", "",
     [](const TempDir &d) {
         EXPECT_EQ(readBytes(d.file("old.d64")), editedImage());
         EXPECT_EQ(modeOf(d.file("old.d64")), 0640u);
         struct stat info;
         ASSERT_EQ(stat(d.file("old.d64").c_str(), &info), 0);
         EXPECT_EQ(info.st_uid, geteuid() == 0 ? 4321u : geteuid());
         EXPECT_EQ(info.st_gid, geteuid() == 0 ? 4322u : getegid());
     }},
};

bool endsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void runCases(const std::vector<FileCase> &cases) {
    for (const FileCase &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeImage(dir.file("disk.d64"), sourceImage());
        c.prepare(dir);
        std::vector<uint8_t> source = readBytes(dir.file("disk.d64"));
        RunResult result = *c.shellForm ? runInShell(c.shellForm, c.args, dir.path)
                                        : runBinary(c.args, dir.path, "", kTimeoutSeconds);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(endsWith(result.out, c.outEnd)) << result.out;
        EXPECT_EQ(result.err, c.err);
        EXPECT_TRUE(readBytes(dir.file("disk.d64")) == source) << "the source changed";
        c.check(dir);
        for (const std::string &name : listFolder(dir.path))
            EXPECT_EQ(name.find(".kestrel-"), std::string::npos) << "temporary file left: " << name;
    }
}

}  // namespace

TEST(FileSafety, DestinationsSourcesAndStreams) { runCases(kPortableCases); }

TEST(FileSafety, LinksAndPermissionsOfTheDestination) { runCases(kLinkAndPermissionCases); }

// What other users leave: a link planted in a shared sticky folder (as the
// system's fs.protected_symlinks refuses it), and a file the writer may not
// write. Needs root to play the other user (lchown, and setpriv to run as
// nobody).
TEST(FileSafety, LinksAndPermissionsOfOtherUsers) {
    if (geteuid() != 0 || !haveProgram("setpriv")) GTEST_SKIP() << "needs root and setpriv";
    const std::vector<FileCase> cases = {
        {"a link another user planted in a sticky shared folder is not followed",
         [](const TempDir &d) {
             writeBytes(d.file("victim"), kOldBytes);
             fs::create_directory(d.file("shared"));
             chmod(d.file("shared").c_str(), 01777);
             fs::create_symlink("../victim", d.file("shared/out.d64"));
             ASSERT_EQ(lchown(d.file("shared/out.d64").c_str(), 4321, 4321), 0);
         },
         {"-rd", "0", "disk.d64", "shared/out.d64"}, "", 1, "", "ERROR: Could not write 'shared/out.d64'.\n",
         [](const TempDir &d) {
             EXPECT_EQ(readBytes(d.file("victim")), kOldBytes);
             EXPECT_EQ(linkTarget(d.file("shared/out.d64")), "../victim");
             EXPECT_EQ(listFolder(d.file("shared")), std::vector<std::string>{"out.d64"});
         }},
        {"the writer's own link there is followed",
         [](const TempDir &d) {
             fs::create_directory(d.file("shared"));
             chmod(d.file("shared").c_str(), 01777);
             fs::create_symlink("../mine.d64", d.file("shared/out.d64"));
         },
         {"-rd", "0", "disk.d64", "shared/out.d64"}, "", 0, "BLOCKS FREE.\n\n", "",
         [](const TempDir &d) { EXPECT_EQ(readBytes(d.file("mine.d64")), editedImage()); }},
        {"a file the writer may not write is left alone, though its folder is open",
         [](const TempDir &d) {
             chmod(d.path.c_str(), 0777);
             writeBytes(d.file("theirs.d64"), kOldBytes);
             chmod(d.file("theirs.d64").c_str(), 0644);
         },
         {"-rd", "0", "disk.d64", "theirs.d64"}, "setpriv --reuid=65534 --regid=65534 --clear-groups {}", 1, "",
         "ERROR: Could not write 'theirs.d64'.\n",
         [](const TempDir &d) {
             EXPECT_EQ(readBytes(d.file("theirs.d64")), kOldBytes);
             struct stat info;
             ASSERT_EQ(stat(d.file("theirs.d64").c_str(), &info), 0);
             EXPECT_EQ(info.st_uid, 0u);
         }},
    };
    runCases(cases);
}

namespace {

// The names created in the watched folder since the last call.
std::vector<std::string> createdNames(int watch) {
    std::vector<std::string> names;
    alignas(struct inotify_event) char buffer[8192];
    for (;;) {
        ssize_t got = read(watch, buffer, sizeof buffer);
        if (got <= 0) return names;
        for (char *at = buffer; at < buffer + got;) {
            auto *event = reinterpret_cast<struct inotify_event *>(at);
            if (event->len > 0) names.push_back(event->name);
            at += sizeof(struct inotify_event) + event->len;
        }
    }
}

}  // namespace

// The temporary file's name changes from run to run, and a link planted at
// the name a run used is neither followed nor replaced by the next one.
TEST(FileSafety, TemporaryNameIsUnpredictableAndNeverFollowed) {
    TempDir dir;
    writeImage(dir.file("disk.d64"), sourceImage());
    writeBytes(dir.file("victim"), kOldBytes);
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.path.c_str(), IN_CREATE), 0);

    std::vector<std::string> temporaries;
    for (int run = 0; run < 2; ++run) {
        RunResult result = runBinary({"-rd", "0", "disk.d64", "out.d64"}, dir.path, "", kTimeoutSeconds);
        ASSERT_EQ(result.status, 0) << result.err;
        for (const std::string &name : createdNames(watch))
            if (name != "out.d64" && name != "victim") temporaries.push_back(name);
        ASSERT_EQ(temporaries.size(), static_cast<size_t>(run + 1));
        const std::string &used = temporaries.back();
        EXPECT_EQ(used.find(".kestrel-"), 0u) << used;
        EXPECT_LE(used.size(), 32u) << used;
        if (run > 0) continue;
        fs::create_symlink("victim", dir.file(used));  // plant a link at the name just used
        createdNames(watch);                           // and pass over its own event
    }
    close(watch);
    EXPECT_NE(temporaries[0], temporaries[1]);
    EXPECT_EQ(readBytes(dir.file("victim")), kOldBytes);
    EXPECT_EQ(linkTarget(dir.file(temporaries[0])), "victim");
    EXPECT_EQ(readBytes(dir.file("out.d64")), editedImage());
}

// On a terminal the messages show the control bytes of a name as \xHH on
// standard output and on standard error alike: the title stays, the screen is
// not cleared, each message is visible whole.
TEST(FileSafety, TmuxShowsControlBytesOfNamesEscaped) {
    if (!haveProgram("tmux")) GTEST_SKIP() << "tmux is not installed";
    TempDir dir;
    writeImage(dir.file("disk.d64"), sourceImage());
    const std::string clearing = "wipe\x1b[2J";
    writeImage(dir.file(clearing + ".d64"), sourceImage());

    std::string binary = shellWord(kestrelBinary());
    std::string command = "cd " + shellWord(dir.path) + " && echo BEFORE-MARK; " +
                          binary + " " + shellWord(kEscapeName) + "; echo; " +
                          binary + " -rd 0 disk.d64 " + shellWord(kEscapeName + "/out.d64") + " >/dev/null; echo; " +
                          binary + " -rd 0 " + shellWord(clearing + ".d64") + "; echo __DONE__; sleep 60";
    TmuxSession pane(200, 50, command);
    waitUntil([&] { return contains(pane.screen(), "__DONE__"); });
    std::string screen = pane.screen();
    EXPECT_TRUE(contains(screen, "BEFORE-MARK\n")) << screen;
    EXPECT_NE(pane.title(), "PWNED");
    const std::string shown = "evil\\x1b]0;PWNED\\x07\\x1b[41m.d64";
    EXPECT_TRUE(contains(screen, "ERROR: File '" + shown + "' not found.\n")) << screen;
    EXPECT_TRUE(contains(screen, "ERROR: Could not write '" + shown + "/out.d64'.\n")) << screen;
    EXPECT_TRUE(contains(screen, "Destination file set to 'wipe\\x1b[2J.out.d64'.\n")) << screen;
    EXPECT_EQ(readBytes(dir.file(clearing + ".out.d64")), editedImage());
}
