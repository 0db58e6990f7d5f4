// Glyphs into pipes and the C64's own glyphs: with -utf8 a pipe receives what
// a terminal shows (tmux on a pseudo-terminal stands for the terminal), as
// valid UTF-8, in every character mode; with -U and -Ul every code 00-FF of a
// name shows as the code point data/petscii-unicode.tsv gives it, and a
// control code as it shows without them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tmux_session.h"
#include "support/tools.h"
#include "support/unicode.h"

namespace {

// A disk name with graphics of both sets, the pound sign and letters.
const std::string kGraphicsName = "\x60\x7B\x5C" "AB\x62\x63\x7C\xA9\xBA\x73\x7A";

void makeImage(const TempDir &dir) {
    ImageBuffer image = formatImage(kGraphicsName, "\x61\x41");
    addFile(image, {0x01, 0x08, 0x60}, "\x60\x60" "BOX\x01\x1b\xff");
    addFile(image, randomBytes(700, 4), "\xC8" "ELLO " "\xD7" "ORLD");  // "Hello World" in the lower-case set
    writeImage(dir.file("disk.d64"), image);
}

// The lines of `text` without the blanks at their ends, as tmux shows them.
std::string withoutTrailingBlanks(const std::string &text) {
    std::string result;
    for (std::string line : splitLines(text)) {
        line.erase(line.find_last_not_of(' ') + 1);
        result += line + "\n";
    }
    return result;
}

// What the pane shows of a command's output: the lines before the end mark.
std::string paneOutput(const std::string &dir, const std::string &command) {
    TmuxSession pane(140, 50, "cd " + dir + " && " + command + "; echo __DONE__; sleep 60");
    std::string screen;
    waitUntil([&] { return contains(screen = pane.screen(), "__DONE__"); });
    return screen.substr(0, screen.find("__DONE__"));
}

// The code points of the 16 disk-name characters in the header of a listing.
std::vector<uint32_t> headerName(const std::string &listing) {
    size_t open = listing.find('"');
    std::vector<uint32_t> points;
    if (open == std::string::npos || !decodeUtf8(listing.substr(open + 1, listing.find('\n') - open - 1), points))
        return {};
    points.resize(16);
    return points;
}

}  // namespace

// Listing, columns, CSV and the viewer, in each character mode: the pipe gets
// with -utf8 exactly the terminal's text, and it decodes as UTF-8.
TEST(GlyphOutput, Utf8PipeGetsWhatTheTerminalShows) {
    REQUIRE_TOOL("command -v tmux", "tmux");
    TempDir dir;
    makeImage(dir);
    const std::vector<std::vector<std::string>> commands = {
        {}, {"-p"}, {"-vo"}, {"-U"}, {"-Ul"}, {"-vntsfbc", "-U"}, {"-csv", "-Ul"}, {"-block", "18", "0", "-U"},
        {"-block", "18", "1", "-vo"}};
    for (const std::vector<std::string> &args : commands) {
        std::string line;
        for (const std::string &arg : args) line += " " + arg;
        SCOPED_TRACE(line);
        bool viewer = !args.empty() && args[0] == "-block";
        std::string command = std::string(viewer ? "printf q | " : "") + KESTREL_BINARY + line + " disk.d64";
        std::string screen = paneOutput(dir.path, command);

        std::vector<std::string> utf8Args = args;
        utf8Args.insert(utf8Args.begin(), "-utf8");
        utf8Args.push_back("disk.d64");
        RunResult pipe = runBinary(utf8Args, dir.path, viewer ? "q" : "");
        ASSERT_EQ(pipe.status, 0) << pipe.err;
        std::vector<uint32_t> points;
        EXPECT_TRUE(decodeUtf8(pipe.out, points));
        EXPECT_EQ(screen, withoutTrailingBlanks(pipe.out));
    }
}

