// -check and -fix against images written by independent tools: Debian's
// cc1541 (plain files, 40-track SpeedDOS and DolphinDOS maps) and cbmconvert
// (REL files with real side sectors from PC64 .R00 files, GEOS sequential and
// VLIR files from GEOS Convert files built here). Their images check clean
// and pass -fix unchanged; one planted fault of each class is found with the
// right blocks named; -fix on a damaged map gives back the tool's map bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/d64_zones.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMap = 0x16500;  // block 18/0

struct Block {
    int track, sector;
};

std::string ts(Block block) { return std::to_string(block.track) + "/" + std::to_string(block.sector); }
size_t at(Block block) { return zoneOffset(block.track, block.sector); }
Block pairAt(const Bytes &d, size_t offset) { return {d[offset], d[offset + 1]}; }
void setPair(Bytes &d, size_t offset, Block to) {
    d[offset] = static_cast<uint8_t>(to.track);
    d[offset + 1] = static_cast<uint8_t>(to.sector);
}

// The blocks of a chain, read the plain way (the images it reads are sound).
std::vector<Block> chain(const Bytes &d, Block start) {
    std::vector<Block> blocks;
    for (Block b = start; b.track != 0 && blocks.size() < 800; b = pairAt(d, at(b))) blocks.push_back(b);
    return blocks;
}

// Slot n of the directory, counting every slot from 18/1 on.
size_t slot(const Bytes &d, int n) { return at(chain(d, {18, 1})[n / 8]) + 32 * (n % 8); }
std::vector<Block> fileChain(const Bytes &d, int n) { return chain(d, pairAt(d, slot(d, n) + 3)); }

void markFree(Bytes &d, Block block, bool free) {
    uint8_t *entry = &d[kMap + 4 * block.track];
    uint8_t mask = static_cast<uint8_t>(1 << (block.sector % 8));
    if (static_cast<bool>(entry[1 + block.sector / 8] & mask) == free) return;
    entry[1 + block.sector / 8] ^= mask;
    entry[0] = static_cast<uint8_t>(entry[0] + (free ? 1 : -1));
}

void shell(const TempDir &dir, const std::string &command) {
    int status = -1;
    std::string out = shellOutput("cd " + dir.path + " && " + command + " 2>&1", &status);
    EXPECT_EQ(status, 0) << command << "\n" << out;
}

// ---- Images made by the independent tools ----

// Sixteen files of 2-9 blocks (PRG, SEQ, USR, one locked), two directory blocks.
Bytes ccFiles(const TempDir &dir) {
    std::string command = "cc1541 -q -n 'check disk' -i ck";
    for (int i = 0; i < 16; ++i) {
        std::string name = "file " + std::to_string(i);
        writeBytes(dir.file(name), randomBytes(300 + 250 * static_cast<size_t>(i % 8), 40 + i));
        command += std::string(i % 3 == 1 ? " -T SEQ" : i % 3 == 2 ? " -T USR" : "") + (i == 5 ? " -P" : "") +
                   " -f '" + name + "' -w '" + name + "'";
    }
    shell(dir, command + " disk.d64");
    return readBytes(dir.file("disk.d64"));
}

// 40 tracks: a file of 680 blocks reaches tracks 36-40.
Bytes ccForty(const TempDir &dir, const char *layout) {
    writeBytes(dir.file("big"), randomBytes(680 * 254, 3));
    writeBytes(dir.file("small"), randomBytes(900, 4));
    shell(dir, std::string("cc1541 -q ") + layout + " -n forty -f big -w big -f small -w small disk.d64");
    return readBytes(dir.file("disk.d64"));
}
Bytes ccSpeedDos(const TempDir &dir) { return ccForty(dir, "-4"); }

// 35 tracks with one block free: a file of 663 blocks.
Bytes ccOneFree(const TempDir &dir) {
    writeBytes(dir.file("big"), randomBytes(663 * 254, 13));
    shell(dir, "cc1541 -q -n 'one free' -f big -w big disk.d64");
    return readBytes(dir.file("disk.d64"));
}
Bytes ccDolphinDos(const TempDir &dir) { return ccForty(dir, "-5"); }

// BIG: 250 records of 254 bytes, 250 data blocks and 3 side sectors; SMALL: one
// data block and one side sector; then a PRG.
Bytes cbmRel(const TempDir &dir) {
    writeBytes(dir.file("big.r00"), pc64Rel("big", 254, 250, 5));
    writeBytes(dir.file("small.r00"), pc64Rel("small", 20, 3, 6));
    Bytes prg{'C', '6', '4', 'F', 'i', 'l', 'e', 0};
    putName(prg, "prog");
    put(prg, {0, 0, 0x01, 0x08});
    Bytes body = randomBytes(1000, 7);
    prg.insert(prg.end(), body.begin(), body.end());
    writeBytes(dir.file("prog.p00"), prg);
    shell(dir, "cbmconvert -v0 -p -D4 disk.d64 big.r00 small.r00 prog.p00");
    return readBytes(dir.file("disk.d64"));
}

