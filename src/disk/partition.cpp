// 1581 partitions as sub-directories.
#include "disk/partition.h"

#include <algorithm>

#include "disk/directory.h"
#include "disk/entrychains.h"

PartitionFit partitionShape(const DiskShape &outer, const uint8_t *slot, DiskShape &inside) {
    if (outer.family->map != MapLayout::D81 || (slot[kSlotType] & 7) != kTypePartition) return PartitionFit::NotCbm;
    int first = slot[kSlotStartTrack];
    int perTrack = sectorsPerTrack(outer, first);
    int size = slotBlockCount(slot);
    if (slot[kSlotStartSector] != 0) return PartitionFit::NotTrackStart;
    if (size % perTrack != 0) return PartitionFit::NotWholeTracks;
    int tracks = size / perTrack;
    if (tracks < kPartitionLeastTracks) return PartitionFit::TooSmall;
    int last = first + tracks - 1;
    if (first < outer.areaFirst || last > std::min(outer.areaLast, mapTracks(outer))) return PartitionFit::OutsideArea;
    if (first <= outer.systemTrack && outer.systemTrack <= last) return PartitionFit::CrossesSystem;
    inside = outer;
    inside.systemTrack = first;
    inside.areaFirst = first;
    inside.areaLast = last;
    return PartitionFit::Fits;
}

const char *partitionFitText(PartitionFit fit) {
    switch (fit) {
        case PartitionFit::Fits: return "it can be entered";
        case PartitionFit::NotCbm: return "it is not a partition (type CBM on a 1581 disk)";
        case PartitionFit::NotTrackStart: return "its first block is not sector 0 of a track";
        case PartitionFit::NotWholeTracks: return "it does not end at the end of a track";
        case PartitionFit::TooSmall: return "it spans fewer than 3 tracks";
        case PartitionFit::OutsideArea: return "it runs beyond the tracks of the directory it lies in";
        case PartitionFit::CrossesSystem: return "it holds the track of the directory it lies in";
    }
    return "";
}

bool partitionFormatted(const ImageBuffer &image, const DiskShape &inside) {
    const uint8_t *header = blockAt(image, inside.systemTrack, 0);
    const uint8_t *map = blockAt(image, inside.systemTrack, 1);
    return header && map && header[2] == 0x44 && map[2] == 0x44 && map[3] == 0xBB;
}

const uint8_t *findEntryNamed(const ImageBuffer &image, const uint8_t *name, int length) {
    const uint8_t *other = nullptr;
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, false)) {
        if (slotNameLength(slot) != length || !std::equal(name, name + length, slot + kSlotName)) continue;
        if ((slot[kSlotType] & 7) == kTypePartition && image.shape.family->map == MapLayout::D81) return slot;
        if (!other) other = slot;
    }
    return other;
}

std::vector<SubDirectory> newSubDirectories(const ImageBuffer &image, SubDirectoryVisits &visits) {
    std::vector<SubDirectory> found;
    if (image.shape.family->map != MapLayout::D81 || !headerBlock(image)) return found;
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, false)) {
        DiskShape inside;
        if (partitionShape(image.shape, slot, inside) != PartitionFit::Fits || !partitionFormatted(image, inside))
            continue;
        bool &entered = visits.entered[inside.areaFirst][inside.areaLast];
        if (entered) continue;
        entered = true;
        if (visits.count >= kMostSubDirectories) {
            ++visits.passedOver;
            continue;
        }
        ++visits.count;
        found.push_back({slot, inside});
    }
    return found;
}
