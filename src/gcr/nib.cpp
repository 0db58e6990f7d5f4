// NIB and NBZ: the imager's raw dumps, their revolutions, their G64.
#include "gcr/nib.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kNibSignature[] = "MNIB-1541-RAW";
constexpr size_t kSignatureBytes = sizeof kNibSignature - 1;
constexpr size_t kHeaderBytes = 0x100;  // the dumps follow it
constexpr size_t kTableStart = 0x10;    // pairs of half-track number and density, up to a 0
constexpr size_t kMostDumps = (kHeaderBytes - kTableStart) / 2;
constexpr size_t kDumpBytes = 0x2000;
constexpr size_t kLargestNib = kHeaderBytes + kMostDumps * kDumpBytes;

// The G64 made: 84 half-track entries (tracks 1-42), 7,928 bytes stored a
// track unless a dump kept whole is longer.
constexpr int kEntries = 84;
constexpr size_t kStoredSize = 7928;
constexpr size_t kG64TableStart = 12;

// Bytes of a revolution in each speed zone at 300 rpm; drives turn at 300
// rpm within 1 or 2 %, so 5 % either side bounds every zone's revolution.
constexpr size_t kZoneBytes[4] = {6250, 6666, 7142, 7692};
constexpr size_t kRevolutionSlack = 20;  // nominal / this: 5 %
// Bytes after the revolution's start that must repeat one revolution on.
constexpr size_t kLeastRepeat = 32;

// ---- NBZ: the imager's LZ77 ----

// A number of 7 bits a byte, most significant first, bit 7 set on all but
// the last; false when the input ends inside it or it runs past 32 bits.
bool readVarSize(const uint8_t *bytes, size_t size, size_t &at, uint64_t &value) {
    value = 0;
    for (int used = 0; used < 5; ++used) {
        if (at >= size) return false;
        uint8_t byte = bytes[at++];
        value = value << 7 | (byte & 0x7F);
        if (!(byte & 0x80)) return value <= UINT32_MAX;
    }
    return false;
}

// Unpacks at most `limit` bytes into `out`; "" when the input ends cleanly
// or the limit is reached with `stopAtLimit`.
std::string unpackSome(const uint8_t *bytes, size_t size, size_t limit, bool stopAtLimit, std::vector<uint8_t> &out) {
    out.clear();
    if (size == 0) return "is empty";
    uint8_t marker = bytes[0];
    for (size_t at = 1; at < size;) {
        if (stopAtLimit && out.size() >= limit) return "";
        size_t where = at;
        uint8_t symbol = bytes[at++];
        uint64_t length = 1, offset = 0;
        if (symbol == marker) {
            if (at >= size) return "ends inside an LZ77 copy at byte " + std::to_string(where);
            if (bytes[at] == 0) {
                ++at;  // the marker itself, once
            } else if (!readVarSize(bytes, size, at, length) || !readVarSize(bytes, size, at, offset)) {
                return "ends inside an LZ77 copy at byte " + std::to_string(where);
            } else if (offset == 0 || offset > out.size()) {
                return "holds an LZ77 copy from before its start at byte " + std::to_string(where);
            }
        }
        if (out.size() + length > limit) {
            if (stopAtLimit) length = limit - out.size();
            else return "unpacks to more than the " + std::to_string(limit) + " bytes of the largest NIB";
        }
        if (offset == 0) {
            out.push_back(symbol);
            continue;
        }
        for (uint64_t i = 0; i < length; ++i) out.push_back(out[out.size() - offset]);
    }
    return "";
}

// ---- Revolutions ----

// The first byte after a sync (a $FF followed by another byte) from `from`
// on, or `size`.
size_t afterSync(const uint8_t *dump, size_t size, size_t from) {
    for (size_t at = std::max<size_t>(from, 1); at < size; ++at)
        if (dump[at - 1] == 0xFF && dump[at] != 0xFF) return at;
    return size;
}

// The length of the dump's revolution and where it starts (at the sync
// before the first byte that follows one, or 0): the length nearest the
// density's whose following bytes repeat the revolution's. Lengths of every
// zone are tried (a track written at another density than the header says),
// from 5 % below the slowest zone's to 5 % above the fastest; 0 when none
// repeats.
size_t findRevolution(const uint8_t *dump, size_t size, int zone, size_t &start) {
    size_t nominal = kZoneBytes[zone];
    size_t shortest = kZoneBytes[0] - kZoneBytes[0] / kRevolutionSlack;
    size_t longest = kZoneBytes[3] + kZoneBytes[3] / kRevolutionSlack;
    start = afterSync(dump, size, 0);
    if (start == size) start = 0;
    while (start > 0 && dump[start - 1] == 0xFF) --start;
    for (size_t distance = 0; distance <= longest - shortest; ++distance) {
        for (size_t length : {nominal - distance, nominal + distance}) {
            if (length < shortest || length > longest || start + length + kLeastRepeat > size) continue;
            if (std::memcmp(dump + start, dump + start + length, size - start - length) == 0) return length;
        }
    }
    return 0;
}

