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
constexpr int kTypeUsr = 3;  // the highest type a file copies as: DEL, SEQ, PRG, USR
constexpr int kPayload = kBlockSize - 2;
constexpr int kMostGuessedBlocks = 800;

// Why the entry in `slot` cannot be copied as a chain of data blocks, or nullptr.
const char *kindProblem(const uint8_t *slot) {
    EntryKind kind = entryKind(slot);
    if (kind.type == kTypeRel)
        return "is a REL file, whose side sectors would have to be built anew for the disk it goes to; "
               "copy its records with a program on the drive";
    if (kind.type > kTypeUsr)
        return "has a type that is no file a drive copies (a 1581 partition, or a type 5 to 7)";
    if (kind.geos)
        return "is a GEOS file, whose info block and records are more than one chain; "
               "copy it with GEOS";
    return nullptr;
}

// Appends the payload of the chain from `start` to `data`; false when the
// chain breaks off (a loop, a link outside the image) before its last block.
bool readWholeChain(const ImageBuffer &image, TrackSector start, std::vector<uint8_t> &data) {
    BlockWalk walk = startWalk(start, kMeasureRules);
    while (const uint8_t *block = walkNext(image, walk)) {
        int count = blockPayloadBytes(walk);
        data.insert(data.end(), block + 2, block + 2 + count);
    }
    return walk.stop == WalkStop::EndOfChain;
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

std::string collectCopies(const ImageBuffer &image, int first, int last, std::vector<CopiedFile> &files) {
    files.clear();
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, options.showAll)) {
        bool inRange = first < 0 || (cursor.number >= first && cursor.number <= last);
        if (!inRange || slot[kSlotType] == 0 || !slotHasStartBlock(image.shape, slot)) continue;
        std::string entryText = "entry " + std::to_string(cursor.number) + " ";
        if (const char *problem = kindProblem(slot)) return entryText + problem;
        files.push_back({cursor.number, entryOfSlot(slot), {}});
        // The count the slot claims is a guess at the size, capped: the walk decides.
        files.back().data.reserve(static_cast<size_t>(std::min(slotBlockCount(slot), kMostGuessedBlocks)) * kPayload);
        if (!readWholeChain(image, pairAt(slot, kSlotStartTrack), files.back().data))
            return entryText + "has a chain that breaks off before its last block, so only part of the file "
                               "could be copied";
    }
    if (files.empty() && first >= 0)
        return "has no entry numbered " + std::to_string(first) + " to " + std::to_string(last) +
               " with a file to copy";
    return "";
}