// SEQFILE: a sequential GEOS file; VLIRFILE: records of 2, 1, 0 and 3 blocks.
Bytes cbmGeos(const TempDir &dir) {
    writeBytes(dir.file("seqfile.cvt"), geosConvert("seqfile", false, {randomBytes(700, 8)}));
    writeBytes(dir.file("vlirfile.cvt"),
               geosConvert("vlirfile", true, {randomBytes(300, 9), randomBytes(10, 10), {}, randomBytes(600, 11)}));
    shell(dir, "cbmconvert -v0 -n -D4 disk.d64 seqfile.cvt vlirfile.cvt");
    return readBytes(dir.file("disk.d64"));
}

// cbmGeos as a GEOS disk whose VLIR file sits in the border block, 20/0.
Bytes geosBorder(const TempDir &dir) {
    Bytes d = cbmGeos(dir);
    std::string signature = "GEOS format V1.0";
    std::copy(signature.begin(), signature.end(), d.begin() + kMap + 0xAD);
    setPair(d, kMap + 0xAB, {20, 0});
    setPair(d, at({20, 0}), {0, 0xFF});
    std::copy(d.begin() + slot(d, 1) + 2, d.begin() + slot(d, 1) + 32, d.begin() + at({20, 0}) + 2);
    std::fill(d.begin() + slot(d, 1) + 2, d.begin() + slot(d, 1) + 32, 0);
    markFree(d, {20, 0}, false);
    return d;
}

struct Maker {
    const char *name;
    Bytes (*make)(const TempDir &);
    int outsideDirectory;  // blocks used by the border block and its entries
    size_t extension;      // offset of the map of tracks 36-40 in 18/0, or 0
    const char *mapNote;   // the summary's notes: tracks 36-40, a GEOS disk
};

const Maker kMakers[] = {
    {"cc1541", ccFiles, 0, 0, ""},
    {"cc1541 -4", ccSpeedDos, 0, 0xC0, " (tracks 36-40 by the SpeedDOS map)"},
    {"cc1541 -5", ccDolphinDos, 0, 0xAC, " (tracks 36-40 by the DolphinDOS map)"},
    {"cc1541, one block free", ccOneFree, 0, 0, ""},
    {"cbmconvert REL", cbmRel, 0, 0, ""},
    {"cbmconvert GEOS", cbmGeos, 0, 0, ""},
    {"GEOS border", geosBorder, 1 + 8, 0, "; a GEOS disk (\"GEOS format V1.0\" at 18/0 $AD, border block 20/0)"},
};

// The map entry of a track, or 0 where the map does not cover it.
size_t mapEntry(const Maker &maker, int track) {
    if (track <= 35) return kMap + 4 * static_cast<size_t>(track);
    return maker.extension ? kMap + maker.extension + 4 * static_cast<size_t>(track - 36) : 0;
}

// The free blocks the map shows, track 18 left out as the drive does.
int mapFree(const Bytes &d, const Maker &maker) {
    int free = 0;
    for (int track = 1; track <= 40; ++track)
        if (track != 18 && mapEntry(maker, track)) free += d[mapEntry(maker, track)];
    return free;
}

std::string blocks(int count) { return std::to_string(count) + (count == 1 ? " block" : " blocks"); }

// The summary of a sound image: 18/0, the directory blocks and every entry's
// shown count are in use; the tool's map gives the free blocks.
std::string cleanSummary(const Bytes &d, const Maker &maker) {
    std::vector<Block> directory = chain(d, {18, 1});
    int used = 1 + static_cast<int>(directory.size()) + maker.outsideDirectory;
    for (int n = 0; n < 8 * static_cast<int>(directory.size()); ++n)
        if (d[slot(d, n) + 2]) used += d[slot(d, n) + 30] | d[slot(d, n) + 31] << 8;
    int free = mapFree(d, maker);
    return "0 errors, 0 warnings; " + blocks(used) + " used by files and the directory; " + blocks(free) +
           " free by the map, " + std::to_string(free) + " by the chains" +
           maker.mapNote + "\n";
}

}  // namespace

TEST(CheckAndFix, ImagesOfIndependentToolsCheckCleanAndFixLeavesThemAlone) {
    if (!haveProgram("cc1541") || !haveProgram("cbmconvert")) GTEST_SKIP() << "cc1541 or cbmconvert missing";
    for (const Maker &maker : kMakers) {
        SCOPED_TRACE(maker.name);
        TempDir dir;
        Bytes d = maker.make(dir);
        writeBytes(dir.file("disk.d64"), d);
        RunResult check = runBinary({"-check", "disk.d64"}, dir.path);
        EXPECT_EQ(check.status, 0);
        EXPECT_EQ(check.out, cleanSummary(d, maker));
        RunResult fix = runBinary({"-fix", "disk.d64", "fixed.d64"}, dir.path);
        EXPECT_EQ(fix.status, 0) << fix.err;
        EXPECT_EQ(fix.out, "fix: the map agrees with the chains; nothing changed\n\n");
        EXPECT_TRUE(readBytes(dir.file("fixed.d64")) == d);
    }
}

