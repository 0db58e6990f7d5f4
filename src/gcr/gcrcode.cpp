// The GCR code, sync search and the DOS's read of a track.
#include "gcr/gcrcode.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// ---- The code ----

// Nybble 0-F as the 5-bit code the drive writes.
constexpr uint8_t kGcrCode[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                                  0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};

// Ten bits (two codes) as the byte they stand for, bit 8 set when either code
// is none of the 16: such a code decodes as nybble 0 and is reported, never
// taken silently.
constexpr uint16_t kInvalidCode = 0x100;
struct DecodeTable {
    uint16_t byteOf[1024];
    constexpr DecodeTable() : byteOf() {
        int nybbleOf[32];
        for (int &n : nybbleOf) n = -1;
        for (int n = 0; n < 16; ++n) nybbleOf[kGcrCode[n]] = n;
        for (int bits = 0; bits < 1024; ++bits) {
            int high = nybbleOf[bits >> 5];
            int low = nybbleOf[bits & 0x1F];
            uint16_t value = static_cast<uint16_t>((high < 0 ? 0 : high) << 4 | (low < 0 ? 0 : low));
            byteOf[bits] = static_cast<uint16_t>(value | (high < 0 || low < 0 ? kInvalidCode : 0));
        }
    }
};
constexpr DecodeTable kDecode;

// Each byte as its two codes, ten bits.
struct EncodeTable {
    uint16_t codesOf[256];
    constexpr EncodeTable() : codesOf() {
        for (int byte = 0; byte < 256; ++byte)
            codesOf[byte] = static_cast<uint16_t>(kGcrCode[byte >> 4] << 5 | kGcrCode[byte & 0xF]);
    }
};
constexpr EncodeTable kEncode;

// ---- The track as a circular bit stream ----

// A sync is this many one bits or more; the data after it starts at the
// first 0 bit.
constexpr int kSyncOnes = 10;
// Bits behind a position that the scan looks at to count the ones before it.
constexpr int kLookBack = 16;
// A sector whose header is not found reads as 21 (no sync) rather than 20
// when the track holds a stretch this long without a sync: more than a data
// block, its gap and a track's tail take (about 430 bytes on a written
// track), as a sector written without its syncs leaves (about 690).
constexpr uint64_t kNoSyncStretchBits = 640 * 8;
constexpr uint32_t kNone = UINT32_MAX;
// Bytes past the bits a read may reach, so that 8-byte loads stay inside.
constexpr size_t kLoadSlack = 16;

// Leaves the bytes resize() adds unset: makeStream fills them all.
struct UninitializedBytes : std::allocator<uint8_t> {
    template <typename U>
    struct rebind {
        using other = UninitializedBytes;
    };
    template <typename U>
    void construct(U *) {}
};

// The track's bytes followed by as many of them again (circularly) as a read
// that starts within the revolution can reach: every read below is a plain
// read of this buffer, never outside it.
struct Stream {
    std::vector<uint8_t, UninitializedBytes> bytes;
    uint64_t bits;      // bits of one revolution
    uint64_t waitBits;  // the longest wait for a sync: 20 ms, a tenth of a revolution at 300 rpm
    uint64_t limit;     // bits a read may reach
};

Stream makeStream(const uint8_t *gcr, size_t length) {
    Stream stream;
    stream.bits = static_cast<uint64_t>(length) * 8;
    stream.waitBits = std::max<uint64_t>(stream.bits / 10, 8 * 16);
    size_t reach = length + stream.waitBits / 8 + kHeaderGcrBytes + kDataBlockGcrBytes + 8;
    stream.bytes.resize(reach + kLoadSlack);  // every byte is filled below when the track has any
    for (size_t done = 0; length > 0 && done < stream.bytes.size();) {
        size_t count = std::min(length, stream.bytes.size() - done);
        std::memcpy(stream.bytes.data() + done, gcr, count);
        done += count;
    }
    stream.limit = static_cast<uint64_t>(reach) * 8;
    return stream;
}

int bitAt(const Stream &stream, uint64_t bit) { return stream.bytes[bit >> 3] >> (7 - (bit & 7)) & 1; }

