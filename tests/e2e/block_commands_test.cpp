// Block commands end to end: on an image that cc1541 wrote (and a blank D81
// that -new made), each command changes exactly the bytes of the block it
// names, in command-line order, and the map as the drive keeps it; -bread and
// -chain read out without writing an image. Refusals name the command, end
// with status 1 and leave no image behind. The editors' refusals without a
// terminal belong here too: they are what a script meets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/d64_zones.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The 5000-byte file of entry 1 takes 20 blocks: 19 of 254 bytes and 174.
constexpr size_t kGameSize = 5000;

size_t at(int track, int sector) { return zoneOffset(track, sector); }

// The blocks of the chain from (track, sector), read from the bytes.
std::string chainText(const Bytes &image, int track, int sector) {
    std::string text;
    int blocks = 0;
    while (track != 0 && blocks < 100) {
        text += std::to_string(track) + "/" + std::to_string(sector) + "\n";
        size_t offset = at(track, sector);
        track = image[offset];
        sector = image[offset + 1];
        ++blocks;
    }
    return text + std::to_string(blocks) + " block" + (blocks == 1 ? "" : "s");
}

Bytes makeDisk(const TempDir &dir) {
    writeBytes(dir.file("title"), randomBytes(300, 7));
    writeBytes(dir.file("game"), randomBytes(kGameSize, 8));
    int status = -1;
    std::string out = shellOutput("cd " + dir.path + " && cc1541 -q -n 'blocks' -i 'bc' -f title -w title "
                                  "-f game -w game -g disk.g64 disk.d64 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return readBytes(dir.file("disk.d64"));
}

void mark(Bytes &image, int track, int sector, bool free) {
    ImageBuffer buffer;
    buffer.bytes.assign(image.begin(), image.end());
    markBlock(buffer, track, sector, free);
    image = bytesOf(buffer);
}

}  // namespace