namespace {

// One planted fault: the base image, the edit, the line -check must print
// for it (built from the blocks the edit touched), the errors it counts,
// whether it may hide blocks in use from the account, so that -fix frees none,
// and whether -fix leaves the planted image as it is.
struct Plant {
    const char *what;
    Bytes (*base)(const TempDir &);
    std::string (*plant)(Bytes &);
    int errors;
    bool hides = false;
    bool keepsImage = false;
};

constexpr bool kHides = true;
constexpr bool kKeepsImage = true;

// How -check names the entry in slot n (every slot counts, from 18/1 on): the
// number -rd takes for it (n, where no slot before it is empty), its name and
// its place, with `note` inside the parentheses.
std::string entryName(const Bytes &d, int n, const std::string &name, const std::string &note = "", int number = -1) {
    return "entry " + std::to_string(number < 0 ? n : number) + " \"" + name + "\" (" +
           ts(chain(d, {18, 1})[static_cast<size_t>(n / 8)]) + " slot " + std::to_string(n % 8) + note + ")";
}
std::string entry(const Bytes &d, int n, const std::string &name, int number = -1) {
    return entryName(d, n, name, "", number) + ": ";
}

// The "N by the chains" figure of a -check summary line, or -1.
int freeByChains(const std::string &summary) {
    size_t end = summary.find(" by the chains");
    size_t begin = summary.rfind(' ', end - 1);
    return end == std::string::npos || begin == std::string::npos ? -1 : std::stoi(summary.substr(begin + 1));
}

const Plant kPlants[] = {
    // ---- errors: file chains ----
    {"track above the image", ccFiles, [](Bytes &d) {
         Block from = fileChain(d, 0)[1];
         setPair(d, at(from), {36, 0});
         return "error: " + entry(d, 0, "FILE 0") + "the data chain: " + ts(from) +
                " links to 36/0, above the image's 35 tracks";
     }, 1, kHides},
    {"sector beyond its track", ccFiles, [](Bytes &d) {
         Block from = fileChain(d, 1)[0];
         setPair(d, at(from), {17, 21});
         return "error: " + entry(d, 1, "FILE 1") + "the data chain: " + ts(from) +
                " links to 17/21, beyond the 21 sectors of track 17";
     }, 1, kHides},
    {"block outside a cut image", ccFiles, [](Bytes &d) {
         d.resize(zoneOffset(31, 0));
         Block from = fileChain(d, 2)[1];
         setPair(d, at(from), {31, 0});
         return "error: " + entry(d, 2, "FILE 2") + "the data chain: " + ts(from) +
                " links to 31/0, a block outside the image";
     }, 2, kHides},  // and the cut
    {"link to 36/0 on a 35-track image with error bytes", ccFiles, [](Bytes &d) {
         d.resize(174848 + 683, 0x01);
         Block from = fileChain(d, 0)[1];
         setPair(d, at(from), {36, 0});
         return "error: " + entry(d, 0, "FILE 0") + "the data chain: " + ts(from) +
                " links to 36/0, above the image's 35 tracks";
     }, 1, kHides},
    {"40-track image cut inside track 36: 35 tracks for every action", ccSpeedDos, [](Bytes &d) {
         std::vector<Block> big = fileChain(d, 0);
         size_t last = 0;
         while (big[last + 1].track <= 35) ++last;
         d[slot(d, 1) + 2] = 0;  // SMALL, on track 36 too, is gone
         d.resize(175619);       // 36/0-36/2 and part of 36/3
         return "error: " + entry(d, 0, "BIG") + "the data chain: " + ts(big[last]) + " links to " +
                ts(big[last + 1]) + ", above the image's 35 tracks";
     }, 2, kHides},  // and the cut
    {"image cut short, nothing reaches the part cut off", ccFiles, [](Bytes &d) {
         d.resize(100000);
         return std::string("warning: the image is cut short: 100000 bytes of the 174848 of a 35-track image; "
                            "blocks from 19/14 on are absent");
     }, 0},
    {"loop", ccFiles, [](Bytes &d) {
         std::vector<Block> blocks = fileChain(d, 3);
         setPair(d, at(blocks.back()), blocks[1]);
         return "error: " + entry(d, 3, "FILE 3") + "the data chain: " + ts(blocks.back()) + " links back to " +
                ts(blocks[1]) + " (a loop)";
     }, 1},
    {"cross-link", ccFiles, [](Bytes &d) {
         Block from = fileChain(d, 4)[0], into = fileChain(d, 2)[1];
         setPair(d, at(from), into);
         return "error: " + entry(d, 4, "FILE 4") + "the data chain: " + ts(from) + " links to " + ts(into) +
                ", a block of " + entryName(d, 2, "FILE 2", ", cross-linked");
     }, 1},
    {"into the directory", ccFiles, [](Bytes &d) {
         Block from = fileChain(d, 5)[0];
         setPair(d, at(from), {18, 1});
         return "error: " + entry(d, 5, "FILE 5") + "the data chain: " + ts(from) +
                " links to 18/1, a block of the directory";
     }, 1},
    {"first block 18/0", ccFiles, [](Bytes &d) {
         setPair(d, slot(d, 6) + 3, {18, 0});
         return "error: " + entry(d, 6, "FILE 6") + "the data chain: the entry links to 18/0, the map block";
     }, 1},
    {"used block marked free", ccFiles, [](Bytes &d) {
         Block block = fileChain(d, 12)[2];
         markFree(d, block, true);
         return "error: " + entry(d, 12, "FILE 12") + "1 block in use marked free in the map: " + ts(block);
     }, 1},
    // ---- errors: the directory and 18/0 ----
    {"directory loop", ccFiles, [](Bytes &d) {
         Block second = chain(d, {18, 1})[1];
         setPair(d, at(second), {18, 1});
         return "error: the directory chain: " + ts(second) + " links back to 18/1 (a loop)";
     }, 1},
    {"directory sector beyond track 18", ccFiles, [](Bytes &d) {
         setPair(d, at({18, 1}), {18, 19});
         return std::string("error: the directory chain: 18/1 links to 18/19, beyond the 19 sectors of track 18");
     }, 1, kHides},
    {"directory link in 18/0 beyond track 18", ccFiles, [](Bytes &d) {  // a drive reads from 18/1 all the same
         d[kMap + 1] = 25;
         return std::string("error: the directory chain: 18/0 links to 18/25, beyond the 19 sectors of track 18");
     }, 1, kHides},
    {"directory link in 18/0 naming 18/0, and a lost block", ccFiles, [](Bytes &d) {  // -fix frees nothing
         setPair(d, kMap, {18, 0});
         markFree(d, {30, 5}, false);
         return std::string("error: the directory chain: 18/0 links to 18/0, the map block");
     }, 1, kHides, kKeepsImage},
    {"directory link in 18/0 naming the second directory block", ccFiles, [](Bytes &d) {  // both walks own blocks
         Block second = chain(d, {18, 1})[1];
         setPair(d, kMap, second);
         return "error: the directory chain: 18/0 links to " + ts(second) +
                ", where a drive reads the directory from 18/1; the check follows both";
     }, 1, false, kKeepsImage},
    {"directory leaves the image", ccFiles, [](Bytes &d) {
         setPair(d, at({18, 1}), {41, 0});
         return std::string("error: the directory chain: 18/1 links to 41/0, above the image's 35 tracks");
     }, 1, kHides},
    {"directory leaves track 18", ccFiles, [](Bytes &d) {  // 19/0 is free and all 0: one more block of empty slots
         setPair(d, at(chain(d, {18, 1})[1]), {19, 0});
         return std::string("error: the directory chain: 19/0 lies off track 18");
     }, 2},
    {"an image that ends after 18/0", ccFiles, [](Bytes &d) {  // only 18/0 is in use; the map marks files used
         int warnings = 0;
         for (int track = 1; track <= 35; ++track) warnings += track != 18 && d[kMap + 4 * track] < zoneSectors(track);
         std::string free = blocks(mapFree(d, kMakers[0]));
         d.resize(kMap + 256);
         return "2 errors, " + std::to_string(warnings) + " warnings; 1 block used by files and the directory; " +
                free + " free by the map, 664 by the chains";
     }, 2, kHides},  // and the cut
    {"no block 18/0", ccFiles, [](Bytes &d) {
         d.resize(kMap + 100);
         return std::string("error: 18/0 lies outside the image (91492 bytes): no map and no directory");
     }, 2},  // and the cut
    // ---- errors: REL side sectors (cbmconvert) and REL type bytes without them (cc1541) ----
    {"REL without side sectors", cbmRel, [](Bytes &d) {
         d[slot(d, 0) + 21] = 0;
         return "error: " + entry(d, 0, "BIG") + "REL file without side sectors (the entry names 0/" +
                std::to_string(d[slot(d, 0) + 22]) + ")";
     }, 1, kHides},
    {"REL side sector lists another data block", cbmRel, [](Bytes &d) {
         Block side = chain(d, pairAt(d, slot(d, 0) + 21))[1];
         Block listed = pairAt(d, at(side) + 16 + 2 * 6);
         setPair(d, at(side) + 16 + 2 * 5, listed);
         return "error: " + entry(d, 0, "BIG") + "side sector " + ts(side) + " names " + ts(listed) +
                " as data block 125, the data chain has " + ts(fileChain(d, 0)[125]);
     }, 1, kHides},
    {"REL data chain shorter than its side sectors", cbmRel, [](Bytes &d) {
         setPair(d, at(fileChain(d, 0)[200]), {0, 0xFF});
         return "error: " + entry(d, 0, "BIG") + "the side sectors list 250 data blocks, the data chain has 201";
     }, 1, kHides},
    {"REL side-sector chain runs into the data chain", cbmRel, [](Bytes &d) {
         Block side = chain(d, pairAt(d, slot(d, 0) + 21))[1];
         Block data = fileChain(d, 0)[7];
         setPair(d, at(side), data);
         return "error: " + entry(d, 0, "BIG") + "the side-sector chain: " + ts(side) + " links to " + ts(data) +
                ", a block of its own data chain";
     }, 1},
    {"REL data chain longer than its side sectors", cbmRel, [](Bytes &d) {  // SMALL runs on into a free block
         Block free{35, 0};
         while (!(d[kMap + 4 * 35 + 1 + free.sector / 8] >> (free.sector % 8) & 1)) ++free.sector;
         setPair(d, at(fileChain(d, 1)[0]), free);
         setPair(d, at(free), {0, 0xFF});
         return "error: " + entry(d, 1, "SMALL") + "the side sectors list 1 data block, the data chain has 2";
     }, 2},
    {"REL side sector number", cbmRel, [](Bytes &d) {
         Block side = chain(d, pairAt(d, slot(d, 0) + 21))[2];
         d[at(side) + 2] = 7;
         return "error: " + entry(d, 0, "BIG") + "side sector " + ts(side) + " carries number 7, expected 2";
     }, 1},
    {"cc1541 -T REL sets only the type byte", [](const TempDir &dir) {
         writeBytes(dir.file("data"), randomBytes(500, 12));
         shell(dir, "cc1541 -q -T REL -f rel -w data disk.d64");
         return readBytes(dir.file("disk.d64"));
     }, [](Bytes &d) { return "error: " + entry(d, 0, "REL") + "REL file without side sectors (the entry names 0/0)"; },
     2, kHides},
    // ---- errors: GEOS (cbmconvert) ----
    {"GEOS file without info block", cbmGeos, [](Bytes &d) {
         d[slot(d, 0) + 21] = 0;
         return "error: " + entry(d, 0, "SEQFILE") + "GEOS file without an info block (the entry names 0/" +
                std::to_string(d[slot(d, 0) + 22]) + ")";
     }, 1, kHides},
    {"GEOS info block linked on", cbmGeos, [](Bytes &d) {
         Block info = pairAt(d, slot(d, 0) + 21);
         setPair(d, at(info), {25, 3});
         return "error: " + entry(d, 0, "SEQFILE") + "the GEOS info block: " + ts(info) +
                " links on to 25/3, though it stands alone";
     }, 1, kHides},
    {"VLIR record chain broken", cbmGeos, [](Bytes &d) {
         Block record = pairAt(d, at(pairAt(d, slot(d, 1) + 3)) + 2 + 2 * 3);
         setPair(d, at(record), {36, 1});
         return "error: " + entry(d, 1, "VLIRFILE") + "VLIR record 3: " + ts(record) +
                " links to 36/1, above the image's 35 tracks";
     }, 1, kHides},
    {"GEOS structure byte 5", cbmGeos, [](Bytes &d) {  // VLIRFILE is walked as sequential: its records are unknown
         d[slot(d, 1) + 23] = 5;
         return "error: " + entry(d, 1, "VLIRFILE") + "GEOS structure byte 5 is neither 0 (sequential) nor 1 (VLIR)";
     }, 1, kHides},
    // ---- warnings ----
    // 18/0 names no first directory block: the listing shows nothing, but a
    // drive lists 18/1 on, and -fix keeps those files' blocks.
    {"directory link in 18/0 on track 0", ccFiles, [](Bytes &d) {
         setPair(d, kMap, {0, 255});
         return std::string("warning: the directory chain: 18/0 links to 0/255, on track 0, so the listing shows "
                            "no entry; a drive reads the directory from 18/1");
     }, 0},
    // A file entry without a first block (cc1541 -L writes such entries for
    // directory art): nothing to load, but nothing on the disk is at risk.
    {"first block on track 0", ccFiles, [](Bytes &d) {
         d[slot(d, 7) + 3] = 0;
         return "warning: " + entry(d, 7, "FILE 7") + "the entry names 0/" + std::to_string(d[slot(d, 7) + 4]) +
                ", on track 0, as its first block: it has no data to load";
     }, 0},
    {"lost block", ccFiles, [](Bytes &d) {
         markFree(d, {30, 5}, false);
         return std::string("warning: track 30: 1 block marked used that nothing uses: 30/5");
     }, 0},
    {"free count", ccFiles, [](Bytes &d) {
         d[kMap + 4 * 25] = 17;
         return std::string("warning: track 25: free count 17, its bits mark 18 free");
     }, 0},
    {"bits beyond the track", ccFiles, [](Bytes &d) {
         d[kMap + 4 * 31 + 3] |= 0x12;
         return std::string("warning: track 31: bits set for sectors the track does not have: 17 20");
     }, 0},
    {"splat file, numbered as -rd numbers entries", ccFiles, [](Bytes &d) {
         d[slot(d, 3) + 2] = 0;  // the listing and -rd now number FILE 9 as 8
         d[slot(d, 9) + 2] = 0x02;
         return "warning: " + entry(d, 9, "FILE 9", 8) +
                "file left open (type byte $02); the drive's validate would scratch it";
     }, 0},
    {"unknown type", ccFiles, [](Bytes &d) {
         d[slot(d, 10) + 2] = 0x85;
         return "warning: " + entry(d, 10, "FILE 10") + "type byte $85 names type 5, unknown to the 1541";
     }, 0},
    {"shown block count", ccFiles, [](Bytes &d) {
         int blocks = d[slot(d, 11) + 30];
         d[slot(d, 11) + 30] = 200;
         return "warning: " + entry(d, 11, "FILE 11") + "shows 200 blocks, its chains have " + std::to_string(blocks);
     }, 0},
    {"used-byte index 1", ccFiles, [](Bytes &d) {
         Block last = fileChain(d, 13).back();
         d[at(last) + 1] = 1;
         return "warning: " + entry(d, 13, "FILE 13") + "last block " + ts(last) +
                " has used-byte index 1 (a block holds 1-254 bytes: 2-255)";
     }, 0},
    {"error byte", ccFiles, [](Bytes &d) {
         d.resize(174848 + 683, 0x01);
         d[174848 + 357] = 0x05;  // 18/0 is block 357
         return std::string("warning: 18/0: the error byte reports DOS error 23 ($05)");
     }, 0},
    {"error byte 24 as an imager writes it", ccFiles, [](Bytes &d) {  // $06; an emulator writes $10, read alike
         d.resize(174848 + 683, 0x01);
         d[174848 + 358] = 0x06;
         return std::string("warning: 18/1: the error byte reports DOS error 24 ($06)");
     }, 0},
    {"error byte 24 as an emulator writes it", ccFiles, [](Bytes &d) {
         d.resize(174848 + 683, 0x01);
         d[174848 + 0] = 0x10;
         return std::string("warning: 1/0: the error byte reports DOS error 24 ($10)");
     }, 0},
    {"error byte 28", ccFiles, [](Bytes &d) {
         d.resize(174848 + 683, 0x01);
         d[174848 + 682] = 0x0A;
         return std::string("warning: 35/16: the error byte reports DOS error 28 ($0a)");
     }, 0},
    {"noise in the SpeedDOS map of tracks 36-40", ccSpeedDos, [](Bytes &d) {  // read as no map; -fix leaves it
         const uint8_t noise[] = {0x55, 0x12, 0x34, 0x56};
         std::copy(std::begin(noise), std::end(noise), d.begin() + kMap + 0xD0);
         return std::string("warning: 18/0: bytes $c0-$d3 are neither all 0 nor a SpeedDOS map of tracks 36-40 "
                            "(track 40: $55 $12 $34 $56); they are not read as a map");
     }, 0},
    {"DOS version", ccFiles, [](Bytes &d) {
         d[kMap + 2] = 0x42;
         return std::string("warning: 18/0: DOS version byte $42, not $41");
     }, 0},
};

}  // namespace

