// End-to-end tests of REL and GEOS files and of the containers that carry
// them (.R00, GEOS Convert): every container kind is made by cbmconvert (from
// files byte-built from the format notes), inserted by kestrel on every
// family, copied between families, extracted again, and read back by
// cbmconvert; the side sectors a 1581 needs are read with the test's own
// parser; damaged containers are refused whole; a GEOS disk keeps its
// signature and border block through every edit.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/d64_zones.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tools.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kD64Size = 174848, kD71Size = 349696, kD81Size = 819200;
constexpr size_t kD71SideTwo = 0x2AB00;

// Byte offset of a block of any family, told by the image's size.
size_t offsetOf(const Bytes &d, int track, int sector) {
    if (d.size() == kD81Size) return d81Block(track, sector);
    if (track > 35) return kD71SideTwo + zoneOffset(track - 35, sector);
    return zoneOffset(track, sector);
}

struct Block {
    int track, sector;
    bool operator==(const Block &) const = default;
};

Block pairAt(const Bytes &d, size_t at) { return {d[at], d[at + 1]}; }

// The blocks of a chain, followed the plain way (the images are sound).
std::vector<Block> chainOf(const Bytes &d, Block start) {
    std::vector<Block> blocks;
    for (Block at = start; at.track != 0 && blocks.size() < 4000; at = pairAt(d, offsetOf(d, at.track, at.sector)))
        blocks.push_back(at);
    return blocks;
}

// The 32 bytes of each used directory slot, in directory order.
std::vector<Bytes> usedSlots(const Bytes &d) {
    std::vector<Bytes> slots;
    Block first = d.size() == kD81Size ? Block{40, 3} : Block{18, 1};
    for (Block block : chainOf(d, first))
        for (int i = 0; i < 8; ++i) {
            size_t at = offsetOf(d, block.track, block.sector) + 32 * static_cast<size_t>(i);
            if (d[at + 2] != 0) slots.emplace_back(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(at) + 32);
        }
    return slots;
}

std::string inDir(const TempDir &dir, const std::string &command, int *status = nullptr) {
    return shellOutput("cd '" + dir.path + "' && " + command + " 2>&1", status);
}

// The files cbmconvert gives of `image` with `form` (-P, -N), in a fresh
// folder `folder`, by name.
std::map<std::string, Bytes> cbmconvertFiles(const TempDir &dir, const std::string &image, const char *form,
                                             const std::string &folder) {
    int status = -1;
    std::string said = inDir(dir, "mkdir " + folder + " && cd " + folder + " && cbmconvert " + form + " -d ../" + image,
                             &status);
    EXPECT_EQ(status, 0) << said;
    std::map<std::string, Bytes> files;
    for (const std::string &name : listFolder(dir.file(folder))) files[name] = readBytes(dir.file(folder + "/" + name));
    return files;
}

// The one file kestrel -x writes of `image` with `form` into a fresh folder.
Bytes kestrelFile(const TempDir &dir, const std::string &image, const char *form, const std::string &folder) {
    RunResult result = runBinary({"-x", form, image, "-into", folder}, dir.path);
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<std::string> names = listFolder(dir.file(folder));
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? Bytes{} : readBytes(dir.file(folder + "/" + names[0]));
}

// A CVT file with the letters of its signature that say PRG or SEQ made
// alike: cbmconvert writes "PRG" for both structures, kestrel "SEQ" for a
// sequential file, as the format notes have it.
Bytes sameSignature(Bytes cvt) {
    if (cvt.size() > 0x21) std::copy_n("PRG", 3, cvt.begin() + 0x1E);
    return cvt;
}

// One kind of container and the file it carries.
struct Kind {
    const char *what;
    const char *hostName;               // the host file -w reads (its extension tells cbmconvert's reader too)
    Bytes bytes;
    std::vector<std::string> settings;  // -w... options before its -w
    const char *cbmInput;               // how cbmconvert reads the host file
    const char *cbmOutput;              // how cbmconvert gives the file back: -P (PC64) or -N (a CVT file for GEOS)
    const char *kestrelForm;            // how kestrel -x gives it back
    const char *jsonField;              // what -json shows of the entry
};

