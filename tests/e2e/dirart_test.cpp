// Directory art end to end: the edits, run by the real binary on an image
// that cc1541 wrote, change exactly the bytes they name and print what they
// changed, and cc1541's own listing of the written image shows the new names,
// types, block counts, order and header. -undel gives back a file scratched
// the way a 1541 scratches, and cbmconvert extracts it unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/cc1541.h"
#include "support/d64_builder.h"
#include "support/d64_zones.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Block = std::pair<int, int>;

constexpr size_t kMap = 0x16500;        // block 18/0
constexpr size_t kDirectory = 0x16600;  // block 18/1, where cc1541 puts the first eight entries
size_t slot(int index) { return kDirectory + 32 * static_cast<size_t>(index); }

const char *const kFiles[4][2] = {{"title", "PRG"}, {"data", "SEQ"}, {"tool", "USR"}, {"game", "PRG"}};
const size_t kSizes[4] = {300, 1000, 2, 5000};

// The name field of a listing line: the quoted name padded to 18 columns.
std::string quoted(const std::string &name) {
    std::string field = "\"" + name + "\"";
    field.resize(18, ' ');
    return field;
}
// An entry line as cc1541 lists it: count, name field, splat, type and lock.
std::string ccLine(int blocks, const std::string &name, const std::string &marks) {
    char count[8];
    std::snprintf(count, sizeof count, "%-5d", blocks);
    return count + quoted(name) + marks;
}
const std::string kTitle = ccLine(2, "title", " prg "), kData = ccLine(4, "data", " seq "),
                  kTool = ccLine(1, "tool", " usr "), kGame = ccLine(20, "game", " prg ");

// Writes the four files into `dir` and makes art.d64 of them with cc1541.
Bytes makeArtDisk(const TempDir &dir) {
    std::string command = "cd " + dir.path + " && cc1541 -q -n 'art disk' -i 'ab'";
    for (uint32_t i = 0; i < 4; ++i) {
        writeBytes(dir.file(kFiles[i][0]), randomBytes(kSizes[i], 50 + i));
        command += std::string(" -T ") + kFiles[i][1] + " -f " + kFiles[i][0] + " -w " + kFiles[i][0];
    }
    int status = -1;
    std::string out = shellOutput(command + " art.d64 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return readBytes(dir.file("art.d64"));
}

void putName(Bytes &image, size_t at, const std::string &text) {
    std::memset(&image[at], 0xA0, 16);
    std::memcpy(&image[at], text.data(), text.size());
}
// Slot i of `image` gets bytes 02-1F of slot order[i] of `source`.
void reorder(Bytes &image, const Bytes &source, const std::vector<int> &order) {
    for (size_t i = 0; i < order.size(); ++i) std::memcpy(&image[slot(static_cast<int>(i)) + 2], &source[slot(order[i]) + 2], 30);
}

std::vector<Block> chainOfEntry(const Bytes &image, int index) {
    std::vector<Block> blocks;
    for (Block at{image[slot(index) + 3], image[slot(index) + 4]}; at.first != 0 && blocks.size() < 800;) {
        blocks.push_back(at);
        size_t offset = zoneOffset(at.first, at.second);
        at = {image[offset], image[offset + 1]};
    }
    return blocks;
}
void setLink(Bytes &image, Block block, Block to) {
    image[zoneOffset(block.first, block.second)] = static_cast<uint8_t>(to.first);
    image[zoneOffset(block.first, block.second) + 1] = static_cast<uint8_t>(to.second);
}
// Marks a block free or used as the drive does: its bit and its track's count.
void markInMap(Bytes &image, Block block, bool free) {
    ImageBuffer buffer;
    buffer.bytes.assign(image.begin(), image.end());
    markBlock(buffer, block.first, block.second, free);
    image = bytesOf(buffer);
}
// Entry `index` scratched as a 1541 scratches: type byte 0, its blocks free.
Bytes scratch(Bytes image, int index) {
    for (Block block : chainOfEntry(image, index)) markInMap(image, block, true);
    image[slot(index) + 2] = 0;
    return image;
}

RunResult runIn(const TempDir &dir, std::vector<std::string> args, const std::string &in) {
    args.insert(args.end(), {in, "out.d64"});
    std::remove(dir.file("out.d64").c_str());
    return runBinary(args, dir.path);
}

}  // namespace

