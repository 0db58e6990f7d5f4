// The map repair: the account's blocks in use become the map.
#include "check/fix.h"

#include <bit>
#include <cassert>
#include <cstring>

#include "base/console.h"
#include "check/account.h"
#include "check/layout.h"

namespace {

// The 4 map bytes a track gets: used blocks used, the others free, track 18's
// unused blocks as they were.
void rebuiltEntry(const uint8_t *old, int track, const BlockSet &used, uint8_t out[4]) {
    uint32_t oldBits = mapEntryBits(old);
    uint32_t bits = 0;
    for (int sector = 0; sector < sectorsPerTrack(track); ++sector) {
        bool free = track == kDirTrack ? (oldBits >> sector & 1) : true;
        if (free && !blockSetHas(used, track, sector)) bits |= uint32_t{1} << sector;
    }
    out[0] = static_cast<uint8_t>(std::popcount(bits));
    out[1] = static_cast<uint8_t>(bits);
    out[2] = static_cast<uint8_t>(bits >> 8);
    out[3] = static_cast<uint8_t>(bits >> 16);
}

}  // namespace

void rebuildMap(ImageBuffer &image, const BlockSet &used) {
    assert(blockPresent(image, kDirTrack, 0));
    MapExtension extension = findMapExtension(image);
    int changed = 0;
    int freeBlocks = 0;
    for (int track = 1; track <= lastMapTrack(extension); ++track) {
        uint8_t *entry = mapEntryBytes(image, extension, track);
        if (!entry) continue;
        uint8_t rebuilt[4];
        rebuiltEntry(entry, track, used, rebuilt);
        if (track != kDirTrack) freeBlocks += rebuilt[0];
        if (std::memcmp(entry, rebuilt, sizeof rebuilt) == 0) continue;
        consolePrintf("fix: track %i: %i -> %i blocks free\n", track, entry[0], rebuilt[0]);
        std::memcpy(entry, rebuilt, sizeof rebuilt);
        ++changed;
    }
    if (changed == 0)
        consolePrintf("fix: the map agrees with the chains; nothing changed\n");
    else
        consolePrintf("fix: %i track%s changed; %i blocks free\n", changed, changed == 1 ? "" : "s", freeBlocks);
}

void fixMap(ImageBuffer &image) {
    BlockAccount account;
    buildAccount(image, account);
    rebuildMap(image, usedBlocks(account));
}
