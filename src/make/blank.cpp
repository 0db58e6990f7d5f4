// Blank disks, laid out from the family record.
#include "make/blank.h"

#include <cassert>

#include "disk/bam.h"
#include "disk/format.h"

namespace {

constexpr uint8_t kNoError = 0x01;   // the error byte of a block read without error

// A track's map entry with every sector free.
TrackMapEntry allFree(const DiskShape &shape, int track) {
    int sectors = sectorsPerTrack(shape, track);
    return {static_cast<uint8_t>(sectors), (uint64_t{1} << sectors) - 1};
}

// The map of tracks 36-40 where the DOS extension keeps it, every block free.
void writeExtendedMap(ImageBuffer &image, ExtendedMap map) {
    if (map == ExtendedMap::None) return;
    int offset = map == ExtendedMap::SpeedDos ? kSpeedDosMapOffset : kDolphinDosMapOffset;
    for (int track = mapTracks(image.shape) + 1; track <= kExtendedD64Tracks; ++track)
        writeExtensionEntry(image, offset, track, allFree(image.shape, track));
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
    formatSystemTrack(image, {disk.name, disk.nameLength, disk.id});
    writeExtendedMap(image, disk.extendedMap);
    return image;
}