// A Lynx archive of one REL file, by the format notes: one directory block,
// the side sectors (zeros: a reader builds its own), then the records.
Bytes lynxRel(const std::string &name, int recordLength, const Bytes &data) {
    long dataBlocks = static_cast<long>((data.size() + 253) / 254), sides = (dataBlocks + 119) / 120;
    std::string text = " 1  *LYNX BY KESTREL TEST*\r 1 \r" + name + std::string(16 - name.size(), '\xa0') + "\r " +
                       std::to_string(dataBlocks + sides) + " \rR\r " + std::to_string(recordLength) + " \r " +
                       std::to_string(data.size() - static_cast<size_t>(dataBlocks - 1) * 254 + 1) + " \r";
    Bytes archive(text.begin(), text.end());
    archive.resize(254 * static_cast<size_t>(1 + sides), 0);
    archive.insert(archive.end(), data.begin(), data.end());
    return archive;
}

std::vector<Kind> kinds() {
    Bytes notes = randomBytes(30 * 100, 21);
    return {
        {"REL from a PC64 file", "ledger.r00", pc64Rel("ledger", 50, 100, 20), {}, "-p", "-P", "-p00",
         "\"record_length\":50"},
        // cbmconvert's own raw files name a REL file's record length in hex: ".l1e".
        {"REL by -wrel", "notes.l1e", notes, {"-wrel", "30"}, "-n", "-P", "-p00", "\"record_length\":30"},
        {"REL from a Lynx archive", "notes.lnx", lynxRel("NOTES", 30, notes), {}, "-l", "-P", "-p00",
         "\"record_length\":30"},
        {"GEOS sequential, CVT", "seqfile.cvt", geosConvert("seqfile", false, {randomBytes(700, 22)}), {}, "-n",
         "-N", "-cvt", "\"geos\":{\"structure\":\"sequential\",\"structure_byte\":0,\"type\":7,\"type_name\":"
         "\"application data\",\"date\":\"1988-05-17 12:30\",\"date_hex\":\"580511"},
        {"GEOS VLIR of five records, one empty, CVT", "vlirfile.cvt",
         geosConvert("vlirfile", true,
                     {randomBytes(300, 23), randomBytes(10, 24), {}, randomBytes(600, 25), randomBytes(254, 26)}),
         {}, "-n", "-N", "-cvt",
         "\"geos\":{\"structure\":\"vlir\",\"structure_byte\":1,\"type\":6,\"type_name\":\"application\""},
    };
}

// True when two files of the kind carry the same file: CVT files byte for
// byte but the letters PRG or SEQ of the signature; PC64 files in their
// signature, name (without the 0x00 or 0xA0 that pad it: kestrel writes 0x00
// as the format notes say, cbmconvert 0xA0), record length and data.
bool sameFile(const Kind &kind, const Bytes &a, const Bytes &b) {
    if (std::string(kind.kestrelForm) == "-cvt") return sameSignature(a) == sameSignature(b);
    if (a.size() < 26 || b.size() < 26) return false;
    auto name = [](const Bytes &f) {
        Bytes n(f.begin() + 8, f.begin() + 24);
        while (!n.empty() && (n.back() == 0 || n.back() == 0xA0)) n.pop_back();
        return n;
    };
    return std::equal(a.begin(), a.begin() + 8, b.begin()) && name(a) == name(b) && a[25] == b[25] &&
           std::equal(a.begin() + 26, a.end(), b.begin() + 26, b.end());
}

}  // namespace

