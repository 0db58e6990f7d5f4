// The 1541's recording on one track: the GCR code (4 bits written as 5), the
// track as a circular bit stream, sync search, and a track read the way the
// drive's DOS reads each sector, with the error number it reports. The
// encoder writes a track as the drive formats and writes it. Knows nothing
// of images, files or disk families: the caller names the track, its sector
// count and the disk id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes of a header and of a data block as recorded, and as GCR (5 for 4).
constexpr int kHeaderBytes = 8;
constexpr int kDataBlockBytes = 260;
constexpr int kHeaderGcrBytes = kHeaderBytes * 5 / 4;
constexpr int kDataBlockGcrBytes = kDataBlockBytes * 5 / 4;
constexpr uint8_t kHeaderMark = 0x08;
constexpr uint8_t kDataMark = 0x07;

// The DOS error numbers a read ends in (0: the sector reads).
constexpr int kReadOk = 0;
constexpr int kHeaderNotFound = 20;
constexpr int kNoSync = 21;
constexpr int kDataNotPresent = 22;
constexpr int kDataChecksum = 23;
constexpr int kBadGcr = 24;
constexpr int kHeaderChecksum = 27;
constexpr int kIdMismatch = 29;

// "23 data checksum": the words the DOS error number goes by; "" for others.
const char *readErrorName(int error);

// What reading one sector gave.
struct SectorRead {
    int error;         // DOS error number; kReadOk when the sector reads
    bool dataFound;    // a data block ($07) followed the sector's header: its bytes were decoded
    uint32_t dataBit;  // where that block starts (its first bit after its sync), in bits from the track's start
};

// The disk id a read compares each header with (error 29), as the header holds it.
struct DiskId {
    bool known;     // false: no comparison (the header of 18/0 was not read)
    uint8_t id1;    // header byte 5 (the byte at 18/0 $A2)
    uint8_t id2;    // header byte 4 (at $A3)
};

// Reads the `sectors` sectors of `track` from `length` bytes of GCR as a drive
// reads them (the track is circular: a sector may run past its end). Block s
// goes to blocks + 256 * s: the bytes its data block decodes to, or, when no
// data block of the sector can be read (20, 21, 22), $4B and 255 bytes $01,
// the pattern the format writes. Every loop is bounded by the track's length;
// a track of nothing but ones, or of no sync, ends in 21 for every sector.
// Returns the id in the header of sector 0 (known false when it has none or
// its GCR is bad); with `ownId` the headers are compared with that id
// instead of `id` (track 18, where the drive takes the disk's id from).
DiskId readTrack(const uint8_t *gcr, size_t length, int track, int sectors, DiskId id, uint8_t *blocks,
                 SectorRead *reads, bool ownId = false);

// True when the track holds a sync anywhere (circularly).
bool hasSync(const uint8_t *gcr, size_t length);

// True when a header ($08) of `track` and one of its `sectors` follows a sync
// on the track: a drive finds at least one of its sectors (it reads with
// neither 20 nor 21). Data blocks are passed over unread (a header hidden
// inside bad GCR is not looked for: this only chooses 35 or 40 tracks).
bool holdsHeaderOf(const uint8_t *gcr, size_t length, int track, int sectors);

// How a sector is written into a track (encodeTrack).
struct SectorWrite {
    const uint8_t *data;  // its 256 bytes
    int error;            // the DOS error a read of it should give: 0, 20-24, 27 or 29; others read as 0
};

// Appends one formatted track to `out`, as a drive writes it: for each sector
// a sync of 5 $FF, the header, 9 bytes $55, a sync, the data block and `gap`
// bytes $55, then $55 up to `size` bytes (at least what the sectors take).
// A sector's error is written so that readTrack reads it back: 20 header mark
// $FF, 21 both syncs $55, 22 data mark $00, 23 data checksum inverted, 24 the
// block's last two GCR bytes $00 (its bytes still decode), 27 header checksum
// inverted, 29 id1 inverted.
void encodeTrack(const SectorWrite *sectors, int count, int track, DiskId id, int gap, size_t size,
                 std::vector<uint8_t> &out);

// Rewrites the data block that starts at bit `dataBit` of the track with
// `data` (mark, the 256 bytes, their checksum, $00 $00), bit for bit in
// place; every other bit stays. Precondition: the track holds at least the
// block's 2,600 bits, so the circular write does not overlap itself.
void rewriteDataBlock(uint8_t *gcr, size_t length, uint32_t dataBit, const uint8_t *data);

// GCR of `count` bytes (a multiple of 4) into count * 5 / 4 bytes.
void encodeGcr(const uint8_t *bytes, size_t count, uint8_t *gcr);
