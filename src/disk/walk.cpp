// The one bounded walk over block links.
#include "disk/walk.h"

BlockWalk startWalk(TrackSector start, WalkRules rules) { return {rules, start, {0, 0}, 0, WalkStop::Running, 0}; }

const uint8_t *walkInstead(const ImageBuffer &image, BlockWalk &walk, TrackSector instead) {
    const uint8_t *bytes = blockAt(image, instead.track, instead.sector);
    if (!bytes) {
        walk.next = instead;
        walk.stop = WalkStop::AbsentBlock;
        return nullptr;
    }
    walk.at = instead;
    walk.next = {bytes[0], bytes[1]};
    return bytes;
}

uint8_t *walkInstead(ImageBuffer &image, BlockWalk &walk, TrackSector instead) {
    return writableBytes(image, walkInstead(static_cast<const ImageBuffer &>(image), walk, instead));
}