TEST(DirArt, EditsChangeExactlyTheNamedBytes) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    const Bytes source = makeArtDisk(dir);
    CcListing before = ccList(dir, "art.d64");
    ASSERT_EQ(before.entries, (std::vector<std::string>{kTitle, kData, kTool, kGame}));
    const std::string separator(16, '\xC4');  // 0xC0 as the listing prints it into a pipe

    struct Case {
        std::vector<std::string> args;
        std::function<void(Bytes &)> change;  // the named bytes, applied to the source
        std::string printed;
        std::vector<std::string> ccEntries;
        std::string ccHeader;
    };
    const Case cases[] = {
        // A locked title, a separator shown as a locked DEL entry of 0 blocks,
        // an open file, a raw type byte, the disk name and the id.
        {{"-rename", "0", "New Name", "-type", "0", "prg<", "-rename", "2", std::string(16, '-'), "-type", "2",
          "DEL<", "-blocks", "2", "0", "-type", "1", "*seq", "-blocks", "3", "65535", "-type", "3", "0xC1",
          "-header", "Party 2026", "-id", "XY%a02A"},
         [](Bytes &b) {
             putName(b, slot(0) + 5, "NEW NAME");
             b[slot(0) + 2] = 0xC2;
             putName(b, slot(2) + 5, std::string(16, '-'));
             b[slot(2) + 2] = 0xC0;
             b[slot(2) + 30] = 0;
             b[slot(1) + 2] = 0x01;
             b[slot(3) + 30] = b[slot(3) + 31] = 0xFF;
             b[slot(3) + 2] = 0xC1;
             putName(b, kMap + 0x90, "PARTY 2026");
             std::memcpy(&b[kMap + 0xA2], "XY\xA0" "2A", 5);
         },
         "-rename 0: " + quoted("TITLE") + " -> " + quoted("NEW NAME") +
             "\n-type 0: PRG ($82) -> PRG< ($c2)\n-rename 2: " + quoted("TOOL") + " -> \"" + std::string(16, '-') +
             "\"\n-type 2: USR ($83) -> DEL< ($c0)\n-blocks 2: 1 -> 0\n-type 1: SEQ ($81) -> *SEQ ($01)\n"
             "-blocks 3: 20 -> 65535\n-type 3: PRG ($82) -> SEQ< ($c1)\n"
             "-header: \"ART DISK        \" -> \"PARTY 2026      \"\n-id: \"AB   \" -> \"XY 2A\"\n\n",
         {ccLine(2, "new name", " prg<"), ccLine(4, "data", "*seq "), ccLine(0, std::string(16, '-'), " del<"),
          "65535  " + quoted("game") + " seq<"},
         "0 \"party 2026      \" xy 2a"},
        // Box glyphs as a terminal listing shows them, each the code the C64
        // draws it with (or types, for █); a blank typed at the id's third
        // place is the 0xA0 the listing shows there; an id of one byte keeps
        // the other four.
        {{"-rename", "1", "\u2500\u250c\u2510\u2514\u2518\u2502\u2588", "-id", "XY 2A", "-id", "q"},
         [](Bytes &b) {
             putName(b, slot(1) + 5, "\xC0\xB0\xAE\xAD\xBD\xDD\xCC");
             std::memcpy(&b[kMap + 0xA2], "QY\xA0" "2A", 5);
         },
         "-rename 1: " + quoted("DATA") + " -> " + quoted("\xC4\xDA\xBF\xC0\xD9\xB3\xDB") +
             "\n-id: \"AB   \" -> \"XY 2A\"\n-id: \"XY 2A\" -> \"QY 2A\"\n\n",
         {kTitle, ccLine(4, "@....]L", " seq "), kTool, kGame},  // cc1541: @ for 0xC0, . for graphics
         "0 \"art disk        \" qy 2a"},
        // Entry 1 hidden first: later numbers count the listing as it now is,
        // the hidden slot moves with the others, and a move back down.
        {{"-type", "1", "0", "-move", "0", "2", "-move", "2", "1"},
         [](Bytes &b) {
             b[slot(1) + 2] = 0;
             Bytes hidden = b;
             reorder(b, hidden, {1, 2, 0, 3});
         },
         "-type 1: SEQ ($81) -> *DEL ($00)\n-move 0 -> 2: " + quoted("TITLE") + "\n-move 2 -> 1: " +
             quoted("TITLE") + "\n\n",
         {kTool, kTitle, kGame}, ""},
        {{"-move", "3", "0"}, [&](Bytes &b) { reorder(b, source, {3, 0, 1, 2}); },
         "-move 3 -> 0: " + quoted("GAME") + "\n\n", {kGame, kTitle, kData, kTool}, ""},
        // After the DEL append, whose new entry the edits see; with -va an
        // empty slot counts too.
        {{"-adel", "-va", "-rename", "4", "%C0%c0", "-rename", "5", "spacer", "-type", "5", "DEL"},
         [](Bytes &b) {
             b[slot(4) + 2] = 0x80;
             putName(b, slot(4) + 5, "\xC0\xC0");
             putName(b, slot(5) + 5, "SPACER");
             b[slot(5) + 2] = 0x80;
         },
         "Last Block of 18/ 1: \n18/ 1\n-rename 4: " + quoted("") + " -> " + quoted(separator.substr(0, 2)) +
             "\n-rename 5: " + quoted(std::string(16, '@')) + " -> " + quoted("SPACER") +
             "\n-type 5: *DEL ($00) -> DEL ($80)\n\n",
         {kTitle, kData, kTool, kGame, ccLine(0, "@@", " del "), ccLine(0, "spacer", " del ")}, ""},  // cc1541's @ for 0xC0
    };
    for (const Case &edit : cases) {
        SCOPED_TRACE(edit.printed);
        RunResult run = runIn(dir, edit.args, "art.d64");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, edit.printed);
        Bytes expected = source;
        edit.change(expected);
        EXPECT_EQ(readBytes(dir.file("out.d64")), expected);
        CcListing after = ccList(dir, "out.d64");
        EXPECT_EQ(after.entries, edit.ccEntries);
        EXPECT_EQ(after.header, edit.ccHeader.empty() ? before.header : edit.ccHeader);
        EXPECT_EQ(after.blocksFree, before.blocksFree);
    }
}