TEST(CheckAndFix, OnePlantedFaultOfEachClassIsFoundWithItsBlocks) {
    if (!haveProgram("cc1541") || !haveProgram("cbmconvert")) GTEST_SKIP() << "cc1541 or cbmconvert missing";
    for (const Plant &plant : kPlants) {
        SCOPED_TRACE(plant.what);
        TempDir dir;
        Bytes d = plant.base(dir);
        std::string line = plant.plant(d);
        writeBytes(dir.file("disk.d64"), d);
        RunResult check = runBinary({"-check", "disk.d64"}, dir.path);
        EXPECT_EQ(check.status, plant.errors ? 3 : 0);
        std::vector<std::string> lines = splitLines(check.out);
        EXPECT_TRUE(std::find(lines.begin(), lines.end(), line) != lines.end())
            << "wanted: " << line << "\n" << check.out;
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().substr(0, lines.back().find(',')),
                  std::to_string(plant.errors) + (plant.errors == 1 ? " error" : " errors"));
        EXPECT_FALSE(std::filesystem::exists(dir.file("disk.out.d64")));
        if (d.size() < kMap + 512) continue;  // no map, or no 18/1, to repair
        if (plant.keepsImage) {
            RunResult same = runBinary({"-fix", "disk.d64", "same.d64"}, dir.path);
            EXPECT_TRUE(readBytes(dir.file("same.d64")) == d) << same.out;
        }

        // -fix on the planted image whose map marks every block used but 18/1.
        Bytes damaged = d;
        for (int track = 1; track <= 35; ++track)
            if (track != 18) std::fill_n(damaged.begin() + kMap + 4 * track, 4, 0);
        markFree(damaged, {18, 1}, true);
        writeBytes(dir.file("damaged.d64"), damaged);
        RunResult fix = runBinary({"-fix", "damaged.d64", "fixed.d64"}, dir.path);
        EXPECT_EQ(fix.status, 0) << fix.err;
        std::vector<std::string> fixLines = splitLines(fix.out);
        ASSERT_FALSE(fixLines.empty());
        Bytes fixed = readBytes(dir.file("fixed.d64"));
        ASSERT_EQ(fixed.size(), d.size());
        for (size_t i = 0; i < d.size(); ++i) {
            bool inMap = i >= kMap + 4 && i < kMap + 0x90;
            ASSERT_TRUE(inMap || fixed[i] == damaged[i]) << "byte " << i << " outside the map";
        }
        int freed = 0;
        for (int track = 1; track <= 35; ++track) freed += track == 18 ? 0 : fixed[kMap + 4 * track];
        EXPECT_TRUE(std::equal(fixed.begin() + kMap + 4 * 18, fixed.begin() + kMap + 4 * 19, d.begin() + kMap + 4 * 18))
            << "18/1, in use, is marked used again";
        if (plant.hides) {
            EXPECT_EQ(fixLines[0], "fix: frees no block, since this finding may hide blocks in use: " + line.substr(7));
            EXPECT_EQ(freed, 0) << fix.out;
        } else {  // every block that -check finds free by the chains
            EXPECT_FALSE(fixLines[0].starts_with("fix: frees no block")) << fix.out;
            EXPECT_EQ(freed, freeByChains(lines.back())) << fix.out;
        }
    }
}

