// Disk families and image shapes.
#include "disk/family.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "disk/image.h"

// A 1541's side, and each side of a 1571: 21 sectors on tracks 1-17, 19 on
// 18-24, 18 on 25-30, 17 from 31 on. A 1581 has 40 on every track.
const DiskFamily kFamilyD64{.name = "d64", .zones = {{17, 21}, {24, 19}, {30, 18}, {35, 17}}, .sideTracks = 0, .mapTracks = 35,
                            .systemTrack = 18, .directorySector = 1, .directoryInterleave = 3, .fileInterleave = 10,
                            .directoryCapacity = 144, .map = MapLayout::D64, .nameOffset = 0x90, .idOffset = 0xA2,
                            .typeFive = "???", .drive = "1541", .dosVersion = 0x41,
                            .mapBlocks = "18/0, the map block",
                            .dosType = "2A", .sidesFlag = 0x00, .headerPadding = 4, .linkedMapBlocks = 0, .mapIoByte = 0};
const DiskFamily kFamilyD71{.name = "d71", .zones = {{17, 21}, {24, 19}, {30, 18}, {35, 17}}, .sideTracks = 35, .mapTracks = 70,
                            .systemTrack = 18, .directorySector = 1, .directoryInterleave = 3, .fileInterleave = 6,
                            .directoryCapacity = 144, .map = MapLayout::D71, .nameOffset = 0x90, .idOffset = 0xA2,
                            .typeFive = "???", .drive = "1571", .dosVersion = 0x41,
                            .mapBlocks = "18/0 and 53/0, the map, and the rest of track 53",
                            .dosType = "2A", .sidesFlag = 0x80, .headerPadding = 4, .linkedMapBlocks = 0, .mapIoByte = 0};
const DiskFamily kFamilyD81{.name = "d81", .zones = {{83, 40}, {83, 40}, {83, 40}, {83, 40}}, .sideTracks = 0,
                            .mapTracks = 80, .systemTrack = 40, .directorySector = 3, .directoryInterleave = 1,
                            .fileInterleave = 1, .directoryCapacity = 296, .map = MapLayout::D81, .nameOffset = 0x04,
                            .idOffset = 0x16, .typeFive = "CBM", .drive = "1581", .dosVersion = 0x44,
                            .mapBlocks = "40/0-40/2, the header and map",
                            .dosType = "3D", .sidesFlag = 0x00, .headerPadding = 2, .linkedMapBlocks = 2,
                            .mapIoByte = 0xC0};

namespace {

// The sizes the families come in, smallest first (the facts' size table).
struct FamilySize {
    uint64_t size;
    const DiskFamily *family;
    int tracks;
    bool errorBytes;
};

constexpr FamilySize kFamilySizes[] = {
    {174848, &kFamilyD64, 35, false}, {175531, &kFamilyD64, 35, true},  {179200, &kFamilyD64, 36, false},
    {179900, &kFamilyD64, 36, true},  {183552, &kFamilyD64, 37, false}, {184269, &kFamilyD64, 37, true},
    {187904, &kFamilyD64, 38, false}, {188638, &kFamilyD64, 38, true},  {192256, &kFamilyD64, 39, false},
    {193007, &kFamilyD64, 39, true},  {196608, &kFamilyD64, 40, false}, {197376, &kFamilyD64, 40, true},
    {200960, &kFamilyD64, 41, false}, {201745, &kFamilyD64, 41, true},  {205312, &kFamilyD64, 42, false},
    {206114, &kFamilyD64, 42, true},  {349696, &kFamilyD71, 70, false}, {351062, &kFamilyD71, 70, true},
    {819200, &kFamilyD81, 80, false}, {822400, &kFamilyD81, 80, true},  {829440, &kFamilyD81, 81, false},
    {832680, &kFamilyD81, 81, true},  {839680, &kFamilyD81, 82, false}, {842960, &kFamilyD81, 82, true},
    {849920, &kFamilyD81, 83, false}, {853240, &kFamilyD81, 83, true},
};

// Sectors of a track counted on its side, by the family's zones.
int zoneSectors(const DiskFamily &family, int track) {
    for (const TrackZone &zone : family.zones)
        if (track <= zone.lastTrack) return zone.sectors;
    return family.zones[3].sectors;
}

// The tracks a 1541 image may have beyond the 35 of its map, and the blocks
// of such a 40-track image: DOS extensions format 40 tracks, so a D64 is
// addressed up to 40 whatever its length, and no walk over one stops earlier.
constexpr int kD64ExtendedTracks = kExtendedD64Tracks;
constexpr int kD64ExtendedBlocks = 768;

// Byte offset of sector 0 of each track 1..42 of the 1541 layout (index 0
// for track 1): 21 sectors up to 17, 19 to 24, 18 to 30, 17 above.
struct D64Offsets {
    int at[42];
    constexpr D64Offsets() : at() {
        for (int track = 1, offset = 0; track <= 42; ++track) {
            at[track - 1] = offset;
            offset += (track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17) * kBlockSize;
        }
    }
};
constexpr D64Offsets kD64Offsets;

int d64TrackOffset(int track) { return kD64Offsets.at[track - 1]; }

}  // namespace