TEST(DirArt, UndeleteGivesBackAScratchedFile) {
    if (!haveProgram("cc1541") || !haveProgram("cbmconvert")) GTEST_SKIP() << "cc1541 or cbmconvert missing";
    TempDir dir;
    const Bytes source = makeArtDisk(dir);
    writeBytes(dir.file("scratched.d64"), scratch(source, 1));
    ASSERT_EQ(ccList(dir, "scratched.d64").entries, (std::vector<std::string>{kTitle, kTool, kGame}));

    RunResult run = runIn(dir, {"-undel", "1"}, "scratched.d64");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "-undel 1: " + quoted("DATA") + " *DEL ($00) -> PRG ($82), 4 blocks marked used\n\n");
    Bytes expected = source;
    expected[slot(1) + 2] = 0x82;
    EXPECT_EQ(readBytes(dir.file("out.d64")), expected);
    EXPECT_EQ(ccList(dir, "out.d64").entries, (std::vector<std::string>{kTitle, ccLine(4, "data", " prg "), kTool, kGame}));
    // cbmconvert extracts every file unchanged.
    shellOutput("mkdir " + dir.file("ex") + " && cd " + dir.file("ex") + " && cbmconvert -N -d ../out.d64 2>&1");
    for (const auto &file : kFiles) {
        std::string name = file[0] + std::string(".") + (file[0] == std::string("data") ? "prg" : file[1]);
        for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(readBytes(dir.file("ex/" + name)), readBytes(dir.file(file[0]))) << name;
    }
    // With its old type given back in the same run, the disk is the one cc1541 wrote.
    run = runIn(dir, {"-undel", "1", "-type", "1", "SEQ"}, "scratched.d64");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readBytes(dir.file("out.d64")), source);
    // -undel runs before the inserts of its run: a file written in it takes
    // none of the blocks the undeleted file gets back (the map calls them free).
    const Bytes inserted = randomBytes(700, 11);
    writeBytes(dir.file("b.prg"), inserted);
    run = runIn(dir, {"-undel", "1", "-w", "b.prg"}, "scratched.d64");
    ASSERT_EQ(run.status, 0) << run.err;
    shellOutput("mkdir " + dir.file("ex2") + " && cd " + dir.file("ex2") + " && cbmconvert -N -d ../out.d64 2>&1");
    EXPECT_EQ(readBytes(dir.file("ex2/data.prg")), readBytes(dir.file("data")));
    EXPECT_EQ(readBytes(dir.file("ex2/b.prg")), inserted);
    // A one-block file is counted in the singular.
    writeBytes(dir.file("scratched.d64"), scratch(source, 2));
    run = runIn(dir, {"-undel", "2", "-type", "2", "USR"}, "scratched.d64");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "-undel 2: " + quoted("TOOL") + " *DEL ($00) -> PRG ($82), 1 block marked used\n-type 2: PRG ($82) -> USR ($83)\n\n");
    EXPECT_EQ(readBytes(dir.file("out.d64")), source);
}

