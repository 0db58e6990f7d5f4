// Files beyond one chain: reading and writing their structures.
#include "disk/filelayout.h"

#include <algorithm>
#include <cstring>

#include "disk/chain.h"
#include "disk/directory.h"
#include "disk/walk.h"

namespace {

constexpr uint8_t kSingleBlockLink[2] = {0x00, 0xFF};  // an info or index block: a chain of one

// Side sector layout.
constexpr int kSideNumber = 2;
constexpr int kSideRecordLength = 3;
constexpr int kSideList = 4;
constexpr int kSideDataList = 16;
constexpr int kSuperGroupList = 3;

// The 1581's I/O byte in the first map block, and its bit for REL files
// without a super side sector.
constexpr int kIoByte = 6;
constexpr uint8_t kNoSuperSideBit = 0x20;

// Walks the chain from `start` to its end, appending its payload to `data`
// when given; true when the walk reached a link of track 0.
bool readWholeChain(const ImageBuffer &image, TrackSector start, std::vector<uint8_t> *data) {
    BlockWalk walk = startWalk(start, kMeasureRules);
    while (const uint8_t *block = walkNext(image, walk))
        if (data) data->insert(data->end(), block + 2, block + 2 + blockPayloadBytes(walk));
    return walk.stop == WalkStop::EndOfChain;
}

// The block a slot names for a block of its own (GEOS info, VLIR index): its
// bytes, or nullptr when it names none the image holds.
const uint8_t *namedBlock(const ImageBuffer &image, TrackSector at) {
    return isStartBlock(image.shape, at) ? blockAt(image, at.track, at.sector) : nullptr;
}

std::string readVlirRecords(const ImageBuffer &image, const uint8_t *index, FileStructure &structure,
                            std::vector<uint8_t> *data) {
    for (int record = 0; record < kVlirRecords; ++record) {
        TrackSector start{0, 0};
        VlirPair pair = vlirRecord(index, record, start);
        if (pair == VlirPair::End) break;
        VlirSlot slot{pair, index[3 + 2 * record], data ? data->size() : 0, 0};
        if (pair == VlirPair::Record && !readWholeChain(image, start, data))
            return "has a VLIR record (" + std::to_string(record) +
                   ") whose chain breaks off before its last block, so only part of the file could be taken";
        if (data && pair == VlirPair::Record) slot.length = data->size() - slot.offset;
        structure.records.push_back(slot);
    }
    return "";
}

void writeSingleBlock(uint8_t *block, const uint8_t *payload) {
    std::memcpy(block, kSingleBlockLink, 2);
    std::memcpy(block + 2, payload, kBlockPayload);
}

}  // namespace

std::string readFileStructure(const ImageBuffer &image, const uint8_t *slot, FileStructure &structure,
                              std::vector<uint8_t> *data) {
    structure = FileStructure{};
    if (data) data->clear();
    EntryKind kind = entryKind(slot);
    const char *broken = "has a chain that breaks off before its last block, so only part of the file could be taken";
    if (kind.type == kTypeRel) {
        structure.form = FileForm::Rel;
        structure.recordLength = slot[kSlotRecordLength];
        if (structure.recordLength == 0) return "is a REL file of record length 0, which no drive writes";
    } else if (kind.geos) {
        if (kind.unknownStructure)
            return "is a GEOS file whose structure byte is " + std::to_string(slot[kSlotRecordLength]) +
                   ", neither sequential (0) nor VLIR (1)";
        structure.form = kind.vlir ? FileForm::GeosVlir : FileForm::GeosSequential;
        std::memcpy(structure.geosFields, slot + kSlotRecordLength, kGeosFields);
        const uint8_t *info = namedBlock(image, pairAt(slot, kSlotSideOrInfo));
        if (!info) return "is a GEOS file whose info block (bytes 15-16) lies on no block of the disk";
        std::memcpy(structure.info, info + 2, kBlockPayload);
    }
    TrackSector start = pairAt(slot, kSlotStartTrack);
    if (structure.form != FileForm::GeosVlir) return readWholeChain(image, start, data) ? "" : broken;
    const uint8_t *index = namedBlock(image, start);
    if (!index) return "is a GEOS VLIR file whose index block lies on no block of the disk";
    return readVlirRecords(image, index, structure, data);
}

// ---- REL files ----

bool relUsesSuperSide(const ImageBuffer &image) {
    if (image.shape.family->map != MapLayout::D81) return false;
    const uint8_t *map = blockAt(image, image.shape.systemTrack, 1);
    return !map || !(map[kIoByte] & kNoSuperSideBit);
}

int relMostSideSectors(const ImageBuffer &image) {
    return relUsesSuperSide(image) ? kRelGroups * kRelSidesPerGroup : kRelSidesPerGroup;
}

std::vector<RelPart> relStreamOrder(int dataBlocks, bool superSide) {
    std::vector<RelPart> order;
    int blocks = std::max(dataBlocks, 1);
    order.reserve(static_cast<size_t>(blocks + relSideSectors(blocks) + 1));
    for (int data = 0; data < blocks; ++data) {
        order.push_back({RelPart::Data, data});
        if (data % kRelPairsPerSide != 0) continue;
        if (data == 0 && superSide) order.push_back({RelPart::Super, 0});
        order.push_back({RelPart::Side, data / kRelPairsPerSide});
    }
    return order;
}

