// The one bounded walk over block links.
#include "disk/walk.h"

namespace {

// The highest track the rules let a walk on this image reach.
int highestOf(const ImageBuffer &image, WalkRules rules) {
    if (rules.highestTrack == kImageTracks) return highestTrack(image.shape);
    if (rules.highestTrack == kImageMapTracks) return mapTracks(image.shape);
    return rules.highestTrack;
}

// Why the walk cannot take its next step, or Running when it can; the next
// block's bytes are then in `bytes` (looked up once: a check walks every
// block of the disk, and the lookup is most of a step's cost).
WalkStop stopBefore(const ImageBuffer &image, const BlockWalk &walk, const uint8_t *&bytes) {
    TrackSector next = walk.next;
    if (next.track == 0) return WalkStop::EndOfChain;
    if (next.track > highestOf(image, walk.rules)) return WalkStop::OutOfRange;
    if (walk.rules.realSectorsOnly && next.sector >= sectorsPerTrack(image.shape, next.track))
        return WalkStop::OutOfRange;
    bytes = blockAt(image, next.track, next.sector);
    if (!bytes) return WalkStop::AbsentBlock;
    if (walk.visited == walk.bound) return WalkStop::Loop;
    return WalkStop::Running;
}

}  // namespace

BlockWalk startWalk(TrackSector start, WalkRules rules) { return {rules, start, {0, 0}, 0, WalkStop::Running, 0}; }

const uint8_t *walkNext(const ImageBuffer &image, BlockWalk &walk) {
    if (walk.stop != WalkStop::Running) return nullptr;
    if (walk.bound == 0) walk.bound = walkBound(image.shape);
    const uint8_t *bytes = nullptr;
    walk.stop = stopBefore(image, walk, bytes);
    if (walk.stop != WalkStop::Running) return nullptr;
    walk.at = walk.next;
    walk.next = {bytes[0], bytes[1]};
    ++walk.visited;
    return bytes;
}

uint8_t *walkNext(ImageBuffer &image, BlockWalk &walk) {
    return const_cast<uint8_t *>(walkNext(static_cast<const ImageBuffer &>(image), walk));
}

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
    return const_cast<uint8_t *>(walkInstead(static_cast<const ImageBuffer &>(image), walk, instead));
}