// Ten bits from `bit` on. Precondition: bit + 10 <= stream.limit.
unsigned tenBitsAt(const Stream &stream, uint64_t bit) {
    const uint8_t *at = stream.bytes.data() + (bit >> 3);
    unsigned word = static_cast<unsigned>(at[0]) << 16 | static_cast<unsigned>(at[1]) << 8 | at[2];
    return word >> (14 - (bit & 7)) & 0x3FF;
}

// Decodes `count` bytes of GCR from `bit` on into `out`; false when any code
// is not one of the 16. Groups of four bytes come from one 8-byte load.
// Precondition: the bits lie below stream.limit.
bool decodeBytes(const Stream &stream, uint64_t bit, int count, uint8_t *out) {
    unsigned invalid = 0;
    int i = 0;
    for (; i + 4 <= count; i += 4, bit += 40) {
        uint64_t word;
        std::memcpy(&word, stream.bytes.data() + (bit >> 3), 8);
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        word <<= bit & 7;
        for (int k = 0; k < 4; ++k) {
            uint16_t value = kDecode.byteOf[word >> (54 - 10 * k) & 0x3FF];
            out[i + k] = static_cast<uint8_t>(value);
            invalid |= value;
        }
    }
    for (; i < count; ++i, bit += 10) {
        uint16_t value = kDecode.byteOf[tenBitsAt(stream, bit)];
        out[i] = static_cast<uint8_t>(value);
        invalid |= value;
    }
    return !(invalid & kInvalidCode);
}

// Ones (up to kLookBack) right before `bit` of the revolution, counted back
// circularly.
int onesBefore(const Stream &stream, uint64_t bit) {
    int ones = 0;
    for (int back = 1; back <= kLookBack; ++back) {
        uint64_t at = (bit + stream.bits * kLookBack - static_cast<uint64_t>(back)) % stream.bits;
        if (!bitAt(stream, at)) break;
        ++ones;
    }
    return ones;
}

// The first bit after the next sync that ends at or after `from` and before
// `end` (with `ones` one bits right before `from`), or kNone. Whole bytes at
// a time: a byte of ones adds 8, any other byte ends a run at its first 0.
uint64_t nextSync(const Stream &stream, uint64_t from, uint64_t end, int ones) {
    end = std::min(end, stream.limit);
    uint64_t bit = from;
    for (; bit < end && (bit & 7); ++bit) {
        if (bitAt(stream, bit)) {
            ones = std::min(ones + 1, kSyncOnes);
        } else {
            if (ones >= kSyncOnes) return bit;
            ones = 0;
        }
    }
    for (; bit < end; bit += 8) {
        uint8_t byte = stream.bytes[bit >> 3];
        if (byte == 0xFF) {
            ones = std::min(ones + 8, kSyncOnes);
            continue;
        }
        int lead = std::countl_one(byte);
        if (ones + lead >= kSyncOnes) return bit + static_cast<uint64_t>(lead) < end ? bit + lead : kNone;
        ones = std::countr_one(byte);
    }
    return kNone;
}

// ---- Reading a track ----

// The header of the sector looked for, found first on the track.
struct HeaderFound {
    uint64_t bit = kNone;  // where its bytes start
    uint8_t bytes[kHeaderBytes];
    bool goodGcr;
};

// What a pass over one revolution found for each sector looked for.
struct TrackPass {
    std::vector<HeaderFound> headers;  // by sector
    std::vector<uint8_t> markedWrong;  // a block with the sector's track and sector bytes but no header mark
    std::vector<SectorRead> data;      // the data block after the header (error 0 when it decoded whole)
    uint64_t syncs = 0;
    uint64_t longestStretch = 0;       // bits between two syncs, the most on the track
};

const uint8_t kFillBlock[1] = {0x4B};  // then 255 bytes $01

void fillUnreadable(uint8_t *block) {
    block[0] = kFillBlock[0];
    std::memset(block + 1, 0x01, 255);
}

