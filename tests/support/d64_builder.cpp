#include "support/d64_builder.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "disk/bam.h"

namespace {

void putName(uint8_t *at, const std::string &name, size_t width) {
    std::memset(at, 0xA0, width);
    std::memcpy(at, name.data(), std::min(name.size(), width));
}

bool takeFreeBlock(ImageBuffer &image, TrackSector &at, int interleave) {
    // Tracks nearest the directory first, as disk drives do: 17 down to 1, then 19 up to 35.
    static const int order[] = {17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1,
                                19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35};
    int startIndex = 0;
    for (int i = 0; i < 34; ++i)
        if (order[i] == at.track) startIndex = i;
    for (int i = startIndex; i < 34; ++i) {
        int track = order[i];
        int n = sectorsPerTrack(kShapeD64, track);
        int base = track == at.track ? (at.sector + interleave) % n : 0;
        for (int j = 0; j < n; ++j) {
            int sector = (base + j) % n;
            if (isBlockFree(image, track, sector)) {
                markBlock(image, track, sector, false);
                at = {track, sector};
                return true;
            }
        }
    }
    return false;
}

}  // namespace

ImageBuffer formatImage(const std::string &name, const std::string &id, int tracks) {
    ImageBuffer image;
    image.bytes.assign(tracks == 40 ? 196608 : 174848, 0);
    image.shape = shapeForSize(image.bytes.size());
    uint8_t *map = blockAt(image, 18, 0);
    map[0] = 18;
    map[1] = 1;
    map[2] = 0x41;
    for (int track = 1; track <= 35; ++track) {
        int n = sectorsPerTrack(kShapeD64, track);
        uint32_t bits = (1u << n) - 1;
        map[4 * track] = static_cast<uint8_t>(n);
        map[4 * track + 1] = bits & 0xFF;
        map[4 * track + 2] = (bits >> 8) & 0xFF;
        map[4 * track + 3] = (bits >> 16) & 0xFF;
    }
    putName(map + 144, name, 16);
    map[160] = map[161] = 0xA0;
    putName(map + 162, id, 2);
    map[164] = 0xA0;
    map[165] = '2';
    map[166] = 'A';
    for (int i = 167; i <= 170; ++i) map[i] = 0xA0;
    markBlock(image, 18, 0, false);
    markBlock(image, 18, 1, false);
    linkBlock(image, 18, 1, 0, 255);
    return image;
}

void markBlock(ImageBuffer &image, int track, int sector, bool free) {
    uint8_t *entry = blockAt(image, 18, 0) + 4 * track;
    uint8_t mask = static_cast<uint8_t>(1u << (sector % 8));
    bool wasFree = entry[1 + sector / 8] & mask;
    if (free == wasFree) return;
    entry[1 + sector / 8] ^= mask;
    entry[0] = static_cast<uint8_t>(entry[0] + (free ? 1 : -1));
}

uint8_t *slotBytes(ImageBuffer &image, int track, int sector, int index) {
    return blockAt(image, track, sector) + 32 * index;
}

void linkBlock(ImageBuffer &image, int track, int sector, int nextTrack, int nextSector) {
    uint8_t *block = blockAt(image, track, sector);
    block[0] = static_cast<uint8_t>(nextTrack);
    block[1] = static_cast<uint8_t>(nextSector);
}

uint8_t *addRawEntry(ImageBuffer &image, uint8_t type, int startTrack, int startSector, const std::string &name,
                     int blocks) {
    TrackSector dir{18, 1};
    for (;;) {
        for (int index = 0; index < 8; ++index) {
            uint8_t *slot = slotBytes(image, dir.track, dir.sector, index);
            if (slot[2] != 0) continue;
            slot[2] = type;
            slot[3] = static_cast<uint8_t>(startTrack);
            slot[4] = static_cast<uint8_t>(startSector);
            putName(slot + 5, name, 16);
            slot[30] = blocks & 0xFF;
            slot[31] = (blocks >> 8) & 0xFF;
            return slot;
        }
        TrackSector next = getNextTrackSector(image, dir.track, dir.sector);
        if (next.track == 0) {
            TrackSector added{0, 0};
            for (int j = 0; j < 19 && added.track == 0; ++j) {
                int sector = (dir.sector + 3 + j) % 19;
                if (isBlockFree(image, 18, sector)) added = {18, sector};
            }
            if (added.track == 0) throw std::runtime_error("directory full");
            markBlock(image, 18, added.sector, false);
            std::memset(blockAt(image, added.track, added.sector), 0, 256);
            linkBlock(image, added.track, added.sector, 0, 255);
            linkBlock(image, dir.track, dir.sector, added.track, added.sector);
            next = added;
        }
        dir = next;
    }
}

