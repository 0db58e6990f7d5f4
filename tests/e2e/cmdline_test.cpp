// The command line end to end: usage and help text, every error message with
// its stream and status, how options consume their values, the destination
// name, failed writes, and that no file is written when a run ends in error.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

namespace fs = std::filesystem;

// Banner, usage line naming `name`, and the 26 lines of help.
std::string usageText(const std::string &name) {
    static const char *const help[26] = {
        "",
        "<d64 file> ... D64 file to be shown",
        "-v ........... Alter view of directory entry as follows ",
        " a ........... Show all files (even deleted ones) ",
        " t ........... Show track and sector ",
        " s ........... Show start adress ",
        " f ........... Show file size ",
        " n ........... Show number for file ",
        " b ........... Show real block count ",
        " c ........... Show CRC check sum ",
        " p ........... Use alternative presentation (optional)",
        "-csv ......... Display directory as .csv ",
        "-e ........... Export track and sector as assembler bytes ",
        "               (Do not combine with other options) ",
        "-rd .......... Remove directory entry (leaves BAM and data) ",
        "-sd .......... Scratch directory entry (entry becomes *DEL) ",
        " num ......... First or only entry to be removed/scratched ",
        " last ........ Last entry to be removed/scratched (optional) ",
        "-start ....... Change start address of one directory entry ",
        " num ......... Number of file which address has to changed ",
        " addr ........ New start address ",
        "-adel ........ Append empty DEL entry ",
        "-block ....... Show the given block (default is 18 0) ",
        "-bam ......... Show BAM ",
        "",
        "Always provide the full file name including extension .d64",
    };
    std::string text = "A tool to view and manipulate d64 files. (Version: 1.0)\n\n";
    text += name +
            " [-v[a|t|s|n|p]] [-csv] [-rd|-sd num [last]] [-start num addr] \n"
            "\t[-adel] [-block [track [sector]]] <d64 file> [<dest file>]\n";
    for (int line = 0; line < 26; ++line) text += std::string(help[line]) + (line < 25 ? "\n" : "");
    return text + "\n";
}

// What standard output ends with after exitWithError.
const std::string kErrorTail = "\n\n" + usageText("kestrel");