// Many images in one -check: each image's block is what -check prints for it
// alone, under a line naming it, a blank line between; a last line sums up.
// An image that cannot be read is named on standard error and the others are
// still checked: status 1 before 3.
TEST(CheckAndFix, ManyImagesInOneRunCheckEachAsAlone) {
    if (!haveProgram("cc1541") || !haveProgram("cbmconvert")) GTEST_SKIP() << "cc1541 or cbmconvert missing";
    TempDir dir;
    std::vector<std::string> args{"-check"};
    std::string expected;
    int errors = 0, warnings = 0, withErrors = 0, images = 0;
    for (size_t i = 0; i < std::size(kPlants); i += 3, ++images) {
        TempDir made;  // the tools write disk.d64 there
        Bytes d = kPlants[i].base(made);
        kPlants[i].plant(d);
        std::string name = "plant " + std::to_string(i) + ".d64";
        writeBytes(dir.file(name), d);
        RunResult alone = runBinary({"-check", name}, dir.path);
        expected += (images ? "\n" : "") + name + ":\n" + alone.out;
        for (const std::string &line : splitLines(alone.out)) {
            errors += line.starts_with("error: ");
            warnings += line.starts_with("warning: ");
        }
        withErrors += alone.status == 3;
        args.push_back(name);
    }
    std::string sum = "\n" + std::to_string(images) + " images: " + std::to_string(errors) + " errors, " +
                      std::to_string(warnings) + " warnings in all; " + std::to_string(withErrors) +
                      " images with errors";
    RunResult all = runBinary(args, dir.path);
    EXPECT_EQ(all.status, 3);
    EXPECT_EQ(all.out, expected + sum + "\n");
    args.insert(args.begin() + 2, "missing.d64");
    all = runBinary(args, dir.path);
    EXPECT_EQ(all.status, 1);
    EXPECT_EQ(all.err, "ERROR: File 'missing.d64' not found.\n");
    EXPECT_EQ(all.out, expected + "\n" + std::to_string(images + 1) + sum.substr(sum.find(' ')) +
                           "; 1 could not be read\n");
}

