// The one walk over block links. Every chain kestrel follows (file chains, the
// directory, the last-block walk, the merge's copy) goes through it, so that
// the bound on its length and the reasons a walk stops live in one place.
// Nothing else follows a link.
#pragma once

#include <cstdint>

#include "disk/image.h"

enum class WalkStop {
    Running,      // the walk has not ended yet
    EndOfChain,   // a link track of 0; walk.next.sector is the last block's used-byte index
    OutOfRange,   // the next track lies above the walk's highest track, or (realSectorsOnly)
                  // its sector lies beyond the track's count
    AbsentBlock,  // the next block lies above the image's highest track or beyond the image
    Loop,         // walkBound blocks visited and the chain goes on: it must be cyclic (the
                  // directory cursor also ends its walk so at a block it has read before)
};

// What a caller lets the walk follow. A link that breaks a rule ends the walk
// with OutOfRange before its block is read.
struct WalkRules {
    int highestTrack;      // links to tracks above end the walk (255: only the image decides;
                           // kImageTracks: the image's highestTrack; kImageMapTracks: its mapTracks)
    bool realSectorsOnly;  // links to a sector beyond its track's count end the walk
};

// Track limits that the walk takes from the image's shape.
constexpr int kImageTracks = -1;
constexpr int kImageMapTracks = -2;

// Every link whose block the image holds (by the plain offset arithmetic).
constexpr WalkRules kAnyHeldBlock{255, false};

// The walks of the edits that write into the blocks they reach: a sector
// beyond its track's count names no block (17/25 is not 18/4), so the walk
// ends there as OutOfRange.
constexpr WalkRules kEditRules{255, true};

// Cursor of one walk, made by startWalk and moved by walkNext.
struct BlockWalk {
    WalkRules rules;
    TrackSector next;  // the block the walk reaches next; where it stopped once ended
    TrackSector at;    // the block walkNext yielded last
    int visited;       // blocks yielded so far
    WalkStop stop;     // Running until the walk ends
    int bound;         // the image's walkBound, taken at the first step (0 before)
};

BlockWalk startWalk(TrackSector start, WalkRules rules);

// The highest track the rules let a walk on this image reach.
inline int walkHighestTrack(const ImageBuffer &image, WalkRules rules) {
    if (rules.highestTrack == kImageTracks) return highestTrack(image.shape);
    if (rules.highestTrack == kImageMapTracks) return mapTracks(image.shape);
    return rules.highestTrack;
}

// Why the walk cannot take its next step, or Running when it can; the next
// block's bytes are then in `bytes` (looked up once: a check walks every
// block of the disk, and the lookup is most of a step's cost).
inline WalkStop walkStopBefore(const ImageBuffer &image, const BlockWalk &walk, const uint8_t *&bytes) {
    TrackSector next = walk.next;
    if (next.track == 0) return WalkStop::EndOfChain;
    if (next.track > walkHighestTrack(image, walk.rules)) return WalkStop::OutOfRange;
    if (walk.rules.realSectorsOnly && next.sector >= sectorsPerTrack(image.shape, next.track))
        return WalkStop::OutOfRange;
    bytes = blockAt(image, next.track, next.sector);
    if (!bytes) return WalkStop::AbsentBlock;
    if (walk.visited == walk.bound) return WalkStop::Loop;
    return WalkStop::Running;
}

// Yields the next block of the chain (walk.at names it) and takes its link as
// the next step, or returns nullptr once the walk has ended: walk.stop says why
// and walk.next names the link it stopped at. Never reads outside the image;
// at most walkBound(image.shape) blocks are yielded. Inline: every chain
// kestrel measures, checks or copies takes its steps here.
inline const uint8_t *walkNext(const ImageBuffer &image, BlockWalk &walk) {
    if (walk.stop != WalkStop::Running) return nullptr;
    if (walk.bound == 0) walk.bound = walkBound(image.shape);
    const uint8_t *bytes = nullptr;
    walk.stop = walkStopBefore(image, walk, bytes);
    if (walk.stop != WalkStop::Running) return nullptr;
    walk.at = walk.next;
    walk.next = {bytes[0], bytes[1]};
    ++walk.visited;
    return bytes;
}
inline uint8_t *walkNext(ImageBuffer &image, BlockWalk &walk) {
    return writableBytes(image, walkNext(static_cast<const ImageBuffer &>(image), walk));
}

// Takes `instead` in place of the block walkNext just yielded (it counts as
// the same step) and goes on from its link. Returns its bytes, or nullptr and
// ends the walk as AbsentBlock when the image does not hold it.
const uint8_t *walkInstead(const ImageBuffer &image, BlockWalk &walk, TrackSector instead);
uint8_t *walkInstead(ImageBuffer &image, BlockWalk &walk, TrackSector instead);
