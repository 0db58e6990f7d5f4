// Copying entries of a second image.
#include "make/copy.h"

#include <algorithm>
#include <cstring>

#include "base/options.h"
#include "disk/chain.h"
#include "disk/directory.h"
#include "disk/entrychains.h"

namespace {

constexpr uint8_t kPadding = 0xA0;

// Why the entry in `slot` is no file a drive copies, or nullptr.
const char *kindProblem(const uint8_t *slot) {
    EntryKind kind = entryKind(slot);
    if (kind.type > kTypeRel) return "has a type that is no file a drive copies (type 5 to 7)";
    return nullptr;
}

// True when the chain from `start` ends at its last block, not before it (a
// loop, a link outside the image); `verdicts` keeps the answer by the start
// block's position (-1: not walked yet).
bool chainIsWhole(const ImageBuffer &image, TrackSector start, std::vector<int8_t> &verdicts) {
    int8_t &verdict = verdicts[static_cast<size_t>(blockOffset(image.shape, start.track, start.sector) / kBlockSize)];
    if (verdict < 0) {
        BlockWalk walk = startWalk(start, kMeasureRules);
        while (walkNext(image, walk)) {}
        verdict = walk.stop == WalkStop::EndOfChain;
    }
    return verdict == 1;
}

// The slot's name and type bytes as the insert takes them.
HostFileEntry entryOfSlot(const uint8_t *slot) {
    HostFileEntry entry{};
    std::memcpy(entry.name, slot + kSlotName, kNameLength);
    const void *padding = std::memchr(entry.name, kPadding, kNameLength);
    entry.length = padding ? static_cast<int>(static_cast<const uint8_t *>(padding) - entry.name) : kNameLength;
    entry.typeByte = slot[kSlotType];
    entry.problem = NameTextProblem::None;
    return entry;
}

}  // namespace

std::string collectCopies(const ImageBuffer &image, int first, int last, std::vector<CopiedFile> &files,
                          std::vector<CopiedFile> &partitions) {
    files.clear();
    partitions.clear();
    std::vector<int8_t> verdicts(kBlockPositions, -1);
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, options.showAll)) {
        bool inRange = first < 0 || (cursor.number >= first && cursor.number <= last);
        if (!inRange || slot[kSlotType] == 0 || !slotHasStartBlock(image.shape, slot)) continue;
        CopiedFile file{cursor.number, entryOfSlot(slot), slot};
        if (isPartition(image.shape, slot)) {
            partitions.push_back(file);
            continue;
        }
        std::string entryText = "entry " + std::to_string(cursor.number) + " ";
        if (const char *problem = kindProblem(slot)) return entryText + problem;
        EntryKind kind = entryKind(slot);
        if (kind.type == kTypeRel || kind.geos) {
            FileStructure structure;
            std::string problem = readFileStructure(image, slot, structure, nullptr);
            if (!problem.empty()) return entryText + problem;
        } else if (!chainIsWhole(image, pairAt(slot, kSlotStartTrack), verdicts)) {
            return entryText + "has a chain that breaks off before its last block, so only part of the file "
                               "could be copied";
        }
        files.push_back(file);
    }
    if (files.empty() && first >= 0)
        return "has no entry numbered " + std::to_string(first) + " to " + std::to_string(last) +
               " with a file to copy";
    return "";
}

void readCopiedFile(const ImageBuffer &image, const CopiedFile &file, FileStructure &structure,
                    std::vector<uint8_t> &data) {
    readFileStructure(image, file.slot, structure, &data);
}