namespace {

// Map damage: the map entries of the tracks the map covers, each replaced.
// An extension map of tracks 36-40 is only known by its well-formed entries,
// so only "every block free" damages it.
struct Damage {
    const char *what;
    void (*damage)(uint8_t *entry, int track);
};

const Damage kDamages[] = {
    {"every block used", [](uint8_t *entry, int track) {
         if (track != 18 && track <= 35) std::fill(entry, entry + 4, 0);
     }},
    {"every block free", [](uint8_t *entry, int track) {
         uint32_t bits = (1u << zoneSectors(track)) - 1;
         entry[0] = static_cast<uint8_t>(zoneSectors(track));
         entry[1] = bits & 0xFF, entry[2] = bits >> 8 & 0xFF, entry[3] = static_cast<uint8_t>(bits >> 16);
     }},
    {"noise", [](uint8_t *entry, int track) {
         Bytes noise = randomBytes(4, static_cast<uint32_t>(track));
         if (track != 18 && track <= 35) std::copy(noise.begin(), noise.end(), entry);
     }},
};

}  // namespace

TEST(CheckAndFix, FixGivesBackTheMapTheToolWrote) {
    if (!haveProgram("cc1541") || !haveProgram("cbmconvert")) GTEST_SKIP() << "cc1541 or cbmconvert missing";
    for (const Maker &maker : kMakers) {
        TempDir dir;
        Bytes original = maker.make(dir);
        for (const Damage &damage : kDamages) {
            SCOPED_TRACE(std::string(maker.name) + ", " + damage.what);
            Bytes d = original;
            int changed = 0;
            for (int track = 1; track <= 40; ++track) {
                size_t offset = mapEntry(maker, track);
                if (offset == 0) continue;
                damage.damage(&d[offset], track);
                changed += !std::equal(d.begin() + offset, d.begin() + offset + 4, original.begin() + offset);
            }
            if (changed == 0) continue;  // already so on this disk
            writeBytes(dir.file("damaged.d64"), d);
            RunResult before = runBinary({"-check", "damaged.d64"}, dir.path);
            EXPECT_GT(splitLines(before.out).size(), 1u) << "no map finding";

            RunResult fix = runBinary({"-fix", "-check", "damaged.d64", "fixed.d64"}, dir.path);
            EXPECT_EQ(fix.status, 0) << fix.out;
            std::vector<std::string> lines = splitLines(fix.out);
            ASSERT_EQ(lines.size(), static_cast<size_t>(changed) + 3) << fix.out;  // tracks, summary, check, line end
            EXPECT_EQ(lines[changed], "fix: " + std::to_string(changed) + " track" + (changed == 1 ? "" : "s") +
                                          " changed; " + blocks(mapFree(original, maker)) + " free");
            EXPECT_EQ(lines[changed + 1] + "\n", cleanSummary(original, maker));
            EXPECT_TRUE(readBytes(dir.file("fixed.d64")) == original);
        }
    }
}

