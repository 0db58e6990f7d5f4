// End-to-end tests of the containers that carry whole disks or many files:
// Lynx archives (cbmconvert -L writes them, -l reads them), ZipCode 4-packs
// (disk2zip and zip2disk), and disk images inside .zip and .gz archives
// (Python's zipfile and gzip). Each kind is made by its own tool and what
// kestrel makes of it is read back by that tool; the host files and the
// disk cc1541 wrote are the facts. Damaged and lying containers end the run
// with one line on standard error and leave the folder as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"

namespace fs = std::filesystem;

namespace {

// The host files the disk holds: lengths that matter to blocks (a few bytes,
// exactly one block's 254, several blocks).
struct HostFile {
    const char *name;  // as cbmconvert -N writes it back
    size_t size;
};
const HostFile kFiles[] = {{"small.prg", 7}, {"three.seq", 600}, {"exact.prg", 254}, {"big.prg", 3000}};

// Runs `command` by the shell in the folder; fails the test when it fails.
void shell(const TempDir &dir, const std::string &command) {
    int status = -1;
    std::string out = shellOutput("cd " + shellWord(dir.path) + " && { " + command + "; } 2>&1", &status);
    EXPECT_EQ(status, 0) << command << "\n" << out;
}

// The host files, and disk.d64 (cc1541, id "ar") that holds them in that order.
void writeDisk(const TempDir &dir) {
    uint32_t seed = 10;
    std::string command = "cc1541 -q -n archive -i ar";
    for (const HostFile &file : kFiles) {
        writeBytes(dir.file(file.name), randomBytes(file.size, seed++));
        std::string name = file.name;
        command += " -f " + name.substr(0, name.find('.'));
        if (name.find(".seq") != std::string::npos) command += " -T SEQ";
        command += " -w " + name;
    }
    shell(dir, command + " disk.d64 >/dev/null");
}

bool toolsPresent() {
    for (const char *tool : {"cc1541", "cbmconvert", "zip2disk", "disk2zip", "python3"})
        if (!haveProgram(tool)) return false;
    return true;
}

// A Python script that writes `zip` with members (name, host file, stored?).
std::string zipScript(const std::string &zip, const std::vector<std::vector<std::string>> &members) {
    std::string script = "python3 -c \"import zipfile; z = zipfile.ZipFile('" + zip + "', 'w'); ";
    for (const std::vector<std::string> &member : members)
        script += "z.write('" + member[1] + "', '" + member[0] + "', zipfile.ZIP_" +
                  (member.size() > 2 ? "STORED" : "DEFLATED") + "); ";
    return script + "z.close()\"";
}

std::string gzipScript(const std::string &from, const std::string &to) {
    return "python3 -c \"import gzip; gzip.open('" + to + "', 'wb').write(open('" + from + "', 'rb').read())\"";
}

}  // namespace