// Refused undeletes and bad arguments end with status 1, say why, and write nothing.
TEST(DirArt, RefusalsWriteNothing) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    const Bytes scratched = scratch(makeArtDisk(dir), 1);
    const std::vector<Block> data = chainOfEntry(scratched, 1), title = chainOfEntry(scratched, 0);
    auto name = [](Block b) { return std::to_string(b.first) + "/" + std::to_string(b.second); };
    struct Refusal {
        std::vector<std::string> args;
        std::function<void(Bytes &)> damage;
        std::string message;
    };
    const auto none = [](Bytes &) {};
    const Refusal refusals[] = {
        {{"-undel", "1"}, [&](Bytes &b) { markInMap(b, data[2], false); },
         "Cannot undelete slot 1: block " + name(data[2]) + " of its chain is marked used."},
        {{"-undel", "1"}, [&](Bytes &b) { setLink(b, title.back(), data[1]); },
         "Cannot undelete slot 1: block " + name(data[1]) + " of its chain is used by the file of slot 0."},
        {{"-undel", "1"}, [&](Bytes &b) { setLink(b, data[1], {18, 1}); },
         "Cannot undelete slot 1: block 18/1 of its chain is used by the directory."},
        {{"-undel", "1"}, [&](Bytes &b) { setLink(b, data[1], {50, 0}); }, "its chain is broken by a link to block 50/0."},
        {{"-undel", "1"}, [](Bytes &b) { b[slot(1) + 3] = 36; b[slot(1) + 4] = 0; },
         "ERROR: Cannot undelete slot 1: its start block 36/0 lies outside the image."},
        {{"-undel", "1"}, [&](Bytes &b) { setLink(b, data[3], data[1]); }, "its chain loops at block " + name(data[1])},
        {{"-undel", "0"}, none, "Cannot undelete slot 0: it is not scratched (type byte $82)."},
        {{"-undel", "5"}, none, "Cannot undelete slot 5: it names no file (start track 0)."},
        {{"-undel", "8"}, none, "ERROR: '-undel' names entry 8, which the directory does not hold."},
        {{"-rename", "3", "x"}, none, "ERROR: '-rename' names entry 3, which the directory does not hold."},
        {{"-move", "0", "3"}, none, "'-move' names entry 3"},
        {{"-blocks", "0", "65536"}, none, "ERROR: Number (65536) too high. [Maximum: 65535]"},
        {{"-type", "0", "*PRG<<"}, none, "ERROR: Unknown file type '*PRG<<' for '-type': give"},
        {{"-type", "0", "<PRG"}, none,
         "ERROR: Unknown file type '<PRG' for '-type': give DEL, SEQ, PRG, USR or REL (any case), optionally with "
         "'*' before it for a file left open and '<' after it for a locked one, or a number 0 to 255."},
        {{"-type", "0", "???"}, none, "ERROR: Unknown file type '??" "?' for '-type': give"},
        {{"-type", "0", "256"}, none, "ERROR: Number (256) too high. [Maximum: 255]"},
        {{"-rename", "0", "12345678901234567"}, none, "The text '12345678901234567' for '-rename' is too long (0 to 16"},
        {{"-header", "ab%zz"}, none, "The text 'ab%zz' for '-header' has a '%' without two hex digits after it"},
        {{"-id", ""}, none, "ERROR: The text '' for '-id' is empty (1 to 5 bytes, %XX for any byte)."},
        {{"-id", "tab\t"}, none, "for '-id' holds a character that stands for no disk character"},
        {{"-rename", "0", "a\u2603b"}, none,
         "ERROR: The text 'a\u2603b' for '-rename' holds a character that stands for no disk character, '\u2603' "
         "(0 to 16 bytes, %XX for any byte)."},
        {{"-rename", "0", "\u2588", "-U"}, none, "no disk character, '\u2588'"},  // not among the C64's glyphs
        {{"-undel"}, none, "ERROR: Not a number (0)."},  // the image name is taken as the number
        // 18/19 is no block: its bytes are those of 19/0. Its slots (8-15 with
        // -va) are listed, never edited; slot 7 is the last one edits may write.
        {{"-va", "-move", "7", "8"}, [](Bytes &b) { setLink(b, {18, 1}, {18, 19}); },
         "ERROR: '-move' names entry 8 in or after block 18/19, which the directory reaches through a link beyond "
         "the last sector of its track; such entries are listed, never edited, and nothing is written."},
        {{"-va", "-rename", "9", "x"}, [](Bytes &b) { setLink(b, {18, 1}, {18, 19}); },
         "ERROR: '-rename' names entry 9 in or after block 18/19"},
        {{"-undel", "15"}, [](Bytes &b) { setLink(b, {18, 1}, {18, 19}); },
         "ERROR: '-undel' names entry 15 in or after block 18/19"},
        // A looping directory: each block once, so its three entries once.
        {{"-move", "0", "5"}, [](Bytes &b) { setLink(b, {18, 1}, {18, 1}); },
         "WARNING: The directory chain loops back to block 18/1; the edits see each of its blocks once.\n"
         "ERROR: '-move' names entry 5, which the directory does not hold."},
    };
    for (const Refusal &refusal : refusals) {
        SCOPED_TRACE(refusal.message);
        Bytes image = scratched;
        refusal.damage(image);
        writeBytes(dir.file("in.d64"), image);
        RunResult run = runIn(dir, refusal.args, "in.d64");
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(contains(run.err, refusal.message)) << run.err;
        std::vector<std::string> files = listFolder(dir.path);
        EXPECT_EQ(std::count(files.begin(), files.end(), "out.d64"), 0);
    }
}