// Every code 00-FF, sixteen to a disk name: through -utf8 with -U or -Ul the
// code point of its set in the data file, or for a control code the glyph it
// has without those options. Into a pipe without -utf8 nothing changes.
TEST(GlyphOutput, C64SetsGiveEveryCodeItsCodePoint) {
    TempDir dir;
    std::vector<uint32_t> upper = readPetsciiColumn(1), lower = readPetsciiColumn(2);
    ASSERT_EQ(upper.size(), 256u);
    ASSERT_EQ(lower.size(), 256u);
    int legacyGlyphs = 0;
    for (int row = 0; row < 16; ++row) {
        std::string name;
        for (int code = row * 16; code < row * 16 + 16; ++code) name += static_cast<char>(code);
        writeImage(dir.file("row.d64"), formatImage(name, "ab"));
        std::vector<uint32_t> today = headerName(runBinary({"-utf8", "row.d64"}, dir.path).out);
        ASSERT_EQ(today.size(), 16u) << "row " << row;
        for (int set = 1; set <= 2; ++set) {
            RunResult run = runBinary({"-utf8", set == 1 ? "-U" : "-Ul", "row.d64"}, dir.path);
            std::vector<uint32_t> shown = headerName(run.out);
            ASSERT_EQ(shown.size(), 16u) << run.out;
            for (int i = 0; i < 16; ++i) {
                uint32_t expected = (set == 1 ? upper : lower)[row * 16 + i];
                EXPECT_EQ(shown[i], expected ? expected : today[i]) << "set " << set << " code " << row * 16 + i;
                if (shown[i] >= 0x1FB00 && shown[i] <= 0x1FBFF) ++legacyGlyphs;
            }
        }
        EXPECT_EQ(runBinary({"-U", "row.d64"}, dir.path).out, runBinary({"row.d64"}, dir.path).out);
    }
    EXPECT_GT(legacyGlyphs, 40);
}

// On a terminal the graphics of a name show as the C64 draws them.
TEST(GlyphOutput, TerminalShowsTheC64GlyphsOfAName) {
    REQUIRE_TOOL("command -v tmux", "tmux");
    TempDir dir;
    makeImage(dir);
    std::string screen = paneOutput(dir.path, std::string(KESTREL_BINARY) + " -U disk.d64");
    EXPECT_TRUE(contains(screen, "0 \"\u2500\u253C\u00A3AB\U0001FB72\U0001FB78\U0001FB8C\u25E4\U0001FB7F\u2665\u2666"))
        << screen;
    EXPECT_TRUE(contains(screen, "1    \"\u2500\u2500BOX")) << screen;
    screen = paneOutput(dir.path, std::string(KESTREL_BINARY) + " -Ul disk.d64");
    EXPECT_TRUE(contains(screen, "0 \"\u2500\u253C\u00A3abBC\U0001FB8C\U0001FB99\u2713SZ")) << screen;
    EXPECT_TRUE(contains(screen, "\"Hello World\"")) << screen;
}

// The text between the first two quotes of a listing line.
std::string quotedName(const std::string &line) {
    size_t open = line.find('"');
    return line.substr(open + 1, line.find('"', open + 1) - open - 1);
}

// The line -w prints names the new entry in the glyphs the listing shows it
// in, in every character mode; and the names a listing shows in the C64's
// sets, pasted back as -header and -rename texts with the same -U or -Ul,
// list as they did.
TEST(GlyphOutput, InsertLineShowsTheNameAsTheListingDoes) {
    TempDir dir;
    makeImage(dir);
    writeBytes(dir.file("Mixed%5c%c1.prg"), {1, 8, 0});
    for (const char *mode : {"-p", "-U", "-Ul"}) {
        SCOPED_TRACE(mode);
        RunResult insert = runBinary({"-utf8", mode, "-w", "Mixed%5c%c1.prg", "disk.d64", "new.d64"}, dir.path);
        ASSERT_EQ(insert.status, 0) << insert.err;
        RunResult listing = runBinary({"-utf8", mode, "new.d64"}, dir.path);
        std::vector<std::string> lines = splitLines(listing.out);
        ASSERT_GE(lines.size(), 4u);
        const std::string &entry = lines[3];  // header, two files, then the new one
        std::string name = entry.substr(entry.find('"'), entry.rfind('"') - entry.find('"') + 1);
        EXPECT_TRUE(contains(insert.out, "  2: " + name + " PRG, 1 block from ")) << insert.out << name;

        // (Code page 437 shows 0xD7 as "o", which the ASCII rule reads as 0x4F.)
        if (std::string(mode) == "-p") continue;
        RunResult shown = runBinary({"-utf8", mode, "disk.d64"}, dir.path);
        std::vector<std::string> before = splitLines(shown.out);
        ASSERT_GE(before.size(), 3u);
        RunResult pasted = runBinary({"-utf8", mode, "-header", quotedName(before[0]), "-rename", "0",
                                      quotedName(before[1]), "-rename", "1", quotedName(before[2]), "disk.d64",
                                      "pasted.d64"}, dir.path);
        ASSERT_EQ(pasted.status, 0) << pasted.err;
        EXPECT_EQ(runBinary({"-utf8", mode, "pasted.d64"}, dir.path).out, shown.out);
    }
}
