// Fuzz harness: decodes one input file into a kestrel command line, one or two
// image files and the keys typed into the block viewer, then runs kestrel's
// real run order on them. Built for AFL++ (its fork server starts this program
// once per input, so kestrel's exit() on errors ends only that run), and just
// as usable by hand: `kestrel_fuzz crash-file` replays one input.
//
// Input layout (bytes past the end of the input read as 0):
//   token count, then tokens     the command line (see kTokens below)
//   key count, then keys         what the viewer reads from standard input
//   image "a.d64"                see readImage
//   image "b.d64"                the second image; absent means a copy of a.d64
//
// `kestrel_fuzz --make-seed OUT KEYS A.D64 B.D64|- ARG...` writes such an
// input for a real image pair and command line; fuzz/make-seeds.sh uses it.
//
// Everything is written into a fresh temporary folder that is also the working
// folder, and every name is stripped of "/", so no run can touch a file
// outside it; the folder is removed when the run ends, whichever way it ends.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/run.h"

namespace {

// Reads the input front to back; past the end every byte is 0.
struct Reader {
    const std::vector<uint8_t> &data;
    size_t at;

    bool done() const { return at >= data.size(); }
    uint8_t byte() { return done() ? 0 : data[at++]; }
    uint32_t number(int bytes) {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | byte();
        return value;
    }
};

// The arguments a token byte may stand for. Numbers come in the spellings the
// number reader must cope with; the plain names are the two images and a
// destination, so every written file lands in the working folder.
const char *const kTokens[] = {
    "-vantsfbc", "-csv", "-e",  "-rd",     "-sd",       "-start",  "-bam", "-block", "-adel",
    "-merge",    "-p",   "-vo", "-va",     "-vtf",      "-vnscp",  "-v",   "-vx",    "-",
    "a.d64",     "b.d64", "out.d64", "a.d64", "0x10", "08", "", " 5", "-1", "300", "abc", "0",
    "1",         "18",   "35",  "40",      "25",        "99999999999",
    "-rename",   "-type", "-blocks", "-move", "-undel", "-header", "-id", "PRG<", "*seq", "%c0%41x", "%4",
    "-h",        "--help", "--version", "--", "$0801",  "$",
    "-check",    "-fix",
    "-json",     "-utf8", "-U", "-Ul",
};
constexpr int kTokenCount = sizeof kTokens / sizeof kTokens[0];
constexpr int kDecimalToken = kTokenCount;       // next byte as a decimal number
constexpr int kWideToken = kTokenCount + 1;      // next two bytes as a decimal number
constexpr int kTextToken = kTokenCount + 2;      // next byte is a length, then that many bytes

std::string readToken(Reader &in) {
    int code = in.byte() % (kTokenCount + 3);
    if (code < kTokenCount) return kTokens[code];
    if (code == kDecimalToken) return std::to_string(in.byte());
    if (code == kWideToken) return std::to_string(in.number(2));
    std::string text;
    for (int n = in.byte() % 24; n > 0; --n) {
        char c = static_cast<char>(in.byte());
        if (c != '\0' && c != '/') text += c;  // no way out of the working folder
    }
    return text;
}

// Byte offset of sector 0 of a track by the fixed D64 layout (tracks 1..40).
size_t trackStart(int track) {
    size_t offset = 0;
    for (int t = 1; t < track; ++t) offset += (t <= 17 ? 21 : t <= 24 ? 19 : t <= 30 ? 18 : 17) * 256;
    return offset;
}

constexpr uint32_t kMaxImageLength = 0x40000;

// An image in one of two forms, chosen by the first byte:
//   even: raw: 24-bit length, then that many bytes (or as many as are left);
//   odd:  sparse: 24-bit length, fill byte, 16-bit patch count, then patches of
//         (track, sector, offset in block, length 1..256 with 0 for 256, bytes)
//         placed by the D64 layout; bytes beyond the length are dropped. Sparse
//         images keep full-size disks small enough for the fuzzer to mutate.
std::vector<uint8_t> readImage(Reader &in) {
    int form = in.byte();
    uint32_t length = in.number(3) % (kMaxImageLength + 1);
    if (form % 2 == 0) {
        std::vector<uint8_t> bytes;
        while (bytes.size() < length && !in.done()) bytes.push_back(in.byte());
        return bytes;
    }
    std::vector<uint8_t> bytes(length, in.byte());
    for (uint32_t patches = in.number(2); patches > 0 && !in.done(); --patches) {
        int track = in.byte() % 40 + 1;
        int sector = in.byte();
        size_t offset = trackStart(track) + static_cast<size_t>(sector) * 256 + in.byte();
        int count = in.byte();
        if (count == 0) count = 256;
        for (int i = 0; i < count; ++i, ++offset) {
            uint8_t value = in.byte();
            if (offset < bytes.size()) bytes[offset] = value;
        }
    }
    return bytes;
}

std::vector<uint8_t> readInput(const char *path) {
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

// Keys reach the viewer through a pipe that is closed after them, so the
// viewer sees the input end and leaves.
void feedStandardInput(const std::vector<uint8_t> &keys) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(3);
    if (!keys.empty() && write(fds[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) std::exit(3);
    close(fds[1]);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
}

char workFolder[256];

// Removes the working folder and everything kestrel or the harness put in it.
void removeWorkFolder() {
    if (chdir("/") != 0) return;
    DIR *folder = opendir(workFolder);
    if (!folder) return;
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(folder))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(std::string(workFolder) + "/" + entry->d_name);
    closedir(folder);
    for (const std::string &name : names) std::remove(name.c_str());
    rmdir(workFolder);
}

// ---- Seed writing: the inverse of the decoding above ----

void encodeToken(const std::string &arg, std::vector<uint8_t> &out) {
    for (int code = 0; code < kTokenCount; ++code) {
        if (arg == kTokens[code]) {
            out.push_back(static_cast<uint8_t>(code));
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

// An image in the sparse form: one patch per block that is not all fill bytes.
void encodeImage(const std::vector<uint8_t> &bytes, std::vector<uint8_t> &out) {
    out.insert(out.end(), {1, static_cast<uint8_t>(bytes.size() >> 16), static_cast<uint8_t>(bytes.size() >> 8),
                           static_cast<uint8_t>(bytes.size()), 0});
    size_t countAt = out.size();
    out.insert(out.end(), {0, 0});
    int patches = 0;
    for (int track = 1; track <= 40; ++track) {
        int sectors = track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
        for (int sector = 0; sector < sectors; ++sector) {
            size_t offset = trackStart(track) + static_cast<size_t>(sector) * 256;
            if (offset >= bytes.size()) continue;
            size_t count = std::min<size_t>(256, bytes.size() - offset);
            bool empty = true;
            for (size_t i = 0; i < count; ++i) empty = empty && bytes[offset + i] == 0;
            if (empty) continue;
            out.insert(out.end(), {static_cast<uint8_t>(track - 1), static_cast<uint8_t>(sector), 0,
                                   static_cast<uint8_t>(count)});
            out.insert(out.end(), bytes.begin() + static_cast<long>(offset),
                       bytes.begin() + static_cast<long>(offset + count));
            ++patches;
        }
    }
    out[countAt] = static_cast<uint8_t>(patches >> 8);
    out[countAt + 1] = static_cast<uint8_t>(patches);
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
    encodeImage(readInput(argv[4]), out);
    if (std::strcmp(argv[5], "-") != 0) encodeImage(readInput(argv[5]), out);
    return writeFile(argv[2], out) ? 0 : 3;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--make-seed") == 0) return makeSeed(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s input-file\n", argv[0]);
        return 3;
    }
    std::vector<uint8_t> data = readInput(argv[1]);
    Reader in{data, 0};

    std::vector<std::string> args{"kestrel"};
    for (int count = in.byte() % 16; count > 0; --count) args.push_back(readToken(in));
    std::vector<uint8_t> keys;
    for (int count = in.byte(); count > 0; --count) keys.push_back(in.byte());
    std::vector<uint8_t> first = readImage(in);
    std::vector<uint8_t> second = in.done() ? first : readImage(in);

    const char *base = std::getenv("TMPDIR");
    std::snprintf(workFolder, sizeof workFolder, "%s/kestrel-fuzz-XXXXXX",
                  base && std::strlen(base) < 200 ? base : "/tmp");
    if (!mkdtemp(workFolder) || chdir(workFolder) != 0) return 3;
    std::atexit(removeWorkFolder);
    if (!writeFile("a.d64", first) || !writeFile("b.d64", second)) return 3;
    feedStandardInput(keys);
    if (!std::getenv("KESTREL_FUZZ_SHOW")) std::freopen("/dev/null", "w", stdout);

    std::vector<char *> pointers;
    for (std::string &arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return runKestrel(static_cast<int>(args.size()), pointers.data());
}
