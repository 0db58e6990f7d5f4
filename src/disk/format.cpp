// The format command's writes on a system track.
#include "disk/format.h"

#include <algorithm>
#include <cstring>

#include "disk/bam.h"

namespace {

constexpr uint8_t kPadding = 0xA0;
constexpr int kNameBytes = 16;
constexpr int kIdBytes = 2;

// The header block: link to the directory, DOS version, sides flag, then
// name, id and DOS type with their $A0 padding.
void writeHeader(ImageBuffer &image, const FormatNames &names) {
    const DiskShape &shape = image.shape;
    const DiskFamily &family = *shape.family;
    uint8_t *header = headerBlock(image);
    std::memset(header, 0, kBlockSize);
    header[0] = static_cast<uint8_t>(shape.systemTrack);
    header[1] = static_cast<uint8_t>(family.directorySector);
    header[2] = family.dosVersion;
    header[3] = family.sidesFlag;
    uint8_t *name = header + family.nameOffset;
    std::fill_n(name, kNameBytes + 2, kPadding);
    std::copy_n(names.name, names.nameLength, name);
    uint8_t *id = header + family.idOffset;
    std::copy_n(names.id, kIdBytes, id);
    id[2] = kPadding;
    id[3] = static_cast<uint8_t>(family.dosType[0]);
    id[4] = static_cast<uint8_t>(family.dosType[1]);
    std::fill_n(id + 5, family.headerPadding, kPadding);
}

// The heads of the map blocks that carry one (a 1581's): link, DOS version
// and its complement, id, I/O byte; the rest of each block $00.
void writeMapHeads(ImageBuffer &image, const FormatNames &names) {
    const DiskShape &shape = image.shape;
    const DiskFamily &family = *shape.family;
    for (int i = 1; i <= family.linkedMapBlocks; ++i) {
        uint8_t *block = blockAt(image, shape.systemTrack, i);
        bool last = i == family.linkedMapBlocks;
        std::memset(block, 0, kBlockSize);
        block[0] = last ? 0 : static_cast<uint8_t>(shape.systemTrack);
        block[1] = last ? 0xFF : static_cast<uint8_t>(i + 1);
        block[2] = family.dosVersion;
        block[3] = static_cast<uint8_t>(~family.dosVersion);
        std::copy_n(names.id, kIdBytes, block + 4);
        block[6] = family.mapIoByte;
    }
}

// Every track of the area free, except the header, map and first directory
// block on the system track; the tracks outside the area, and a reserved
// track other than the system track (a 1571's 53), wholly used.
void writeMap(ImageBuffer &image) {
    const DiskShape &shape = image.shape;
    for (int track = 1; track <= mapTracks(shape); ++track) {
        int sectors = sectorsPerTrack(shape, track);
        TrackMapEntry entry{static_cast<uint8_t>(sectors), (uint64_t{1} << sectors) - 1};
        bool outside = track < shape.areaFirst || track > shape.areaLast;
        if (outside || (isReservedTrack(shape, track) && track != shape.systemTrack)) entry = {0, 0};
        if (track == shape.systemTrack) {
            for (int sector = 0; sector < sectors; ++sector) {
                if (!isSystemBlock(shape, track, sector) && sector != shape.family->directorySector) continue;
                entry.freeBits &= ~(uint64_t{1} << sector);
                --entry.freeCount;
            }
        }
        setTrackMapEntry(image, track, entry);
    }
}

}  // namespace

void formatSystemTrack(ImageBuffer &image, const FormatNames &names) {
    writeHeader(image, names);
    writeMapHeads(image, names);
    writeMap(image);
    uint8_t *directory = blockAt(image, image.shape.systemTrack, image.shape.family->directorySector);
    std::memset(directory, 0, kBlockSize);
    directory[1] = 0xFF;
}