// -adel grows the full second directory block and keeps the track's free
// count in step with the bit, so the appended image checks clean and -fix in
// the same run finds nothing to mend. A block of track 18 that nothing
// reaches keeps its mark.
TEST(CheckAndFix, AppendThenFixLeavesAConsistentMap) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 missing";
    TempDir dir;
    Bytes d = ccFiles(dir);
    markFree(d, {18, 12}, false);  // a loader nothing lists
    writeBytes(dir.file("disk.d64"), d);
    RunResult append = runBinary({"-adel", "disk.d64", "appended.d64"}, dir.path);
    ASSERT_EQ(append.status, 0) << append.err;
    RunResult unfixed = runBinary({"-check", "appended.d64"}, dir.path);
    EXPECT_EQ(unfixed.status, 0);
    EXPECT_EQ(splitLines(unfixed.out).size(), 1u) << unfixed.out;

    RunResult fixed = runBinary({"-adel", "-fix", "disk.d64", "fixed.d64"}, dir.path);
    ASSERT_EQ(fixed.status, 0) << fixed.err;
    EXPECT_TRUE(contains(fixed.out, "fix: the map agrees with the chains; nothing changed\n")) << fixed.out;
    EXPECT_TRUE(readBytes(dir.file("fixed.d64")) == readBytes(dir.file("appended.d64")));
    Bytes written = readBytes(dir.file("fixed.d64"));
    EXPECT_EQ(written[kMap + 4 * 18 + 1] & 0x80, 0) << "18/7, the new block, is used";
    EXPECT_EQ(written[kMap + 4 * 18 + 2] & 0x10, 0) << "18/12 keeps its mark";
}