// Reads the data block whose sync ends at `bit` into `block`: the error its
// read ends in. Whole blocks of good GCR are checked, so a 24 leaves the
// bytes decoded.
int readDataBlock(const Stream &stream, uint64_t bit, uint8_t *block) {
    uint8_t bytes[kDataBlockBytes];
    bool good = decodeBytes(stream, bit, kDataBlockBytes, bytes);
    if (bytes[0] != kDataMark) return kDataNotPresent;
    std::memcpy(block, bytes + 1, 256);
    uint8_t sum = 0;
    for (int i = 1; i <= 256; ++i) sum ^= bytes[i];
    if (!good) return kBadGcr;
    return sum == bytes[257] ? kReadOk : kDataChecksum;
}

// Reads the data block that follows a header ending at `headerEnd`: the next
// sync, waited for at most a tenth of a revolution.
void readDataAfter(const Stream &stream, uint64_t headerEnd, uint64_t sync, uint8_t *block, SectorRead &read) {
    if (sync == kNone || sync - headerEnd > stream.waitBits) {
        read = {kNoSync, false, 0};
        return;
    }
    read.error = readDataBlock(stream, sync, block);
    read.dataFound = read.error != kDataNotPresent;
    read.dataBit = static_cast<uint32_t>(sync % stream.bits);
}

// One revolution: every sync from the track's start, each header of the
// track looked for, and the data block after each sector's first header.
// Good data blocks are passed over whole (good GCR holds no sync); anything
// else is searched bit by bit, so a sync hidden in bad GCR is still met.
TrackPass passOver(const Stream &stream, int track, int sectors, uint8_t *blocks) {
    TrackPass pass;
    pass.headers.resize(static_cast<size_t>(sectors));
    pass.markedWrong.assign(static_cast<size_t>(sectors), 0);
    pass.data.assign(static_cast<size_t>(sectors), SectorRead{kNoSync, false, 0});
    if (stream.bits == 0) return pass;
    int waiting = -1;  // the sector whose header came last, its data block not yet met
    uint64_t waitingEnd = 0;
    uint64_t first = kNone, previous = kNone;
    uint64_t sync = nextSync(stream, 0, stream.bits, onesBefore(stream, 0));
    while (sync != kNone) {
        ++pass.syncs;
        if (first == kNone) first = sync;
        if (previous != kNone) pass.longestStretch = std::max(pass.longestStretch, sync - previous);
        previous = sync;
        uint64_t resume = sync + 1;
        bool taken = false;  // the sync began the data block of the header before it
        if (waiting >= 0) {
            SectorRead &read = pass.data[static_cast<size_t>(waiting)];
            readDataAfter(stream, waitingEnd, sync, blocks + 256 * waiting, read);
            taken = read.dataFound;
            if (read.error == kReadOk || read.error == kDataChecksum) resume = sync + kDataBlockGcrBytes * 8;
            waiting = -1;
        }
        if (!taken) {
            uint8_t bytes[kHeaderBytes];
            decodeBytes(stream, sync, kHeaderBytes, bytes);
            // A block whose first code starts with a 1 (a mark of $FF) loses
            // that bit to the sync: its track and sector are read a bit earlier.
            if (bytes[0] != kHeaderMark && bytes[0] != kDataMark && sync > 0) {
                uint8_t early[kHeaderBytes];
                decodeBytes(stream, sync - 1, kHeaderBytes, early);
                if (early[3] == track && early[2] < sectors) pass.markedWrong[early[2]] = 1;
            }
            int sector = bytes[2];
            if (bytes[3] == track && sector < sectors) {
                HeaderFound &header = pass.headers[static_cast<size_t>(sector)];
                if (bytes[0] != kHeaderMark) {
                    pass.markedWrong[static_cast<size_t>(sector)] = 1;
                } else if (header.bit == kNone) {
                    header.bit = sync;
                    std::memcpy(header.bytes, bytes, kHeaderBytes);
                    header.goodGcr = decodeBytes(stream, sync, 6, bytes);
                    waiting = sector;
                    waitingEnd = sync + kHeaderGcrBytes * 8;
                    resume = waitingEnd;
                }
            }
        }
        if (resume >= stream.bits) break;
        sync = nextSync(stream, resume, stream.bits, resume == sync + 1 ? 0 : onesBefore(stream, resume));
    }
    if (first != kNone) pass.longestStretch = std::max(pass.longestStretch, first + stream.bits - previous);
    // A header near the end whose data block lies past the track's start.
    if (waiting >= 0)
        readDataAfter(stream, waitingEnd,
                      nextSync(stream, waitingEnd, waitingEnd + stream.waitBits + 1, onesBefore(stream, waitingEnd)),
                      blocks + 256 * waiting, pass.data[static_cast<size_t>(waiting)]);
    return pass;
}

