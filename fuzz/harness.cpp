// Fuzz harness: decodes one input into a kestrel command line, one or two
// image files, host files for -w and the keys typed into the block viewer,
// then runs kestrel's real run order on them.
//
// Built by fuzz/build.sh with AFL++'s compiler for persistent mode: one
// process runs many inputs, each handed over in shared memory, and the fuzz
// build's error exits throw RunEnded back to here instead of ending the
// process (see base/errors.h). Everything one run leaves behind is reset
// before the next: options (runKestrel itself), the export lists, the
// console's state, standard input and output, files and file descriptors.
//
//   kestrel_fuzz FILE     replays one input (crash files, corpus files)
//   kestrel_fuzz < FILE   the same, from standard input
//   KESTREL_FUZZ_SHOW=1   shows kestrel's output while replaying
//   KESTREL_FUZZ_RUNS_PER_PROCESS=N   inputs one process runs (default 10000;
//                         1 gives a fresh process, forked by AFL++, per input)
//
// Input layout (bytes past the end of the input read as 0):
//   token count, then tokens     the command line (see readToken)
//   key count, then keys         what the viewer reads from standard input
//   image "a.d64"                see readImage
//   image "b.d64"                the second image; absent means a copy of a.d64
//
// `kestrel_fuzz --make-seed OUT KEYS A.D64 B.D64|- ARG...` writes such an
// input for a real image pair and command line (an image given as
// g64:FILE.d64:KNOBS takes the G64 form); fuzz/make-seeds.sh uses it.
//
// Files: each process works in <TMPDIR>/kestrel-fuzz-XXXXXX/run, emptied before
// every input; names never hold "/", so no run is meant to leave that folder.
// After every run the folder around it must still hold nothing but "run": a
// file that kestrel wrote beside it (a name that climbed out with "..") ends
// the process with abort(), which the fuzzer records as a crash.
#include <dirent.h>
#include <strings.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/errors.h"
#include "containers/containers.h"
#include "containers/zipcode.h"
#include "directory/listing.h"
#include "disk/chain.h"
#include "frontend/run.h"
#include "gcr/gcrdisk.h"

#ifdef __AFL_HAVE_MANUAL_CONTROL
__AFL_FUZZ_INIT();
// Coverage is recorded only while kestrel runs (see runOne), on a map
// cleared just before: the harness's own branches depend on what the run
// before left (and a process's first run also finds the set-up's), which would
// make AFL++ see the same input take different paths.
__AFL_COVERAGE();
__AFL_COVERAGE_START_OFF();
#define KESTREL_COVERAGE_ON() (__AFL_COVERAGE_DISCARD(), __AFL_COVERAGE_ON())
#define KESTREL_COVERAGE_OFF() __AFL_COVERAGE_OFF()
#else
#define KESTREL_COVERAGE_ON()
#define KESTREL_COVERAGE_OFF()
#endif

namespace {

// Reads the input front to back; past the end every byte is 0.
struct Reader {
    const uint8_t *data;
    size_t size;
    size_t at;