// -fix -check: the repair's lines, then the check of the repaired image;
// errors the map cannot mend give status 3, and the repaired image is written.
TEST(CheckAndFix, FixThenCheckInOneRun) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 missing";
    TempDir dir;
    Bytes d = ccFiles(dir);
    std::vector<Block> first = fileChain(d, 0), second = fileChain(d, 1);
    setPair(d, at(second[0]), first[1]);  // FILE 1 runs into FILE 0; its other blocks are lost
    writeBytes(dir.file("disk.d64"), d);
    RunResult run = runBinary({"-fix", "-check", "disk.d64"}, dir.path);
    EXPECT_EQ(run.status, 3);
    std::vector<std::string> lines = splitLines(run.out);
    ASSERT_GE(lines.size(), 4u) << run.out;
    EXPECT_TRUE(lines[0].starts_with("fix: track " + std::to_string(second[1].track) + ": ")) << run.out;
    EXPECT_EQ(lines[lines.size() - 4], "error: " + entry(d, 1, "FILE 1") + "the data chain: " + ts(second[0]) +
                                           " links to " + ts(first[1]) + ", a block of " +
                                           entryName(d, 0, "FILE 0", ", cross-linked"));
    EXPECT_TRUE(lines[lines.size() - 3].starts_with("1 error, 0 warnings; ")) << run.out;
    EXPECT_EQ(lines.back(), "Destination file set to 'disk.out.d64'.");
    Bytes written = readBytes(dir.file("disk.out.d64"));
    ASSERT_EQ(written.size(), d.size());
    for (size_t i = 0; i < d.size(); ++i) {
        bool inMap = i >= kMap + 4 && i < kMap + 0x90;
        EXPECT_TRUE(written[i] == d[i] || inMap) << "byte " << i << " outside the map";
    }
}

// A name in a finding is shown as the listing shows it: each byte through the
// console layer, so none reaches the terminal as a control code.
TEST(CheckAndFix, NamesInFindingsGoThroughTheConsoleLayer) {
    ImageBuffer image = formatImage();
    addFile(image, randomBytes(600, 1), "X", 0x02);  // left open
    const uint8_t name[] = {0x1B, '[', '2', 'J', 0x07, 0x0D, 0x9B, 0x93, 0x00, 'A'};
    std::copy(std::begin(name), std::end(name), slotBytes(image, 18, 1, 0) + 5);
    TempDir dir;
    writeImage(dir.file("disk.d64"), image);
    RunResult listing = runBinary({"disk.d64"}, dir.path);
    std::string line = splitLines(listing.out).at(1);
    size_t open = line.find('"');
    std::string shown = line.substr(open, line.find('"', open + 1) - open + 1);
    RunResult check = runBinary({"-check", "disk.d64"}, dir.path);
    EXPECT_EQ(splitLines(check.out).at(0),
              "warning: entry 0 " + shown +
                  " (18/1 slot 0): file left open (type byte $02); the drive's validate would scratch it");
    for (char c : check.out) EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << int(c);
}

// With -va a finding counts empty slots, as -rd then does (the table's splat
// file shows the count without it), so its number can be handed to the edit.
TEST(CheckAndFix, FindingsNumberEntriesAsTheEditsDo) {
    if (!haveProgram("cc1541")) GTEST_SKIP() << "cc1541 missing";
    TempDir dir;
    Bytes d = ccFiles(dir);
    d[slot(d, 3) + 2] = 0;  // an empty slot before FILE 9, whose count is off
    d[slot(d, 9) + 30] = 99;
    writeBytes(dir.file("disk.d64"), d);
    RunResult check = runBinary({"-va", "-check", "disk.d64"}, dir.path);
    EXPECT_TRUE(check.out.starts_with("warning: " + entry(d, 9, "FILE 9") + "shows 99 blocks")) << check.out;
    ASSERT_EQ(runBinary({"-va", "-rd", "9", "disk.d64", "out.d64"}, dir.path).status, 0);
    std::string listed = runBinary({"out.d64"}, dir.path).out;
    EXPECT_TRUE(contains(listed, "\"FILE 8\"") && !contains(listed, "\"FILE 9\"")) << listed;
}