TEST(BlockCommands, ChangeExactlyTheBlockNamedAndReadOut) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 is not installed";
    TempDir dir;
    const Bytes disk = makeDisk(dir);
    writeBytes(dir.file("three.bin"), {1, 2, 3});
    writeBytes(dir.file("full.bin"), Bytes(256, 0x5A));
    writeBytes(dir.file("big.bin"), Bytes(257, 1));
    ImageBuffer other = formatImage("OTHER DISK", "zz");
    writeImage(dir.file("other.d64"), other);
    const Bytes otherHeader(other.bytes.begin() + at(18, 0), other.bytes.begin() + at(18, 0) + 256);

    struct Case {
        std::vector<std::string> args;
        std::function<void(Bytes &)> change;  // nullptr: nothing written
        std::string printed;                   // standard output holds it
        int status;
        std::string message;                   // standard error holds it
        const char *image = "disk.d64";        // disk.g64: cc1541's G64 of the same disk, written back as a G64
    };
    auto fill = [](Bytes &b, size_t offset, uint8_t value) { std::fill(b.begin() + offset, b.begin() + offset + 256, value); };
    const std::string gameChain = chainText(disk, disk[at(18, 1) + 32 + 3], disk[at(18, 1) + 32 + 4]);
    const Case cases[] = {
        {{"-bfill", "18/5", "170"}, [&](Bytes &b) { fill(b, at(18, 5), 0xAA); }, "", 0, ""},
        // In command-line order: the fill, then the bytes over it.
        {{"-bfill", "18/5", "0xaa", "-bpoke", "18/5", "254", "01 02"},
         [&](Bytes &b) { fill(b, at(18, 5), 0xAA); b[at(18, 5) + 254] = 1; b[at(18, 5) + 255] = 2; }, "", 0, ""},
        {{"-bpoke", "17/3", "2", "a9008D"},
         [&](Bytes &b) { b[at(17, 3) + 2] = 0xA9; b[at(17, 3) + 3] = 0; b[at(17, 3) + 4] = 0x8D; }, "", 0, ""},
        {{"-bwrite", "1/0", "three.bin"},
         [&](Bytes &b) { fill(b, at(1, 0), 0); b[at(1, 0)] = 1; b[at(1, 0) + 1] = 2; b[at(1, 0) + 2] = 3; }, "", 0, ""},
        {{"-bwrite", "35/16", "full.bin"}, [&](Bytes &b) { fill(b, at(35, 16), 0x5A); }, "", 0, ""},
        {{"-bcopy", "18/5", "18/0"},
         [&](Bytes &b) { std::copy(disk.begin() + at(18, 0), disk.begin() + at(18, 0) + 256, b.begin() + at(18, 5)); },
         "", 0, ""},
        {{"-bcopy", "18/5", "other.d64", "18/0"},
         [&](Bytes &b) { std::copy(otherHeader.begin(), otherHeader.end(), b.begin() + at(18, 5)); }, "", 0, ""},
        {{"-bused", "1/0"}, [](Bytes &b) { mark(b, 1, 0, false); }, "", 0, ""},
        // A G64: the same blocks change, decoded and written back into its tracks.
        {{"-bfill", "18/5", "0xaa", "-bpoke", "17/3", "2", "a9008D", "-bfree", "18/1"},
         [&](Bytes &b) { fill(b, at(18, 5), 0xAA); b[at(17, 3) + 2] = 0xA9; b[at(17, 3) + 3] = 0; b[at(17, 3) + 4] = 0x8D;
                         mark(b, 18, 1, true); }, "", 0, "", "disk.g64"},
        {{"-chain", "18/1"}, nullptr, "18/1\n1 block, 254 bytes used in the last\n", 0, "", "disk.g64"},
        {{"-bfree", "18/1", "-bused", "35/16"}, [](Bytes &b) { mark(b, 18, 1, true); mark(b, 35, 16, false); }, "", 0, ""},
        // Reading out writes no image.
        {{"-chain", "1"}, nullptr, gameChain + ", 174 bytes used in the last\n", 0, ""},
        {{"-chain", "18/1"}, nullptr, "18/1\n1 block, 254 bytes used in the last\n", 0, ""},
        {{"-bread", "18/0", "header.bin"}, nullptr, "", 0, ""},
        // Refusals: status 1, one line, no image.
        {{"-bfill", "36/0", "1"}, nullptr, "", 1, "ERROR: '-bfill 36/0' names block 36/0, which the image does not hold.\n"},
        {{"-bfill", "18/19", "1"}, nullptr, "", 1, "names block 18/19, which the image does not hold."},
        {{"-bpoke", "18/5", "255", "01 02"}, nullptr, "", 1,
         "ERROR: '-bpoke 18/5' puts 2 bytes at offset 255, past the end of the block.\n"},
        {{"-bpoke", "18/5", "0", "0g"}, nullptr, "", 1, "takes its bytes as pairs of hex digits (e.g. 'a9 00'), not '0g'."},
        {{"-bwrite", "1/0", "big.bin"}, nullptr, "", 1, "'big.bin' holds more than the 256 bytes of a block.\n"},
        {{"-bfill", "18", "1"}, nullptr, "", 1, "ERROR: '-bfill' takes a block as TRACK/SECTOR (e.g. 18/1), not '18'.\n"},
        {{"-chain", "9"}, nullptr, "", 1, "names entry 9, which the directory does not hold or which has no file."},
        {{"-bfill", "18/5", "1", "-bfill", "40/0", "1"}, nullptr, "", 1, "'-bfill 40/0' names block 40/0"},
        {{"-bcopy", "18/5", "gone.d64", "18/0"}, nullptr, "ERROR: File 'gone.d64' not found.", 1, ""},
        {{"-bpoke", "18/5"}, nullptr, "", 1, "ERROR: Arguments for '-bpoke' missing.\n"},
        {{"-bpoke", "18/5", "0"}, nullptr, "", 1, "pairs of hex digits (e.g. 'a9 00'), not 'disk.d64'.\n"},
        {{"-bcopy", "18/5", "other.d64"}, nullptr, "", 1, "takes a block as TRACK/SECTOR (e.g. 18/1), not 'disk.d64'."},
        {{"-bused", "18/x"}, nullptr, "", 1, "ERROR: Not a number (0)."},
        {{"-bfill", "18/5", "256"}, nullptr, "Always provide", 1, "ERROR: Number (256) too high. [Maximum: 255]"},
        {{"-edit"}, nullptr, "", 1, "ERROR: '-edit' edits in a terminal; standard input and output must both be one.\n"},
        {{"-bedit", "18", "1"}, nullptr, "", 1, "ERROR: '-bedit' edits in a terminal"},
        {{"-bamedit"}, nullptr, "", 1, "ERROR: '-bamedit' edits in a terminal"},
        {{"-edit", "-rename", "0", "x"}, nullptr, "", 1,
         "ERROR: '-edit' cannot be combined with an editing option; the editor writes the image itself.\n"},
        {{"-edit", "-bamedit"}, nullptr, "", 1, "each open an editor; give one of them.\n"},
        {{"-bedit", "-chain", "1"}, nullptr, "", 1, "'-bedit' cannot be combined with a block command"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::remove(dir.file("out.d64").c_str());
        std::remove(dir.file("out.g64").c_str());
        std::remove(dir.file("header.bin").c_str());
        bool g64 = std::string(c.image) == "disk.g64";
        std::vector<std::string> args = c.args;
        args.push_back(c.image);
        if (c.change) args.push_back(g64 ? "out.g64" : "out.d64");
        RunResult run = runBinary(args, dir.path);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(contains(run.out, c.printed)) << run.out;
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        // The messages added for these commands are one line; a number's message keeps its usage.
        if (c.status != 0 && !c.message.empty() && c.message.back() == '\n') {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
            EXPECT_TRUE(run.out.empty()) << run.out;
        }
        if (g64 && c.change) {
            EXPECT_FALSE(readBytes(dir.file("out.g64")).empty());
            EXPECT_EQ(runBinary({"-convert", "out.g64", "out.d64"}, dir.path).status, 0);
        }
        Bytes expected = disk;
        if (c.change) c.change(expected);
        if (c.change) {
            EXPECT_EQ(readBytes(dir.file("out.d64")), expected);
        } else {
            EXPECT_TRUE(readBytes(dir.file("out.d64")).empty());
        }
        EXPECT_EQ(readBytes(dir.file("disk.d64")), disk);
    }
    EXPECT_TRUE(runBinary({"-bread", "18/0", "header.bin", "disk.d64"}, dir.path).out.empty());
    EXPECT_EQ(readBytes(dir.file("header.bin")), Bytes(disk.begin() + at(18, 0), disk.begin() + at(18, 0) + 256));
    EXPECT_EQ(gameChain.substr(gameChain.rfind('\n') + 1), "20 blocks");
}