// Every container kind, on every family: kestrel inserts what cbmconvert
// wrote and cbmconvert reads back what kestrel wrote, byte for byte (the file
// cbmconvert extracts from kestrel's disk is the one it extracts from its
// own); -copy from cbmconvert's disk to each family does the same; -x gives
// the container back; -check finds nothing; -json shows the REL and GEOS fields.
TEST(StructuredFiles, EveryContainerKindRoundTripsWithCbmconvertOnEveryFamily) {
    REQUIRE_TOOL("command -v cbmconvert", "cbmconvert");
    for (const Kind &kind : kinds()) {
        SCOPED_TRACE(kind.what);
        TempDir dir;
        writeBytes(dir.file(kind.hostName), kind.bytes);
        int status = -1;
        std::string said =
            inDir(dir, std::string("cbmconvert -v0 -D4 tool.d64 ") + kind.cbmInput + " " + kind.hostName, &status);
        ASSERT_EQ(status, 0) << said;
        std::map<std::string, Bytes> own = cbmconvertFiles(dir, "tool.d64", kind.cbmOutput, "own");
        ASSERT_EQ(own.size(), 1u);
        const Bytes &canonical = own.begin()->second;
        EXPECT_TRUE(sameFile(kind, kestrelFile(dir, "tool.d64", kind.kestrelForm, "from-tool"), canonical));
        if (std::string(kind.kestrelForm) == "-cvt") {
            EXPECT_TRUE(sameFile(kind, canonical, kind.bytes));
        }

        for (const char *family : {"d64", "d71", "d81"}) {
            SCOPED_TRACE(family);
            std::string image = std::string("k.") + family, copy = std::string("c.") + family;
            std::vector<std::string> args = {"-new", "KESTREL,KS"};
            args.insert(args.end(), kind.settings.begin(), kind.settings.end());
            args.insert(args.end(), {"-w", kind.hostName, "-check", image});
            RunResult written = runBinary(args, dir.path);
            ASSERT_EQ(written.status, 0) << written.err;
            EXPECT_TRUE(contains(written.out, "0 errors, 0 warnings")) << written.out;
            RunResult copied = runBinary({"-new", "COPY,CP", "-copy", "tool.d64", "-check", copy}, dir.path);
            ASSERT_EQ(copied.status, 0) << copied.err;
            EXPECT_TRUE(contains(copied.out, "0 errors, 0 warnings")) << copied.out;
            for (const std::string &made : {image, copy}) {
                std::map<std::string, Bytes> back = cbmconvertFiles(dir, made, kind.cbmOutput, made + "-cbm");
                EXPECT_EQ(back, own) << made;
                EXPECT_TRUE(sameFile(kind, kestrelFile(dir, made, kind.kestrelForm, made + "-x"), canonical)) << made;
            }
            RunResult json = runBinary({"-json", image}, dir.path);
            EXPECT_TRUE(contains(json.out, kind.jsonField)) << json.out;
        }
    }
}