std::string trackName(int halfTrack) {
    return std::to_string(halfTrack / 2) + (halfTrack % 2 ? ".5" : "");
}

void putWord(std::vector<uint8_t> &out, size_t at, size_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// One track of the G64 to be: its table entry, speed zone and bytes.
struct DumpedTrack {
    size_t entry;
    int zone;
    const uint8_t *bytes;
    size_t length;
};

// The tracks the header lists, each as its revolution (or whole dump).
std::vector<DumpedTrack> readDumps(const uint8_t *nib, size_t size, std::vector<std::string> &faults) {
    std::vector<DumpedTrack> tracks;
    std::vector<bool> seen(kEntries, false);
    for (size_t i = 0; i < kMostDumps && nib[kTableStart + 2 * i] != 0; ++i) {
        int halfTrack = nib[kTableStart + 2 * i];
        int zone = nib[kTableStart + 2 * i + 1] & 3;
        std::string name = "track " + trackName(halfTrack);
        size_t offset = kHeaderBytes + i * kDumpBytes;
        if (halfTrack < 2 || halfTrack >= 2 + kEntries) {
            faults.push_back("the header lists " + name + ", which a 1541 image does not hold; it is left out");
            continue;
        }
        size_t entry = static_cast<size_t>(halfTrack - 2);
        if (seen[entry]) {
            faults.push_back("the header lists " + name + " twice; its second dump is left out");
            continue;
        }
        seen[entry] = true;
        if (offset >= size) {
            faults.push_back("the header lists " + name + ", but the file ends before its dump; it reads as no sync");
            continue;
        }
        size_t length = std::min(kDumpBytes, size - offset);
        if (length < kDumpBytes)
            faults.push_back(name + ": its dump is cut short at " + std::to_string(length) + " of " +
                             std::to_string(kDumpBytes) + " bytes");
        size_t start = 0;
        size_t revolution = findRevolution(nib + offset, length, zone, start);
        if (revolution == 0) {
            faults.push_back(name + ": no revolution found (its " + std::to_string(length) +
                             " bytes do not repeat); the whole dump is read as one turn");
            tracks.push_back({entry, zone, nib + offset, length});
        } else {
            tracks.push_back({entry, zone, nib + offset + start, revolution});
        }
    }
    return tracks;
}

}  // namespace

bool isNibImage(const uint8_t *bytes, size_t size) {
    return size >= kSignatureBytes && std::memcmp(bytes, kNibSignature, kSignatureBytes) == 0;
}

bool isNbzImage(const uint8_t *bytes, size_t size) {
    std::vector<uint8_t> start;
    unpackSome(bytes, size, kSignatureBytes, true, start);
    return isNibImage(start.data(), start.size());
}

std::string unpackNbz(const uint8_t *bytes, size_t size, std::vector<uint8_t> &nib) {
    return unpackSome(bytes, size, kLargestNib, false, nib);
}

std::string nibToG64(const uint8_t *nib, size_t size, std::vector<uint8_t> &g64, std::vector<std::string> &faults) {
    if (size < kHeaderBytes) return "is too short for the header of a NIB image";
    std::vector<DumpedTrack> tracks = readDumps(nib, size, faults);
    size_t stored = kStoredSize;
    for (const DumpedTrack &track : tracks) stored = std::max(stored, track.length);
    g64.assign(kG64TableStart + kEntries * 8, 0);
    std::memcpy(g64.data(), "GCR-1541", 8);
    g64[9] = kEntries;
    putWord(g64, 10, stored, 2);
    for (size_t entry = 0; entry < static_cast<size_t>(kEntries); ++entry) {
        int track = static_cast<int>(entry / 2) + 1;
        int zone = track <= 17 ? 3 : track <= 24 ? 2 : track <= 30 ? 1 : 0;
        putWord(g64, kG64TableStart + 4 * (kEntries + entry), static_cast<size_t>(zone), 4);
    }
    g64.reserve(g64.size() + tracks.size() * (stored + 2));
    for (const DumpedTrack &track : tracks) {
        size_t at = g64.size();
        putWord(g64, kG64TableStart + 4 * track.entry, at, 4);
        putWord(g64, kG64TableStart + 4 * (kEntries + track.entry), static_cast<size_t>(track.zone), 4);
        g64.resize(at + 2 + stored, 0);
        putWord(g64, at, track.length, 2);
        std::memcpy(g64.data() + at + 2, track.bytes, track.length);
    }
    return "";
}
