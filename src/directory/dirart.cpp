// Directory-art edits, made on the image in memory in command-line order.
// Entries are found through the listing's own walk, so that the numbers are
// the ones a listing printed.
#include "directory/dirart.h"

#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/errors.h"
#include "base/options.h"
#include "directory/listing.h"
#include "disk/bam.h"
#include "disk/blockset.h"
#include "disk/chain.h"
#include "disk/inuse.h"

namespace {

const char *const kFormNames[5] = {"DEL", "SEQ", "PRG", "USR", "REL"};
const char *const kOptionNames[7] = {"-rename", "-type", "-blocks", "-move", "-undel", "-header", "-id"};

constexpr uint8_t kClosedPrg = 0x82;
constexpr int kSlotContents = kSlotSize - kSlotType;  // bytes 02-1F move with an entry
// An undeleted chain may only use blocks the map has a bit for.
constexpr WalkRules kMapRules{kImageMapTracks, true};

// The directory as the listing walks it, each block once. Edits change no
// link, so the walk made before the first edit holds for all of them.
struct Directory {
    std::vector<uint8_t *> slots;  // every slot in walk order, up to where the chain meets a block again
    size_t editableSlots;          // the leading slots the edits may write: those before beyondBlock's
    TrackSector beyondBlock;       // DirectoryCursor::beyondBlock: from it on, slots are listed, never edited
};

// The cursor stops where the chain meets a block it has read, so that a
// looping chain gives each slot one number.
Directory readDirectory(ImageBuffer &image) {
    Directory dir{{}, 0, {0, 0}};
    DirectoryCursor cursor = startDirectory(image);
    while (uint8_t *slot = nextListedSlot(image, cursor, true)) {
        dir.beyondBlock = cursor.beyondBlock;
        if (cursor.beyondBlock.track == 0) dir.editableSlots = dir.slots.size() + 1;
        dir.slots.push_back(slot);
    }
    if (cursor.walk.stop == WalkStop::Loop)
        consoleErrorf("WARNING: The directory chain loops back to block %i/%i; the edits see each of its blocks "
                      "once.\n", cursor.stopLink.track, cursor.stopLink.sector);
    return dir;
}

// The slot of entry `number`, counted as the listing counts (every slot when
// countAll, else those with a type byte other than 0); -1 and the message
// naming `option` in `problem` when the directory has no such entry or the
// edits may not write it.
int findEntry(const Directory &dir, const char *option, int number, bool countAll, std::string &problem) {
    int left = number;
    for (size_t i = 0; i < dir.slots.size(); ++i) {
        if (!countAll && dir.slots[i][kSlotType] == 0) continue;
        if (left-- > 0) continue;
        if (i >= dir.editableSlots) {
            std::string named = "entry " + std::to_string(number);
            problem = listedOnlyText(option, named.c_str(), dir.beyondBlock);
            return -1;
        }
        return static_cast<int>(i);
    }
    problem = consoleFormatf("ERROR: '%s' names entry %i, which the directory does not hold.", option, number);
    return -1;
}

// A type byte as the listing names it ("PRG<", "*SEQ"), then the byte itself.
void printType(const DiskShape &shape, int type) {
    TypeMarks marks = typeMarks(shape, type);
    consolePrintf("%s%s%s ($%02x)", marks.splat == '*' ? "*" : "", marks.name, marks.lock == '<' ? "<" : "", type);
}

// A text into a field of `length` bytes; a name field is padded with 0xA0,
// the id field keeps the bytes the text does not reach.
void writeText(uint8_t *field, int length, const NameText &text, bool pad) {
    if (pad) std::memset(field, 0xA0, static_cast<size_t>(length));
    std::memcpy(field, text.bytes, static_cast<size_t>(text.length));
}

// Each edit below prints its line: the option, the entry number, the old and
// the new value.
void renameEntry(uint8_t *slot, int number, const NameText &name) {
    consolePrintf("-rename %i: ", number);
    printQuotedName(slot + kSlotName);
    writeText(slot + kSlotName, kNameLength, name, true);
    consolePrintf(" -> ");
    printQuotedName(slot + kSlotName);
    consolePrintf("\n");
}

void retypeEntry(const DiskShape &shape, uint8_t *slot, int number, int type) {
    consolePrintf("-type %i: ", number);
    printType(shape, slot[kSlotType]);
    slot[kSlotType] = static_cast<uint8_t>(type);
    consolePrintf(" -> ");
    printType(shape, type);
    consolePrintf("\n");
}

void setShownBlocks(uint8_t *slot, int number, int blocks) {
    consolePrintf("-blocks %i: %i -> %i\n", number, slot[kSlotBlockCount] | slot[kSlotBlockCount + 1] << 8, blocks);
    slot[kSlotBlockCount] = static_cast<uint8_t>(blocks & 0xFF);
    slot[kSlotBlockCount + 1] = static_cast<uint8_t>(blocks >> 8);
}

// Rotates the contents of the slots from `from` to `to` by one place, so that
// the contents of `from` land in `to`. The slots' first two bytes (a block's
// link in its first slot) stay. A looping directory may name one slot twice
// in the range; memmove copes with that.
void moveEntry(Directory &dir, int from, int to, const DirEdit &edit) {
    uint8_t moving[kSlotContents];
    std::memcpy(moving, dir.slots[from] + kSlotType, kSlotContents);
    int step = from < to ? 1 : -1;
    for (int i = from; i != to; i += step)
        std::memmove(dir.slots[i] + kSlotType, dir.slots[i + step] + kSlotType, kSlotContents);
    std::memcpy(dir.slots[to] + kSlotType, moving, kSlotContents);
    consolePrintf("-move %i -> %i: ", edit.entry, edit.value);
    printQuotedName(dir.slots[to] + kSlotName);
    consolePrintf("\n");
}

// ---- Undelete ------------------------------------------------------------------

// The slot number (every slot counted) of the first listed entry whose chain
// holds `block`, or -1 when none of the walk's entries does.
int slotUsing(const ImageBuffer &image, const Directory &dir, TrackSector block) {
    int position = blockOffset(image.shape, block.track, block.sector);
    for (size_t i = 0; i < dir.slots.size(); ++i) {
        const uint8_t *slot = dir.slots[i];
        if (slot[kSlotType] == 0 || !slotHasStartBlock(image.shape, slot)) continue;
        BlockWalk walk = startWalk({slot[kSlotStartTrack], slot[kSlotStartSector]}, kAnyHeldBlock);
        while (walkNext(image, walk))
            if (blockOffset(image.shape, walk.at.track, walk.at.sector) == position) return static_cast<int>(i);
    }
    return -1;
}

// Why a chain's start block is none an undelete may use.
std::string whyNotAMapBlock(const ImageBuffer &image, TrackSector start) {
    if (start.track > highestTrack(image.shape)) return "lies outside the image";
    if (start.sector >= sectorsPerTrack(image.shape, start.track)) return "lies beyond the last sector of its track";
    if (!blockPresent(image, start.track, start.sector)) return "lies outside the image";
    return "lies above track " + std::to_string(mapTracks(image.shape)) + ", where the map has no bits";
}

// The message for a block of the chain that something else uses: the
// directory, or the file of a slot.
std::string blockInUseProblem(const ImageBuffer &image, const Directory &dir, const BlocksInUse &used, int number,
                              TrackSector at) {
    std::string user = "the directory";
    if (!blockSetHas(used.directory, at.track, at.sector)) {
        int owner = slotUsing(image, dir, at);
        user = owner < 0 ? "another file" : "the file of slot " + std::to_string(owner);
    }
    return consoleFormatf("ERROR: Cannot undelete slot %i: block %i/%i of its chain is used by %s.", number, at.track,
                         at.sector, user.c_str());
}

// The blocks of a scratched file's chain, each free in the map and used by
// nothing else; the message naming the slot in `problem` when the chain is
// broken, loops, or meets a block in use.
std::vector<TrackSector> reclaimableChain(const ImageBuffer &image, const Directory &dir, const uint8_t *slot,
                                          int number, std::string &problem) {
    BlocksInUse used = collectBlocksInUse(image);
    BlockSet chain{};
    std::vector<TrackSector> blocks;
    BlockWalk walk = startWalk({slot[kSlotStartTrack], slot[kSlotStartSector]}, kMapRules);
    while (walkNext(image, walk)) {
        TrackSector at = walk.at;
        if (blockSetHas(chain, at.track, at.sector))
            problem = consoleFormatf("ERROR: Cannot undelete slot %i: its chain loops at block %i/%i.", number,
                                    at.track, at.sector);
        else if (blockSetHas(used.directory, at.track, at.sector) || blockSetHas(used.files, at.track, at.sector))
            problem = blockInUseProblem(image, dir, used, number, at);
        else if (!isBlockFree(image, at.track, at.sector))
            problem = consoleFormatf("ERROR: Cannot undelete slot %i: block %i/%i of its chain is marked used.",
                                    number, at.track, at.sector);
        if (!problem.empty()) return {};
        blockSetAdd(chain, at.track, at.sector);
        blocks.push_back(at);
    }
    if (walk.stop == WalkStop::Loop)
        problem = consoleFormatf("ERROR: Cannot undelete slot %i: its chain loops.", number);
    else if (walk.stop != WalkStop::EndOfChain && walk.visited == 0)
        problem = consoleFormatf("ERROR: Cannot undelete slot %i: its start block %i/%i %s.", number, walk.next.track,
                                walk.next.sector, whyNotAMapBlock(image, walk.next).c_str());
    else if (walk.stop != WalkStop::EndOfChain)
        problem = consoleFormatf("ERROR: Cannot undelete slot %i: its chain is broken by a link to block %i/%i.",
                                number, walk.next.track, walk.next.sector);
    return blocks;
}

// Gives a scratched entry back its file: closed PRG, its chain's blocks used;
// the message when it cannot, with nothing changed.
std::string undeleteEntry(ImageBuffer &image, const Directory &dir, uint8_t *slot, int number) {
    if (slot[kSlotType] != 0)
        return consoleFormatf("ERROR: Cannot undelete slot %i: it is not scratched (type byte $%02x).", number,
                             slot[kSlotType]);
    if (slot[kSlotStartTrack] == 0)
        return consoleFormatf("ERROR: Cannot undelete slot %i: it names no file (start track 0).", number);
    std::string problem;
    std::vector<TrackSector> blocks = reclaimableChain(image, dir, slot, number, problem);
    if (!problem.empty()) return problem;
    for (TrackSector block : blocks) setBlockBit(image, block.track, block.sector, false);
    consolePrintf("-undel %i: ", number);
    printQuotedName(slot + kSlotName);
    consolePrintf(" ");
    printType(image.shape, 0);
    slot[kSlotType] = kClosedPrg;
    consolePrintf(" -> ");
    printType(image.shape, kClosedPrg);
    const int count = static_cast<int>(blocks.size());
    consolePrintf(", %i block%s marked used\n", count, plural(count));
    return "";
}

// ---- Disk name and id ----------------------------------------------------------

// A D81 keeps a copy of the disk id in bytes 04-05 of its map blocks 40/1 and
// 40/2; an id edit writes it there too, as the 1581's format does.
void copyIdIntoMaps(ImageBuffer &image) {
    if (image.shape.family->map != MapLayout::D81) return;
    const uint8_t *id = headerBlock(image) + diskIdOffset(image);
    for (int sector : {1, 2}) {
        uint8_t *map = blockAt(image, image.shape.systemTrack, sector);
        if (!map) continue;
        map[4] = id[0];
        map[5] = id[1];
    }
}

// The disk name or id in the header block, which the caller guarantees is present.
void setDiskText(ImageBuffer &image, const char *option, int offset, int length, const NameText &text) {
    uint8_t *field = headerBlock(image) + offset;
    consolePrintf("%s: \"", option);
    printDiskChars(field, length);
    writeText(field, length, text, offset == diskNameOffset(image));
    if (offset == diskIdOffset(image)) copyIdIntoMaps(image);
    consolePrintf("\" -> \"");
    printDiskChars(field, length);
    consolePrintf("\"\n");
}

// One edit; the numbers count as the listing does, -undel's every slot. The
// message when the edit names no entry it may write or is refused; the
// image is then as it was.
std::string applyEdit(ImageBuffer &image, Directory &dir, const DirEdit &edit) {
    const char *option = kOptionNames[static_cast<int>(edit.kind)];
    bool countAll = options.showAll != 0 || edit.kind == DirEditKind::Undelete;
    std::string problem;
    int at = -1;
    if (edit.kind != DirEditKind::Header && edit.kind != DirEditKind::Id) {
        at = findEntry(dir, option, edit.entry, countAll, problem);
        if (at < 0) return problem;
    }
    int to = edit.kind == DirEditKind::Move ? findEntry(dir, option, edit.value, countAll, problem) : -1;
    if (!problem.empty()) return problem;
    uint8_t *slot = at >= 0 ? dir.slots[at] : nullptr;
    switch (edit.kind) {
        case DirEditKind::Rename: renameEntry(slot, edit.entry, edit.text); break;
        case DirEditKind::Type: retypeEntry(image.shape, slot, edit.entry, edit.value); break;
        case DirEditKind::Blocks: setShownBlocks(slot, edit.entry, edit.value); break;
        case DirEditKind::Move: moveEntry(dir, at, to, edit); break;
        case DirEditKind::Undelete: return undeleteEntry(image, dir, slot, edit.entry);
        case DirEditKind::Header: setDiskText(image, option, diskNameOffset(image), kNameLength, edit.text); break;
        case DirEditKind::Id: setDiskText(image, option, diskIdOffset(image), kDiskIdLength, edit.text); break;
    }
    return "";
}

}  // namespace

int typeByteOfForm(const char *text) {
    bool open = *text == '*';
    if (open) ++text;
    for (int type = 0; type < 5; ++type) {
        const char *name = kFormNames[type];
        bool same = true;
        for (int i = 0; i < 3 && same; ++i) same = (text[i] & ~0x20) == name[i];
        if (!same) continue;
        bool locked = text[3] == '<';
        if (text[locked ? 4 : 3] != '\0') return -1;
        return type | (open ? 0 : 0x80) | (locked ? 0x40 : 0);
    }
    return -1;
}

void applyDirectoryEdits(ImageBuffer &image, DirEditPass pass) {
    Directory dir = readDirectory(image);
    for (const DirEdit &edit : options.dirEdits) {
        bool undelete = edit.kind == DirEditKind::Undelete;
        if (pass != DirEditPass::All && undelete != (pass == DirEditPass::Undeletes)) continue;
        std::string problem = applyEdit(image, dir, edit);
        if (!problem.empty()) exitWithMessage(1, "%s", problem.c_str());
    }
}

std::string makeDirectoryEdit(ImageBuffer &image, const DirEdit &edit) {
    Directory dir = readDirectory(image);
    return applyEdit(image, dir, edit);
}