// The structures as the drives build them, read with the test's own parser:
// 800 data blocks of a REL file on a 1581 take a super side sector and seven
// side sectors in two groups; the super side sector (byte 02 $FE) links to
// side sector 0 and lists the first side sector of each group; each side
// sector carries its number in its group, the record length, its group's
// side sectors and 120 data blocks of the chain; the last links 0 and the
// index of its last pair. A 1571's six side sectors cannot list them, so a
// copy to a D71 is refused; cbmconvert reads the records back.
TEST(StructuredFiles, RelSideSectorsAsTheDrivesBuildThem) {
    struct Case {
        const char *image;
        size_t records;  // of 254 bytes: one data block each
        int groups;      // 0: no super side sector
        int sides;
    } const cases[] = {{"big.d81", 800, 2, 7}, {"edge.d71", 720, 0, 6}, {"small.d64", 121, 0, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.image);
        TempDir dir;
        writeBytes(dir.file("big.r00"), pc64Rel("big", 254, c.records, 30));
        RunResult made = runBinary({"-new", "REL,RL", "-w", "big.r00", "-check", c.image}, dir.path);
        ASSERT_EQ(made.status, 0) << made.err;
        EXPECT_TRUE(contains(made.out, "0 errors, 0 warnings")) << made.out;
        Bytes d = readBytes(dir.file(c.image));
        std::vector<Bytes> slots = usedSlots(d);
        ASSERT_EQ(slots.size(), 1u);
        const Bytes &slot = slots[0];
        EXPECT_EQ(slot[2], 0x84);
        EXPECT_EQ(slot[0x17], 254);
        std::vector<Block> data = chainOf(d, pairAt(slot, 3));
        ASSERT_EQ(data.size(), c.records);
        std::vector<Block> sides = chainOf(d, pairAt(slot, 0x15));
        if (c.groups > 0) {
            size_t super = offsetOf(d, sides[0].track, sides[0].sector);
            EXPECT_EQ(d[super + 2], 0xFE);
            sides.erase(sides.begin());
            for (int group = 0; group < c.groups; ++group)
                EXPECT_EQ(pairAt(d, super + 3 + 2 * static_cast<size_t>(group)), sides[6 * static_cast<size_t>(group)]);
        }
        ASSERT_EQ(sides.size(), static_cast<size_t>(c.sides));
        EXPECT_EQ(slot[30] | slot[31] << 8, static_cast<int>(data.size() + sides.size()) + (c.groups > 0));
        for (size_t i = 0; i < sides.size(); ++i) {
            size_t at = offsetOf(d, sides[i].track, sides[i].sector);
            EXPECT_EQ(d[at + 2], i % 6) << i;
            EXPECT_EQ(d[at + 3], 254) << i;
            size_t group = i - i % 6;
            for (size_t j = group; j < std::min(sides.size(), group + 6); ++j)
                EXPECT_EQ(pairAt(d, at + 4 + 2 * (j - group)), sides[j]) << i << " lists " << j;
            size_t listed = std::min<size_t>(120, data.size() - 120 * i);
            for (size_t p = 0; p < listed; ++p) EXPECT_EQ(pairAt(d, at + 16 + 2 * p), data[120 * i + p]) << i;
            if (i + 1 == sides.size()) {
                EXPECT_EQ(pairAt(d, at), (Block{0, static_cast<int>(15 + 2 * listed)}));
            }
        }
        if (haveProgram("cbmconvert")) {
            std::map<std::string, Bytes> back = cbmconvertFiles(dir, c.image, "-P", "back");
            ASSERT_EQ(back.count("big.r00"), 1u);
            Bytes host = readBytes(dir.file("big.r00")), got = back["big.r00"];
            EXPECT_EQ(got[25], 254);
            EXPECT_TRUE(std::equal(host.begin() + 26, host.end(), got.begin() + 26, got.end()));
        }
        RunResult toD71 = runBinary({"-new", "T,TT", "-copy", c.image, "t.d71"}, dir.path);
        EXPECT_EQ(toD71.status, c.records > 720 ? 1 : 0) << toD71.err;
        if (c.records > 720) {
            EXPECT_EQ(toD71.err, "ERROR: REL file '" + std::string(c.image) + " entry 0' needs 800 data blocks; the 6 "
                                 "side sectors a REL file on 't.d71' may have list at most 720.\n");
        }
        EXPECT_EQ(listFolder(dir.path).size(), 2u + (c.records <= 720) + (haveProgram("cbmconvert") ? 1 : 0));
    }
}

namespace {

// A sound container and what -w of it may end as: status 0 with the file on
// the disk and a check that finds nothing wrong, or status 1 with one line
// that names the container and nothing written.
void expectWholeOrNothing(const TempDir &dir, const std::string &name, const Bytes &bytes, const std::string &what) {
    SCOPED_TRACE(what);
    writeBytes(dir.file(name), bytes);
    RunResult result = runBinary({"-w", name, "-check", "disk.d64", "out.d64"}, dir.path);
    bool written = !readBytes(dir.file("out.d64")).empty();
    if (result.status == 0) {
        EXPECT_TRUE(written);  // and the check found no error (status 3 else)
    } else {
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_FALSE(written);
        std::vector<std::string> lines = splitLines(result.err);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("ERROR: '" + name + "' ", 0), 0u) << result.err;
        EXPECT_TRUE(contains(lines.back(), "; nothing was written.")) << result.err;
        for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("WARNING: ", 0), 0u) << result.err;
    }
    std::remove(dir.file("out.d64").c_str());
}

