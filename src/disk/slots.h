// Layout of a directory block: eight 32-byte entry slots, the first two bytes
// of the first slot being the block's link.
#pragma once

#include <cstdint>

#include "disk/image.h"

// Offsets inside a 32-byte directory slot.
constexpr int kSlotSize = 32;
constexpr int kSlotsPerBlock = 8;
constexpr int kSlotType = 2;
constexpr int kSlotStartTrack = 3;
constexpr int kSlotStartSector = 4;
constexpr int kSlotName = 5;          // 16 characters, padded with 0xA0
constexpr int kSlotBlockCount = 30;   // 16-bit little-endian
constexpr int kNameLength = 16;

// True when a slot names a start block: start track not 0 and start not 18/0
// (the two forms an entry without a file takes).
inline bool slotHasStartBlock(const uint8_t *slot) {
    int track = slot[kSlotStartTrack];
    return track != 0 && !(track == kDirTrack && slot[kSlotStartSector] == 0);
}