// One row per kind of container: its own tool makes it from the disk or the
// host files, kestrel reads it (or writes it), and the tool reads back what
// kestrel made; the files that come back are the files that went in.
TEST(Containers, EachKindMadeByItsToolAndReadBackByIt) {
    if (!toolsPresent()) GTEST_SKIP() << "cc1541, cbmconvert, zip2disk, disk2zip or python3 missing";
    struct Case {
        const char *kind;
        std::string make;               // shell: the tool makes the container
        std::vector<std::string> args;  // kestrel reads or writes it
        std::string readBack;           // shell: the tool reads what kestrel made into back/ (and compares)
        bool disk;                      // back/disk.d64 is the disk itself, else back/ holds the host files
    };
    const std::string unpack = "python3 -c \"import zipfile; assert zipfile.ZipFile('c.zip').testzip() is None\"";
    const std::vector<Case> cases = {
        {"Lynx into a disk", "cbmconvert -v0 -L in.lnx -n small.prg three.seq exact.prg big.prg",
         {"-new", "lynx,ly", "back/out.d64", "-w", "in.lnx"}, "cd back && cbmconvert -v0 -N -d out.d64 && rm out.d64",
         false},
        {"Lynx out of a disk", "", {"disk.d64", "-x", "-lnx", "-into", "lnx"},
         "cd back && cbmconvert -v0 -N -l ../lnx/disk.lnx", false},
        {"ZipCode into a disk", "disk2zip -i 6172 disk.d64 pack >/dev/null", {"-zipdisk", "1!pack", "back/disk.d64"},
         "zip2disk pack ref.d64 && cmp ref.d64 back/disk.d64", true},
        {"ZipCode out of a disk", "", {"disk.d64", "-x", "-zipcode", "-into", "back"},
         "disk2zip -i 6172 disk.d64 ref >/dev/null && for n in 1 2 3 4; do cmp $n!ref back/$n!disk; done && "
         "cd back && zip2disk disk disk.d64",
         true},
        {"zip, deflated in a folder", zipScript("c.zip", {{"games/disk.d64", "disk.d64"}, {"note.txt", "small.prg"}}),
         {"c.zip", "-x", "-into", "back"}, unpack, false},
        {"zip, stored and named", zipScript("c.zip", {{"a.d64", "small.prg"}, {"DISK.D64", "disk.d64", "stored"}}),
         {"c.zip!DISK.D64", "-x", "-into", "back"}, unpack, false},
        {"gz", gzipScript("disk.d64", "disk.d64.gz"), {"disk.d64.gz", "-x", "-into", "back"},
         "python3 -c \"import gzip; assert gzip.open('disk.d64.gz').read() == open('disk.d64', 'rb').read()\"", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        TempDir dir;
        writeDisk(dir);
        fs::create_directory(dir.file("back"));
        if (!c.make.empty()) shell(dir, c.make);
        RunResult result = runBinary(c.args, dir.path);
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_EQ(result.err, "");
        shell(dir, c.readBack);
        if (c.disk) {
            EXPECT_EQ(readBytes(dir.file("back/disk.d64")), readBytes(dir.file("disk.d64")));
            continue;
        }
        std::vector<std::string> names;
        for (const HostFile &file : kFiles) {
            names.push_back(file.name);
            EXPECT_EQ(readBytes(dir.file(std::string("back/") + file.name)), readBytes(dir.file(file.name))) << file.name;
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(listFolder(dir.file("back")), names);
    }
}

// An archive of several images gives each, named "archive.zip!inner.d64",
// in every way of reading many images; a .gz is named as it is. One that
// cannot be read gives its error where the image's line would stand, and the
// run goes on.
TEST(Archives, EveryImageOfAnArchiveIsReadAndNamed) {
    if (!toolsPresent()) GTEST_SKIP() << "cc1541 or python3 missing";
    TempDir dir;
    writeDisk(dir);
    shell(dir, "cc1541 -q -n other -i ot -f only -w small.prg other.d64 >/dev/null");
    shell(dir, zipScript("two.zip", {{"a.d64", "disk.d64"}, {"readme.txt", "small.prg"}, {"sub/B.D64", "other.d64"}}));
    shell(dir, gzipScript("other.d64", "one.d64.gz"));
    writeBytes(dir.file("bad.zip"), randomBytes(300, 1));
    std::string disk = runBinary({"disk.d64"}, dir.path).out, other = runBinary({"other.d64"}, dir.path).out;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> shown;  // each in standard output, in this order
    };
    const std::vector<Case> cases = {
        {{"two.zip"}, 0, {"two.zip!a.d64:\n" + disk + "\ntwo.zip!sub/B.D64:\n" + other}},
        {{"two.zip!sub/B.D64"}, 0, {other}},
        {{"one.d64.gz"}, 0, {other}},
        {{"-json", "two.zip", "bad.zip", "one.d64.gz"}, 1,
         {"{\"image\":\"two.zip!a.d64\",", "\"disk_name\":\"ARCHIVE\"", "{\"image\":\"two.zip!sub/B.D64\",",
          "{\"image\":\"bad.zip\",\"error\":\"File 'bad.zip' is no zip archive", "{\"image\":\"one.d64.gz\","}},
        {{"-csv", "two.zip"}, 0, {"two.zip!a.d64,0,1,SMALL", "two.zip!sub/B.D64,0,1,ONLY"}},
        {{"-csv", "one.d64.gz", "two.zip"}, 0, {"one.d64.gz,0,1,ONLY", "two.zip!a.d64,3,12,BIG"}},
        {{"-check", "two.zip"}, 0, {"two.zip!a.d64:\n0 errors", "two.zip!sub/B.D64:\n0 errors", "2 images: 0 errors"}},
        {{"-x", "two.zip", "one.d64.gz", "-into", "out"}, 0,
         {"out/two.zip!a/small.prg (7 bytes)", "out/two.zip!B/only.prg (7 bytes)", "out/one.d64/only.prg"}},
        {{"-new", "copy,01", "n.d64", "-copy", "two.zip!a.d64", "1", "-copy", "one.d64.gz"}, 0,
         {"\"THREE\" SEQ, 3 blocks", "\"ONLY\" PRG, 1 block"}},
    };
    for (const Case &c : cases) {
        RunResult result = runBinary(c.args, dir.path);
        std::string line = testing::PrintToString(c.args);
        EXPECT_EQ(result.status, c.status) << line << result.err;
        size_t at = 0;
        for (const std::string &part : c.shown) {
            size_t found = result.out.find(part, at);
            EXPECT_NE(found, std::string::npos) << line << " lacks " << part << " in\n" << result.out;
            if (found != std::string::npos) at = found + part.size();
        }
    }
    // The copies went into the new disk as cbmconvert reads them.
    shell(dir, "mkdir n && cd n && cbmconvert -v0 -N -d ../n.d64 && cmp three.seq ../three.seq && cmp only.prg ../small.prg");
}

// Damaged and lying archives and containers: one line on standard error, no
// usage, status 1, and the folder as it was.
TEST(Archives, RefusalsAreOneLineAndWriteNothing) {
    if (!toolsPresent()) GTEST_SKIP() << "cc1541, disk2zip or python3 missing";
    TempDir dir;
    writeDisk(dir);
    shell(dir, zipScript("two.zip", {{"a.d64", "disk.d64"}, {"B.D64", "disk.d64"}}));
    shell(dir, zipScript("one.zip", {{"a.d64", "disk.d64"}}));
    shell(dir, zipScript("none.zip", {{"readme.txt", "small.prg"}}));
    shell(dir, zipScript("climb.zip", {{"../up.d64", "disk.d64"}}));
    shell(dir, gzipScript("disk.d64", "disk.d64.gz"));
    shell(dir, "disk2zip -i 6172 disk.d64 pack >/dev/null && cp 1!pack 1!gap && cp 2!pack 2!gap && cp 4!pack 4!gap && "
               "cp 1!pack 1!cut && cp 2!pack 2!cut && cp 3!pack 3!cut && cp 4!pack 4!cut && truncate -s -1 3!cut && "
               "cp 1!pack 1!far && cp 2!pack 2!far && cp 3!pack 3!far && cp 4!pack 4!far");
    std::vector<uint8_t> zip = readBytes(dir.file("one.zip")), gz = readBytes(dir.file("disk.d64.gz"));
    size_t directory = zip.size() - 22 - 46 - 5;  // one entry named "a.d64", no comment
    auto patched = [&](std::vector<uint8_t> bytes, std::vector<std::pair<size_t, uint8_t>> changes) {
        for (auto [at, value] : changes) bytes[at] = value;
        return bytes;
    };
    writeBytes(dir.file("crc.zip"), patched(zip, {{directory + 16, static_cast<uint8_t>(zip[directory + 16] ^ 1)}}));
    writeBytes(dir.file("small.zip"), patched(zip, {{directory + 25, 0xAA}}));  // 174,592 bytes, not 174,848
    writeBytes(dir.file("large.zip"), patched(zip, {{directory + 25, 0xAC}}));  // 175,104
    writeBytes(dir.file("huge.zip"), patched(zip, {{directory + 26, 0x40}}));
    writeBytes(dir.file("locked.zip"), patched(zip, {{directory + 8, 1}}));
    writeBytes(dir.file("method.zip"), patched(zip, {{directory + 10, 12}}));
    writeBytes(dir.file("moved.zip"), patched(zip, {{directory + 42, 7}}));
    writeBytes(dir.file("cut.zip"), std::vector<uint8_t>(zip.begin(), zip.begin() + static_cast<long>(zip.size() / 2)));
    writeBytes(dir.file("cut.gz"), std::vector<uint8_t>(gz.begin(), gz.end() - 9));
    writeBytes(dir.file("crc.gz"), patched(gz, {{gz.size() - 8, static_cast<uint8_t>(gz[gz.size() - 8] ^ 1)}}));
    writeBytes(dir.file("plain.gz"), readBytes(dir.file("disk.d64")));
    std::vector<uint8_t> far = readBytes(dir.file("2!far"));
    far[2] = static_cast<uint8_t>((far[2] & 0xC0) | 20);  // track 20 in the file of tracks 9-16
    writeBytes(dir.file("2!far"), far);
    ImageBuffer geos = formatImage("GEOS");
    addFile(geos, randomBytes(300, 4), "APP");
    slotBytes(geos, 18, 1, 0)[24] = 0x06;  // a GEOS file type: the info block is no part of the chain
    writeImage(dir.file("geos.d64"), geos);
    writeBytes(dir.file("d81.d81"), blankD81());

    struct Case {
        std::vector<std::string> args;
        std::string message;  // the whole line, or its start when it ends in "..."
    };
    const std::vector<Case> cases = {
        {{"cut.zip"}, "ERROR: File 'cut.zip' is no zip archive (no end record of a central directory at its end)."},
        {{"-check", "crc.zip"}, "ERROR: File 'crc.zip!a.d64' fails its CRC-32 check: its bytes are not those the "
                                "archive was made of."},
        {{"small.zip"}, "ERROR: File 'small.zip!a.d64' lies: it inflates to more than the 174592 bytes its directory "
                        "entry says."},
        {{"large.zip"}, "ERROR: File 'large.zip!a.d64' lies: it inflates to 174848 bytes, its directory entry says "
                        "175104."},
        {{"huge.zip"}, "ERROR: File 'huge.zip!a.d64' would come to 4238080 bytes, more than any disk image (at "
                       "most 4194304 are read)."},
        {{"locked.zip"}, "ERROR: File 'locked.zip!a.d64' is encrypted, which kestrel does not read."},
        {{"method.zip"}, "ERROR: File 'method.zip!a.d64' is compressed by method 12; kestrel reads stored (0) and "
                         "deflated (8) members."},
        {{"-x", "moved.zip"}, "ERROR: File 'moved.zip!a.d64' lies: no local header (\"PK\\3\\4\") stands at byte 7, "
                              "where its directory entry puts it."},
        {{"none.zip"}, "ERROR: File 'none.zip' holds no disk image (a member named .d64, .d71 or .d81)."},
        {{"climb.zip"}, "ERROR: File 'climb.zip!../up.d64' is named with a path that leads out of its folder; it is "
                        "not read."},
        {{"one.zip!b.d64"}, "ERROR: File 'one.zip' holds no member named 'b.d64'."},
        {{"cut.gz"}, "ERROR: File 'cut.gz' is cut short: its compressed data ends before its last block."},
        {{"crc.gz"}, "ERROR: File 'crc.gz' is damaged (zlib: incorrect data check)."},
        {{"plain.gz"}, "ERROR: File 'plain.gz' is no gzip file (no $1F $8B at its start)."},
        {{"-new", "n,01", "n.d64", "-copy", "two.zip"}, "ERROR: File 'two.zip' holds 2 disk images ('two.zip!a.d64' "
                                                       "and 'two.zip!B.D64'); name one of them."},
        {{"one.zip!a.d64", "-rename", "0", "x"}, "ERROR: 'one.zip!a.d64' lies inside an archive, which kestrel never "
                                                 "writes; unpack the image (unzip, gunzip) and edit that."},
        {{"two.zip", "-fix"}, "ERROR: 'two.zip' lies inside an archive, which kestrel never writes; ..."},
        {{"disk.d64.gz", "-w", "small.prg", "out.d64"}, "ERROR: 'disk.d64.gz' lies inside an archive, ..."},
        {{"-zipdisk", "1!gap", "n.d64"}, "ERROR: Could not read '3!gap', a file of the ZipCode pack '1!gap'."},
        {{"-zipdisk", "cut", "n.d64"}, "ERROR: '3!cut' is cut short inside block 25/..."},
        {{"-zipdisk", "1!far", "n.d64"}, "ERROR: '2!far' lies: block 20/0 (byte 2) lies outside its tracks 9-16; "
                                         "nothing was written."},
        {{"-zipdisk", "1!pack", "n.d71"}, "ERROR: '-zipdisk' makes a D64; name the new image .d64, not 'n.d71'."},
        {{"-zipdisk", "1!pack", "disk.d64"}, "ERROR: 'disk.d64' already exists; '-zipdisk' never replaces a file."},
        {{"d81.d81", "-x", "-zipcode"}, "ERROR: The image is no D64 of 35 or 40 tracks, which is all a ZipCode pack "
                                        "holds; nothing was written."},
        {{"geos.d64", "-x", "-lnx"}, "ERROR: Entry 0 is a GEOS file, whose info block and records a Lynx archive "
                                     "cannot hold; nothing was written."},
        {{"disk.d64", "-x", "9", "-lnx"}, "ERROR: No entry numbered 9 to 9 has a file to put into a Lynx archive."},
    };
    for (const Case &c : cases) {
        std::vector<std::string> before = listFolder(dir.path);
        RunResult result = runBinary(c.args, dir.path);
        std::string line = testing::PrintToString(c.args);
        EXPECT_EQ(result.status, 1) << line;
        bool prefix = c.message.size() > 3 && c.message.compare(c.message.size() - 3, 3, "...") == 0;
        std::string expected = prefix ? c.message.substr(0, c.message.size() - 3) : c.message + "\n";
        EXPECT_EQ(result.err.substr(0, prefix ? expected.size() : std::string::npos), expected) << line;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << line << result.err;
        EXPECT_EQ(result.out.find("A tool to view"), std::string::npos) << line;
        EXPECT_EQ(listFolder(dir.path), before) << line;
    }
}

// A zip bomb whose directory claims the size of a D64 inflates no further
// than that size and one byte: the run ends with its message in an address
// space far smaller than the 200 MB the member holds.
TEST(Archives, ZipBombStaysWithinItsBound) {
    if (!haveProgram("python3")) GTEST_SKIP() << "python3 missing";
    TempDir dir;
    shell(dir, "python3 -c \"import zipfile; zipfile.ZipFile('bomb.zip', 'w', zipfile.ZIP_DEFLATED)"
               ".writestr('bomb.d64', bytes(200 << 20))\"");
    std::vector<uint8_t> zip = readBytes(dir.file("bomb.zip"));
    size_t entry = zip.size() - 22 - 46 - 8;
    for (int i = 0; i < 4; ++i) zip[entry + 24 + static_cast<size_t>(i)] = static_cast<uint8_t>(174848 >> 8 * i);
    writeBytes(dir.file("bomb.zip"), zip);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory needs far more address space
    struct rlimit saved, lowered;
    getrlimit(RLIMIT_AS, &saved);
    lowered = saved;
    lowered.rlim_cur = 64ull << 20;
    setrlimit(RLIMIT_AS, &lowered);
#endif
    RunResult result = runBinary({"-json", "bomb.zip"}, dir.path, "", 60);
#ifndef __SANITIZE_ADDRESS__
    setrlimit(RLIMIT_AS, &saved);
#endif
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "ERROR: File 'bomb.zip!bomb.d64' lies: it inflates to more than the 174848 bytes its "
                          "directory entry says.\n");
}
