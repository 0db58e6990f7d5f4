// Damaged containers, swept: a Lynx archive (cbmconvert -L), a ZipCode pack
// (disk2zip), a zip (Python's zipfile) and a gzip file (Python's gzip) of
// one disk, cut at every length and with three lies in each field of their
// headers, read by the readers the front end calls. Every cut must be
// refused with a problem text; every lie refused, or, where zip and gzip
// keep a CRC-32 of what they hold, read as the very bytes that went in.
// Under the sanitizers (make test-sanitize) no read may leave its buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "containers/lynx.h"
#include "base/options.h"
#include "containers/zipcode.h"
#include "frontend/archive.h"
#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace {

using Bytes = std::vector<uint8_t>;

// What a reader made of a container: its problem, else what it read.
struct Reading {
    std::string problem;
    Bytes read;
};
using Reader = std::function<Reading(const Bytes &)>;

// One lie: the byte at `at` becomes `value`.
struct Lie {
    size_t at;
    uint8_t value;
    const char *field;
};

void run(const TempDir &dir, const std::string &command) {
    int status = -1;
    std::string out = shellOutput("cd " + shellWord(dir.path) + " && { " + command + "; } 2>&1", &status);
    ASSERT_EQ(status, 0) << command << "\n" << out;
}

// A disk of files whose blocks pack in every ZipCode form (random bytes are
// stored, a run of one letter is coded, empty blocks are filled), and the
// host files it was made of.
void writeDisk(const TempDir &dir) {
    writeBytes(dir.file("rand.prg"), randomBytes(700, 3));
    writeBytes(dir.file("runs.seq"), Bytes(600, 'x'));
    writeBytes(dir.file("one.prg"), {1, 8, 7});
    run(dir, "cc1541 -q -n sweep -i sw -f rand -w rand.prg -f runs -T SEQ -w runs.seq -f one -w one.prg disk.d64 "
             ">/dev/null");
}

Reading zipReading(const Bytes &zip) {
    ByteSource source = bufferSource(zip.data(), zip.size());
    ZipDirectory directory = readZipDirectory(source);
    if (!directory.problem.empty()) return {directory.problem, {}};
    if (directory.members.empty()) return {"no member", {}};
    ImageBytes out;
    std::string problem = readZipMember(source, directory.members.front(), out);
    return {problem, Bytes(out.begin(), out.end())};
}

Reading gzipReading(const Bytes &gz) {
    ImageBytes out;
    std::string problem = gunzipBytes(gz.data(), gz.size(), out);
    return {problem, Bytes(out.begin(), out.end())};
}

// A Lynx archive's files as one string of bytes: each name, type and data.
Reading lynxReading(const Bytes &lynx) {
    ContainerRead read = readLynx(lynx.data(), lynx.size());
    Reading reading{read.problem, {}};
    for (const ContainedFile &file : read.files) {
        EXPECT_LE(file.offset + file.length, lynx.size());
        reading.read.insert(reading.read.end(), file.entry.name, file.entry.name + 16);
        reading.read.push_back(file.entry.typeByte);
        reading.read.insert(reading.read.end(), lynx.begin() + static_cast<long>(file.offset),
                            lynx.begin() + static_cast<long>(file.offset + file.length));
    }
    return reading;
}

// The pack with `part` (0 to 3) replaced by `bytes`.
Reader zipCodeReader(const std::vector<Bytes> &pack, size_t part) {
    return [pack, part](const Bytes &bytes) {
        std::vector<Bytes> parts = pack;
        parts[part] = bytes;
        ImageBuffer image;
        int badPart = 0;
        std::string problem = diskOfZipCode(parts, image, badPart);
        EXPECT_EQ(problem.empty(), badPart == 0);
        return Reading{problem, Bytes(image.bytes.begin(), image.bytes.end())};
    };
}