// A lie: the byte at `offset` set to `value`.
struct Lie {
    const char *field;
    size_t offset;
    std::vector<int> values;
};

}  // namespace

// Damaged containers: a CVT file (sequential and VLIR) and a .R00 file cut at
// every length, and three lies in each header field (signature, type,
// structure, GEOS type, name, each record's blocks and last-block byte; the
// PC64 signature, name and record length). Each run ends whole or not at all
// (expectWholeOrNothing), under the sanitizers too, and the refusals the
// notes call for are made: a cut inside the header or the record table, a
// structure byte of 2, GEOS type 0, a record past the end.
TEST(StructuredFiles, DamagedContainersAreInsertedWholeOrNotAtAll) {
    TempDir dir;
    writeImage(dir.file("disk.d64"), formatImage());
    struct Container {
        const char *name;
        Bytes bytes;
        std::vector<Lie> lies;
        std::vector<size_t> refusedCuts;  // lengths that must be refused
    } const containers[] = {
        {"seq.cvt", geosConvert("seq", false, {randomBytes(100, 40)}),
         {{"signature", 0x1E, {'X', 0, 0xFF}}, {"type byte", 0, {0, 0x84, 0x85}}, {"structure", 0x15, {2, 0x80, 0xFF}},
          {"GEOS type", 0x16, {0, 1, 0xFF}}, {"name", 3, {0xA0, 0, 0xFF}}},
         {0, 1, 100, 507}},
        {"vlir.cvt", geosConvert("vlir", true, {randomBytes(10, 41), {}, randomBytes(300, 42)}),
         {{"signature", 0x1F, {'r', 0, 0xA0}}, {"structure", 0x15, {0, 2, 0xFF}}, {"GEOS type", 0x16, {0, 6, 0xFF}},
          {"record 0 blocks", 508, {0, 2, 0xFF}}, {"record 0 last byte", 509, {0, 1, 0xFF}},
          {"record 1 blocks", 510, {1, 3, 0xFF}}, {"record 2 blocks", 512, {0, 3, 0xFF}},
          {"record 2 last byte", 513, {0, 1, 0xFF}}, {"record 3 (the end)", 514, {1, 0x7F, 0xFF}}},
         {0, 600, 761, 762, 1015, 1061}},
        {"rel.r00", pc64Rel("rel", 20, 3, 43),
         {{"signature", 0, {'c', 0, 0xFF}}, {"name", 8, {0, 0xA0, 0xFF}}, {"record length", 25, {0, 255, 7}}},
         {0, 7, 25}},
    };
    for (const Container &c : containers) {
        SCOPED_TRACE(c.name);
        expectWholeOrNothing(dir, c.name, c.bytes, "whole");
        for (size_t length = 0; length < c.bytes.size(); ++length)
            expectWholeOrNothing(dir, c.name, Bytes(c.bytes.begin(), c.bytes.begin() + static_cast<long>(length)),
                                 "cut to " + std::to_string(length));
        for (const Lie &lie : c.lies)
            for (int value : lie.values) {
                Bytes lying = c.bytes;
                lying[lie.offset] = static_cast<uint8_t>(value);
                expectWholeOrNothing(dir, c.name, lying, std::string(lie.field) + " " + std::to_string(value));
            }
        for (size_t length : c.refusedCuts) {
            writeBytes(dir.file(c.name), Bytes(c.bytes.begin(), c.bytes.begin() + static_cast<long>(length)));
            EXPECT_EQ(runBinary({"-w", c.name, "disk.d64", "out.d64"}, dir.path).status, 1) << length;
        }
    }
    struct Refusal {
        const char *name;
        size_t offset;
        int value;
        const char *message;
    } const refusals[] = {
        {"seq.cvt", 0x15, 2, "'seq.cvt' gives structure byte 2, neither sequential (0) nor VLIR (1)"},
        {"seq.cvt", 0x16, 0, "'seq.cvt' gives GEOS file type 0"},
        {"seq.cvt", 0x1E, 'X', "'seq.cvt' has no CVT signature"},
        {"vlir.cvt", 512, 3, "'vlir.cvt' lies: record 2 of its table (3 blocks) would end at byte 1570, the file at "
                             "1316"},
        {"vlir.cvt", 509, 0, "'vlir.cvt' lies: record 0 of its table gives 0 for the bytes of its last block, which "
                             "holds 1 to 254"},
        {"rel.r00", 25, 0, "'rel.r00' holds a REL file of record length 0"},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(std::string(r.name) + " " + r.message);
        for (const Container &c : containers) {
            if (std::string(c.name) != r.name) continue;
            Bytes lying = c.bytes;
            lying[r.offset] = static_cast<uint8_t>(r.value);
            writeBytes(dir.file(r.name), lying);
        }
        RunResult result = runBinary({"-w", r.name, "disk.d64", "out.d64"}, dir.path);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(contains(result.err, r.message)) << result.err;
    }
}

