// Test helper: a G64 writer of its own, bit by bit.
#include "support/g64_builder.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const uint8_t kCode[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17, 0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};

// Bits appended one at a time.
struct Bits {
    std::vector<int> bits;
    void put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits.push_back(static_cast<int>(value >> i & 1));
    }
    void raw(uint8_t byte, int count) {
        for (int i = 0; i < count; ++i) put(byte, 8);
    }
    void gcr(const std::vector<uint8_t> &bytes) {
        for (uint8_t byte : bytes) {
            put(kCode[byte >> 4], 5);
            put(kCode[byte & 15], 5);
        }
    }
};

int gapOf(int sectors) { return sectors == 21 ? 8 : sectors == 19 ? 17 : sectors == 18 ? 12 : 9; }
size_t trackSizeOf(int sectors) { return sectors == 21 ? 7692 : sectors == 19 ? 7142 : sectors == 18 ? 6666 : 6250; }

std::vector<uint8_t> writeTrack(const std::vector<uint8_t> &d64, int track, const G64Knobs &knobs) {
    int sectors = sectorsOfTrack(track);
    size_t size = track == knobs.longTrack ? 8000 : trackSizeOf(sectors);
    if (track == knobs.killerTrack) return std::vector<uint8_t>(size, 0xFF);
    if (track == knobs.noSyncTrack) return std::vector<uint8_t>(size, 0x55);
    const uint8_t *bam = d64.data() + d64BlockOffset(18, 0);
    uint8_t id1 = knobs.headerId ? static_cast<uint8_t>(knobs.headerId[0]) : bam[0xA2];
    uint8_t id2 = knobs.headerId ? static_cast<uint8_t>(knobs.headerId[1]) : bam[0xA3];
    Bits out;
    for (int s = 0; s < sectors; ++s) {
        auto found = knobs.errors.find({track, s});
        int error = found == knobs.errors.end() ? 0 : found->second;
        uint8_t sync = error == 21 ? 0x55 : 0xFF;
        uint8_t headerId1 = error == 29 ? static_cast<uint8_t>(id1 ^ 0x5A) : id1;
        std::vector<uint8_t> header = {uint8_t(error == 20 ? 0x00 : 0x08), 0, uint8_t(s), uint8_t(track), id2, headerId1,
                                       0x0F, 0x0F};
        header[1] = static_cast<uint8_t>(header[2] ^ header[3] ^ header[4] ^ header[5] ^ (error == 27 ? 0x01 : 0));
        const uint8_t *data = d64.data() + d64BlockOffset(track, s);
        std::vector<uint8_t> block(260, 0);
        block[0] = error == 22 ? 0x0B : 0x07;
        uint8_t sum = 0;
        for (int i = 0; i < 256; ++i) sum ^= block[static_cast<size_t>(i) + 1] = data[i];
        block[257] = static_cast<uint8_t>(sum ^ (error == 23 ? 0x80 : 0));
        out.raw(sync, 5);
        out.gcr(header);
        out.raw(0x55, 9);
        out.raw(sync, 5);
        size_t dataStart = out.bits.size();
        out.gcr(block);
        // Bad GCR: five zero bits (no valid code) in the middle of the data.
        if (error == 24) std::fill_n(out.bits.begin() + static_cast<long>(dataStart + 1000), 5, 0);
        out.raw(0x55, gapOf(sectors));
    }
    while (out.bits.size() < size * 8) out.raw(0x55, 1);
    std::vector<int> &bits = out.bits;
    size_t rotate = (static_cast<size_t>(knobs.rotateBytes) * 8 + static_cast<size_t>(knobs.shiftBits)) % bits.size();
    std::rotate(bits.begin(), bits.end() - static_cast<long>(rotate), bits.end());
    std::vector<uint8_t> bytes(bits.size() / 8, 0);
    for (size_t i = 0; i < bytes.size() * 8; ++i) bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] << 1 | bits[i]);
    return bytes;
}