// Every byte 00-FF written as %XX is what the raw listing shows (0xA0, the
// padding, as the closing quote), and every type form the listing writes,
// given to -type, is listed as that form again.
TEST(DirArt, NamesAndTypesReadBackFromTheListing) {
    ImageBuffer image = formatImage("ROUND TRIP");
    const std::pair<const char *, uint8_t> forms[] = {
        {"*DEL", 0x00}, {"*seq", 0x01}, {"*Prg", 0x02}, {"*USR", 0x03}, {"DEL", 0x80},  {"seq", 0x81}, {"PRG", 0x82},
        {"USR", 0x83},  {"rel", 0x84},  {"DEL<", 0xC0}, {"SEQ<", 0xC1}, {"prg<", 0xC2}, {"USR<", 0xC3}, {"REL<", 0xC4}};
    std::vector<std::string> args{"-va"};
    for (int i = 0; i < 16; ++i) {  // entry i takes the bytes 16i..16i+15 and, up to 13, type form i
        std::string text;
        char escape[8];
        for (int b = 16 * i; b < 16 * i + 16; ++b) {
            std::snprintf(escape, sizeof escape, "%%%02X", b);
            text += escape;
        }
        addRawEntry(image, 0x82, 17, i, "E", 1);
        args.insert(args.end(), {"-rename", std::to_string(i), text});
        if (i < 14) args.insert(args.end(), {"-type", std::to_string(i), forms[i].first});
    }
    TempDir dir;
    writeImage(dir.file("in.d64"), image);
    ASSERT_EQ(runIn(dir, args, "in.d64").status, 0);
    const Bytes written = readBytes(dir.file("out.d64"));
    RunResult listing = runBinary({"-vao", "out.d64"}, dir.path);
    // Lines are 29 bytes (header) and 5 + 18 + 5 + 1 (entries); names may hold line ends.
    ASSERT_GE(listing.out.size(), 29u + 16 * 29);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        const size_t entry = slot(i % 8) + (i < 8 ? 0 : zoneOffset(18, 4) - kDirectory);
        const std::string line = listing.out.substr(29 + 29 * static_cast<size_t>(i), 29);
        for (int b = 0; b < 16; ++b) {
            uint8_t code = static_cast<uint8_t>(16 * i + b);
            EXPECT_EQ(written[entry + 5 + static_cast<size_t>(b)], code);
            EXPECT_EQ(static_cast<uint8_t>(line[6 + static_cast<size_t>(b)]), code == 0xA0 ? '"' : code);
        }
        if (i >= 14) continue;
        std::string form = forms[i].first;
        for (char &c : form) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(written[entry + 2], forms[i].second);
        EXPECT_EQ(line.substr(23, 5), (form[0] == '*' ? "" : " ") + form + (form.back() == '<' ? "" : " "));
    }
}
