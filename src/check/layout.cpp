// Image layout beyond the 35-track map: track count, map extensions, error
// bytes.
#include "check/layout.h"

#include "disk/blockset.h"
#include "disk/entrychains.h"

namespace {

constexpr uint64_t kPlainSize = 174848;     // 35 tracks
constexpr uint64_t kPlainErrorsSize = 175531;  // 35 tracks and 683 error bytes
constexpr uint64_t kFortySize = 196608;     // 40 tracks
constexpr uint64_t kFortyErrorsSize = 197376;  // 40 tracks and 768 error bytes

constexpr int kSpeedDosOffset = 0xC0;
constexpr int kDolphinDosOffset = 0xAC;
constexpr int kExtensionTracks = 5;

int extensionOffset(MapExtension extension) {
    return extension == MapExtension::SpeedDos ? kSpeedDosOffset : kDolphinDosOffset;
}

// Five entries of at most 17 free sectors each, and not all bytes 0.
bool looksLikeExtension(const uint8_t *map, int offset) {
    bool anySet = false;
    for (int i = 0; i < 4 * kExtensionTracks; i += 4) {
        const uint8_t *entry = map + offset + i;
        if (entry[0] > 17 || entry[3] > 0x01) return false;
        anySet = anySet || entry[0] || entry[1] || entry[2] || entry[3];
    }
    return anySet;
}

}  // namespace

int imageTrackCount(const ImageBuffer &image) { return image.bytes.size() > kPlainErrorsSize ? 40 : 35; }

MapExtension findMapExtension(const ImageBuffer &image) {
    const uint8_t *map = blockAt(image, kDirTrack, 0);
    if (!map || imageTrackCount(image) != 40) return MapExtension::None;
    if (looksLikeExtension(map, kSpeedDosOffset)) return MapExtension::SpeedDos;
    TrackSector border;
    if (!geosBorderBlock(image, border) && looksLikeExtension(map, kDolphinDosOffset))
        return MapExtension::DolphinDos;
    return MapExtension::None;
}

const char *mapExtensionName(MapExtension extension) {
    switch (extension) {
        case MapExtension::SpeedDos: return "SpeedDOS";
        case MapExtension::DolphinDos: return "DolphinDOS";
        case MapExtension::None: break;
    }
    return "none";
}

int lastMapTrack(MapExtension extension) { return extension == MapExtension::None ? kMapTracks : kMaxTrack; }

const uint8_t *mapEntryBytes(const ImageBuffer &image, MapExtension extension, int track) {
    const uint8_t *map = blockAt(image, kDirTrack, 0);
    if (!map || track < 1 || track > lastMapTrack(extension)) return nullptr;
    if (track <= kMapTracks) return map + 4 * track;
    return map + extensionOffset(extension) + 4 * (track - kMapTracks - 1);
}

uint8_t *mapEntryBytes(ImageBuffer &image, MapExtension extension, int track) {
    return const_cast<uint8_t *>(mapEntryBytes(static_cast<const ImageBuffer &>(image), extension, track));
}

int errorByteOf(const ImageBuffer &image, int track, int sector) {
    uint64_t size = image.bytes.size();
    uint64_t base = size == kPlainErrorsSize ? kPlainSize : size == kFortyErrorsSize ? kFortySize : 0;
    int index = blockIndex(track, sector);
    if (base == 0 || index < 0 || base + static_cast<uint64_t>(index) >= size) return -1;
    return image.bytes[base + static_cast<uint64_t>(index)];
}

int dosErrorNumber(int errorByte) {
    switch (errorByte) {
        case 0x00:
        case 0x01: return 0;
        case 0x02: return 20;
        case 0x03: return 21;
        case 0x04: return 22;
        case 0x05: return 23;
        case 0x07: return 25;
        case 0x08: return 26;
        case 0x09: return 27;
        case 0x0B: return 29;
        case 0x0F: return 74;
        default: return -1;
    }
}