// A GEOS disk (its signature at 18/0 AD, a border block at 20/0 holding an
// entry of its own) keeps both through every edit: inserts and copies of
// REL and GEOS files, -fix, -adel, -rename, -header; none takes the border
// block or its file's blocks, and -check names the disk.
TEST(StructuredFiles, GeosDiskKeepsItsSignatureAndBorderBlockThroughEveryEdit) {
    TempDir dir;
    ImageBuffer geos = formatImage("GEOS DISK", "gd");
    TrackSector hidden = addFile(geos, randomBytes(600, 50), "HIDDEN");
    uint8_t *moved = slotBytes(geos, 18, 1, 0);
    size_t border = zoneOffset(20, 0), map = zoneOffset(18, 0);
    std::copy_n(moved + 2, 30, geos.bytes.begin() + static_cast<long>(border) + 2);
    std::fill_n(moved + 2, 30, 0);
    geos.bytes[border] = 0;
    geos.bytes[border + 1] = 0xFF;
    markBlock(geos, 20, 0, false);
    std::string signature = "GEOS format V1.2";
    std::copy(signature.begin(), signature.end(), geos.bytes.begin() + static_cast<long>(map) + 0xAD);
    geos.bytes[map + 0xAB] = 20;
    geos.bytes[map + 0xAC] = 0;
    addFile(geos, randomBytes(100, 55), "SHOWN");  // the one entry -rename has to name
    writeImage(dir.file("geos.d64"), geos);
    writeBytes(dir.file("vlir.cvt"), geosConvert("vlir", true, {randomBytes(3000, 51), {}, randomBytes(9, 52)}));
    writeBytes(dir.file("rel.r00"), pc64Rel("rel", 40, 200, 53));
    writeBytes(dir.file("filler.prg"), randomBytes(254 * 659, 54));  // every block the map leaves free
    ASSERT_EQ(runBinary({"-new", "OTHER,OT", "-w", "vlir.cvt", "-w", "rel.r00", "other.d64"}, dir.path).status, 0);
    Bytes before = bytesOf(geos);
    std::vector<Block> hiddenBlocks = chainOf(before, {hidden.track, hidden.sector});
    const std::vector<std::vector<std::string>> edits = {
        {"-w", "vlir.cvt", "-w", "rel.r00"}, {"-copy", "other.d64"}, {"-fix"}, {"-adel"},
        {"-rename", "0", "NEW"}, {"-header", "OTHER"}, {"-w", "filler.prg"},
    };
    for (const std::vector<std::string> &edit : edits) {
        SCOPED_TRACE(edit[0] + " " + (edit.size() > 1 ? edit[1] : ""));
        std::vector<std::string> args = edit;
        args.insert(args.end(), {"-check", "geos.d64", "out.d64"});
        RunResult result = runBinary(args, dir.path);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(contains(result.out, "; a GEOS disk (\"GEOS format V1.2\" at 18/0 $AD, border block 20/0)\n"))
            << result.out;
        Bytes after = readBytes(dir.file("out.d64"));
        ASSERT_EQ(after.size(), before.size());
        EXPECT_TRUE(std::equal(before.begin() + static_cast<long>(map) + 0xAB,
                               before.begin() + static_cast<long>(map) + 0xBD, after.begin() + static_cast<long>(map) + 0xAB));
        EXPECT_TRUE(std::equal(before.begin() + static_cast<long>(border), before.begin() + static_cast<long>(border) + 256,
                               after.begin() + static_cast<long>(border)));
        for (Block block : hiddenBlocks) {
            size_t at = zoneOffset(block.track, block.sector);
            EXPECT_TRUE(std::equal(before.begin() + static_cast<long>(at), before.begin() + static_cast<long>(at) + 256,
                                   after.begin() + static_cast<long>(at)))
                << block.track << "/" << block.sector;
        }
    }
}