TrackSector addFile(ImageBuffer &image, const std::vector<uint8_t> &data, const std::string &name, uint8_t type,
                    int interleave) {
    size_t blocks = data.empty() ? 1 : (data.size() + 253) / 254;
    TrackSector at{17, 0};
    at.sector = -interleave;  // the first block is sector 0 of the first free track
    TrackSector start{0, 0};
    TrackSector previous{0, 0};
    for (size_t i = 0; i < blocks; ++i) {
        if (!takeFreeBlock(image, at, interleave)) throw std::runtime_error("disk full");
        if (i == 0) start = at;
        else linkBlock(image, previous.track, previous.sector, at.track, at.sector);
        uint8_t *block = blockAt(image, at.track, at.sector);
        size_t offset = i * 254;
        size_t count = std::min<size_t>(254, data.size() - std::min(data.size(), offset));
        if (count) std::memcpy(block + 2, data.data() + offset, count);
        linkBlock(image, at.track, at.sector, 0, static_cast<int>(count + 1));
        previous = at;
    }
    addRawEntry(image, type, start.track, start.sector, name, static_cast<int>(blocks));
    return start;
}

std::vector<uint8_t> readBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> randomBytes(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (auto &byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// ================================================================ D81

size_t d81Block(int track, int sector) { return static_cast<size_t>((track - 1) * 40 + sector) * 256; }

void formatD81(std::vector<uint8_t> &image, int system, int first, int last, const std::string &name) {
    uint8_t *header = image.data() + d81Block(system, 0);
    const uint8_t start[] = {static_cast<uint8_t>(system), 0x03, 0x44, 0x00};
    std::copy(start, start + sizeof start, header);
    std::fill(header + 4, header + 0x16, 0xA0);
    std::copy(name.begin(), name.end(), header + 4);
    const uint8_t tail[] = {'A', 'B', 0xA0, '3', 'D', 0xA0, 0xA0};
    std::copy(tail, tail + sizeof tail, header + 0x16);
    for (int side = 0; side < 2; ++side) {
        uint8_t *map = header + 256 * (1 + side);
        const uint8_t top[] = {side ? uint8_t{0} : static_cast<uint8_t>(system), side ? uint8_t{0xFF} : uint8_t{0x02},
                               0x44, 0xBB, 'A', 'B', 0xC0, 0x00};
        std::copy(top, top + sizeof top, map);
        for (int i = 0; i < 40; ++i) {
            int track = 40 * side + i + 1;
            const uint8_t full[] = {0x28, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, used[6] = {};
            const uint8_t system3[] = {0x24, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
            const uint8_t *entry = track == system ? system3 : track < first || track > last ? used : full;
            std::copy(entry, entry + 6, map + 0x10 + 6 * i);
        }
    }
    header[3 * 256 + 1] = 0xFF;  // the first directory block: 00 FF
}

std::vector<uint8_t> blankD81() {
    std::vector<uint8_t> image(819200, 0);
    formatD81(image, 40, 1, 80, "BLANK");
    return image;
}

void addPartition(std::vector<uint8_t> &image, int system, int slot, const std::string &name, int first, int last) {
    uint8_t *entry = image.data() + d81Block(system, 3) + 32 * slot;
    entry[2] = 0x85;
    entry[3] = static_cast<uint8_t>(first);
    entry[4] = 0;
    std::fill(entry + 5, entry + 21, 0xA0);
    std::copy(name.begin(), name.end(), entry + 5);
    int size = 40 * (last - first + 1);
    entry[30] = static_cast<uint8_t>(size);
    entry[31] = static_cast<uint8_t>(size >> 8);
    for (int track = first; track <= last; ++track)
        std::fill_n(image.data() + d81Block(system, 1 + (track - 1) / 40) + 0x10 + 6 * ((track - 1) % 40), 6, 0);
}

// ================================================================ T64

std::vector<uint8_t> tapeImage(const std::vector<TapeFile> &files, size_t slots) {
    std::vector<uint8_t> tape(64 + 32 * slots, 0);
    std::memcpy(tape.data(), "C64 tape image file", 19);
    tape[0x22] = static_cast<uint8_t>(slots);
    tape[0x24] = static_cast<uint8_t>(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        int fields[] = {1, files[i].type, files[i].start, files[i].start >> 8, files[i].end, files[i].end >> 8, 0, 0,
                        static_cast<int>(tape.size()), static_cast<int>(tape.size() >> 8), 0, 0, 0, 0, 0, 0};
        std::string name = (files[i].name + std::string(16, ' ')).substr(0, 16);
        for (int at = 0; at < 32; ++at) tape[64 + 32 * i + at] = static_cast<uint8_t>(at < 16 ? fields[at] : name[at - 16]);
        tape.insert(tape.end(), files[i].data.begin(), files[i].data.end());
    }
    return tape;
}

// ================================================================ PC64 and CVT

void put(std::vector<uint8_t> &out, std::initializer_list<int> bytes) {
    for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
}

void putName(std::vector<uint8_t> &out, const std::string &name) {
    for (size_t i = 0; i < 16; ++i)
        out.push_back(i < name.size() ? static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(name[i]))) : 0xA0);
}

void padToBlock(std::vector<uint8_t> &out) {
    while (out.size() % 254) out.push_back(0);
}

// A PC64 file of a relative file: "C64File", the name, the record length, the records.
std::vector<uint8_t> pc64Rel(const std::string &name, int recordLength, size_t records, uint32_t seed) {
    std::vector<uint8_t> out{'C', '6', '4', 'F', 'i', 'l', 'e', 0};
    putName(out, name);
    put(out, {0, recordLength});
    std::vector<uint8_t> data = randomBytes(records * static_cast<size_t>(recordLength), seed);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A GEOS Convert file: the directory entry and signature, the info block,
// for VLIR the record table (blocks and last-block index per record, 0/FF for
// an empty one), then the data, every record but the last padded to whole blocks.
std::vector<uint8_t> geosConvert(const std::string &name, bool vlir, const std::vector<std::vector<uint8_t>> &records) {
    int dataBlocks = 0;
    for (const std::vector<uint8_t> &record : records) dataBlocks += static_cast<int>((record.size() + 253) / 254);
    int blocks = dataBlocks + 1 + vlir;
    std::vector<uint8_t> out{0x83, 0, 0};
    putName(out, name);
    put(out, {0, 0, vlir, vlir ? 6 : 7, 88, 5, 17, 12, 30, blocks & 0xFF, blocks >> 8});
    for (char c : std::string("PRG formatted GEOS file V1.0")) out.push_back(static_cast<uint8_t>(c));
    padToBlock(out);
    put(out, {3, 21, 0xBF});  // the info block: icon, types, addresses, class
    std::vector<uint8_t> icon = randomBytes(63, 77);
    out.insert(out.end(), icon.begin(), icon.end());
    put(out, {0x83, vlir ? 6 : 7, vlir, 0, 0x40, 0xFF, 0x4F, 0, 0x40});
    for (char c : std::string("Check File  V1.0")) out.push_back(static_cast<uint8_t>(c));
    padToBlock(out);
    if (vlir) {
        for (const std::vector<uint8_t> &record : records) {
            int n = static_cast<int>((record.size() + 253) / 254);
            if (n == 0) put(out, {0, 0xFF});
            else put(out, {n, static_cast<int>(record.size()) - (n - 1) * 254 + 1});
        }
        padToBlock(out);
    }
    for (size_t i = 0; i < records.size(); ++i) {
        out.insert(out.end(), records[i].begin(), records[i].end());
        if (vlir && i + 1 < records.size()) padToBlock(out);
    }
    return out;
}