bool endsWith(const std::string &text, const std::string &tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every file and folder below `root`, with file sizes, as one sorted list.
std::vector<std::string> snapshot(const std::string &root) {
    std::vector<std::string> entries;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        std::string name = fs::relative(entry.path(), root).string();
        entries.push_back(entry.is_directory() ? name + "/" : name + " " + std::to_string(entry.file_size()));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// A disk with 20 small files, so that entries 0..19 exist.
ImageBuffer twentyFileImage() {
    ImageBuffer image = formatImage("CMDLINE", "cl");
    for (int i = 0; i < 20; ++i)
        addFile(image, randomBytes(100 + 30 * static_cast<size_t>(i), static_cast<uint32_t>(i)),
                "FILE" + std::to_string(i));
    return image;
}

// The image as "-sd 1" writes it: entry 1's type byte cleared.
ImageBuffer scratchedOne(ImageBuffer image) {
    slotBytes(image, 18, 1, 1)[2] = 0;
    return image;
}

// A temporary folder holding a.d64.
struct Workspace {
    TempDir dir;
    ImageBuffer image = twentyFileImage();
    Workspace() { writeImage(dir.file("a.d64"), image); }
    RunResult run(const std::vector<std::string> &args) const { return runBinary(args, dir.path); }
};

// Every option the parser accepts: each is a whole string literal in its
// source, which it compares arguments with (and names in messages).
std::set<std::string> parserOptions() {
    std::vector<uint8_t> bytes = readBytes(sourcePath("src/frontend/cmdline.cpp"));
    const std::string source(bytes.begin(), bytes.end());
    const char *const nameCharacters = "-ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::set<std::string> names;
    for (size_t at = source.find("\"-"); at != std::string::npos; at = source.find("\"-", at + 1)) {
        size_t end = source.find_first_not_of(nameCharacters, at + 1);
        if (end != std::string::npos && source[end] == '"' && end - at > 2)
            names.insert(source.substr(at + 1, end - at - 1));
    }
    return names;
}

// What the bash completion offers for the last of `words`, run in `folder`.
std::set<std::string> completions(const std::vector<std::string> &words, const std::string &folder) {
    std::string array;
    for (const std::string &word : words) array.append(" ").append(shellWord(word));
    std::string script = "source " + shellWord(sourcePath("completion/kestrel.bash")) + "; COMP_WORDS=(" + array +
                         "); COMP_CWORD=" + std::to_string(words.size() - 1) +
                         "; _kestrel; printf '%s\\n' \"${COMPREPLY[@]}\"";
    std::set<std::string> offered;
    std::string out = shellOutput("cd " + shellWord(folder) + " && bash -c " + shellWord(script));
    for (const std::string &line : splitLines(out))
        if (!line.empty()) offered.insert(line);
    return offered;
}

struct ErrorCase {
    std::vector<std::string> args;
    std::string message;
};

}  // namespace

TEST(CommandLine, EmptyCommandLineShowsUsageWithTheInvocationName) {
    TempDir dir;
    RunResult result = runBinary({}, dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, usageText(KESTREL_BINARY));
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(listFolder(dir.path).empty());
}

// Messages through exitWithError: the message alone on standard error, the
// usage naming "kestrel" after two line ends on standard output (standard
// error under -json), status 1.
TEST(CommandLine, ArgumentErrorsGoToStandardErrorWithUsage) {
    const ErrorCase cases[] = {
        {{"-v"}, "ERROR: Missing sub option for -v."},
        {{"-v", "a", "a.d64"}, "ERROR: Missing sub option for -v."},
        {{"a.d64", "-rd"}, "ERROR: Integer after '-rd' missing."},
        {{"a.d64", "-sd"}, "ERROR: Integer after '-s' missing."},
        {{"a.d64", "-start", "3"}, "ERROR: Arguments for '-start' missing."},
        {{"-CSV", "a.d64"}, "ERROR: Unknown option '-CSV'."},
        {{"-", "a.d64"}, "ERROR: Unknown option '-'."},
        {{"a.d64", "b.d64"}, "ERROR: Bad argument b.d64"},
        {{"a.d64", "b.d64", "-rd", "1"}, "ERROR: Bad argument b.d64"},
        {{"-merge", "a.d64", "b.d64", "c.d64", "d.d64"}, "ERROR: Bad argument d.d64"},
        {{"-merge", "a.d64"}, "ERROR: Name of second file missing."},
        {{"-rd", "300", "a.d64"}, "ERROR: Number (300) too high. [Maximum: 255]"},
        {{"-rd", "-1", "a.d64"}, "ERROR: Number (-1) too low. [Minimum: 0]"},
        {{"-rd", "08", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-rd", "-bam", "a.d64"}, "ERROR: Not a number (0)."},  // the value is always consumed
        {{"-rd", "3", "-5", "a.d64"}, "ERROR: Number (-5) too low. [Minimum: 0]"},
        {{"-sd", "99999999999", "a.d64"}, "ERROR: Number (2147483647) too high. [Maximum: 255]"},
        {{"-block", "0", "a.d64"}, "ERROR: Number (0) too low. [Minimum: 1]"},
        {{"-block", "41", "a.d64"}, "ERROR: Number (41) too high. [Maximum: 40]"},
        // Checked on the loaded image before any action prints, each number of every -block.
        {{"-block", "41", "-bam", "a.d64"}, "ERROR: Number (41) too high. [Maximum: 40]"},
        {{"-block", "41", "-merge", "a.d64", "a.d64"}, "ERROR: Number (41) too high. [Maximum: 40]"},
        {{"-block", "41", "-block", "5", "a.d64"}, "ERROR: Number (41) too high. [Maximum: 40]"},
        {{"-block", "18", "30", "-block", "5", "a.d64"}, "ERROR: Number (30) too high. [Maximum: 25]"},
        // Under -json the usage follows on standard error: standard output holds JSON lines alone.
        {{"-json", "-v", "a.d64"}, "ERROR: Missing sub option for -v."},
        {{"a.d64", "-json", "-CSV"}, "ERROR: Unknown option '-CSV'."},
        {{"-json", "-rd", "300", "a.d64"}, "ERROR: Number (300) too high. [Maximum: 255]"},
        {{"-block", "18", "26", "a.d64"}, "ERROR: Number (26) too high. [Maximum: 25]"},
        {{"-start", "3", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-start", "3", "65536", "a.d64"}, "ERROR: Number (65536) too high. [Maximum: 65535]"},
        {{"-start", "256", "0", "a.d64"}, "ERROR: Number (256) too high. [Maximum: 255]"},
        {{"-start", "0", "$", "a.d64"}, "ERROR: Not a number (0)."},  // "$" needs a hexadecimal digit
        {{"-start", "0", "$x801", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-start", "0", "$0801x", "a.d64"}, "ERROR: Not a number (2049)."},
        {{"-rd", "$100", "a.d64"}, "ERROR: Number (256) too high. [Maximum: 255]"},
        {{"-CSV", "-h", "a.d64"}, "ERROR: Unknown option '-CSV'."},  // read in order: the error comes first
        {{"--", "a.d64", "-rd", "1"}, "ERROR: Bad argument -rd"},    // after "--" an option is a plain argument
        {{"a.d64", "--", "-json"}, "ERROR: Bad argument -json"},     // and so is "-json"
        // An empty argument (an unset shell variable) is no number, also where
        // one may follow: it is consumed and refused, never taken as 0.
        {{"-rd", "", "a.d64", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-rd", "3", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-sd", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-sd", "3", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-start", "", "0x0801", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-start", "0", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-block", "", "a.d64"}, "ERROR: Not a number (0)."},  // not the too-low message of 0
        {{"-block", "18", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-x", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-x", "1", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-rename", "", "X", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-type", "", "PRG", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-type", "0", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-blocks", "", "3", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-blocks", "0", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-move", "", "3", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-move", "3", "", "a.d64"}, "ERROR: Not a number (0)."},
        {{"-undel", "", "a.d64"}, "ERROR: Not a number (0)."},
    };
    for (const ErrorCase &c : cases) {
        Workspace work;
        std::vector<std::string> before = snapshot(work.dir.path);
        RunResult result = work.run(c.args);
        std::string line = testing::PrintToString(c.args);
        auto end = std::find(c.args.begin(), c.args.end(), "--");  // after it "-json" names a file
        bool json = std::find(c.args.begin(), end, "-json") != end;
        EXPECT_EQ(result.status, 1) << line;
        EXPECT_EQ(result.err, json ? c.message + kErrorTail : c.message) << line;
        EXPECT_EQ(result.out, json ? "" : kErrorTail) << line;
        EXPECT_EQ(snapshot(work.dir.path), before) << line;
    }
}

// Every message kestrel adds to the built-in ones: one line on standard
// error, no usage, status 1; nothing is written.
TEST(CommandLine, AddedErrorsAreOneLineWithoutUsage) {
    const ErrorCase cases[] = {
        {{"a.d64", "-part"}, "ERROR: Partition name after '-part' missing."},
        {{"-part", "", "a.d64"}, "ERROR: The text '' for '-part' is empty (1 to 16 bytes, %XX for any byte)."},
        {{"-w", "-json", "a.d64"}, "ERROR: Could not read '-json'."},  // the file -w inserts, not the report
        {{"-p00", "a.d64"}, "ERROR: '-p00' is a form of the files of '-x'; give '-x' with it."},
        {{"-lnx", "a.d64"}, "ERROR: '-lnx' is a form of the files of '-x'; give '-x' with it."},
        {{"-x", "-zipcode", "-p00", "a.d64"},
         "ERROR: '-p00', '-lnx' and '-zipcode' are forms of the files of '-x'; give one of them."},
        {{"-x", "1", "-zipcode", "a.d64"},
         "ERROR: '-zipcode' packs the whole disk; give '-x' without entry numbers with it."},
        {{"n.d64", "-zipdisk"}, "ERROR: ZipCode file name after '-zipdisk' missing."},
        {{"-zipdisk", "1!p", "-zipdisk", "1!q", "n.d64"}, "ERROR: '-zipdisk' is given twice; one pack makes one disk."},
        {{"-zipdisk", "1!p", "-new", "D,01", "n.d64"},
         "ERROR: '-zipdisk' makes the new image of a ZipCode pack; give no '-new' with it."},
        {{"-zipdisk", "1!p", "-errorbytes", "n.d64"}, "ERROR: '-errorbytes' shapes a new image; give '-new' with it."},
        // -new: the image it makes is the one path; nothing is written when it is refused.
        {{"-new", "DEMO,23", "a.d64"}, "ERROR: 'a.d64' already exists; '-new' never replaces a file."},
        {{"-new", "DEMO,23", "-w", "a.d64", "n.img"},
         "ERROR: '-new' takes the kind of disk from the name's extension: .d64, .d71, .d81, .g64 or .g71, not 'n.img'."},
        {{"-new", "ABCDEFGHIJKLMNOPQ,23", "n.d64"},
         "ERROR: The text 'ABCDEFGHIJKLMNOPQ' for '-new' is too long (0 to 16 bytes, %XX for any byte)."},
        {{"-new", "DEMO,234", "n.d64"}, "ERROR: The text '234' for '-new' is too long (2 bytes, %XX for any byte)."},
        {{"-new", "DEMO,2", "n.d64"}, "ERROR: The text '2' for '-new' is too short (2 bytes, %XX for any byte)."},
        {{"-new", "DEMO", "n.d64"}, "ERROR: '-new' takes the disk name and id as NAME,ID (e.g. 'DEMO,23'), not 'DEMO'."},
        {{"n.d64", "-new", "DEMO,23", "a.d64"},
         "ERROR: '-new' makes the one image named; no other image is read, so 'a.d64' has no place."},
        {{"-new", "DEMO,23"}, "ERROR: Name of the new image missing."},
        {{"-new", "DEMO,23", "-merge", "n.d64"},
         "ERROR: '-new' cannot be combined with '-merge'; merge into the new image in a second run."},
        {{"-new", "DEMO,23", "-40", "speeddos", "n.d71"}, "ERROR: '-40' makes a D64 of 40 tracks; 'n.d71' names a d71."},
        {{"-new", "DEMO,23", "-40", "d64", "n.d64"},
         "ERROR: '-40' takes the map of tracks 36-40: speeddos or dolphindos."},
        {{"-errorbytes", "a.d64"}, "ERROR: '-errorbytes' shapes a new image; give '-new' with it."},
        {{"-clash", "keep", "-w", "a.d64", "a.d64"},
         "ERROR: '-clash' takes what '-w' does with a name the disk holds: refuse, skip or replace."},
        {{"-clash", "skip", "a.d64"},
         "ERROR: '-clash' sets what '-w' and '-copy' do with a name the disk holds; give one of them with it."},
        {{"-w", "none/*.prg", "a.d64"}, "ERROR: Could not read the folder of '-w none/*.prg'."},
        {{"-w", "*.p00", "a.d64"}, "ERROR: No file for '-w *.p00': its folder holds no matching file."},
        {{"-w", "empty", "a.d64"}, "ERROR: No file for '-w empty': the folder holds no file."},
        {{"-wname", "x", "-w", "*.d64", "a.d64"}, "ERROR: '-wname' names one file, but '-w *.d64' names a folder or pattern."},
        {{"-wtrack", "36", "-w", "a.d64", "a.d64"}, "ERROR: '-wtrack 36' for 'a.d64': files on 'a.d64' may take blocks "
         "of tracks 1 to 35 except the directory's, not 36."},
    };
    for (const ErrorCase &c : cases) {
        Workspace work;
        fs::create_directory(work.dir.file("empty"));
        fs::create_directory(work.dir.file("empty/sub"));
        std::vector<std::string> before = snapshot(work.dir.path);
        RunResult result = work.run(c.args);
        std::string line = testing::PrintToString(c.args);
        EXPECT_EQ(result.status, 1) << line;
        EXPECT_EQ(result.err, c.message + "\n") << line;
        EXPECT_EQ(result.out, "") << line;
        EXPECT_EQ(snapshot(work.dir.path), before) << line;
    }
}

// File errors: the message alone on standard output, no line end, no usage.
TEST(CommandLine, FileErrorsGoToStandardOutputAlone) {
    const ErrorCase cases[] = {
        {{"x.d64"}, "ERROR: File 'x.d64' not found."},
        {{"-rd", "1", "x.d64"}, "ERROR: File 'x.d64' not found."},
        {{"-bam"}, "ERROR: File '' not found."},
        {{"-rd", "1"}, "ERROR: File '' not found."},
        {{"-merge", "a.d64", "x.d64"}, "ERROR: 2nd file 'x.d64' not found."},
        {{"-rd", "1", "folder.d64"}, "ERROR: File 'folder.d64' could not be read."},
        {{"-merge", "a.d64", "folder.d64"}, "ERROR: 2nd file 'folder.d64' could not be read."},
        {{"-merge", "a.d64", "short.d64"}, "ERROR: 2nd file 'short.d64' is too short to hold block 18/0 (1000 bytes)."},
        {{"short.d64"}, "ERROR: File 'short.d64' is too short to hold block 18/0 (1000 bytes)."},
        {{"--", "-h"}, "ERROR: File '-h' not found."},  // after "--" even "-h" names a file
    };
    for (const ErrorCase &c : cases) {
        Workspace work;
        fs::create_directory(work.dir.file("folder.d64"));
        writeBytes(work.dir.file("short.d64"), std::vector<uint8_t>(1000, 0));
        std::vector<std::string> before = snapshot(work.dir.path);
        RunResult result = work.run(c.args);
        std::string line = testing::PrintToString(c.args);
        EXPECT_EQ(result.status, 1) << line;
        EXPECT_EQ(result.out, c.message) << line;
        EXPECT_EQ(result.err, "") << line;
        EXPECT_EQ(snapshot(work.dir.path), before) << line;
    }
}

// Numbers in every base select the same entry; an optional value is taken only
// when it is a whole number.
TEST(CommandLine, OptionValuesAreConsumedByTheirRules) {
    // Runs and returns what was printed and written; `edits` tells whether an
    // entry lies in the range, so that the written image differs from the source.
    auto written = [](const std::vector<std::string> &args, bool edits = true) {
        Workspace work;
        RunResult result = work.run(args);
        EXPECT_EQ(result.status, 0) << testing::PrintToString(args) << result.err;
        EXPECT_EQ(result.err, "") << testing::PrintToString(args);
        std::vector<uint8_t> bytes = readBytes(work.dir.file("a.out.d64"));
        EXPECT_EQ(bytes.size(), work.image.bytes.size()) << testing::PrintToString(args);
        EXPECT_EQ(bytes != bytesOf(work.image), edits) << testing::PrintToString(args);
        return std::make_pair(result.out, bytes);
    };
    auto hex = written({"-rd", "0x10", "a.d64"});
    EXPECT_EQ(hex, written({"-rd", "16", "a.d64"}));
    EXPECT_NE(hex.second, written({"-rd", "15", "a.d64"}).second);
    EXPECT_EQ(written({"-rd", "010", "a.d64"}), written({"-rd", "8", "a.d64"}));

    // "-json" as the value of an option is that value, not the report: the
    // name, disk name or id it writes.
    const std::pair<std::vector<std::string>, size_t> jsonValues[] = {
        {{"-rename", "0", "-json", "a.d64"}, 0x16600 + 5},
        {{"-header", "-json", "a.d64"}, 0x16500 + 0x90},
        {{"-id", "-json", "a.d64"}, 0x16500 + 0xA2},
    };
    for (const auto &[args, field] : jsonValues) {
        std::vector<uint8_t> bytes = written(args).second;
        ASSERT_GE(bytes.size(), field + 5) << testing::PrintToString(args);
        EXPECT_EQ(std::string(bytes.begin() + field, bytes.begin() + field + 5), "-JSON") << testing::PrintToString(args);
    }

    // "5" is taken as the last entry: a range of three entries, not one.
    auto range = written({"-rd", "3", "5", "a.d64"});
    EXPECT_NE(range.second, written({"-rd", "3", "a.d64"}).second);
    EXPECT_EQ(range, written({"a.d64", "-rd", "3", "0x5"}));
    // A last entry below the first selects nothing, and an edit that cannot
    // happen is refused, not reported as done.
    {
        Workspace work;
        RunResult result = work.run({"-rd", "5", "3", "a.d64"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "ERROR: '-rd 5 3' names no entry of the directory; nothing is written.\n");
        EXPECT_EQ(listFolder(work.dir.path), std::vector<std::string>{"a.d64"});
    }
}

TEST(CommandLine, ViewOptionsAndBlockPositionsThatAreAccepted) {
    Workspace work;
    RunResult plain = work.run({"a.d64"});
    ASSERT_EQ(plain.status, 0);
    RunResult ignored = work.run({"-vx", "a.d64"});  // unknown letters change nothing
    EXPECT_EQ(ignored.status, 0);
    EXPECT_EQ(ignored.out, plain.out);
    // Any argument beginning "-v" is a view option: "-verbose" means its letters o, b and s.
    RunResult verbose = work.run({"-verbose", "a.d64"});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out, work.run({"-vobs", "a.d64"}).out);
    EXPECT_NE(verbose.out, plain.out);

    // A second "-block" starts again from 18/0.
    RunResult moved = work.run({"-block", "5", "3", "a.d64"});
    RunResult reset = work.run({"-block", "5", "3", "-block", "a.d64"});
    EXPECT_EQ(reset.out, work.run({"-block", "a.d64"}).out);
    EXPECT_NE(reset.out, moved.out);
    for (const std::vector<std::string> &args : {std::vector<std::string>{"-block", "a.d64"},
                                                 std::vector<std::string>{"-block", "18", "25", "a.d64"},
                                                 std::vector<std::string>{"-block", "40", "a.d64"}}) {
        RunResult viewer = work.run(args);  // the key source ends at once: the viewer leaves
        EXPECT_EQ(viewer.status, 0) << testing::PrintToString(args);
        EXPECT_EQ(viewer.err, "") << testing::PrintToString(args);
    }
    EXPECT_EQ(listFolder(work.dir.path), std::vector<std::string>{"a.d64"});
}

// The conventions people type: -h and --help print the usage as a run
// without arguments does, --version the version, each with status 0 and
// nothing read after them; after "--" every argument is a plain one, so an
// image named "-vintage.d64" can be listed; "$" is a hexadecimal prefix.
TEST(CommandLine, HelpVersionEndOfOptionsAndDollarHex) {
    Workspace work;
    fs::copy_file(work.dir.file("a.d64"), work.dir.file("-vintage.d64"));
    const std::string help = work.run({"-h"}).out;
    ASSERT_EQ(help.rfind("A tool to view and manipulate d64 files.", 0), 0u);
    const std::string listing = work.run({"-vn", "a.d64"}).out;
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } const cases[] = {
        {{"--help"}, help},
        {{"a.d64", "-rd", "1", "-h", "-CSV"}, help},  // nothing runs, nothing is written
        {{"--version"}, "kestrel 1.0\n"},
        {{"--version", "x.d64"}, "kestrel 1.0\n"},
        {{"-vn", "--", "-vintage.d64"}, listing},
        {{"-block", "$12", "$a", "a.d64"}, work.run({"-block", "18", "10", "a.d64"}).out},
    };
    for (const Case &c : cases) {
        RunResult result = work.run(c.args);
        std::string line = testing::PrintToString(c.args);
        EXPECT_EQ(result.status, 0) << line;
        EXPECT_EQ(result.out, c.out) << line;
        EXPECT_EQ(result.err, "") << line;
    }
    EXPECT_EQ(listFolder(work.dir.path), (std::vector<std::string>{"-vintage.d64", "a.d64"}));

    // "$0801" writes what "0x0801" writes.
    auto written = [&](const std::vector<std::string> &args) {
        fs::remove(work.dir.file("out.d64"));
        EXPECT_EQ(work.run(args).status, 0) << testing::PrintToString(args);
        return readBytes(work.dir.file("out.d64"));
    };
    std::vector<uint8_t> hex = written({"-start", "1", "0x0801", "a.d64", "out.d64"});
    EXPECT_NE(hex, bytesOf(work.image));
    EXPECT_EQ(written({"-start", "1", "$0801", "a.d64", "out.d64"}), hex);
    EXPECT_EQ(written({"-start", "$1", "$801", "a.d64", "out.d64"}), hex);
}

// -h prints the usage of an empty command line as it stands, then every
// option the parser accepts, none of them on a line over 80 columns; the
// bash completion offers the same options, and image files and folders where
// an image goes.
TEST(CommandLine, HelpAndCompletionNameEveryOptionTheParserAccepts) {
    const std::set<std::string> options = parserOptions();
    ASSERT_TRUE(options.count("-rd") && options.count("-check") && options.count("--")) << options.size();
    TempDir dir;
    const std::string usage = runBinary({}, dir.path).out;
    const std::string help = runBinary({"-h"}, dir.path).out;
    ASSERT_EQ(help.substr(0, usage.size()), usage);
    std::set<std::string> named;
    for (const std::string &line : splitLines(usageText("kestrel") + help.substr(usage.size()))) {
        EXPECT_LE(line.size(), 80u) << line;
        if (line.empty() || line[0] != '-' || line.find(" ..") == std::string::npos) continue;
        std::string names = line.substr(0, line.find(" .."));  // "-x" or "-h, --help"
        for (size_t comma; (comma = names.find(", ")) != std::string::npos; names.erase(0, comma + 2))
            named.insert(names.substr(0, comma));
        named.insert(names);
    }
    for (const std::string &option : options) EXPECT_TRUE(named.count(option)) << option << " is not in the help";

    for (const char *name : {"a.d64", "B.D71", "c.d81", "d.G64", "notes.txt", "-vintage.d64"}) writeBytes(dir.file(name), {1});
    fs::create_directory(dir.file("sub"));
    const std::set<std::string> images = {"-vintage.d64", "a.d64", "B.D71", "c.d81", "d.G64", "sub"};
    struct Case {
        std::vector<std::string> words;
        std::set<std::string> offered;
    } const cases[] = {
        {{"kestrel", "-"}, options},
        {{"kestrel", "-ch"}, {"-chain", "-check"}},
        {{"kestrel", "-p0"}, {"-p00"}},
        {{"kestrel", ""}, images},
        {{"kestrel", "-w", ""}, {"a.d64", "B.D71", "c.d81", "d.G64", "notes.txt", "-vintage.d64", "sub"}},
        {{"kestrel", "-w", "notes.txt", "a"}, {"a.d64"}},
        {{"kestrel", "-copy", "-"}, {"-vintage.d64"}},  // the image, not an option
        {{"kestrel", "-rename", "0", ""}, {}},  // a name
        {{"kestrel", "-new", ""}, {}},           // a name and id
        {{"kestrel", "-40", ""}, {"speeddos", "dolphindos"}},
        {{"kestrel", "-rd", "3", ""}, images},   // last may follow, an image may
        {{"kestrel", "--", "-"}, {"-vintage.d64"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(completions(c.words, dir.path), c.offered) << testing::PrintToString(c.words);
}

TEST(Destination, DefaultNameReplacesTheExtension) {
    struct Case {
        std::string source;
        std::string destination;
    } const cases[] = {{"a.d64", "a.out.d64"},
                       {"a.b.d64", "a.b.out.d64"},
                       {"dir/disk.d64", "dir/disk.out.d64"},
                       {".d64", ".out.d64"}};  // a name that is all extension
    for (const Case &c : cases) {
        TempDir dir;
        fs::create_directory(dir.file("dir"));
        // An image with the 683 error bytes: the length read is the length written.
        ImageBuffer image = twentyFileImage();
        image.bytes.resize(image.bytes.size() + 683, 0x01);
        writeImage(dir.file(c.source), image);
        RunResult result = runBinary({"-sd", "1", c.source}, dir.path);
        EXPECT_EQ(result.status, 0) << c.source;
        EXPECT_EQ(result.err, "") << c.source;
        EXPECT_TRUE(endsWith(result.out, "\n\nDestination file set to '" + c.destination + "'.\n"))
            << c.source << "\n" << result.out;
        EXPECT_EQ(readBytes(dir.file(c.destination)), bytesOf(scratchedOne(image))) << c.source;
        EXPECT_EQ(snapshot(dir.path).size(), 3u) << c.source;  // dir/, the source, the destination
    }
}

TEST(Destination, GivenNameIsUsedAsItStands) {
    Workspace work;
    RunResult result = work.run({"-sd", "1", "a.d64", "out.d64"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.find("Destination file set"), std::string::npos);
    EXPECT_TRUE(endsWith(result.out, " BLOCKS FREE.\n\n"));
    EXPECT_EQ(readBytes(work.dir.file("out.d64")), bytesOf(scratchedOne(work.image)));

    // A plain argument after an editing option names the destination.
    result = work.run({"a.d64", "-sd", "1", "b.d64"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readBytes(work.dir.file("b.d64")), bytesOf(scratchedOne(work.image)));
    EXPECT_EQ(listFolder(work.dir.path), (std::vector<std::string>{"a.d64", "b.d64", "out.d64"}));
}

// With no "." in the last path component the run lists, then ends in error
// before anything is written.
TEST(Destination, SourceWithoutExtensionIsAnError) {
    Workspace work;
    RunResult named = work.run({"-rd", "1", "a.d64"});
    const std::string destinationLine = "\nDestination file set to 'a.out.d64'.\n";
    ASSERT_TRUE(endsWith(named.out, destinationLine));
    std::string listing = named.out.substr(0, named.out.size() - destinationLine.size());

    fs::create_directories(work.dir.file("x/my.dir"));
    fs::create_directory(work.dir.file("my.dir"));
    writeImage(work.dir.file("disk"), work.image);
    writeImage(work.dir.file("my.dir/disk"), work.image);
    writeImage(work.dir.file("x/my.dir/disk"), work.image);
    fs::remove(work.dir.file("a.out.d64"));
    std::vector<std::string> before = snapshot(work.dir.path);
    // A "." in a folder name is no extension, however deep the folder lies.
    for (const std::string source : {"disk", "my.dir/disk", "x/my.dir/disk"}) {
        RunResult result = work.run({"-rd", "1", source});
        EXPECT_EQ(result.status, 1) << source;
        EXPECT_EQ(result.err, "ERROR: Source file '" + source + "' has no file extension.") << source;
        EXPECT_EQ(result.out, listing + "\n" + kErrorTail) << source;
        EXPECT_EQ(snapshot(work.dir.path), before) << source;
    }
}

// A destination that cannot be written: one line, and nothing is left, also
// not the files (and folders) an -x of the same run wrote before.
TEST(Destination, FailedWriteIsReportedAndLeavesNothingBehind) {
    Workspace work;
    fs::create_directory(work.dir.file("taken"));
    writeBytes(work.dir.file("taken/inside"), {1, 2, 3});
    std::vector<std::string> before = snapshot(work.dir.path);
    const std::vector<std::string> edits[] = {{"-sd", "1"}, {"-fix", "-x"}, {"-fix", "-x", "-into", "made/sub"}};
    for (const std::vector<std::string> &edit : edits)
        for (const std::string destination : {"nodir/out.d64", "taken"}) {
            std::vector<std::string> args = edit;
            args.insert(args.end(), {"a.d64", destination});
            std::string line = testing::PrintToString(args);
            RunResult result = work.run(args);
            EXPECT_EQ(result.status, 1) << line;
            EXPECT_EQ(result.err, "ERROR: Could not write '" + destination + "'.\n") << line;
            EXPECT_TRUE(endsWith(result.out, "\n\n")) << line;
            EXPECT_EQ(snapshot(work.dir.path), before) << line;
        }
    EXPECT_EQ(readBytes(work.dir.file("taken/inside")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Destination, ReadOnlyFolderKeepsTheExistingFile) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root from writing";
    Workspace work;
    fs::create_directory(work.dir.file("locked"));
    writeBytes(work.dir.file("locked/out.d64"), {9, 8, 7});
    std::vector<std::string> before = snapshot(work.dir.path);
    chmod(work.dir.file("locked").c_str(), 0555);
    RunResult result = work.run({"-sd", "1", "a.d64", "locked/out.d64"});
    chmod(work.dir.file("locked").c_str(), 0755);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "ERROR: Could not write 'locked/out.d64'.\n");
    EXPECT_EQ(snapshot(work.dir.path), before);
    EXPECT_EQ(readBytes(work.dir.file("locked/out.d64")), (std::vector<uint8_t>{9, 8, 7}));
}