// Every cut is refused; every lie is refused, or read as `good` when
// `exactOrRefused` (a CRC guards the bytes).
void sweep(const char *kind, const Bytes &container, const Reader &reader, const std::vector<Lie> &lies,
           const Bytes &good, bool exactOrRefused) {
    SCOPED_TRACE(kind);
    resetOptions();  // messages name entries in the listing's glyphs
    Reading whole = reader(container);
    ASSERT_EQ(whole.problem, "");
    EXPECT_EQ(whole.read, good);
    for (size_t length = 0; length < container.size(); ++length) {
        Reading cut = reader(Bytes(container.begin(), container.begin() + static_cast<long>(length)));
        EXPECT_NE(cut.problem, "") << "cut to " << length << " of " << container.size() << " bytes";
    }
    ASSERT_GE(lies.size(), 3u);
    for (const Lie &lie : lies) {
        ASSERT_LT(lie.at, container.size()) << lie.field;
        Bytes lying = container;
        if (lying[lie.at] == lie.value) continue;  // no lie at all
        lying[lie.at] = lie.value;
        Reading read = reader(lying);
        std::string what = std::string(lie.field) + " at " + std::to_string(lie.at) + " = " + std::to_string(lie.value);
        if (exactOrRefused && read.problem.empty()) EXPECT_EQ(read.read, good) << what;
        else EXPECT_NE(read.problem, "") << what;
    }
}

// Three lies for each byte of a little-endian field of `width` bytes at `at`:
// its value with the lowest bit flipped, 0 and 255.
void fieldLies(std::vector<Lie> &lies, const Bytes &bytes, size_t at, int width, const char *field) {
    for (int i = 0; i < width; ++i) {
        size_t where = at + static_cast<size_t>(i);
        for (uint8_t value : {static_cast<uint8_t>(bytes[where] ^ 1), uint8_t{0}, uint8_t{255}})
            lies.push_back({where, value, field});
    }
}

uint32_t le32At(const Bytes &bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16) | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

}  // namespace

TEST(ContainerSweep, ZipCutsAndLiesAreRefusedOrReadExactly) {
    if (!haveProgram("cc1541") || !haveProgram("python3")) GTEST_SKIP() << "cc1541 or python3 missing";
    TempDir dir;
    writeDisk(dir);
    run(dir, "python3 -c \"import zipfile; zipfile.ZipFile('d.zip', 'w', zipfile.ZIP_DEFLATED).write('disk.d64')\"");
    Bytes zip = readBytes(dir.file("d.zip")), disk = readBytes(dir.file("disk.d64"));
    size_t end = zip.size() - 22, entry = le32At(zip, end + 16);
    std::vector<Lie> lies;
    fieldLies(lies, zip, end, 4, "end record signature");
    fieldLies(lies, zip, end + 8, 4, "entry counts");
    fieldLies(lies, zip, end + 12, 8, "directory size and offset");
    fieldLies(lies, zip, entry, 4, "directory entry signature");
    fieldLies(lies, zip, entry + 8, 4, "flags and method");
    fieldLies(lies, zip, entry + 16, 12, "CRC-32 and sizes");
    fieldLies(lies, zip, entry + 28, 6, "name, extra and comment lengths");
    fieldLies(lies, zip, entry + 42, 4, "local header offset");
    fieldLies(lies, zip, 0, 4, "local header signature");
    fieldLies(lies, zip, 26, 4, "local name and extra lengths");
    sweep("zip", zip, zipReading, lies, disk, true);
}

TEST(ContainerSweep, GzipCutsAndLiesAreRefusedOrReadExactly) {
    if (!haveProgram("cc1541") || !haveProgram("python3")) GTEST_SKIP() << "cc1541 or python3 missing";
    TempDir dir;
    writeDisk(dir);
    run(dir, "python3 -c \"import gzip; gzip.open('d.gz', 'wb').write(open('disk.d64', 'rb').read())\"");
    Bytes gz = readBytes(dir.file("d.gz")), disk = readBytes(dir.file("disk.d64"));
    std::vector<Lie> lies;
    fieldLies(lies, gz, 0, 4, "magic, method and flags");
    fieldLies(lies, gz, 4, 6, "time, extra flags, system");
    fieldLies(lies, gz, gz.size() - 8, 8, "CRC-32 and length");
    sweep("gzip", gz, gzipReading, lies, disk, true);
}