    bool done() const { return at >= size; }
    uint8_t byte() { return done() ? 0 : data[at++]; }
    // Points `from` at the next `count` bytes and returns how many of them
    // the input holds.
    size_t take(size_t count, const uint8_t *&from) {
        from = data + at;
        size_t got = std::min(count, size - at);
        at += got;
        return got;
    }
    uint32_t number(int bytes) {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | byte();
        return value;
    }
};

// ---- Command line ------------------------------------------------------------

// The arguments a token byte 4..255 stands for: every option spelling (also
// those of options still to come: they end in "Unknown option" until they
// exist), the files a run has, numbers in the spellings the number reader must
// cope with, and texts for names and types. Append new spellings at the END:
// a token's code is its place here, and the seeds in fuzz/corpus depend on it.
const char *const kTokens[] = {
    // options
    "-vantsfbc", "-csv", "-e", "-rd", "-sd", "-start", "-bam", "-block", "-adel", "-merge", "-p", "-vo",
    "-va", "-vtf", "-vnscp", "-v", "-vx", "-", "-check", "-fix", "-x", "-w", "-rename", "-type", "-blocks",
    "-move", "-undel", "-header", "-id", "-json", "-utf8", "-U", "-Ul", "-h", "--help", "--version", "--",
    // files: the two images, a destination, the host files of every run
    "a.d64", "b.d64", "out.d64", "a.d64", "h.prg", "e.seq",
    // numbers
    "0x10", "08", "", " 5", "-1", "300", "abc", "0", "1", "2", "18", "35", "40", "25", "99999999999",
    "255", "65535", "0x", "+7",
    // names and types
    "PRG", "seq", "USR<", "*DEL", "*PRG<", "REL", "GAME", "%41%a0%zz", "%2F..%2f", "a b.c", "\xe2\x96\x91",
    // start addresses, more listing forms and texts (appended: the corpus depends on the codes above)
    "$0801", "$", "PRG<", "*seq", "%c0%41x", "%4",
    // the folder of -x, and a name for it
    "-into", "out",
    // -x writes PC64 files
    "-p00",
    // a 1581 partition to work inside, and a name for it
    "-part", "PART",
    // how -w places a file and names it, and the blocks they name
    "-wname", "-wtype", "-wtrack", "-wil", "-wreplace", "-il", "-dirtrack", "-tracks40", "17/5", "18/0", "36/3",
    // entries copied from another image
    "-copy",
    // blank disks: the option, its name and id, the 40-track maps, error bytes, new images of each family
    "-new", "DEMO,23", "-40", "speeddos", "DolphinDOS", "-errorbytes", "n.d71", "n.D81", "n.img",
    // what -w does with a name the disk holds, and the folders and patterns it expands
    "-clash", "skip", "replace", "refuse", ".", "*.p0?", "?.prg", "*",
    // a new 1581 partition and sizes for it
    "-mkpart", "120", "160",
    // block commands, the blocks and bytes they take, and the editors (refused: no terminal)
    "-bwrite", "-bread", "-bpoke", "-bfill", "-bcopy", "-bused", "-bfree", "-chain", "1/0", "40/3", "a9 00 60",
    "blk.bin", "-edit", "-bedit", "-bamedit",
    // GCR images: the conversion and the names that choose what it writes
    "-convert", "out.g64", "out.d71", "n.G64", "out.g71",
    // REL files of a record length given with -w, GEOS files written as CVT files, a record length
    "-wrel", "-cvt", "50",
    // Lynx archives and ZipCode packs written by -x and read by -w and -zipdisk; images inside archives
    "-lnx", "-zipcode", "-zipdisk", "1!a", "a.lnx", "a.zip", "a.d64.gz", "a.zip!a.d64",
};
constexpr int kTokenCount = sizeof kTokens / sizeof kTokens[0];

// Token codes below the table's.
constexpr uint8_t kDecimalToken = 0;  // next byte as a decimal number
constexpr uint8_t kWideToken = 1;     // next two bytes as a decimal number
constexpr uint8_t kTextToken = 2;     // a length byte (0..23), then that many bytes
constexpr uint8_t kHostToken = 3;     // a text as above, written as a host file (see below)
constexpr int kFirstTableCode = 4;

// A name or text from the input: NUL and "/" are left out, and ".." becomes
// "...", so that no name leads out of the working folder (-into names a
// folder to write into).
std::string readText(Reader &in) {
    std::string text;
    for (int n = in.byte() % 24; n > 0; --n) {
        char c = static_cast<char>(in.byte());
        if (c != '\0' && c != '/') text += c;
    }
    return text == ".." ? "..." : text;
}

// Host files for -w: "h.prg" (a load address and 300 bytes) and "e.seq"
// (empty) in every run; a host token adds one of its own name whose length is
// the next byte times 100, or, for the name of a container (a PC64 file, a
// T64 tape image or a Lynx archive, containers/containers.h) or of an archive
// of images (.zip, .gz), whose bytes come from the input: a 16-bit length,
// then that many bytes (or as many as are left). The name of a ZipCode file
// ("1!rest") writes the whole pack, "1!rest" to "5!rest", each so (a length
// of 0: that file is missing).
bool writeHostBytes(const std::string &name, const std::vector<uint8_t> &bytes) {
    if (name.empty() || name == "." || name == "..") return true;
    std::FILE *file = std::fopen(name.c_str(), "wb");
    if (!file) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// True when a host file of this name travels with its bytes.
bool carriesBytes(const std::string &name) {
    auto endsWith = [&](const char *end) {
        size_t n = std::strlen(end);
        return name.size() > n && strcasecmp(name.c_str() + name.size() - n, end) == 0;
    };
    return hostFileKindOf(name) != HostFileKind::Plain || endsWith(".zip") || endsWith(".gz");
}

// The name of file `part` (1 to 5) of the ZipCode pack that `name` names.
std::string packFile(const std::string &name, int part) { return std::to_string(part) + name.substr(1); }

bool writeHostFile(const std::string &name, size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    if (length >= 2) {
        bytes[0] = 0x01;
        bytes[1] = 0x08;
    }
    return writeHostBytes(name, bytes);
}

void writeHostToken(Reader &in, const std::string &name) {
    const uint8_t *from;
    if (zipCodePart(name) != 0) {
        for (int part = 1; part <= kZipCodeParts; ++part) {
            size_t got = in.take(in.number(2), from);
            if (got > 0) writeHostBytes(packFile(name, part), std::vector<uint8_t>(from, from + got));
        }
        return;
    }
    if (!carriesBytes(name)) {
        writeHostFile(name, in.byte() * 100u);
        return;
    }
    size_t got = in.take(in.number(2), from);
    writeHostBytes(name, std::vector<uint8_t>(from, from + got));
}

std::string readToken(Reader &in) {
    uint8_t code = in.byte();
    if (code >= kFirstTableCode) return kTokens[(code - kFirstTableCode) % kTokenCount];
    if (code == kDecimalToken) return std::to_string(in.byte());
    if (code == kWideToken) return std::to_string(in.number(2));
    std::string text = readText(in);
    if (code == kHostToken) writeHostToken(in, text);
    return text;
}

// ---- Images ------------------------------------------------------------------

// The fixed D64 layout (tracks 1..40), kept apart from kestrel's own.
int sectorsOn(int track) { return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17; }

// Byte offset of sector 0 of a track.
size_t trackStart(int track) {
    size_t offset = 0;
    for (int t = 1; t < track; ++t) offset += static_cast<size_t>(sectorsOn(t)) * 256;
    return offset;
}

constexpr uint32_t kMaxImageLength = 0x40000;

// The largest image of the block-numbered sparse form: a D81 with its 3,200
// error bytes, and a block to spare.
constexpr uint32_t kMaxFamilyImageLength = 819200 + 3200 + 256;

void readG64Form(Reader &in, std::vector<uint8_t> &bytes);

// An image in one of four forms, chosen by the first byte:
//   even:      raw: 24-bit length, then that many bytes (or as many as are left);
//   1 mod 4:   sparse: 24-bit length, fill byte, 16-bit patch count, then patches
//              of (track, sector, offset in block, length 1..256 with 0 for 256,
//              bytes) placed by the D64 layout; bytes beyond the length are
//              dropped. Sparse images keep full-size disks small enough for the
//              fuzzer to mutate.
//   3 mod 4:   the same, but a patch names its block by a 16-bit block number
//              (offset / 256) instead of track and sector, and the length goes up
//              to kMaxFamilyImageLength: the form of D71 and D81 images, whose
//              layouts the D64 one cannot address.
//   7 mod 8:   a G64 (readG64Form).
void readImage(Reader &in, std::vector<uint8_t> &bytes) {
    int form = in.byte();
    if (form % 8 == 7) {
        readG64Form(in, bytes);
        return;
    }
    bool numbered = form % 4 == 3;
    uint32_t length = in.number(3) % ((numbered ? kMaxFamilyImageLength : kMaxImageLength) + 1);
    const uint8_t *from;
    if (form % 2 == 0) {
        size_t got = in.take(length, from);
        bytes.assign(from, from + got);
        return;
    }
    bytes.assign(length, in.byte());
    for (uint32_t patches = in.number(2); patches > 0 && !in.done(); --patches) {
        size_t offset;
        if (numbered) {
            offset = in.number(2) * size_t{256};
        } else {
            int track = in.byte() % 40 + 1;
            offset = trackStart(track) + static_cast<size_t>(in.byte()) * 256;
        }
        offset += in.byte();
        size_t count = in.byte();
        if (count == 0) count = 256;
        size_t got = in.take(count, from);
        if (offset >= bytes.size()) continue;
        size_t inside = std::min(count, bytes.size() - offset);
        size_t copied = std::min(inside, got);
        std::memcpy(&bytes[offset], from, copied);
        std::memset(&bytes[offset] + copied, 0, inside - copied);  // past the input's end
    }
}

// A G64 written by kestrel's GCR writer from a D64 in the sparse form (its
// length cut to 35 tracks) with error bytes, then damaged the ways GCR tools
// fail on:
//   error count (0..15), then (track, sector, error) each: the read error recorded;
//   shift (bits 0..7) and rotation (16 bits) of every track: syncs off byte
//   boundaries, sectors wrapping past a track's end;
//   count (0..3) of (track, kind): a killer track, no sync, missing, its half
//   track holding its data, its offset or length past the end of the file;
//   the table's N, its stored size (16 bits; 0 keeps them);
//   patches (16-bit count) of (24-bit offset, length, bytes) over the file;
//   the container (0 keeps the G64; 1 a NIB of its full tracks, 2 that NIB as
//   an NBZ), each dump starting (16-bit) bytes into its track (see nibOfG64).
constexpr int kGcrErrors[] = {0x02, 0x03, 0x04, 0x05, 0x06, 0x09, 0x0B, 0x10};
constexpr size_t kD64Bytes = 174848;
constexpr size_t kG64Table = 12;
constexpr size_t kG64Entries = 84;

uint32_t g64Word(const std::vector<uint8_t> &g64, size_t at) {
    return g64[at] | g64[at + 1] << 8 | g64[at + 2] << 16 | static_cast<uint32_t>(g64[at + 3]) << 24;
}

void putG64Word(std::vector<uint8_t> &g64, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) g64[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// Rotates a track's bytes by `bytes` and then `bits` to the right, circularly.
void rotateTrack(uint8_t *track, size_t length, size_t bytes, int bits) {
    std::rotate(track, track + (length - bytes % length) % length, track + length);
    if (bits == 0) return;
    uint8_t carry = track[length - 1];
    for (size_t i = 0; i < length; ++i) {
        uint8_t byte = track[i];
        track[i] = static_cast<uint8_t>(byte >> bits | carry << (8 - bits));
        carry = byte;
    }
}

// Fills the bytes of the track at `offset` (when the file holds them).
void fillTrack(std::vector<uint8_t> &g64, uint32_t offset, uint8_t byte) {
    constexpr size_t kShortestTrack = 6250;
    if (offset > 0 && offset + 2 + kShortestTrack <= g64.size()) std::memset(g64.data() + offset + 2, byte, kShortestTrack);
}

// A NIB as an imager dumps the G64's full tracks (those whose table entry,
// length and bytes lie inside the file): 8,192 bytes each, read from `start`
// bytes into the track on round and round, the density its speed zone;
// `turns` gets each track's length.
std::vector<uint8_t> nibOfG64(const std::vector<uint8_t> &g64, size_t start, std::vector<size_t> &turns) {
    constexpr size_t kDump = 0x2000;
    std::vector<uint8_t> nib(0x100, 0);
    std::memcpy(nib.data(), "MNIB-1541-RAW", 13);
    nib[13] = 3;
    size_t entries = std::min<size_t>(g64[9], kG64Entries), pair = 0x10;
    for (size_t entry = 0; entry < entries && kG64Table + 8 * entries <= g64.size(); entry += 2) {
        uint32_t offset = g64Word(g64, kG64Table + 4 * entry);
        if (offset == 0 || offset + 2 > g64.size()) continue;
        size_t length = std::min<size_t>(g64[offset] | g64[offset + 1] << 8, g64.size() - offset - 2);
        if (length == 0) continue;
        nib[pair++] = static_cast<uint8_t>(entry + 2);
        nib[pair++] = static_cast<uint8_t>(g64Word(g64, kG64Table + 4 * (entries + entry)) & 3);
        turns.push_back(length);
        for (size_t i = 0; i < kDump; ++i) nib.push_back(g64[offset + 2 + (start + i) % length]);
    }
    return nib;
}

// The NBZ of a NIB: the header as it is, and each dump as its track's bytes
// (the marker $00 doubled) and one copy of the rest from a turn back,
// numbers 7 bits a byte, most significant first.
void nbzOfNib(const std::vector<uint8_t> &nib, const std::vector<size_t> &turns, std::vector<uint8_t> &nbz) {
    constexpr size_t kDump = 0x2000;
    nbz.assign(1, 0);
    auto literal = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            nbz.push_back(nib[i]);
            if (nib[i] == 0) nbz.push_back(0);
        }
    };
    auto number = [&](size_t value) {
        nbz.insert(nbz.end(), {static_cast<uint8_t>(0x80 | value >> 7), static_cast<uint8_t>(value & 0x7F)});
    };
    literal(0, std::min<size_t>(0x100, nib.size()));
    for (size_t dump = 0, at = 0x100; dump < turns.size(); ++dump, at += kDump) {
        size_t turn = std::min(turns[dump], kDump);
        literal(at, at + turn);
        if (turn == kDump) continue;
        nbz.push_back(0);
        number(kDump - turn);
        number(turn);
    }
}

void readG64Form(Reader &in, std::vector<uint8_t> &bytes) {
    std::vector<uint8_t> blocks(kD64Bytes, in.byte());
    for (uint32_t patches = in.number(2) % 800; patches > 0 && !in.done(); --patches) {
        int track = in.byte() % 35 + 1;
        size_t offset = trackStart(track) + static_cast<size_t>(in.byte() % 21) * 256 + in.byte();
        const uint8_t *from;
        size_t got = in.take(in.byte() + 1u, from);
        for (size_t i = 0; i < got && offset + i < kD64Bytes; ++i) blocks[offset + i] = from[i];
    }
    ImageBuffer image;
    image.bytes.assign(blocks.begin(), blocks.end());
    image.bytes.resize(kD64Bytes + 683, 0x01);
    image.shape = shapeForSize(image.bytes.size());
    for (int n = in.byte() % 16; n > 0; --n) {
        int track = in.byte() % 35 + 1, sector = in.byte() % sectorsOn(track);
        image.bytes[kD64Bytes + trackStart(track) / 256 + static_cast<size_t>(sector)] =
            static_cast<uint8_t>(kGcrErrors[in.byte() % 8]);
    }
    gcrFileBytes(image, false, bytes);
    size_t shiftBytes = in.number(2), shiftBits = in.byte() % 8;
    for (size_t entry = 0; entry < kG64Entries; entry += 2) {
        uint32_t offset = g64Word(bytes, kG64Table + 4 * entry);
        if (offset == 0) continue;
        size_t length = bytes[offset] | bytes[offset + 1] << 8;
        rotateTrack(bytes.data() + offset + 2, length, shiftBytes, static_cast<int>(shiftBits));
    }
    for (int n = in.byte() % 4; n > 0; --n) {
        size_t entry = static_cast<size_t>(in.byte() % 35) * 2, at = kG64Table + 4 * entry;
        uint32_t offset = g64Word(bytes, at);
        switch (in.byte() % 6) {
            case 0: fillTrack(bytes, offset, 0xFF); break;                       // killer track
            case 1: fillTrack(bytes, offset, 0x55); break;                       // no sync
            case 2: putG64Word(bytes, at, 0, 4); break;                          // missing
            case 3: putG64Word(bytes, at + 4, offset, 4); break;                 // its half track too
            case 4: putG64Word(bytes, at, 0x7FFFFF00, 4); break;                 // past the end
            default:                                                             // longer than stored
                if (offset > 0 && offset + 2 <= bytes.size()) putG64Word(bytes, offset, 0xFFFF, 2);
                break;
        }
    }
    if (uint8_t entries = in.byte()) bytes[9] = entries;
    if (uint32_t stored = in.number(2)) putG64Word(bytes, 10, stored, 2);
    for (uint32_t patches = in.number(2); patches > 0 && !in.done(); --patches) {
        size_t offset = in.number(3) % bytes.size();
        const uint8_t *from;
        size_t got = in.take(in.byte() + 1u, from);
        for (size_t i = 0; i < got && offset + i < bytes.size(); ++i) bytes[offset + i] = from[i];
    }
    int container = in.byte() % 3;
    if (container == 0) return;
    std::vector<size_t> turns;
    std::vector<uint8_t> nib = nibOfG64(bytes, in.number(2), turns);
    if (container == 1) bytes.swap(nib);
    else nbzOfNib(nib, turns, bytes);
}

// An image file that stays in the run folder from run to run. Writing both
// images whole (about 175 KB each, on fresh tmpfs pages) cost more than most
// runs of kestrel, while a mutation changes a few bytes: so only the bytes
// that differ from the last write are written again. A file that kestrel
// replaced or changed (another inode, size or modification time) is written whole.
struct ImageFile {
    const char *name;
    std::vector<uint8_t> bytes;  // what the file holds, as written here last
    struct stat written;         // the file right after that write
    bool known;
};

bool unchangedSinceWritten(const ImageFile &file) {
    struct stat now;
    return file.known && stat(file.name, &now) == 0 && now.st_ino == file.written.st_ino &&
           now.st_size == file.written.st_size && now.st_mtim.tv_sec == file.written.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == file.written.st_mtim.tv_nsec;
}

bool writeRange(int fd, const std::vector<uint8_t> &bytes, size_t from, size_t to) {
    while (from < to) {
        ssize_t done = pwrite(fd, bytes.data() + from, to - from, static_cast<off_t>(from));
        if (done <= 0) return false;
        from += static_cast<size_t>(done);
    }
    return true;
}

// Makes the file hold exactly `bytes` (and leaves in `bytes` what it held
// before); aborts when the folder refuses it.
void placeImage(ImageFile &file, std::vector<uint8_t> &bytes) {
    bool whole = !unchangedSinceWritten(file);
    int fd = open(file.name, O_WRONLY | O_CREAT | (whole ? O_TRUNC : 0), 0600);
    if (fd < 0) std::abort();
    size_t from = 0, to = bytes.size();
    if (!whole) {
        // By pages, with memcmp (each call is checked whole by the sanitizer).
        constexpr size_t kPage = 4096;
        size_t common = std::min(bytes.size(), file.bytes.size());
        auto same = [&](size_t at) { return std::memcmp(&bytes[at], &file.bytes[at], kPage) == 0; };
        while (from + kPage <= common && same(from)) from += kPage;
        if (to == file.bytes.size())
            while (to >= from + kPage && same(to - kPage)) to -= kPage;
    }
    bool ok = writeRange(fd, bytes, from, to) && ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 &&
              fstat(fd, &file.written) == 0;
    if (close(fd) != 0 || !ok) std::abort();
    file.bytes.swap(bytes);
    file.known = true;
}

std::vector<uint8_t> readFile(const char *path) {
    std::vector<uint8_t> data;
    std::FILE *file = std::fopen(path, "rb");
    if (!file) return data;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.insert(data.end(), buffer, buffer + got);
    std::fclose(file);
    return data;
}

bool writeFile(const char *name, const std::vector<uint8_t> &bytes) {
    std::FILE *file = std::fopen(name, "wb");
    if (!file) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// ---- The working folder ------------------------------------------------------

char processFolder[256];  // <TMPDIR>/kestrel-fuzz-XXXXXX
std::string runFolder;    // processFolder + "/run", the working folder of every run

std::vector<std::string> namesIn(const char *folder) {
    std::vector<std::string> names;
    DIR *listing = opendir(folder);
    if (!listing) return names;
    while (struct dirent *entry = readdir(listing))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(listing);
    return names;
}

// Removes a file, or a folder with everything in it (-x makes folders); a
// link is removed, never followed.
void removeAll(const std::string &path) {
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        for (const std::string &name : namesIn(path.c_str())) removeAll(path + "/" + name);
    std::remove(path.c_str());
}

// Removes everything in the folder, keeps the folder.
void emptyFolder(const std::string &folder) {
    for (const std::string &name : namesIn(folder.c_str())) removeAll(folder + "/" + name);
}

void removeProcessFolder() {
    if (chdir("/") != 0) return;
    emptyFolder(runFolder);
    emptyFolder(processFolder);
    rmdir(processFolder);
}

// Makes the folders under TMPDIR (else /tmp) and enters the run folder.
bool makeFolders() {
    const char *base = std::getenv("TMPDIR");
    std::snprintf(processFolder, sizeof processFolder, "%s/kestrel-fuzz-XXXXXX",
                  base && *base && std::strlen(base) < 200 ? base : "/tmp");
    if (!mkdtemp(processFolder)) return false;
    runFolder = std::string(processFolder) + "/run";
    if (mkdir(runFolder.c_str(), 0700) != 0 || chdir(runFolder.c_str()) != 0) return false;
    std::atexit(removeProcessFolder);
    return true;
}

// The one finding the sanitizers cannot make: a file written beside the run folder.
void requireNothingBesideRunFolder() {
    std::vector<std::string> names = namesIn(processFolder);
    if (names.size() == 1 && names[0] == "run") return;
    for (const std::string &name : names)
        if (name != "run") std::fprintf(stderr, "kestrel_fuzz: '%s' written outside the run folder\n", name.c_str());
    std::abort();
}

// ---- One run -----------------------------------------------------------------

// Keys reach the viewer through a pipe that is closed after them, so the
// viewer sees the input end and leaves.
void feedStandardInput(const std::vector<uint8_t> &keys) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    if (!keys.empty() && write(fds[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) std::abort();
    close(fds[1]);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
}

// The lowest free file descriptor: where descriptors a run leaves open begin.
int lowestFreeDescriptor() {
    int fd = dup(STDIN_FILENO);
    close(fd);
    return fd;
}

// Closes what a run left open (an error exit that skipped an fclose), which
// the process would have closed when it ended; descriptors are handed out
// lowest first, so they stand in a row from `first`.
void closeDescriptorsFrom(int first) {
    for (int fd = first; fcntl(fd, F_GETFD) != -1; ++fd) close(fd);
}

bool showOutput = false;

ImageFile firstImage{"a.d64", {}, {}, false};
ImageFile secondImage{"b.d64", {}, {}, false};

// Runs one input as a fresh kestrel process would and returns its exit status.
int runOne(const uint8_t *data, size_t size) {
    for (const std::string &name : namesIn("."))  // all that the last run left but the images
        if (name != firstImage.name && name != secondImage.name) removeAll(name);
    Reader in{data, size, 0};
    if (!writeHostFile("h.prg", 302) || !writeHostFile("e.seq", 0)) std::abort();
    std::vector<std::string> args{"kestrel"};
    for (int count = in.byte() % 16; count > 0; --count) args.push_back(readToken(in));
    std::vector<uint8_t> keys;
    for (int count = in.byte(); count > 0; --count) keys.push_back(in.byte());
    static std::vector<uint8_t> first, second;  // kept, with their capacity, from run to run
    readImage(in, first);
    if (in.done()) second.assign(first.begin(), first.end());
    else readImage(in, second);
    placeImage(firstImage, first);
    placeImage(secondImage, second);

    feedStandardInput(keys);
    if (!showOutput && !std::freopen("/dev/null", "w", stdout)) std::abort();
    exportCount = 0;
    consoleForgetRun();
    int firstFree = lowestFreeDescriptor();

    std::vector<char *> pointers;
    for (std::string &arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    int status;
    KESTREL_COVERAGE_ON();
    try {
        status = runKestrel(static_cast<int>(args.size()), pointers.data());
    } catch (const RunEnded &ended) {
        status = ended.status;
    }
    KESTREL_COVERAGE_OFF();
    std::fflush(stdout);
    closeDescriptorsFrom(firstFree);
    requireNothingBesideRunFolder();
    return status;
}

// ---- Seed writing: the inverse of the decoding above ---------------------------

void encodeToken(const std::string &arg, std::vector<uint8_t> &out) {
    // A container in the folder the seed is made in travels with the seed.
    if (zipCodePart(arg) != 0 && arg.size() < 24) {
        std::vector<uint8_t> token = {kHostToken, static_cast<uint8_t>(arg.size())};
        token.insert(token.end(), arg.begin(), arg.end());
        bool whole = true;
        for (int part = 1; part <= kZipCodeParts; ++part) {
            std::vector<uint8_t> bytes = readFile(packFile(arg, part).c_str());
            whole = whole && bytes.size() <= 0xFFFF && (part == kZipCodeParts || !bytes.empty());
            token.insert(token.end(), {static_cast<uint8_t>(bytes.size() >> 8), static_cast<uint8_t>(bytes.size())});
            token.insert(token.end(), bytes.begin(), bytes.end());
        }
        if (whole) {
            out.insert(out.end(), token.begin(), token.end());
            return;
        }
    }
    std::vector<uint8_t> bytes = carriesBytes(arg) ? readFile(arg.c_str()) : std::vector<uint8_t>{};
    if (!bytes.empty() && arg.size() < 24 && bytes.size() <= 0xFFFF) {
        out.insert(out.end(), {kHostToken, static_cast<uint8_t>(arg.size())});
        out.insert(out.end(), arg.begin(), arg.end());
        out.insert(out.end(), {static_cast<uint8_t>(bytes.size() >> 8), static_cast<uint8_t>(bytes.size())});
        out.insert(out.end(), bytes.begin(), bytes.end());
        return;
    }
    for (int code = 0; code < kTokenCount; ++code) {
        if (arg == kTokens[code]) {
            out.push_back(static_cast<uint8_t>(kFirstTableCode + code));
            return;
        }
    }
    bool decimal = !arg.empty() && arg.size() <= 5 && arg.find_first_not_of("0123456789") == std::string::npos;
    if (decimal && std::stoi(arg) <= 255) {
        out.insert(out.end(), {kDecimalToken, static_cast<uint8_t>(std::stoi(arg))});
    } else if (decimal && std::stoi(arg) <= 65535) {
        int value = std::stoi(arg);
        out.insert(out.end(), {kWideToken, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    } else {
        out.insert(out.end(), {kTextToken, static_cast<uint8_t>(arg.size())});
        out.insert(out.end(), arg.begin(), arg.end());
    }
}

// An image in the sparse form: one patch per block, covering its bytes from
// the first to the last that is not 0; blocks of zeros are left out. Images
// larger than any D64 take the block-numbered form.
void encodeImage(const std::vector<uint8_t> &bytes, std::vector<uint8_t> &out) {
    bool numbered = bytes.size() > kMaxImageLength;
    out.insert(out.end(), {static_cast<uint8_t>(numbered ? 3 : 1), static_cast<uint8_t>(bytes.size() >> 16),
                           static_cast<uint8_t>(bytes.size() >> 8), static_cast<uint8_t>(bytes.size()), 0});
    size_t countAt = out.size();
    out.insert(out.end(), {0, 0});
    int patches = 0;
    for (size_t block = 0; numbered && block * 256 < bytes.size(); ++block) {
        size_t start = block * 256, end = std::min(start + 256, bytes.size());
        while (start < end && bytes[start] == 0) ++start;
        while (end > start && bytes[end - 1] == 0) --end;
        if (start == end) continue;
        out.insert(out.end(), {static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block),
                               static_cast<uint8_t>(start - block * 256), static_cast<uint8_t>(end - start)});
        out.insert(out.end(), bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(end));
        ++patches;
    }
    for (int track = 1; track <= 40 && !numbered; ++track) {
        for (int sector = 0; sector < sectorsOn(track); ++sector) {
            size_t start = trackStart(track) + static_cast<size_t>(sector) * 256;
            if (start >= bytes.size()) break;
            size_t end = std::min<size_t>(start + 256, bytes.size());
            while (start < end && bytes[start] == 0) ++start;
            while (end > start && bytes[end - 1] == 0) --end;
            if (start == end) continue;
            size_t offset = start - trackStart(track) - static_cast<size_t>(sector) * 256;
            out.insert(out.end(), {static_cast<uint8_t>(track - 1), static_cast<uint8_t>(sector),
                                   static_cast<uint8_t>(offset), static_cast<uint8_t>(end - start)});
            out.insert(out.end(), bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(end));
            ++patches;
        }
    }
    out[countAt] = static_cast<uint8_t>(patches >> 8);
    out[countAt + 1] = static_cast<uint8_t>(patches);
}

// An image in the G64 form (readG64Form): the D64's blocks as patches of
// their non-zero bytes, then the knobs' bytes as given (in hex).
void encodeG64Form(const std::vector<uint8_t> &d64, const std::string &knobs, std::vector<uint8_t> &out) {
    out.insert(out.end(), {7, 0});
    size_t countAt = out.size();
    out.insert(out.end(), {0, 0});
    int patches = 0;
    for (int track = 1; track <= 35; ++track) {
        for (int sector = 0; sector < sectorsOn(track); ++sector) {
            size_t start = trackStart(track) + static_cast<size_t>(sector) * 256;
            size_t end = std::min(start + 256, d64.size());
            while (start < end && d64[start] == 0) ++start;
            while (end > start && d64[end - 1] == 0) --end;
            if (start >= end) continue;
            size_t offset = start - trackStart(track) - static_cast<size_t>(sector) * 256;
            out.insert(out.end(), {static_cast<uint8_t>(track - 1), static_cast<uint8_t>(sector),
                                   static_cast<uint8_t>(offset), static_cast<uint8_t>(end - start - 1)});
            out.insert(out.end(), d64.begin() + static_cast<long>(start), d64.begin() + static_cast<long>(end));
            ++patches;
        }
    }
    out[countAt] = static_cast<uint8_t>(patches >> 8);
    out[countAt + 1] = static_cast<uint8_t>(patches);
    for (size_t i = 0; i + 1 < knobs.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(knobs.substr(i, 2), nullptr, 16)));
}

// An image argument of --make-seed: a file, or "g64:FILE:KNOBS" for the G64 form.
void encodeImageArgument(const std::string &argument, std::vector<uint8_t> &out) {
    if (argument.rfind("g64:", 0) != 0) {
        encodeImage(readFile(argument.c_str()), out);
        return;
    }
    size_t colon = argument.find(':', 4);
    encodeG64Form(readFile(argument.substr(4, colon - 4).c_str()), argument.substr(colon + 1), out);
}

int makeSeed(int argc, char **argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s --make-seed OUT KEYS A.D64 B.D64|- ARG...\n", argv[0]);
        return 3;
    }
    std::vector<uint8_t> out{static_cast<uint8_t>(argc - 6)};
    for (int i = 6; i < argc; ++i) encodeToken(argv[i], out);
    std::string keys = argv[3];
    out.push_back(static_cast<uint8_t>(keys.size()));
    out.insert(out.end(), keys.begin(), keys.end());
    encodeImageArgument(argv[4], out);
    if (std::strcmp(argv[5], "-") != 0) encodeImageArgument(argv[5], out);
    return writeFile(argv[2], out) ? 0 : 3;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--make-seed") == 0) return makeSeed(argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [input-file]\n", argv[0]);
        return 3;
    }
    showOutput = std::getenv("KESTREL_FUZZ_SHOW") != nullptr;
    // The runs work in a folder of their own, so a relative name is resolved first.
    std::string input;
    if (argc == 2) {
        char *full = realpath(argv[1], nullptr);
        if (!full) {
            std::fprintf(stderr, "%s: cannot find '%s'\n", argv[0], argv[1]);
            return 3;
        }
        input = full;
        std::free(full);
    }
    int status = 0;
#ifdef __AFL_HAVE_MANUAL_CONTROL
    const char *runs = std::getenv("KESTREL_FUZZ_RUNS_PER_PROCESS");
    int runsPerProcess = runs ? std::max(1, std::atoi(runs)) : 10000;
    __AFL_INIT();
    if (!makeFolders()) return 3;
    // The CRC tables are built at their first use and kept: built here, no
    // run's coverage depends on whether it was the first in its process.
    computeCrc32(0, nullptr, 0);
    const uint8_t *shared = input.empty() ? __AFL_FUZZ_TESTCASE_BUF : nullptr;
    while (__AFL_LOOP(runsPerProcess)) {
        if (shared) {
            status = runOne(shared, __AFL_FUZZ_TESTCASE_LEN);
        } else {
            std::vector<uint8_t> data = readFile(input.c_str());
            status = runOne(data.data(), data.size());
        }
    }
#else
    // A compiler without AFL++'s persistent mode: one input per process.
    if (input.empty() || !makeFolders()) return 3;
    std::vector<uint8_t> data = readFile(input.c_str());
    status = runOne(data.data(), data.size());
#endif
    return status;
}
