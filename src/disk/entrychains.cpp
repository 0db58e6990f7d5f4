// The chains an entry owns, and the GEOS border block.
#include "disk/entrychains.h"

#include <cstring>

#include "disk/directory.h"

namespace {

constexpr int kGeosVlir = 1;

constexpr int kGeosBorderOffset = 0xAB;
constexpr char kGeosSignature[] = "GEOS format V1.";

}  // namespace

EntryKind entryKind(const uint8_t *slot) {
    int type = slot[kSlotType] & 7;
    bool geos = type >= 1 && type <= 3 && slot[kSlotGeosType] != 0;
    int structure = slot[kSlotRecordLength];
    return {type, geos, geos && structure == kGeosVlir, geos && structure > kGeosVlir};
}

SlotChains slotChains(const uint8_t *slot, EntryKind kind) {
    SlotChains named{1, {{kind.vlir ? ChainRole::VlirIndex : ChainRole::Data, pairAt(slot, kSlotStartTrack)}, {}}};
    if (kind.type == kTypeRel) named.chains[named.count++] = {ChainRole::SideSectors, pairAt(slot, kSlotSideOrInfo)};
    else if (kind.geos) named.chains[named.count++] = {ChainRole::GeosInfo, pairAt(slot, kSlotSideOrInfo)};
    return named;
}

VlirPair vlirRecord(const uint8_t *index, int record, TrackSector &start) {
    TrackSector pair = pairAt(index, 2 + 2 * record);
    if (pair.track == 0) return pair.sector == 0 ? VlirPair::End : VlirPair::Empty;
    start = pair;
    return VlirPair::Record;
}

bool geosBorderBlock(const ImageBuffer &image, TrackSector &border) {
    const uint8_t *map = headerBlock(image);
    if (!map || std::memcmp(map + kGeosSignatureOffset, kGeosSignature, sizeof kGeosSignature - 1) != 0)
        return false;
    border = pairAt(map, kGeosBorderOffset);
    return true;
}
