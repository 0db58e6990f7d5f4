// G64 and G71 images: the container, the decoded blocks, the writer.
#include "gcr/gcrdisk.h"

#include <algorithm>
#include <cstring>

#include "base/console.h"
#include "gcr/nib.h"

namespace {

// ---- The container ----

constexpr size_t kTableStart = 12;        // the offsets follow the signature, version, N and stored size
constexpr int kWrittenEntries = 84;       // entries a side gets when kestrel writes one: tracks 1-42 and their halves
constexpr int kWrittenStoredSize = 7928;  // the stored size of a track block kestrel writes

// A 1541 speed zone: sectors of its tracks, the clock it records at, the gap
// after each sector and the bytes of a track a drive writes (300 rpm).
struct GcrZone {
    int sectors;
    uint32_t speed;
    int gap;
    size_t trackBytes;
};
constexpr GcrZone kZones[] = {{21, 3, 8, 7692}, {19, 2, 17, 7142}, {18, 1, 12, 6666}, {17, 0, 9, 6250}};

const GcrZone &zoneOf(int sectors) {
    for (const GcrZone &zone : kZones)
        if (zone.sectors == sectors) return zone;
    return kZones[3];
}

// The drive's job codes as error bytes hold them, and the read error each
// stands for; the first of an error is the one written.
struct JobCode {
    uint8_t code;
    int error;
};
constexpr JobCode kJobCodes[] = {{0x01, 0},  {0x00, 0},  {0x02, 20}, {0x03, 21}, {0x04, 22},
                                 {0x05, 23}, {0x06, 24}, {0x10, 24}, {0x07, 25}, {0x08, 26},
                                 {0x09, 27}, {0x0A, 28}, {0x0B, 29}, {0x0F, 74}};

uint8_t jobCodeOf(int error) {
    for (const JobCode &job : kJobCodes)
        if (job.error == error) return job.code;
    return 0x01;
}

uint32_t wordAt(const uint8_t *at, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
    return value;
}

void putWord(std::vector<uint8_t> &out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

int sideEntries(const GcrDisk &disk) { return static_cast<int>(disk.tracks.size()) / (disk.twoSides ? 2 : 1); }

// The table entry of whole track `track` (side 2 of a G71 from 36 on), or -1.
int entryOfTrack(const GcrDisk &disk, int track) {
    int side = disk.twoSides && track > kFamilyD71.sideTracks ? 1 : 0;
    int entry = side * sideEntries(disk) + (track - 1 - side * kFamilyD71.sideTracks) * 2;
    return entry < static_cast<int>(disk.tracks.size()) ? entry : -1;
}

// The track an entry is, in halves (entry 0: 2, track 1), as the drive's
// track numbers count on its side.
int halvesOfEntry(const GcrDisk &disk, int entry) {
    int side = disk.twoSides && entry >= sideEntries(disk) ? 1 : 0;
    return 2 + (entry - side * sideEntries(disk)) + side * kFamilyD71.sideTracks * 2;
}

std::string trackName(int halves) {
    return std::to_string(halves / 2) + (halves % 2 ? ".5" : "");
}

// "1.5, 2.5" or "41-42": the tracks of some entries, runs of whole tracks joined.
std::string trackList(const std::vector<int> &halves) {
    std::string text;
    for (size_t i = 0; i < halves.size();) {
        size_t last = i;
        while (last + 1 < halves.size() && halves[last + 1] == halves[last] + 2) ++last;
        if (!text.empty()) text += ", ";
        text += trackName(halves[i]);
        if (last > i) {
            text += last > i + 1 || halves[i] % 2 == 0 ? "-" : ", ";
            text += trackName(halves[last]);
        }
        i = last + 1;
    }
    return text;
}

// Reads the table: each entry's offset, length inside the file, speed;
// faults of single entries go to disk.faults.
std::string readTable(GcrDisk &disk) {
    const ImageBytes &file = disk.file;
    size_t entries = file.size() > 9 ? file[9] : 0;
    if (file.size() < kTableStart) return "is too short for the header of a GCR image";
    if (entries == 0) return "has a track table of 0 entries";
    if (kTableStart + entries * 8 > file.size())
        return "has a track table of " + std::to_string(entries) + " entries that runs past the end of the file";
    disk.tracks.resize(entries);
    for (size_t i = 0; i < entries; ++i) {
        GcrTrackEntry &entry = disk.tracks[i];
        uint64_t offset = wordAt(file.data() + kTableStart + 4 * i, 4);
        entry = {0, 0, wordAt(file.data() + kTableStart + 4 * (entries + i), 4)};
        if (offset == 0) continue;
        std::string name = "track " + trackName(halvesOfEntry(disk, static_cast<int>(i)));
        if (offset + 2 > file.size()) {
            disk.faults.push_back(name + ": its data at offset " + std::to_string(offset) +
                                  " lies past the end of the file; it reads as no sync");
            continue;
        }
        size_t length = wordAt(file.data() + offset, 2);
        size_t inside = std::min<size_t>(length, file.size() - offset - 2);
        if (inside < length)
            disk.faults.push_back(name + ": its " + std::to_string(length) + " bytes run past the end of the file; the " +
                                  std::to_string(inside) + " there are read");
        entry.offset = offset + 2;
        entry.length = inside;
    }
    return "";
}

const uint8_t *trackBytes(const GcrDisk &disk, int entry) {
    return entry < 0 || disk.tracks[static_cast<size_t>(entry)].length == 0
               ? nullptr
               : disk.file.data() + disk.tracks[static_cast<size_t>(entry)].offset;
}

// ---- Reading ----

bool readable(int error) { return error != kHeaderNotFound && error != kNoSync; }

// Reads one track's sectors into the decoded image; a missing track reads as no sync.
void readDiskTrack(GcrDisk &disk, ImageBuffer &decoded, int track) {
    disk.pending[static_cast<size_t>(track)] = 0;
    int sectors = sectorsPerTrack(decoded.shape, track);
    int entry = entryOfTrack(disk, track);
    uint8_t *blocks = blockAt(decoded, track, 0);
    SectorRead reads[kMostSectors];
    const uint8_t *gcr = trackBytes(disk, entry);
    DiskId own = readTrack(gcr, gcr ? disk.tracks[static_cast<size_t>(entry)].length : 0, track, sectors, disk.id,
                           blocks, reads, track == decoded.shape.systemTrack);
    if (track == decoded.shape.systemTrack) disk.id = own;
    int first = blockOffset(decoded.shape, track, 0) / kBlockSize;
    uint8_t *errorBytes = decoded.bytes.data() + static_cast<size_t>(blockCount(decoded.shape)) * kBlockSize;
    for (int s = 0; s < sectors; ++s) {
        disk.sectors[static_cast<size_t>(first + s)] = {static_cast<uint8_t>(reads[s].error), reads[s].dataFound, entry,
                                                        reads[s].dataBit};
        errorBytes[first + s] = jobCodeOf(reads[s].error);
    }
    std::memcpy(disk.blocks.data() + static_cast<size_t>(first) * kBlockSize, blocks,
                static_cast<size_t>(sectors) * kBlockSize);
    // A track whose headers all name the track next to it: the table is one entry off.
    bool allNotFound = gcr != nullptr;
    for (int s = 0; s < sectors && allNotFound; ++s) allNotFound = reads[s].error == kHeaderNotFound;
    for (int other : {track - 1, track + 1}) {
        if (!allNotFound || other < 1) continue;
        std::vector<uint8_t> scratch(static_cast<size_t>(sectors) * kBlockSize);
        readTrack(gcr, disk.tracks[static_cast<size_t>(entry)].length, other, sectors, disk.id, scratch.data(), reads);
        if (!readable(reads[0].error)) continue;
        if (!disk.shiftedTrack || track < disk.shiftedTrack) disk.shiftedTrack = track, disk.shiftedFrom = other;
        disk.faults.push_back("track " + std::to_string(track) + " holds the sectors of track " +
                                  std::to_string(other) + ": the track table is one entry off");
    }
}

// What the decoded image cannot hold: half tracks with data, tracks past its
// last, tracks longer than their zone's, speed maps.
void noteLeftOut(GcrDisk &disk, const DiskShape &shape) {
    std::vector<int> halfTracks, beyond, longer, speedMaps;
    for (int entry = 0; entry < static_cast<int>(disk.tracks.size()); ++entry) {
        const GcrTrackEntry &track = disk.tracks[static_cast<size_t>(entry)];
        if (track.length == 0) continue;
        int halves = halvesOfEntry(disk, entry);
        int side = disk.twoSides && entry >= sideEntries(disk) ? 1 : 0;
        int onSide = halves / 2 - side * kFamilyD71.sideTracks;
        int sideLast = disk.twoSides ? kFamilyD71.sideTracks : shape.tracks;
        if (track.speed > 3) speedMaps.push_back(halves);
        if (halves % 2) {
            if (hasSync(disk.file.data() + track.offset, track.length)) halfTracks.push_back(halves);
        } else if (onSide > sideLast) {
            if (hasSync(disk.file.data() + track.offset, track.length)) beyond.push_back(halves);
        } else if (track.length > zoneOf(sectorsPerTrack(shape, halves / 2)).trackBytes) {
            longer.push_back(halves);
        }
    }
    if (!halfTracks.empty()) disk.leftOut.push_back("half tracks " + trackList(halfTracks) + " with data");
    if (!beyond.empty()) disk.leftOut.push_back("tracks " + trackList(beyond) + " with data");
    if (!longer.empty())
        disk.leftOut.push_back("tracks " + trackList(longer) + " longer than their zone's (the bytes past it)");
    if (!speedMaps.empty()) disk.leftOut.push_back("the speed maps of tracks " + trackList(speedMaps));
}

// The 40-track image cut to its 35 tracks: blocks and error bytes.
void cutToMapTracks(ImageBuffer &decoded, GcrDisk &disk) {
    DiskShape shape = formattedShape(kFamilyD64, kFamilyD64.mapTracks, true);
    size_t blocks = static_cast<size_t>(blockCount(shape));
    size_t wide = static_cast<size_t>(blockCount(decoded.shape));
    std::memmove(decoded.bytes.data() + blocks * kBlockSize, decoded.bytes.data() + wide * kBlockSize, blocks);
    decoded.bytes.resize(blocks * (kBlockSize + 1));
    disk.sectors.resize(blocks);
    disk.blocks.resize(blocks * kBlockSize);
    disk.pending.resize(static_cast<size_t>(shape.tracks) + 1);
    decoded.shape = shape;
}

// Takes the file into disk.file: a G64 or G71 as it is, a NIB or an NBZ as
// the G64 of its revolutions. Returns why it cannot be read, or "".
std::string readContainer(ImageBytes &bytes, GcrDisk &disk) {
    disk.fileSize = bytes.size();
    bool packed = !isNibImage(bytes.data(), bytes.size()) && isNbzImage(bytes.data(), bytes.size());
    disk.format = packed ? "nbz" : isNibImage(bytes.data(), bytes.size()) ? "nib" : "g64";
    if (disk.format == std::string("g64")) {
        disk.file.swap(bytes);
        if (disk.file.size() >= 8 && std::memcmp(disk.file.data(), "GCR-1571", 8) == 0) disk.format = "g71";
        return "";
    }
    std::vector<uint8_t> unpacked, g64;
    const uint8_t *nib = bytes.data();
    size_t size = bytes.size();
    if (packed) {
        std::string problem = unpackNbz(bytes.data(), bytes.size(), unpacked);
        if (!problem.empty()) return problem;
        nib = unpacked.data(), size = unpacked.size();
    }
    std::string problem = nibToG64(nib, size, g64, disk.faults);
    if (!problem.empty()) return problem;
    disk.file.assign(g64.begin(), g64.end());
    bytes.clear();
    return "";
}

// ImageBuffer::readTrack of an image read from GCR: decodes the track when it
// has not been yet. The image and its GcrDisk are never made const (loaded
// into plain buffers), so they may change here behind the gate's const.
void readPendingTrack(const ImageBuffer &image, int track) {
    GcrDisk &disk = const_cast<GcrDisk &>(*image.gcr);
    if (track < 1 || static_cast<size_t>(track) >= disk.pending.size() || !disk.pending[static_cast<size_t>(track)])
        return;
    readDiskTrack(disk, const_cast<ImageBuffer &>(image), track);
}

}  // namespace

bool isGcrImage(const uint8_t *bytes, size_t size) {
    return (size >= 8 && (std::memcmp(bytes, "GCR-1541", 8) == 0 || std::memcmp(bytes, "GCR-1571", 8) == 0)) ||
           isNibImage(bytes, size) || isNbzImage(bytes, size);
}

const char *gcrFormatName(const ImageBuffer &image) { return image.gcr ? image.gcr->format : nullptr; }

const char *gcrWrittenFormat(const ImageBuffer &image) {
    if (!image.gcr) return nullptr;
    return image.gcr->twoSides ? "g71" : "g64";
}

int errorOfJobCode(int code) {
    for (const JobCode &job : kJobCodes)
        if (job.code == code) return job.error;
    return -1;
}

std::string readGcrImage(ImageBuffer &image) {
    auto disk = std::make_shared<GcrDisk>();
    std::string problem = readContainer(image.bytes, *disk);
    if (!problem.empty()) return problem;
    disk->twoSides = disk->file.size() >= 8 && std::memcmp(disk->file.data(), "GCR-1571", 8) == 0;
    problem = readTable(*disk);
    if (!problem.empty()) return problem;
    const DiskFamily &family = disk->twoSides ? kFamilyD71 : kFamilyD64;
    ImageBuffer decoded;
    decoded.shape = formattedShape(family, disk->twoSides ? family.mapTracks : kExtendedD64Tracks, true);
    size_t blocks = static_cast<size_t>(blockCount(decoded.shape));
    decoded.bytes.resize(blocks * (kBlockSize + 1));
    disk->sectors.resize(blocks);
    disk->blocks.resize(blocks * kBlockSize);
    disk->pending.assign(static_cast<size_t>(decoded.shape.tracks) + 1, 1);
    // A D64 has tracks 36-40 when a sector of theirs reads: when a header of
    // one of them is found there (not all 20 or 21).
    bool extraTracksRead = false;
    for (int track = family.mapTracks + 1; track <= decoded.shape.tracks && !disk->twoSides; ++track) {
        int entry = entryOfTrack(*disk, track);
        const uint8_t *gcr = trackBytes(*disk, entry);
        extraTracksRead = extraTracksRead || (gcr && holdsHeaderOf(gcr, disk->tracks[static_cast<size_t>(entry)].length,
                                                                   track, sectorsPerTrack(decoded.shape, track)));
    }
    if (!disk->twoSides && !extraTracksRead) cutToMapTracks(decoded, *disk);
    // The system track first: error 29 compares each header with the id of 18/0's.
    readDiskTrack(*disk, decoded, family.systemTrack);
    noteLeftOut(*disk, decoded.shape);
    image.bytes.swap(decoded.bytes);
    image.shape = decoded.shape;
    image.gcr = std::move(disk);
    image.readTrack = readPendingTrack;
    return "";
}

void readAllTracks(const ImageBuffer &image) {
    for (int track = 1; image.gcr && track <= image.shape.tracks; ++track) readPendingTrack(image, track);
}

void blockFileBytes(const ImageBuffer &image, std::vector<uint8_t> &out) {
    readAllTracks(image);
    size_t blocks = static_cast<size_t>(blockCount(image.shape)) * kBlockSize;
    size_t end = std::min(image.bytes.size(), blocks);
    bool errors = false;
    for (size_t i = end; i < image.bytes.size(); ++i) errors |= image.bytes[i] != jobCodeOf(kReadOk);
    out.assign(image.bytes.begin(), image.bytes.begin() + static_cast<long>(errors ? image.bytes.size() : end));
}

// ---- Writing ----

namespace {

std::string blockName(int track, int sector) { return "block " + std::to_string(track) + "/" + std::to_string(sector); }

// The read error the image's error byte of a block asks for (0 without error bytes).
int wantedError(const ImageBuffer &image, int track, int sector) {
    if (!image.shape.errorBytes) return 0;
    size_t at = static_cast<size_t>(blockCount(image.shape)) * kBlockSize +
                static_cast<size_t>(blockOffset(image.shape, track, sector) / kBlockSize);
    int error = at < image.bytes.size() ? errorOfJobCode(image.bytes[at]) : 0;
    return error == 20 || error == 21 || error == 22 || error == 23 || error == 24 || error == 27 || error == 29 ? error : 0;
}

// Every block the edits changed, rewritten in place in a copy of the file.
std::string patchFile(const ImageBuffer &image, std::vector<uint8_t> &out) {
    const GcrDisk &disk = *image.gcr;
    out.assign(disk.file.begin(), disk.file.end());
    for (int track = 1; track <= image.shape.tracks; ++track) {
        for (int s = 0; s < sectorsPerTrack(image.shape, track); ++s) {
            size_t index = static_cast<size_t>(blockOffset(image.shape, track, s) / kBlockSize);
            const uint8_t *now = blockAt(image, track, s);
            if (!now || index >= disk.sectors.size() ||
                std::memcmp(now, disk.blocks.data() + index * kBlockSize, kBlockSize) == 0)
                continue;
            const GcrSector &sector = disk.sectors[index];
            if (!sector.dataFound)
                return blockName(track, s) + " cannot be written: its data block is not found on the track (" +
                       std::to_string(sector.error) + " " + readErrorName(sector.error) + ")";
            const GcrTrackEntry &entry = disk.tracks[static_cast<size_t>(sector.entry)];
            if (entry.length < kDataBlockGcrBytes + kHeaderGcrBytes)
                return blockName(track, s) + " cannot be written: its track holds " + std::to_string(entry.length) +
                       " bytes, fewer than a sector takes";
            rewriteDataBlock(out.data() + entry.offset, entry.length, sector.dataBit, now);
        }
    }
    return "";
}

// Every track written as a drive formats it, with the blocks and errors of the image.
std::string encodeFile(const ImageBuffer &image, bool twoSides, std::vector<uint8_t> &out) {
    const DiskFamily &family = twoSides ? kFamilyD71 : kFamilyD64;
    if (image.shape.family != &family)
        return std::string("is a ") + image.shape.family->name + " image, which has no " +
               (twoSides ? "GCR-1571 (.g71)" : "GCR-1541 (.g64)") + " form" +
               (image.shape.family == &kFamilyD81 ? " (a 1581 does not record GCR)" : "");
    const uint8_t *header = headerBlock(image);
    DiskId id{true, header ? header[family.idOffset] : uint8_t{0}, header ? header[family.idOffset + 1] : uint8_t{0}};
    size_t entries = static_cast<size_t>(kWrittenEntries) * (twoSides ? 2 : 1);
    out.reserve(kTableStart + entries * 8 + static_cast<size_t>(image.shape.tracks) * (kWrittenStoredSize + 2));
    out.assign(kTableStart + entries * 8, 0);
    std::memcpy(out.data(), twoSides ? "GCR-1571" : "GCR-1541", 8);
    out[9] = static_cast<uint8_t>(entries);
    putWord(out, 10, kWrittenStoredSize, 2);
    GcrDisk layout{{}, "", 0, twoSides, std::vector<GcrTrackEntry>(entries), {}, {}, {}, {}, {}, {}, 0, 0};
    for (size_t entry = 0; entry < entries; ++entry) {
        int halves = halvesOfEntry(layout, static_cast<int>(entry));
        putWord(out, kTableStart + 4 * (entries + entry), zoneOf(sectorsPerTrack(image.shape, halves / 2)).speed, 4);
    }
    SectorWrite sectors[kMostSectors];
    for (int track = 1; track <= image.shape.tracks; ++track) {
        int count = sectorsPerTrack(image.shape, track);
        for (int s = 0; s < count; ++s) {
            sectors[s] = {blockAt(image, track, s), wantedError(image, track, s)};
            if (!sectors[s].data) return "lacks " + blockName(track, s) + " (it is cut short)";
        }
        size_t entry = static_cast<size_t>(entryOfTrack(layout, track));
        size_t at = out.size();
        putWord(out, kTableStart + 4 * entry, static_cast<uint32_t>(at), 4);
        out.resize(at + 2);
        const GcrZone &zone = zoneOf(count);
        encodeTrack(sectors, count, track, id, zone.gap, zone.trackBytes, out);
        putWord(out, at, static_cast<uint32_t>(out.size() - at - 2), 2);
        out.resize(at + 2 + kWrittenStoredSize, 0x00);
    }
    return "";
}

}  // namespace

std::string gcrFileBytes(const ImageBuffer &image, bool twoSides, std::vector<uint8_t> &out) {
    readAllTracks(image);
    if (image.gcr && image.gcr->twoSides == twoSides) return patchFile(image, out);
    return encodeFile(image, twoSides, out);
}

void printGcrConversion(const ImageBuffer &image) {
    readAllTracks(image);
    const GcrDisk &disk = *image.gcr;
    int counts[32] = {};
    int sectors = 0;
    for (int track = 1; track <= image.shape.tracks; ++track) {
        bool first = true;
        for (int s = 0; s < sectorsPerTrack(image.shape, track); ++s, ++sectors) {
            int error = disk.sectors[static_cast<size_t>(blockOffset(image.shape, track, s) / kBlockSize)].error;
            if (error == kReadOk) continue;
            ++counts[error - 10];
            consolePrintf("%s%i/%i %i %s", first ? ("track " + std::to_string(track) + ": ").c_str() : ", ", track, s,
                          error, readErrorName(error));
            first = false;
        }
        if (!first) consolePrintf("\n");
    }
    int failed = 0;
    for (int count : counts) failed += count;
    consolePrintf("%i sectors on %i tracks: %i read, %i with errors", sectors, image.shape.tracks, sectors - failed,
                  failed);
    const char *separator = " (";
    for (int error = 10; error < 42; ++error) {
        if (counts[error - 10] == 0) continue;
        consolePrintf("%s%i x %i", separator, counts[error - 10], error);
        separator = ", ";
    }
    consolePrintf("%s\n", failed ? ")" : "");
    std::string leftOut;
    for (const std::string &phrase : disk.leftOut) leftOut += (leftOut.empty() ? "" : "; ") + phrase;
    if (!leftOut.empty()) consolePrintf("The %s image leaves out: %s.\n", image.shape.family->name, leftOut.c_str());
}
