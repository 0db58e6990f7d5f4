// The editors in a real terminal: tmux runs kestrel -edit, -bedit or
// -bamedit on a pseudo-terminal, real keys are typed, and each session ends
// with the image the same edits make on the command line, with no image at
// all when the user leaves without writing, or with a screen. A resize draws
// the screen anew in the new size; a kill signal leaves the terminal as it was.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tmux_session.h"

namespace {

std::string readText(const std::string &path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool rawMode(const std::string &settings) { return contains(settings, " -icanon ") && contains(settings, " -echo "); }

using Args = std::vector<std::string>;

struct KeySession {
    const char *name;
    const char *image;               // disk.d64, disk.d71, disk.d81 or disk.g64, as cc1541 makes it
    Args args;                       // kestrel's options; the image follows
    std::vector<std::string> keys;  // tmux send-keys words, sent one by one
    std::vector<Args> commandLine;   // runs whose last image the editor must have written (empty: none written)
    std::string screen;             // else the screen at the end holds this
    int signal;                     // sent to kestrel after the keys (0: none)
    int resizeRows;                 // the window is made 100 x this after the keys (0: stays 80 x 24)
    const char *patch = "";         // a shell command run on the image before kestrel (damage, or
                                    // kestrel's own edits: `kestrel` runs the binary under test)
};

void PrintTo(const KeySession &session, std::ostream *out) { *out << session.name; }

const std::string kHelpEnd = "u undo  U redo  c character set  w write  x write and quit  q quit";

// Each image lists "one", "two", "three", as cc1541 writes them.
const KeySession kSessions[] = {
    // Move "one" down, name it X, $a6 and $a1 from the palette, insert two
    // DEL lines above it, undo both, redo one, write and quit.
    {"BuildArt", "disk.d64", {"-edit"},
     {"j", "J", "Enter", "x", "%a6", "Tab", "Down", "Down", "Down", "Down", "Down", "Down", "Down", "Down", "Right",
      "Enter", "Enter", "i", "i", "u", "u", "U", "x"},
     {{"-move", "0", "1"}, {"-rename", "1", "X%a6%a1"}, {"-adel"}, {"-move", "3", "1"}}, "", 0, 0},
    // The disk name and id typed over, a block count, lock and splat, a DEL
    // line inserted at the last entry and deleted again.
    {"HeaderTypeAndDelete", "disk.d64", {"-edit"},
     {"Enter", "new", "Enter", "I", "99", "Enter", "j", "b", "7", "Enter", "l", "'*'", "G", "i", "d", "x"},
     {{"-header", "NEW DISK", "-id", "99"}, {"-blocks", "0", "7", "-type", "0", "*PRG<"}, {"-adel"},
      {"-move", "3", "2"}, {"-type", "2", "0"}},
     "", 0, 0},
    // A D81: a DEL line at the top, named with two $C0; a D71: "one" moved to the end.
    {"D81InsertAndRename", "disk.d81", {"-edit"}, {"j", "i", "Enter", "%c0%c0", "Enter", "x"},
     {{"-adel"}, {"-move", "3", "0"}, {"-rename", "0", "%c0%c0"}}, "", 0, 0},
    {"D71MoveDown", "disk.d71", {"-edit"}, {"j", "J", "J", "x"}, {{"-move", "0", "1", "-move", "1", "2"}}, "", 0, 0},
    // Backspace closes the name up; the palette's Up from $20 gives $10.
    {"BackspaceAndPalette", "disk.d64", {"-edit"}, {"j", "Enter", "abc", "BSpace", "BSpace", "Tab", "Up", "Enter", "Enter", "x"},
     {{"-rename", "0", "A%10"}}, "", 0, 0},
    // A glyph typed (pasted) as UTF-8 gives the code the set shows it for, as -rename reads it.
    {"GlyphTyped", "disk.d64", {"-edit"}, {"j", "Enter", "\u2592", "Enter", "x"}, {{"-U", "-rename", "0", "\u2592NE"}},
     "", 0, 0},
    {"TypeCycles", "disk.d64", {"-edit"}, {"j", "t", "t", "x"}, {{"-type", "0", "REL"}}, "", 0, 0},
    {"DeclineLeaving", "disk.d64", {"-edit"}, {"j", "l", "q", "n", "x"}, {{"-type", "0", "PRG<"}}, "", 0, 0},
    {"BlockCountRefused", "disk.d64", {"-edit"}, {"j", "b", "99999", "Enter"}, {}, "A block count is 0 to 65535.", 0, 0},
    {"DeleteOnlyDelLines", "disk.d64", {"-edit"}, {"j", "d"}, {}, "Only a DEL line without a file is deleted here.", 0, 0},
    // n follows 18/0's link to 18/1, > goes on to 18/2, p comes back to 18/0.
    {"BlockEditorMoves", "disk.d64", {"-bedit"}, {"n", "'>'", "4", "2", "p", "'['", "']'", "x"},
     {{"-bpoke", "18/2", "0", "42"}}, "", 0, 0},
    // Six DEL lines inserted at the top: the seventh entry of 18/1's eight
    // slots, then the directory grows into a new block, as -adel grows it.
    {"InsertGrowsTheDirectory", "disk.d64", {"-edit"}, {"i", "i", "i", "i", "i", "i", "x"},
     {{"-adel"}, {"-move", "3", "0"}, {"-adel"}, {"-move", "4", "0"}, {"-adel"}, {"-move", "5", "0"}, {"-adel"},
      {"-move", "6", "0"}, {"-adel"}, {"-move", "7", "0"}, {"-adel"}, {"-move", "8", "0"}},
     "", 0, 0},
    // 18/1 links to itself: the edit's warning goes to the status line, not over the screen.
    {"WarningOnTheStatusLine", "disk.d64", {"-edit"}, {"j", "t"}, {},
     "\nWARNING: The directory chain loops back to block 18/1; the edits see each of its\n", 0, 0,
     "printf '\\022\\001' | dd of=disk.d64 bs=1 seek=91648 conv=notrunc status=none"},
    {"BlockEditorStaysInTheImage", "disk.d64", {"-bedit", "18", "1"}, {"'['", "'['", "g"}, {},
     "Block 0/0 is not in the image.", 0, 0},
    // An edit after an undo, undone in turn: back to the image as loaded.
    {"UndoAfterUndo", "disk.d64", {"-edit"}, {"j", "t", "u", "l", "u", "x"}, {{"-type", "0", "PRG"}}, "", 0, 0},
    {"LeaveWithoutWriting", "disk.d64", {"-edit"}, {"j", "t", "q", "y"}, {}, "STATUS:0", 0, 0},
    {"UndoneChangesLeaveUnasked", "disk.d64", {"-edit"}, {"j", "t", "u", "q"}, {}, "STATUS:0", 0, 0},
    {"AsksBeforeLeaving", "disk.d64", {"-edit"}, {"j", "l", "q"}, {}, "Leave without writing them? (y/n)", 0, 0},
    {"LowerCaseSet", "disk.d64", {"-edit"}, {"c"}, {}, "> 0 \"art disk", 0, 0},
    {"ResizeRedraws", "disk.d64", {"-edit"}, {}, {}, kHelpEnd, 0, 30},
    {"SigtermRestoresTheTerminal", "disk.d64", {"-edit"}, {"j", "t"}, {}, "STATUS:143", SIGTERM, 0},
    // Two bytes typed (hex, then a character), the block marked free, written.
    {"BlockEditor", "disk.d64", {"-bedit", "18", "1"}, {"f", "f", "Tab", "a", "Tab", "m", "x"},
     {{"-bpoke", "18/1", "0", "ff41", "-bfree", "18/1"}}, "", 0, 0},
    {"MapView", "disk.d64", {"-bamedit"}, {"Space", "j", "Space", "u", "x"}, {{"-bfree", "1/0"}}, "", 0, 0},
    // Inside a partition: nine DEL lines, the ninth growing the partition's
    // directory (a block of its track, its own map), that one undone, the
    // top line named; the rest of the disk as it was.
    {"InsidePartition", "disk.d81", {"-part", "GAMES", "-edit"},
     {"i", "i", "i", "i", "i", "i", "i", "i", "i", "u", "Enter", "ab", "Enter", "x"},
     {{"-part", "GAMES", "-adel"}, {"-part", "GAMES", "-adel", "-move", "1", "0"},
      {"-part", "GAMES", "-adel", "-move", "2", "0"}, {"-part", "GAMES", "-adel", "-move", "3", "0"},
      {"-part", "GAMES", "-adel", "-move", "4", "0"}, {"-part", "GAMES", "-adel", "-move", "5", "0"},
      {"-part", "GAMES", "-adel", "-move", "6", "0"}, {"-part", "GAMES", "-adel", "-move", "7", "0"},
      {"-part", "GAMES", "-rename", "0", "AB"}},
     "", 0, 0, "kestrel -mkpart GAMES 120 disk.d81 disk.d81 >/dev/null"},
    // The partition's map view (tracks 2-4): 1/0 outside its area refused, 3/0 marked used.
    {"PartitionMapView", "disk.d81", {"-part", "GAMES", "-bamedit"}, {"Space", "j", "j", "Space", "x"},
     {{"-part", "GAMES", "-bused", "3/0"}}, "", 0, 0, "kestrel -mkpart GAMES 120 disk.d81 disk.d81 >/dev/null"},
    // A G64 (cc1541's beside its D64): its decoded blocks are edited and it is written back as a G64.
    {"G64BlockEditor", "disk.g64", {"-bedit", "18", "1"}, {"f", "f", "Tab", "a", "x"}, {{"-bpoke", "18/1", "0", "ff41"}},
     "", 0, 0},
    {"G64DirectoryEditor", "disk.g64", {"-edit"}, {"j", "t", "t", "x"}, {{"-type", "0", "REL"}}, "", 0, 0},
    {"G64MapEditor", "disk.g64", {"-bamedit"}, {"Space", "x"}, {{"-bfree", "1/0"}}, "", 0, 0},
    // 18/0's data block mark spoilt (error 22): its edit is refused on the status line, nothing written.
    {"G64BlockNotFoundRefused", "disk.g64", {"-bedit", "18", "0"}, {"f", "f", "w"},
     {}, "ERROR: 'disk.g64' block 18/0 cannot be written: its data block", 0, 0,
     "python3 -c \"d=bytearray(open('disk.g64','rb').read()); o=int.from_bytes(d[148:152],'little'); "
     "d[d.index(bytes([255,85]),o)+1]=86; open('disk.g64','wb').write(d)\""},
};

class EditorSession : public testing::TestWithParam<KeySession> {
protected:
    void SetUp() override {
        if (!haveProgram("tmux") || !haveProgram("cc1541")) GTEST_SKIP() << "tmux or cc1541 missing";
        writeBytes(dir.file("file"), randomBytes(300, 3));
        int status = -1;
        image = GetParam().image;
        destination = "disk.out" + image.substr(image.find('.'));
        shellOutput("cd " + dir.path + " && cc1541 -q -n 'art disk' -i 23 -f one -w file -f two -w file "
                    "-f three -w file " + (image == "disk.g64" ? "-g disk.g64 disk.d64" : image) +
                    " && kestrel() { '" KESTREL_BINARY "' \"$@\"; } && " + (*GetParam().patch ? GetParam().patch : "true"),
                    &status);
        ASSERT_EQ(status, 0);
        std::string command;
        for (const std::string &arg : GetParam().args) command += " " + arg;
        std::ofstream script(dir.file("run.sh"));
        script << "cd '" << dir.path << "'\n"
               << "stty -g > before.txt\n"
               << "sh -c 'echo $$ > pid.txt; exec " << KESTREL_BINARY << command << " " << image << "'\n"
               << "echo \"STATUS:$?\"\n"
               << "stty -g > after.txt\n"
               << "sleep 600\n";
        script.close();
        session = std::make_unique<TmuxSession>(80, 24, "sh " + dir.file("run.sh"));
        ASSERT_TRUE(waitUntil([&] { return rawMode(session->terminalSettings()); })) << session->screen();
    }

    // The image the command-line runs make, one after the other, from the image.
    std::vector<uint8_t> commandLineImage(const std::vector<Args> &runs) {
        std::string from = image;
        for (size_t i = 0; i < runs.size(); ++i) {
            std::string to = "step" + std::to_string(i) + image.substr(image.find('.'));
            Args args = runs[i];
            args.insert(args.end(), {from, to});
            RunResult run = runBinary(args, dir.path);
            EXPECT_EQ(run.status, 0) << run.err;
            from = to;
        }
        return readBytes(dir.file(from));
    }

    TempDir dir;
    std::string image, destination;
    std::unique_ptr<TmuxSession> session;
};

}  // namespace

TEST_P(EditorSession, EndsWithTheImageOrScreenExpected) {
    const KeySession &keys = GetParam();
    for (const std::string &key : keys.keys) session->sendKeys(key);
    if (keys.resizeRows) {
        ASSERT_TRUE(waitUntil([&] { return lastScreenLine(session->screen()) == kHelpEnd; })) << session->screen();
        session->resize(100, keys.resizeRows);
        // Drawn anew: the keys' last line on the last row of the larger window.
        EXPECT_TRUE(waitUntil([&] {
            std::vector<std::string> lines = splitLines(session->screen());
            return static_cast<int>(lines.size()) >= keys.resizeRows && lines[keys.resizeRows - 1] == kHelpEnd;
        })) << session->screen();
    }
    if (keys.signal) {
        ASSERT_TRUE(waitUntil([&] { return !readText(dir.file("pid.txt")).empty(); }));
        ASSERT_TRUE(waitUntil([&] { return contains(session->screen(), "changed"); })) << session->screen();
        ASSERT_EQ(kill(static_cast<pid_t>(std::stol(readText(dir.file("pid.txt")))), keys.signal), 0);
    }
    if (!keys.screen.empty()) {
        EXPECT_TRUE(waitUntil([&] { return contains(session->screen(), keys.screen); })) << session->screen();
    }
    if (keys.commandLine.empty()) {
        EXPECT_TRUE(readBytes(dir.file(destination)).empty());
    } else {
        ASSERT_TRUE(waitUntil([&] { return contains(session->screen(), "STATUS:0"); })) << session->screen();
        std::vector<uint8_t> written = readBytes(dir.file(destination));
        EXPECT_FALSE(written.empty());
        EXPECT_TRUE(written == commandLineImage(keys.commandLine)) << "the editor wrote another image";
    }
    if (contains(session->screen(), "STATUS:")) {
        ASSERT_TRUE(waitUntil([&] { return !readText(dir.file("after.txt")).empty(); }));
        EXPECT_EQ(readText(dir.file("after.txt")), readText(dir.file("before.txt")));
        EXPECT_FALSE(rawMode(session->terminalSettings()));
    }
}

INSTANTIATE_TEST_SUITE_P(Tmux, EditorSession, testing::ValuesIn(kSessions),
                         [](const testing::TestParamInfo<KeySession> &info) { return std::string(info.param.name); });

// Ctrl+Z from an interactive sh: the shell gets its terminal back as it was;
// fg makes it raw again and draws the editor's screen anew, edits kept.
TEST(EditorInTmuxShell, CtrlZStopsAndFgDrawsAnew) {
    if (!haveProgram("tmux")) GTEST_SKIP() << "tmux not installed";
    TempDir dir;
    writeImage(dir.file("disk.d64"), formatImage("STOPPED", "zz"));
    TmuxSession shell(80, 24, shellPaneCommand(dir.path));
    ASSERT_TRUE(waitUntil([&] { return lastScreenLine(shell.screen()) == "$"; })) << shell.screen();
    shell.typeLine("stty -g > before.txt; " + std::string(KESTREL_BINARY) + " -edit disk.d64");
    ASSERT_TRUE(waitUntil([&] { return rawMode(shell.terminalSettings()); })) << shell.screen();
    shell.sendKeys("I");
    shell.sendKeys("ab");
    shell.sendKeys("Enter");
    ASSERT_TRUE(waitUntil([&] { return contains(shell.screen(), "\" AB"); })) << shell.screen();
    shell.sendKeys("C-z");
    ASSERT_TRUE(waitUntil([&] { return contains(shell.screen(), "Stopped"); })) << shell.screen();
    ASSERT_TRUE(waitUntil([&] { return !rawMode(shell.terminalSettings()); })) << shell.screen();
    shell.typeLine("stty -g > stopped.txt; fg");
    ASSERT_TRUE(waitUntil([&] { return rawMode(shell.terminalSettings()); })) << shell.screen();
    EXPECT_EQ(readText(dir.file("stopped.txt")), readText(dir.file("before.txt")));
    EXPECT_TRUE(waitUntil([&] {
        std::string screen = shell.screen();
        return screen.rfind("kestrel -edit disk.d64", 0) == 0 && contains(screen, "\" AB") && !contains(screen, "Stopped");
    })) << shell.screen();
    shell.sendKeys("x");
    ASSERT_TRUE(waitUntil([&] { return !rawMode(shell.terminalSettings()); })) << shell.screen();
    std::vector<uint8_t> written = readBytes(dir.file("disk.out.d64"));
    ASSERT_EQ(written.size(), 174848u);
    EXPECT_EQ(written[0x165A2], 'A');
    EXPECT_EQ(written[0x165A3], 'B');
    shell.typeLine("stty -g > after.txt");
    ASSERT_TRUE(waitUntil([&] { return !readText(dir.file("after.txt")).empty(); }));
    EXPECT_EQ(readText(dir.file("after.txt")), readText(dir.file("before.txt")));
}
