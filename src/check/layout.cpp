// Image layout beyond the family's map: D64 map extensions and error bytes.
// The image's tracks come from the disk floor (its shape).
#include "check/layout.h"

#include "disk/blockset.h"
#include "disk/entrychains.h"
#include "gcr/gcrdisk.h"

namespace {

constexpr int kFirstExtensionTrack = 36;
constexpr int kLastExtensionTrack = kExtendedD64Tracks;

}  // namespace

MapExtension findMapExtension(const ImageBuffer &image) {
    int offset = extensionMapOffset(image);
    return offset == kSpeedDosMapOffset    ? MapExtension::SpeedDos
           : offset == kDolphinDosMapOffset ? MapExtension::DolphinDos
                                            : MapExtension::None;
}

int malformedExtensionTrack(const ImageBuffer &image, MapExtension area) {
    TrackSector border;
    if (area == MapExtension::None || (area == MapExtension::DolphinDos && geosBorderBlock(image, border))) return 0;
    int track = malformedExtensionEntry(image, mapExtensionOffset(area));
    return track < 0 ? 0 : track;
}

int mapExtensionOffset(MapExtension extension) {
    return extension == MapExtension::SpeedDos ? kSpeedDosMapOffset : kDolphinDosMapOffset;
}

const char *mapExtensionName(MapExtension extension) {
    switch (extension) {
        case MapExtension::SpeedDos: return "SpeedDOS";
        case MapExtension::DolphinDos: return "DolphinDOS";
        case MapExtension::None: break;
    }
    return "none";
}

int lastMapTrack(const ImageBuffer &image, MapExtension extension) {
    return extension == MapExtension::None ? mapTracks(image.shape) : kLastExtensionTrack;
}

const uint8_t *extensionEntryBytes(const ImageBuffer &image, MapExtension extension, int track) {
    const uint8_t *map = headerBlock(image);
    if (!map || track < kFirstExtensionTrack || track > kLastExtensionTrack) return nullptr;
    return map + mapExtensionOffset(extension) + 4 * (track - kFirstExtensionTrack);
}

bool readMapEntry(const ImageBuffer &image, MapExtension extension, int track, TrackMapEntry &entry) {
    if (track < 1 || track > lastMapTrack(image, extension)) return false;
    if (isMapTrack(image, track)) {
        if (!headerBlock(image)) return false;
        entry = trackMapEntry(image, track);
        return true;
    }
    return readExtensionEntry(image, mapExtensionOffset(extension), track, entry);
}

void writeMapEntry(ImageBuffer &image, MapExtension extension, int track, TrackMapEntry entry) {
    if (track < 1 || track > lastMapTrack(image, extension)) return;
    if (isMapTrack(image, track)) {
        setTrackMapEntry(image, track, entry);
        return;
    }
    writeExtensionEntry(image, mapExtensionOffset(extension), track, entry);
}

int mapEntryBitCount(const ImageBuffer &image) { return image.shape.family->map == MapLayout::D81 ? 40 : 24; }

int errorByteOf(const ImageBuffer &image, int track, int sector) {
    uint64_t size = image.bytes.size();
    uint64_t base = imageBlockBytes(image);
    int index = blockIndex(image.shape, track, sector);
    if (!image.shape.errorBytes || index < 0 || base + static_cast<uint64_t>(index) >= size) return -1;
    return image.bytes[base + static_cast<uint64_t>(index)];
}

int dosErrorNumber(int errorByte) { return errorOfJobCode(errorByte); }