// The error of a sector by the DOS's order: the header (found, its GCR, its
// checksum, its id), then its data block.
int sectorError(const TrackPass &pass, int sector, DiskId id) {
    const HeaderFound &header = pass.headers[static_cast<size_t>(sector)];
    if (header.bit == kNone) {
        if (pass.markedWrong[static_cast<size_t>(sector)]) return kHeaderNotFound;
        return pass.syncs == 0 || pass.longestStretch > kNoSyncStretchBits ? kNoSync : kHeaderNotFound;
    }
    const uint8_t *h = header.bytes;
    if (!header.goodGcr) return kBadGcr;
    if (h[1] != (h[2] ^ h[3] ^ h[4] ^ h[5])) return kHeaderChecksum;
    if (id.known && (h[5] != id.id1 || h[4] != id.id2)) return kIdMismatch;
    return pass.data[static_cast<size_t>(sector)].error;
}

// ---- Writing ----

// Writes `count` bits of `from` (from its first bit on) at bit `at` of the
// circular track.
void writeBits(uint8_t *gcr, size_t length, uint64_t at, const uint8_t *from, uint64_t count) {
    uint64_t bits = static_cast<uint64_t>(length) * 8;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t to = (at + i) % bits;
        int value = from[i >> 3] >> (7 - (i & 7)) & 1;
        uint8_t mask = static_cast<uint8_t>(0x80 >> (to & 7));
        gcr[to >> 3] = static_cast<uint8_t>(value ? gcr[to >> 3] | mask : gcr[to >> 3] & ~mask);
    }
}

// A data block as recorded: mark, the 256 bytes, their checksum, $00 $00.
void dataBlockBytes(const uint8_t *data, uint8_t mark, uint8_t *block) {
    block[0] = mark;
    std::memcpy(block + 1, data, 256);
    uint8_t sum = 0;
    for (int i = 0; i < 256; ++i) sum ^= data[i];
    block[257] = sum;
    block[258] = block[259] = 0;
}

void appendFill(std::vector<uint8_t> &out, uint8_t byte, size_t count) { out.insert(out.end(), count, byte); }

}  // namespace

const char *readErrorName(int error) {
    switch (error) {
        case kHeaderNotFound: return "block header not found";
        case kNoSync: return "no sync";
        case kDataNotPresent: return "data block not present";
        case kDataChecksum: return "data checksum";
        case kBadGcr: return "byte decoding";
        case kHeaderChecksum: return "header checksum";
        case kIdMismatch: return "disk id mismatch";
        default: return "";
    }
}

DiskId readTrack(const uint8_t *gcr, size_t length, int track, int sectors, DiskId id, uint8_t *blocks,
                 SectorRead *reads, bool ownId) {
    Stream stream = makeStream(gcr, length);
    TrackPass pass = passOver(stream, track, sectors, blocks);
    const HeaderFound &first = pass.headers[0];
    DiskId own{first.bit != kNone && first.goodGcr, first.bytes[5], first.bytes[4]};
    if (first.bit == kNone) own = {false, 0, 0};
    if (ownId) id = own;
    for (int s = 0; s < sectors; ++s) {
        SectorRead &read = reads[s];
        read = pass.data[static_cast<size_t>(s)];
        if (pass.headers[static_cast<size_t>(s)].bit == kNone) read = {kNoSync, false, 0};
        read.error = sectorError(pass, s, id);
        if (!read.dataFound) fillUnreadable(blocks + 256 * s);
    }
    return own;
}

bool hasSync(const uint8_t *gcr, size_t length) {
    if (length == 0) return false;
    Stream stream = makeStream(gcr, length);
    return nextSync(stream, 0, stream.bits, onesBefore(stream, 0)) != kNone;
}