void writeRelFile(ImageBuffer &image, const std::vector<TrackSector> &data, const std::vector<TrackSector> &sides,
                  TrackSector super, int recordLength, const uint8_t *bytes, size_t size) {
    writeChainBlocks(image, data.data(), static_cast<int>(data.size()), bytes, size);
    int count = static_cast<int>(sides.size());
    for (int side = 0; side < count; ++side) {
        uint8_t *block = blockAt(image, sides[static_cast<size_t>(side)].track, sides[static_cast<size_t>(side)].sector);
        std::memset(block, 0, kBlockSize);
        int listed = std::min(kRelPairsPerSide, static_cast<int>(data.size()) - side * kRelPairsPerSide);
        TrackSector next = side + 1 < count ? sides[static_cast<size_t>(side) + 1] : TrackSector{0, 15 + 2 * listed};
        block[0] = static_cast<uint8_t>(next.track);
        block[1] = static_cast<uint8_t>(next.sector);
        block[kSideNumber] = static_cast<uint8_t>(side % kRelSidesPerGroup);
        block[kSideRecordLength] = static_cast<uint8_t>(recordLength);
        int groupFirst = side - side % kRelSidesPerGroup;
        for (int member = groupFirst; member < std::min(count, groupFirst + kRelSidesPerGroup); ++member) {
            TrackSector at = sides[static_cast<size_t>(member)];
            block[kSideList + 2 * (member - groupFirst)] = static_cast<uint8_t>(at.track);
            block[kSideList + 2 * (member - groupFirst) + 1] = static_cast<uint8_t>(at.sector);
        }
        for (int pair = 0; pair < listed; ++pair) {
            TrackSector at = data[static_cast<size_t>(side * kRelPairsPerSide + pair)];
            block[kSideDataList + 2 * pair] = static_cast<uint8_t>(at.track);
            block[kSideDataList + 2 * pair + 1] = static_cast<uint8_t>(at.sector);
        }
    }
    if (super.track == 0) return;
    uint8_t *block = blockAt(image, super.track, super.sector);
    std::memset(block, 0, kBlockSize);
    block[0] = static_cast<uint8_t>(sides[0].track);
    block[1] = static_cast<uint8_t>(sides[0].sector);
    block[kSideNumber] = kSuperSideMark;
    for (int group = 0; group * kRelSidesPerGroup < count; ++group) {
        TrackSector first = sides[static_cast<size_t>(group * kRelSidesPerGroup)];
        block[kSuperGroupList + 2 * group] = static_cast<uint8_t>(first.track);
        block[kSuperGroupList + 2 * group + 1] = static_cast<uint8_t>(first.sector);
    }
}

// ---- GEOS files ----

int geosBlockCount(const FileStructure &structure, size_t size) {
    if (structure.form == FileForm::GeosSequential) return 1 + chainBlocksFor(size);
    int blocks = 2;
    for (const VlirSlot &record : structure.records)
        if (record.kind == VlirPair::Record) blocks += chainBlocksFor(record.length);
    return blocks;
}

TrackSector writeGeosFile(ImageBuffer &image, const std::vector<TrackSector> &blocks, const FileStructure &structure,
                          const uint8_t *bytes, size_t size, TrackSector &info) {
    info = blocks[0];
    writeSingleBlock(blockAt(image, info.track, info.sector), structure.info);
    if (structure.form == FileForm::GeosSequential) {
        writeChainBlocks(image, blocks.data() + 1, static_cast<int>(blocks.size()) - 1, bytes, size);
        return blocks[1];
    }
    uint8_t index[kBlockPayload] = {};
    size_t next = 2;
    for (size_t record = 0; record < structure.records.size(); ++record) {
        const VlirSlot &slot = structure.records[record];
        if (slot.kind != VlirPair::Record) {
            index[2 * record + 1] = slot.emptyByte;
            continue;
        }
        int count = chainBlocksFor(slot.length);
        index[2 * record] = static_cast<uint8_t>(blocks[next].track);
        index[2 * record + 1] = static_cast<uint8_t>(blocks[next].sector);
        writeChainBlocks(image, blocks.data() + next, count, bytes + slot.offset, slot.length);
        next += static_cast<size_t>(count);
    }
    writeSingleBlock(blockAt(image, blocks[1].track, blocks[1].sector), index);
    return blocks[1];
}

// ---- Chains ----

void writeChainBlocks(ImageBuffer &image, const TrackSector *blocks, int count, const uint8_t *bytes, size_t size) {
    for (int index = 0; index < count; ++index) {
        size_t offset = static_cast<size_t>(index) * kBlockPayload;
        size_t length = std::min<size_t>(kBlockPayload, size - std::min(size, offset));
        TrackSector next = index + 1 < count ? blocks[index + 1] : TrackSector{0, static_cast<int>(length) + 1};
        uint8_t *block = blockAt(image, blocks[index].track, blocks[index].sector);
        block[0] = static_cast<uint8_t>(next.track);
        block[1] = static_cast<uint8_t>(next.sector);
        if (length) std::memcpy(block + 2, bytes + offset, length);
        std::memset(block + 2 + length, 0, kBlockPayload - length);
    }
}
