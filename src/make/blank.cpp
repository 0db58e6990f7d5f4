// Blank disks, laid out from the family record.
#include "make/blank.h"

#include <algorithm>
#include <cassert>

#include "disk/bam.h"

namespace {

constexpr uint8_t kPadding = 0xA0;
constexpr uint8_t kNoError = 0x01;   // the error byte of a block read without error
constexpr int kNameBytes = 16;
constexpr int kIdBytes = 2;
constexpr int kExtensionEntry = 4;   // count and 3 bitmap bytes, as on tracks 1-35

// A track's map entry with every sector free.
TrackMapEntry allFree(const DiskShape &shape, int track) {
    int sectors = sectorsPerTrack(shape, track);
    return {static_cast<uint8_t>(sectors), (uint64_t{1} << sectors) - 1};
}

// The header block: link to the directory, DOS version, sides flag, then
// name, id and DOS type with their $A0 padding.
void writeHeader(ImageBuffer &image, const BlankDisk &disk) {
    const DiskFamily &family = *disk.family;
    uint8_t *header = headerBlock(image);
    header[0] = static_cast<uint8_t>(family.systemTrack);
    header[1] = static_cast<uint8_t>(family.directorySector);
    header[2] = family.dosVersion;
    header[3] = family.sidesFlag;
    uint8_t *name = header + family.nameOffset;
    std::fill_n(name, kNameBytes + 2, kPadding);
    std::copy_n(disk.name, disk.nameLength, name);
    uint8_t *id = header + family.idOffset;
    std::copy_n(disk.id, kIdBytes, id);
    id[2] = kPadding;
    id[3] = static_cast<uint8_t>(family.dosType[0]);
    id[4] = static_cast<uint8_t>(family.dosType[1]);
    std::fill_n(id + 5, family.headerPadding, kPadding);
}

// The heads of the map blocks that carry one (a 1581's): link, DOS version
// and its complement, id, I/O byte.
void writeMapHeads(ImageBuffer &image, const BlankDisk &disk) {
    const DiskFamily &family = *disk.family;
    for (int i = 1; i <= family.linkedMapBlocks; ++i) {
        uint8_t *block = blockAt(image, family.systemTrack, i);
        bool last = i == family.linkedMapBlocks;
        block[0] = last ? 0 : static_cast<uint8_t>(family.systemTrack);
        block[1] = last ? 0xFF : static_cast<uint8_t>(i + 1);
        block[2] = family.dosVersion;
        block[3] = static_cast<uint8_t>(~family.dosVersion);
        std::copy_n(disk.id, kIdBytes, block + 4);
        block[6] = family.mapIoByte;
    }
}

// Every map track free, except the header, map and first directory block on
// the system track, and a reserved track other than it (a 1571's 53) wholly.
void writeMap(ImageBuffer &image) {
    const DiskShape &shape = image.shape;
    for (int track = 1; track <= mapTracks(shape); ++track) {
        TrackMapEntry entry = allFree(shape, track);
        if (isReservedTrack(shape, track) && track != shape.systemTrack) entry = {0, 0};
        if (track == shape.systemTrack) {
            for (int sector = 0; sector < sectorsPerTrack(shape, track); ++sector) {
                if (!isSystemBlock(shape, track, sector) && sector != shape.family->directorySector) continue;
                entry.freeBits &= ~(uint64_t{1} << sector);
                --entry.freeCount;
            }
        }
        setTrackMapEntry(image, track, entry);
    }
}

// The map of tracks 36-40 where the DOS extension keeps it, every block free.
void writeExtendedMap(ImageBuffer &image, ExtendedMap map) {
    if (map == ExtendedMap::None) return;
    uint8_t *entry = headerBlock(image) + (map == ExtendedMap::SpeedDos ? kSpeedDosMapOffset : kDolphinDosMapOffset);
    for (int track = mapTracks(image.shape) + 1; track <= kExtendedD64Tracks; ++track, entry += kExtensionEntry) {
        TrackMapEntry free = allFree(image.shape, track);
        entry[0] = free.freeCount;
        for (int i = 1; i < kExtensionEntry; ++i) entry[i] = static_cast<uint8_t>(free.freeBits >> (8 * (i - 1)));
    }
}

}  // namespace

ImageBuffer makeBlankImage(const BlankDisk &disk) {
    assert(disk.extendedMap == ExtendedMap::None || disk.family == &kFamilyD64);
    int tracks = disk.extendedMap == ExtendedMap::None ? disk.family->mapTracks : kExtendedD64Tracks;
    ImageBuffer image;
    image.shape = formattedShape(*disk.family, tracks, disk.errorBytes);
    size_t blockBytes = static_cast<size_t>(blockCount(image.shape)) * kBlockSize;
    image.bytes.assign(blockBytes + (disk.errorBytes ? blockBytes / kBlockSize : 0), 0);
    std::fill(image.bytes.begin() + static_cast<std::ptrdiff_t>(blockBytes), image.bytes.end(), kNoError);
    writeHeader(image, disk);
    writeMapHeads(image, disk);
    writeMap(image);
    writeExtendedMap(image, disk.extendedMap);
    uint8_t *directory = blockAt(image, image.shape.systemTrack, image.shape.family->directorySector);
    directory[1] = 0xFF;
    return image;
}