bool holdsHeaderOf(const uint8_t *gcr, size_t length, int track, int sectors) {
    if (length == 0) return false;
    Stream stream = makeStream(gcr, length);
    uint64_t sync = nextSync(stream, 0, stream.bits, onesBefore(stream, 0));
    while (sync != kNone) {
        uint8_t bytes[4];
        decodeBytes(stream, sync, 4, bytes);
        if (bytes[0] == kHeaderMark && bytes[3] == track && bytes[2] < sectors) return true;
        uint64_t resume = bytes[0] == kDataMark ? sync + kDataBlockGcrBytes * 8 : sync + 1;
        if (resume >= stream.bits) break;
        sync = nextSync(stream, resume, stream.bits, resume == sync + 1 ? 0 : onesBefore(stream, resume));
    }
    return false;
}

void encodeGcr(const uint8_t *bytes, size_t count, uint8_t *gcr) {
    for (size_t i = 0; i + 4 <= count; i += 4, gcr += 5) {
        uint64_t word = static_cast<uint64_t>(kEncode.codesOf[bytes[i]]) << 30 |
                        static_cast<uint64_t>(kEncode.codesOf[bytes[i + 1]]) << 20 |
                        static_cast<uint64_t>(kEncode.codesOf[bytes[i + 2]]) << 10 | kEncode.codesOf[bytes[i + 3]];
        for (int k = 0; k < 5; ++k) gcr[k] = static_cast<uint8_t>(word >> (32 - 8 * k));
    }
}

void encodeTrack(const SectorWrite *sectors, int count, int track, DiskId id, int gap, size_t size,
                 std::vector<uint8_t> &out) {
    size_t start = out.size();
    for (int s = 0; s < count; ++s) {
        int error = sectors[s].error;
        uint8_t sync = error == kNoSync ? 0x55 : 0xFF;
        uint8_t id1 = error == kIdMismatch ? static_cast<uint8_t>(id.id1 ^ 0xFF) : id.id1;
        uint8_t header[kHeaderBytes] = {error == kHeaderNotFound ? uint8_t{0xFF} : kHeaderMark, 0,
                                        static_cast<uint8_t>(s), static_cast<uint8_t>(track), id.id2, id1, 0x0F, 0x0F};
        header[1] = static_cast<uint8_t>(header[2] ^ header[3] ^ header[4] ^ header[5] ^
                                         (error == kHeaderChecksum ? 0xFF : 0));
        uint8_t block[kDataBlockBytes];
        dataBlockBytes(sectors[s].data, error == kDataNotPresent ? 0x00 : kDataMark, block);
        if (error == kDataChecksum) block[257] ^= 0xFF;
        appendFill(out, sync, 5);
        size_t at = out.size();
        out.resize(at + kHeaderGcrBytes);
        encodeGcr(header, kHeaderBytes, out.data() + at);
        appendFill(out, 0x55, 9);
        appendFill(out, sync, 5);
        at = out.size();
        out.resize(at + kDataBlockGcrBytes);
        encodeGcr(block, kDataBlockBytes, out.data() + at);
        if (error == kBadGcr) out[out.size() - 1] = out[out.size() - 2] = 0x00;
        appendFill(out, 0x55, static_cast<size_t>(gap));
    }
    if (out.size() - start < size) appendFill(out, 0x55, size - (out.size() - start));
}

void rewriteDataBlock(uint8_t *gcr, size_t length, uint32_t dataBit, const uint8_t *data) {
    uint8_t block[kDataBlockBytes];
    dataBlockBytes(data, kDataMark, block);
    uint8_t encoded[kDataBlockGcrBytes];
    encodeGcr(block, kDataBlockBytes, encoded);
    if (dataBit % 8 == 0 && dataBit / 8 + kDataBlockGcrBytes <= length) {
        std::memcpy(gcr + dataBit / 8, encoded, kDataBlockGcrBytes);
        return;
    }
    writeBits(gcr, length, dataBit, encoded, kDataBlockGcrBytes * 8);
}