TEST(ContainerSweep, LynxCutsAndLiesAreRefused) {
    if (!haveProgram("cbmconvert")) GTEST_SKIP() << "cbmconvert missing";
    TempDir dir;
    writeBytes(dir.file("rand.prg"), randomBytes(700, 3));
    writeBytes(dir.file("runs.seq"), Bytes(600, 'x'));
    writeBytes(dir.file("one.prg"), {1, 8, 7});
    run(dir, "cbmconvert -v0 -L d.lnx -n rand.prg runs.seq one.prg");
    Bytes lynx = readBytes(dir.file("d.lnx"));
    resetOptions();
    Reading good = lynxReading(lynx);
    ASSERT_EQ(good.problem, "");
    // Each number of the directory (blocks of the directory, files, each file's
    // blocks and last-block byte) gets a minus, a letter or a carriage return
    // for its first digit, and a count of blocks or files a 0 too (a smaller
    // last-block byte is no lie a reader can see); each type letter becomes
    // one Lynx has not, and each name's line end a letter, which makes the
    // name too long.
    std::vector<Lie> lies;
    size_t at = std::string(lynx.begin(), lynx.end()).find("\r ") + 1;
    bool afterName = false;
    for (int line = 0; at < lynx.size() && lynx[at] != 0; ++line) {
        size_t end = static_cast<size_t>(std::find(lynx.begin() + static_cast<long>(at), lynx.end(), '\r') - lynx.begin());
        size_t digit = at;
        while (digit < end && lynx[digit] == ' ') ++digit;
        bool number = digit < end && lynx[digit] >= '0' && lynx[digit] <= '9';
        bool letter = end == at + 1 && std::strchr("PS", lynx[at]);
        bool name = line >= 2 && !number && !letter;
        for (uint8_t value : {uint8_t{'-'}, uint8_t{'X'}, uint8_t{'\r'}})
            if (number) lies.push_back({digit, value, "number"});
        if (number && (line < 2 || afterName)) lies.push_back({digit, '0', "count"});
        for (uint8_t value : {uint8_t{'Q'}, uint8_t{'1'}, uint8_t{' '}})
            if (letter) lies.push_back({at, value, "type letter"});
        if (name) lies.push_back({end, 'A', "name's line end"});
        afterName = name;
        at = end + 1;
    }
    // 2 counts (4 lies each), then 3 entries: name (1), blocks (4), type (3), last byte (3).
    EXPECT_EQ(lies.size(), 2u * 4 + 3 * (1 + 4 + 3 + 3));
    sweep("Lynx", lynx, lynxReading, lies, good.read, false);
}

TEST(ContainerSweep, ZipCodeCutsAndLiesAreRefused) {
    if (!haveProgram("cc1541") || !haveProgram("disk2zip")) GTEST_SKIP() << "cc1541 or disk2zip missing";
    TempDir dir;
    writeDisk(dir);
    run(dir, "disk2zip -i 7377 disk.d64 pack >/dev/null");
    std::vector<Bytes> pack;
    for (const char *name : {"1!pack", "2!pack", "3!pack", "4!pack"}) pack.push_back(readBytes(dir.file(name)));
    Bytes disk = readBytes(dir.file("disk.d64"));
    for (size_t part = 0; part < pack.size(); ++part) {
        // The load address, and the header of the first block of each method:
        // its track (0, the next file's, 63), its sector (beyond the track,
        // another block's, 255), the method (3); the length of coded runs.
        const Bytes &bytes = pack[part];
        std::vector<Lie> lies = {{0, 0, "load address"}, {1, 8, "load address"}, {1, 0, "load address"}};
        bool methods[3] = {};
        for (size_t at = part == 0 ? 4 : 2; at < bytes.size();) {
            int method = bytes[at] >> 6, track = bytes[at] & 0x3F;
            if (!methods[method]) {
                methods[method] = true;
                uint8_t high = static_cast<uint8_t>(method << 6);
                for (uint8_t lie : {high, static_cast<uint8_t>(high | (part == 3 ? 1 : 36)), static_cast<uint8_t>(high | 63)})
                    lies.push_back({at, lie, "track"});
                for (uint8_t lie : {uint8_t{21}, static_cast<uint8_t>(bytes[at + 1] ^ 1), uint8_t{255}})
                    lies.push_back({at + 1, lie, "sector"});
                lies.push_back({at, static_cast<uint8_t>(0xC0 | track), "method"});
                if (method == 2) {
                    lies.push_back({at + 2, static_cast<uint8_t>(bytes[at + 2] + 1), "length of runs"});
                    lies.push_back({at + 2, static_cast<uint8_t>(bytes[at + 2] - 1), "length of runs"});
                }
            }
            at += method == 0 ? 258 : method == 1 ? 3 : 4 + bytes[at + 2];
        }
        EXPECT_TRUE(methods[1]) << "no filled block in part " << part + 1;
        sweep(("ZipCode part " + std::to_string(part + 1)).c_str(), bytes, zipCodeReader(pack, part), lies, disk, false);
    }
}
