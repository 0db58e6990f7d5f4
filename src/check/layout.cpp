// Image layout beyond the family's map: D64 map extensions and error bytes.
// The image's tracks come from the disk floor (its shape).
#include "check/layout.h"

#include "disk/blockset.h"
#include "disk/entrychains.h"
#include "gcr/gcrdisk.h"

namespace {

constexpr int kSpeedDosOffset = kSpeedDosMapOffset;
constexpr int kDolphinDosOffset = kDolphinDosMapOffset;
constexpr int kFirstExtensionTrack = 36;
constexpr int kLastExtensionTrack = kExtendedD64Tracks;

// The first of the five entries at `offset` that is not well formed (more
// than 17 free sectors, a bit for a sector above 16), as the track it would
// cover; 0 when all are well formed, -1 when all their bytes are 0.
int firstMalformedTrack(const uint8_t *map, int offset) {
    bool anySet = false;
    int malformed = 0;
    for (int track = kFirstExtensionTrack; track <= kLastExtensionTrack; ++track) {
        const uint8_t *entry = map + offset + 4 * (track - kFirstExtensionTrack);
        if (malformed == 0 && (entry[0] > 17 || entry[3] > 0x01)) malformed = track;
        anySet = anySet || entry[0] || entry[1] || entry[2] || entry[3];
    }
    return anySet ? malformed : -1;
}

// Five well-formed entries, and not all bytes 0.
bool looksLikeExtension(const uint8_t *map, int offset) { return firstMalformedTrack(map, offset) == 0; }

// The map of tracks 36-40 is read on an image that holds those tracks whole.
bool hasFortyTracks(const ImageBuffer &image) {
    return image.shape.family == &kFamilyD64 && image.shape.tracks >= kLastExtensionTrack;
}

}  // namespace

MapExtension findMapExtension(const ImageBuffer &image) {
    const uint8_t *map = headerBlock(image);
    if (!map || !hasFortyTracks(image)) return MapExtension::None;
    if (looksLikeExtension(map, kSpeedDosOffset)) return MapExtension::SpeedDos;
    TrackSector border;
    if (!geosBorderBlock(image, border) && looksLikeExtension(map, kDolphinDosOffset))
        return MapExtension::DolphinDos;
    return MapExtension::None;
}

int malformedExtensionTrack(const ImageBuffer &image, MapExtension area) {
    const uint8_t *map = headerBlock(image);
    TrackSector border;
    if (!map || !hasFortyTracks(image) || area == MapExtension::None) return 0;
    if (area == MapExtension::DolphinDos && geosBorderBlock(image, border)) return 0;
    int track = firstMalformedTrack(map, mapExtensionOffset(area));
    return track < 0 ? 0 : track;
}

int mapExtensionOffset(MapExtension extension) {
    return extension == MapExtension::SpeedDos ? kSpeedDosOffset : kDolphinDosOffset;
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