// A D81 (made blank by -new) with partition GAMES (-mkpart: tracks 1-3, its
// map in 1/1). A map is two blocks after the header (tracks 1-40, 41-80), 6
// bytes a track from offset 16, the bit of sector s in byte s/8: the root's in
// 40/1-2, the partition's in its first track. Inside the partition -bused and
// -bfree mark its own map and refuse a track outside its area; the other
// commands reach every block of the disk.
TEST(BlockCommands, WorkOnTheBlocksAndMapsOfAD81AndItsPartition) {
    TempDir dir;
    ASSERT_EQ(runBinary({"-new", "big,81", "blank.d81"}, dir.path).status, 0);
    ASSERT_EQ(runBinary({"-mkpart", "GAMES", "120", "blank.d81", "disk.d81"}, dir.path).status, 0);
    const Bytes disk = readBytes(dir.file("disk.d81"));
    ASSERT_EQ(disk.size(), 819200u);
    auto block = [](int track, int sector) { return static_cast<size_t>((track - 1) * 40 + sector) * 256; };
    // Marks the block in the map whose header lies on `system`, as the drive keeps it.
    auto mark = [&](Bytes &b, int system, int track, int sector, bool used) {
        size_t entry = block(system, 1 + (track - 1) / 40) + 16 + 6 * ((track - 1) % 40);
        uint8_t bit = static_cast<uint8_t>(1 << (sector % 8));
        ASSERT_EQ((b[entry + 1 + sector / 8] & bit) != 0, used) << "the block is marked so already";
        b[entry + 1 + sector / 8] ^= bit;
        b[entry] = static_cast<uint8_t>(b[entry] + (used ? -1 : 1));
    };
    auto fill = [&](Bytes &b, int track, int sector, uint8_t value) {
        std::fill(b.begin() + block(track, sector), b.begin() + block(track, sector) + 256, value);
    };
    struct Case {
        std::vector<std::string> args;
        std::function<void(Bytes &)> change;  // nullptr: refused, nothing written
        std::string message;                   // standard error holds it
    } const cases[] = {
        {{"-bfill", "80/39", "255", "-bused", "80/39"},
         [&](Bytes &b) { fill(b, 80, 39, 0xFF); mark(b, 40, 80, 39, true); }, ""},
        {{"-bused", "5/7"}, [&](Bytes &b) { mark(b, 40, 5, 7, true); }, ""},
        {{"-part", "GAMES", "-bused", "3/5"}, [&](Bytes &b) { mark(b, 1, 3, 5, true); }, ""},
        {{"-part", "GAMES", "-bfree", "1/3", "-bused", "2/39"},
         [&](Bytes &b) { mark(b, 1, 1, 3, false); mark(b, 1, 2, 39, true); }, ""},
        {{"-part", "GAMES", "-bfill", "50/0", "7"}, [&](Bytes &b) { fill(b, 50, 0, 7); }, ""},
        {{"-part", "GAMES", "-bused", "4/0"}, nullptr,
         "ERROR: '-bused 4/0': track 4 lies outside the partition (tracks 1-3), whose map keeps it used.\n"},
        {{"-part", "GAMES", "-bfree", "41/0"}, nullptr, "track 41 lies outside the partition (tracks 1-3)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::remove(dir.file("out.d81").c_str());
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"disk.d81", "out.d81"});
        RunResult run = runBinary(args, dir.path);
        EXPECT_EQ(run.status, c.change ? 0 : 1) << run.err;
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        Bytes expected = disk;
        if (c.change) c.change(expected);
        EXPECT_TRUE(readBytes(dir.file("out.d81")) == (c.change ? expected : Bytes{}));
    }
}