DiskShape shapeForSize(uint64_t size) {
    for (const FamilySize &known : kFamilySizes) {
        if (known.size != size) continue;
        const DiskFamily &family = *known.family;
        return {&family, known.tracks, known.errorBytes, true, family.systemTrack, 1, family.mapTracks};
    }
    DiskShape shape = kShapeD64;
    shape.tracks = imageTrackCount(size);
    return shape;
}

DiskShape nearestKnownShape(uint64_t size, uint64_t &knownSize) {
    const FamilySize *nearest = &kFamilySizes[0];
    auto distance = [size](uint64_t known) { return known > size ? known - size : size - known; };
    for (const FamilySize &known : kFamilySizes)
        if (distance(known.size) < distance(nearest->size)) nearest = &known;
    knownSize = nearest->size;
    return shapeForSize(nearest->size);
}

const DiskFamily *familyNamed(const char *name) {
    for (const DiskFamily *family : {&kFamilyD64, &kFamilyD71, &kFamilyD81})
        if (std::strcmp(family->name, name) == 0) return family;
    return nullptr;
}

DiskShape formattedShape(const DiskFamily &family, int tracks, bool errorBytes) {
    DiskShape shape{&family, std::max(tracks, family.mapTracks), errorBytes, true, family.systemTrack, 1,
                    family.mapTracks};
    uint64_t blocks = static_cast<uint64_t>(blockCount(shape));
    return shapeForSize(blocks * (errorBytes ? kBlockSize + 1 : kBlockSize));
}

DiskShape singleSided(const DiskShape &shape) {
    DiskShape side = shape;
    side.tracks = shape.family->sideTracks;
    side.areaLast = std::min(side.areaLast, side.tracks);
    return side;
}

int sectorsPerTrack(const DiskShape &shape, int track) {
    const DiskFamily &family = *shape.family;
    if (family.sideTracks > 0 && track > family.sideTracks) track -= family.sideTracks;
    return zoneSectors(family, track);
}

int highestTrack(const DiskShape &shape) {
    return shape.family == &kFamilyD64 ? std::max(shape.tracks, kD64ExtendedTracks) : shape.tracks;
}

int mapTracks(const DiskShape &shape) { return std::min(shape.family->mapTracks, shape.tracks); }

// The blocks before the last track's and those of the last track, as
// blockOffset and sectorsPerTrack count them (shape.tracks lies within the
// family's range, so neither clamps it). The block gate asks this on every
// access: it is worked out directly.
int blockCount(const DiskShape &shape) {
    const DiskFamily &family = *shape.family;
    int track = shape.tracks;
    if (family.map == MapLayout::D81) return (track - 1) * kMostSectors + zoneSectors(family, track);
    int side = family.sideTracks;
    if (side > 0 && track > side)
        return (d64TrackOffset(side + 1) + d64TrackOffset(track - side)) / kBlockSize + zoneSectors(family, track - side);
    return d64TrackOffset(track) / kBlockSize + zoneSectors(family, track);
}

int walkBound(const DiskShape &shape) { return std::max(blockCount(shape), kD64ExtendedBlocks); }

int blockOffset(const DiskShape &shape, int track, int sector) {
    track &= 0xFF;
    sector &= 0xFF;
    int last = highestTrack(shape);
    if (track == 0) track = 1;
    if (track > last) track = last;
    const DiskFamily &family = *shape.family;
    if (family.map == MapLayout::D81) return ((track - 1) * kMostSectors + sector) * kBlockSize;
    if (family.sideTracks > 0 && track > family.sideTracks)
        return d64TrackOffset(family.sideTracks + 1) + d64TrackOffset(track - family.sideTracks) + sector * kBlockSize;
    return d64TrackOffset(track) + sector * kBlockSize;
}

bool isSystemBlock(const DiskShape &shape, int track, int sector) {
    if (track == shape.systemTrack && sector == 0) return true;
    if (shape.family->map == MapLayout::D81) return track == shape.systemTrack && (sector == 1 || sector == 2);
    return track != shape.systemTrack && isReservedTrack(shape, track) && sector == 0;
}

bool isReservedTrack(const DiskShape &shape, int track) {
    int sides = shape.family->sideTracks;
    return track == shape.systemTrack || (sides > 0 && shape.tracks > sides && track == shape.systemTrack + sides);
}