void putLe(std::vector<uint8_t> &out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

int sectorsOfTrack(int track) { return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17; }

size_t d64BlockOffset(int track, int sector) {
    size_t blocks = 0;
    for (int t = 1; t < track; ++t) blocks += static_cast<size_t>(sectorsOfTrack(t));
    return (blocks + static_cast<size_t>(sector)) * 256;
}

std::vector<uint8_t> buildG64(const std::vector<uint8_t> &d64, const G64Knobs &knobs) {
    size_t stored = knobs.longTrack ? 8000 : 7928;
    size_t entries = static_cast<size_t>(knobs.entries);
    std::vector<uint8_t> out(12 + entries * 8, 0);
    std::memcpy(out.data(), "GCR-1541", 8);
    out[9] = static_cast<uint8_t>(entries);
    putLe(out, 10, static_cast<uint32_t>(stored), 2);
    if (knobs.extBlock) {
        const char ext[] = "EXT\x01 mastering data that no reader uses";
        out.insert(out.end(), ext, ext + sizeof ext);
    }
    std::vector<std::pair<size_t, std::vector<uint8_t>>> blocks;  // entry, bytes
    for (int track = 1; track <= 35; ++track) {
        std::vector<uint8_t> bytes = writeTrack(d64, track, knobs);
        size_t entry = static_cast<size_t>(track - 1) * 2;
        if (knobs.tableOneOff && track >= 2) entry += 2;
        if (track == knobs.halfTrackWithData) blocks.push_back({entry + 1, bytes});
        if (track == knobs.missingTrack || entry >= entries) continue;
        if (track == knobs.lengthPastEnd) continue;  // stored last, below
        blocks.push_back({entry, bytes});
    }
    if (knobs.lengthPastEnd) {
        int track = knobs.lengthPastEnd;
        blocks.push_back({static_cast<size_t>(track - 1) * 2, writeTrack(d64, track, knobs)});
    }
    for (auto &[entry, bytes] : blocks) {
        if (entry >= entries) continue;
        size_t at = out.size();
        int track = static_cast<int>(entry / 2) + 1;
        bool claimsMore = entry % 2 == 0 && track == knobs.lengthPastEnd && !knobs.tableOneOff;
        putLe(out, 12 + 4 * entry,
              static_cast<uint32_t>(entry % 2 == 0 && track == knobs.offsetPastEnd ? 5000000 : at), 4);
        putLe(out, 12 + 4 * (entries + entry), static_cast<uint32_t>(track <= 17 ? 3 : track <= 24 ? 2 : track <= 30 ? 1 : 0), 4);
        out.resize(at + 2);
        putLe(out, at, static_cast<uint32_t>(claimsMore ? 9000 : bytes.size()), 2);
        out.insert(out.end(), bytes.begin(), bytes.end());
        if (!claimsMore) out.resize(at + 2 + stored, 0);
    }
    return out;
}

namespace {

constexpr size_t kNibDump = 0x2000;

int zoneOfTrack(int track) { return track <= 17 ? 3 : track <= 24 ? 2 : track <= 30 ? 1 : 0; }

// One revolution read from `start` on to fill a dump.
std::vector<uint8_t> dumpOf(const std::vector<uint8_t> &revolution, size_t start) {
    std::vector<uint8_t> dump(kNibDump);
    for (size_t i = 0; i < kNibDump; ++i) dump[i] = revolution[(start + i) % revolution.size()];
    return dump;
}

void putVarSize(std::vector<uint8_t> &out, uint32_t value) {
    int groups = 1;
    while (groups < 5 && value >> (7 * groups)) ++groups;
    for (int g = groups - 1; g >= 0; --g) out.push_back(static_cast<uint8_t>((value >> (7 * g) & 0x7F) | (g ? 0x80 : 0)));
}

}  // namespace

std::vector<uint8_t> buildNib(const std::vector<uint8_t> &d64, const NibKnobs &knobs) {
    std::vector<uint8_t> out(0x100, 0);
    std::memcpy(out.data(), "MNIB-1541-RAW", 13);
    out[13] = 3;  // version
    std::vector<std::pair<int, std::vector<uint8_t>>> dumps;  // half-track number, bytes
    for (int track = 1; track <= 35; ++track) {
        std::vector<uint8_t> revolution = writeTrack(d64, track, knobs.tracks);
        std::vector<uint8_t> dump = dumpOf(revolution, static_cast<size_t>(knobs.startByte + 97 * track));
        if (track == knobs.noRepeatTrack) {
            uint32_t state = 12345;
            for (size_t i = revolution.size(); i < kNibDump; ++i) dump[i] = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 16);
        }
        dumps.push_back({2 * track, dump});
        if (track == knobs.halfTrackDump) dumps.push_back({2 * track + 1, dump});
    }
    if (knobs.listedTwice) dumps.push_back({2 * knobs.listedTwice, dumps[0].second});
    if (knobs.listedBeyond) dumps.push_back({knobs.listedBeyond, dumps[0].second});
    size_t pair = 0x10;
    for (auto &[halfTrack, dump] : dumps) {
        int zone = zoneOfTrack(halfTrack / 2);
        out[pair++] = static_cast<uint8_t>(halfTrack);
        out[pair++] = static_cast<uint8_t>(halfTrack / 2 == knobs.wrongDensity ? (zone + 2) % 4 : zone);
        out.insert(out.end(), dump.begin(), dump.end());
    }
    for (int i = 0; i < knobs.listedWithoutDump; ++i) {
        out[pair++] = static_cast<uint8_t>(2 * (36 + i));
        out[pair++] = 0;
    }
    if (knobs.cutInLastDump) out.resize(out.size() - kNibDump + static_cast<size_t>(knobs.cutInLastDump));
    return out;
}

std::vector<uint8_t> packNbz(const std::vector<uint8_t> &bytes) {
    size_t counts[256] = {};
    for (uint8_t byte : bytes) ++counts[byte];
    uint8_t marker = static_cast<uint8_t>(std::min_element(counts, counts + 256) - counts);
    std::vector<uint8_t> out{marker};
    std::vector<size_t> last(1 << 16, SIZE_MAX);  // where each 4-byte hash was last seen
    auto hashAt = [&](size_t at) {
        return (bytes[at] * 2654435761u ^ bytes[at + 1] * 40503u ^ bytes[at + 2] * 131u ^ bytes[at + 3]) & 0xFFFF;
    };
    for (size_t at = 0; at < bytes.size();) {
        size_t length = 0, from = SIZE_MAX;
        if (at + 4 <= bytes.size()) {
            uint32_t hash = hashAt(at);
            from = last[hash];
            last[hash] = at;
            if (from != SIZE_MAX)
                while (at + length < bytes.size() && bytes[from + length] == bytes[at + length]) ++length;
        }
        if (length >= 5) {
            out.push_back(marker);
            putVarSize(out, static_cast<uint32_t>(length));
            putVarSize(out, static_cast<uint32_t>(at - from));
            at += length;
        } else {
            out.push_back(bytes[at]);
            if (bytes[at] == marker) out.push_back(0);
            ++at;
        }
    }
    return out;
}