// -check of REL side sectors as a 1581 builds them, and of the records:
// each fault planted in a file kestrel wrote is named with its blocks.
TEST(StructuredFiles, CheckNamesFaultsOfSuperSideSectorsAndRecords) {
    TempDir dir;
    writeBytes(dir.file("big.r00"), pc64Rel("big", 254, 800, 60));
    ASSERT_EQ(runBinary({"-new", "REL,RL", "-w", "big.r00", "sound.d81"}, dir.path).status, 0);
    Bytes sound = readBytes(dir.file("sound.d81"));
    Bytes slot = usedSlots(sound)[0];
    std::vector<Block> sides = chainOf(sound, pairAt(slot, 0x15));
    std::vector<Block> data = chainOf(sound, pairAt(slot, 3));
    auto ts = [](Block b) { return std::to_string(b.track) + "/" + std::to_string(b.sector); };
    size_t super = d81Block(sides[0].track, sides[0].sector);
    size_t seventh = d81Block(sides[7].track, sides[7].sector);
    Block last = data.back();
    struct Fault {
        const char *what;
        size_t offset;
        int value;
        std::string line;
    } const faults[] = {
        {"group 1 listed wrong", super + 5, 1,
         "error: entry 0 \"BIG\" (40/3 slot 0): super side sector " + ts(sides[0]) + " names 1/" +
             std::to_string(sides[7].sector) + " as the first side sector of group 1, the chain has " + ts(sides[7])},
        {"side sector 6 numbered 6", seventh + 2, 6,
         "error: entry 0 \"BIG\" (40/3 slot 0): side sector " + ts(sides[7]) + " carries number 6, expected 0"},
        {"the records cut short by one byte", d81Block(last.track, last.sector) + 1, 254,
         "warning: entry 0 \"BIG\" (40/3 slot 0): the REL data holds 203199 bytes, no whole number of 254-byte "
         "records"},
    };
    RunResult clean = runBinary({"-check", "sound.d81"}, dir.path);
    EXPECT_EQ(clean.status, 0) << clean.out;
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.what);
        Bytes d = sound;
        d[f.offset] = static_cast<uint8_t>(f.value);
        writeBytes(dir.file("fault.d81"), d);
        RunResult result = runBinary({"-check", "fault.d81"}, dir.path);
        EXPECT_TRUE(contains(result.out, f.line + "\n")) << result.out;
        EXPECT_EQ(result.status, f.line.rfind("error", 0) == 0 ? 3 : 0);
    }
}
