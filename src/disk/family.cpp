// Disk families and image shapes.
#include "disk/family.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>


namespace {

// A 1541's side, and each side of a 1571: 21 sectors on tracks 1-17, 19 on
// 18-24, 18 on 25-30, 17 from 31 on. A 1581 has 40 on every track.
constexpr TrackZone k1541Zones[4] = {{17, 21}, {24, 19}, {30, 18}, {35, 17}};
constexpr TrackZone k1581Zones[4] = {{83, 40}, {83, 40}, {83, 40}, {83, 40}};

// Sectors of a track counted on its side, by the zones (the last runs on).
constexpr int zoneSectors(const TrackZone (&zones)[4], int track) {
    for (const TrackZone &zone : zones)
        if (track <= zone.lastTrack) return zone.sectors;
    return zones[3].sectors;
}

// The track table of a layout of `lastTrack` tracks whose zones repeat on
// side 2 from track sideTracks + 1 (when not 0): sides follow each other.
constexpr TrackTable trackTableOf(const TrackZone (&zones)[4], int sideTracks, int lastTrack) {
    TrackTable table{lastTrack, {}, {}};
    for (int track = 1, start = 0; track < 256; ++track) {
        table.start[track] = start;
        int side = sideTracks > 0 && track > sideTracks ? track - sideTracks : track;
        table.sectors[track] = zoneSectors(zones, std::min(side, lastTrack));
        if (track <= lastTrack) start += table.sectors[track];
    }
    table.sectors[0] = table.sectors[1];
    return table;
}

// The tracks a 1541 image may have beyond the 35 of its map: DOS extensions
// format 40 tracks, so a D64 is addressed up to 40 whatever its length, and
// no walk over one stops earlier.
constexpr int kD64AddressedTracks = kExtendedD64Tracks;

constexpr TrackTable kD64Tracks = trackTableOf(k1541Zones, 0, 42);
constexpr TrackTable kD71Tracks = trackTableOf(k1541Zones, 35, 70);
constexpr TrackTable kD81Tracks = trackTableOf(k1581Zones, 0, kMostTracks);
static_assert(kD64Tracks.start[36] == 683 && kD64Tracks.start[41] == 768 && kD71Tracks.start[71] == 1366 &&
              kD81Tracks.start[81] == 3200);

}  // namespace

const DiskFamily kFamilyD64{.name = "d64", .zones = {k1541Zones[0], k1541Zones[1], k1541Zones[2], k1541Zones[3]},
                            .sideTracks = 0, .trackTable = &kD64Tracks, .addressedTracks = kD64AddressedTracks,
                            .mapTracks = 35,
                            .systemTrack = 18, .directorySector = 1, .directoryInterleave = 3, .fileInterleave = 10,
                            .directoryCapacity = 144, .map = MapLayout::D64, .nameOffset = 0x90, .idOffset = 0xA2,
                            .typeFive = "???", .drive = "1541", .dosVersion = 0x41,
                            .mapBlocks = "18/0, the map block",
                            .dosType = "2A", .sidesFlag = 0x00, .headerPadding = 4, .linkedMapBlocks = 0, .mapIoByte = 0};
const DiskFamily kFamilyD71{.name = "d71", .zones = {k1541Zones[0], k1541Zones[1], k1541Zones[2], k1541Zones[3]},
                            .sideTracks = 35, .trackTable = &kD71Tracks, .addressedTracks = 0, .mapTracks = 70,
                            .systemTrack = 18, .directorySector = 1, .directoryInterleave = 3, .fileInterleave = 6,
                            .directoryCapacity = 144, .map = MapLayout::D71, .nameOffset = 0x90, .idOffset = 0xA2,
                            .typeFive = "???", .drive = "1571", .dosVersion = 0x41,
                            .mapBlocks = "18/0 and 53/0, the map, and the rest of track 53",
                            .dosType = "2A", .sidesFlag = 0x80, .headerPadding = 4, .linkedMapBlocks = 0, .mapIoByte = 0};
const DiskFamily kFamilyD81{.name = "d81", .zones = {k1581Zones[0], k1581Zones[1], k1581Zones[2], k1581Zones[3]},
                            .sideTracks = 0, .trackTable = &kD81Tracks, .addressedTracks = 0, .mapTracks = 80,
                            .systemTrack = 40, .directorySector = 3, .directoryInterleave = 1, .fileInterleave = 1,
                            .directoryCapacity = 296, .map = MapLayout::D81, .nameOffset = 0x04,
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

// Every length a D64 image file came in before the other sizes were known,
// smallest first: the rules for sizes outside the family table read these.
constexpr ImageForm kImageForms[] = {
    {174848, 35, false},  // 683 blocks
    {175531, 35, true},   // and 683 error bytes
    {196608, 40, false},  // 768 blocks
    {197376, 40, true},   // and 768 error bytes
};

}  // namespace

const ImageForm *expectedImageForm(uint64_t size) {
    for (const ImageForm &form : kImageForms)
        if (form.size >= size) return &form;
    return nullptr;
}

uint64_t formBlockBytes(const ImageForm &form) {
    return static_cast<uint64_t>(kD64Tracks.start[form.tracks + 1]) * kBlockSize;
}

bool imageIsTruncated(uint64_t size) {
    const ImageForm *form = expectedImageForm(size);
    return form && form->size != size;
}

int imageTrackCount(uint64_t size) {
    int tracks = kImageForms[0].tracks;
    for (const ImageForm &form : kImageForms)
        if (formBlockBytes(form) <= size) tracks = std::max(tracks, form.tracks);
    return tracks;
}

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

bool isSystemBlock(const DiskShape &shape, int track, int sector) {
    if (track == shape.systemTrack && sector == 0) return true;
    if (shape.family->map == MapLayout::D81) return track == shape.systemTrack && (sector == 1 || sector == 2);
    return track != shape.systemTrack && isReservedTrack(shape, track) && sector == 0;
}

bool isReservedTrack(const DiskShape &shape, int track) {
    int sides = shape.family->sideTracks;
    return track == shape.systemTrack || (sides > 0 && shape.tracks > sides && track == shape.systemTrack + sides);
}
