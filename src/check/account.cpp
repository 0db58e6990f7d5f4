// The block account: who uses which block, and the faults met on the way.
#include "check/account.h"

#include <algorithm>

#include "check/layout.h"
#include "disk/directory.h"
#include "disk/filelayout.h"
#include "disk/partition.h"
#include "disk/walk.h"

namespace {

// REL side sectors (their counts in disk/filelayout.h).
constexpr int kSideNumber = 2;
constexpr int kSideRecordLength = 3;
constexpr int kSideList = 4;       // track/sector of the group's side sectors
constexpr int kSideDataList = 16;  // track/sector of up to 120 data blocks
constexpr int kSuperGroupList = 3; // a super side sector's first side sector of each group

constexpr TrackSector kNoBlock{0, 0};

bool sameBlock(TrackSector a, TrackSector b) { return a.track == b.track && a.sector == b.sector; }


// The image and the account being built, passed down together.
struct Accounting {
    const ImageBuffer &image;
    BlockAccount &account;
};

// How a chain walk ended.
struct ChainEnd {
    int blocks;        // blocks claimed
    bool clean;        // ended at a link of track 0 (or at the block limit) without a fault
    TrackSector last;  // the last block claimed
    TrackSector next;  // its link; at a clean end of chain, next.sector is the used-byte index
};

Finding finding(FindingKind kind, int owner, int chain) {
    return {kind, owner, chain, -1, kNoBlock, kNoBlock, kNoBlock, 0, 0};
}

void report(Accounting &a, const Finding &found) { a.account.findings.push_back(found); }

void reportAbout(Accounting &a, FindingKind kind, int owner, TrackSector at, int value, int expected) {
    Finding found = finding(kind, owner, -1);
    found.at = at;
    found.value = value;
    found.expected = expected;
    report(a, found);
}

// A finding that names one block (a link that cannot be followed).
void reportNamed(Accounting &a, FindingKind kind, int owner, TrackSector named) {
    Finding found = finding(kind, owner, -1);
    found.to = named;
    report(a, found);
}

// A list in block `at` names `listed` at `position`, where `expected` belongs.
void reportListed(Accounting &a, FindingKind kind, int owner, TrackSector at, TrackSector listed,
                  TrackSector expected, size_t position) {
    Finding found = finding(kind, owner, -1);
    found.at = at;
    found.to = listed;
    found.other = expected;
    found.value = static_cast<int>(position);
    report(a, found);
}

int newChain(Accounting &a, int owner, ChainRole role, int record = 0) {
    a.account.chains.push_back({owner, role, record});
    return static_cast<int>(a.account.chains.size()) - 1;
}

// The finding for a walk that stopped before a block it could not take.
void reportWalkStop(Accounting &a, int chain, const BlockWalk &walk, TrackSector from) {
    Finding found = finding(FindingKind::ChainLoops, a.account.chains[chain].owner, chain);
    found.at = from;
    found.to = walk.next;
    found.value = a.account.tracks;
    if (walk.stop == WalkStop::OutOfRange)
        found.kind = walk.next.track > walk.rules.highestTrack ? FindingKind::LinkAboveTracks
                                                                : FindingKind::LinkBeyondSectors;
    else if (walk.stop == WalkStop::AbsentBlock)
        found.kind = FindingKind::LinkOutsideImage;
    report(a, found);
}

// Walks from `start` for `chain`, claiming each block for the chain's owner,
// at most maxBlocks of them. Ends at the first block some chain has reached
// before: quietly (a clean end) when it is chain `joins`, else a loop when it
// is this chain, else a run into the other chain. `order`, when given,
// receives the claimed blocks in chain order.
ChainEnd walkClaiming(Accounting &a, TrackSector start, int chain, int maxBlocks,
                      std::vector<TrackSector> *order = nullptr, int joins = -1) {
    BlockAccount &account = a.account;
    BlockWalk walk = startWalk(start, {account.tracks, true});
    ChainEnd end{0, false, kNoBlock, start};
    TrackSector from = kNoBlock;
    bool confined = account.chains[chain].role != ChainRole::Directory;
    while (end.blocks < maxBlocks && walkNext(a.image, walk)) {
        // The walk takes real blocks of the image's tracks only.
        int index = realBlockIndex(account.shape, walk.at);
        // A sub-directory's files lie inside its partition; the block outside is another directory's.
        if (confined && outsidePartition(account.shape, walk.at.track)) {
            Finding found = finding(FindingKind::ChainLeavesArea, account.chains[chain].owner, chain);
            found.at = from;
            found.to = walk.at;
            report(a, found);
            return end;
        }
        if (joins >= 0 && account.chainOf[index] == joins) {
            end.clean = true;
            return end;
        }
        if (account.chainOf[index] != -1) {
            Finding found = finding(account.chainOf[index] == chain ? FindingKind::ChainLoops
                                                                    : FindingKind::ChainRunsInto,
                                    account.chains[chain].owner, chain);
            found.at = from;
            found.to = walk.at;
            found.otherChain = account.chainOf[index];
            report(a, found);
            return end;
        }
        account.chainOf[index] = chain;
        account.usedSectors[walk.at.track] |= uint64_t{1} << walk.at.sector;
        if (order) order->push_back(walk.at);
        ++end.blocks;
        end.last = from = walk.at;
        end.next = walk.next;
    }
    if (walk.stop == WalkStop::Running || walk.stop == WalkStop::EndOfChain) {
        end.clean = true;
        end.next = walk.next;
    } else {
        reportWalkStop(a, chain, walk, from);
    }
    return end;
}

// A block that stands alone (GEOS info block, VLIR index, border block):
// claimed, and its link must end there.
ChainEnd claimSingleBlock(Accounting &a, TrackSector start, int chain) {
    ChainEnd end = walkClaiming(a, start, chain, 1);
    if (end.blocks == 1 && end.next.track != 0) {
        Finding found = finding(FindingKind::SingleBlockLinks, a.account.chains[chain].owner, chain);
        found.at = end.last;
        found.to = end.next;
        report(a, found);
        end.clean = false;
    }
    return end;
}

// A last block holds 1-254 bytes (index 2-255); index 1 in the only block of
// a chain is how a 1541 saves an empty file, and no fault.
void warnIfLastIndexMalformed(Accounting &a, int owner, const ChainEnd &end) {
    bool emptyFile = end.blocks == 1 && end.next.sector == 1;
    if (end.clean && end.blocks > 0 && end.next.sector <= 1 && !emptyFile)
        reportAbout(a, FindingKind::LastByteIndex, owner, end.last, end.next.sector, 0);
}

// ---- The directory and the GEOS border block ----

void addSlots(Accounting &a, TrackSector block) {
    const uint8_t *bytes = blockAt(a.image, block.track, block.sector);
    for (int slot = 0; slot < kSlotsPerBlock; ++slot)
        a.account.slots.push_back({bytes + slot * kSlotSize, block, slot, -1});
}

// The directory as the listing reads it, from 18/0's link, and as a drive
// reads it, from 18/1, whatever 18/0 links to. The blocks of both walks are
// the directory's, so that the files either shows are known (and -fix frees
// none of their blocks); the walk from 18/1 ends quietly where it joins the
// other. A link in 18/0 that reaches a block other than 18/1 is an error; one
// on track 0 (which ends the chain before it starts) a warning.
void accountDirectory(Accounting &a, const uint8_t *map) {
    std::vector<TrackSector> blocks;
    TrackSector link = pairAt(map, 0);
    TrackSector driveStart = a.account.driveStart;
    int linked = newChain(a, kOwnerDirectory, ChainRole::Directory);
    ChainEnd end = walkClaiming(a, link, linked, walkBound(a.image.shape), &blocks);
    bool driveStartPresent = blockPresent(a.image, driveStart.track, driveStart.sector);
    if (end.blocks == 0 && end.clean && driveStartPresent)
        reportNamed(a, FindingKind::DirectoryLinkEnds, kOwnerDirectory, link);
    if (end.blocks > 0 && !sameBlock(link, driveStart))
        reportNamed(a, FindingKind::DirectoryLinkElsewhere, kOwnerDirectory, link);
    if (driveStartPresent)
        walkClaiming(a, driveStart, newChain(a, kOwnerDirectory, ChainRole::Directory), walkBound(a.image.shape),
                     &blocks, linked);
    for (TrackSector block : blocks) {
        if (block.track != a.image.shape.systemTrack)
            reportNamed(a, FindingKind::DirectoryOffTrack, kOwnerDirectory, block);
        addSlots(a, block);
    }
    a.account.directorySlots = static_cast<int>(a.account.slots.size());
}

// The header and map blocks, one chain of the map owner: 18/0; on a
// double-sided D71 also the whole of track 53, which the 1571 keeps used;
// 40/0-40/2 on a D81.
void claimSystemBlocks(Accounting &a) {
    const DiskShape &shape = a.image.shape;
    int chain = newChain(a, kOwnerMapBlock, ChainRole::MapBlock);
    for (int track = 1; track <= shape.tracks; ++track) {
        if (!isReservedTrack(shape, track)) continue;  // no header or map block lies elsewhere
        bool wholeTrack = track != shape.systemTrack;
        for (int sector = 0; sector < sectorsPerTrack(shape, track); ++sector) {
            if (!wholeTrack && !isSystemBlock(shape, track, sector)) continue;
            a.account.chainOf[blockIndex(shape, track, sector)] = chain;
            a.account.usedSectors[track] |= uint64_t{1} << sector;
        }
    }
}

// Gives each directory slot the number the listing gives it (and so -rd and
// the other edits): where the listing's walk first meets the slot's bytes.
// The place of a slot among the account's directory blocks (by `ordinalOf`,
// which numbers those blocks by position), or -1 outside them.
int slotPlace(const std::vector<int> &ordinalOf, const uint8_t *base, const uint8_t *slot) {
    size_t at = static_cast<size_t>(slot - base);
    if (at / kBlockSize >= ordinalOf.size() || ordinalOf[at / kBlockSize] < 0) return -1;
    return ordinalOf[at / kBlockSize] * kSlotsPerBlock + static_cast<int>(at % kBlockSize / kSlotSize);
}

void numberListedSlots(const ImageBuffer &image, BlockAccount &account, bool countAll) {
    // Numbers are kept only for the blocks the account holds: a table of every
    // 32-byte place of the largest image (128 KB) cost more to fill on each
    // check than the rest of a D64's check together.
    const uint8_t *base = image.bytes.data();
    std::vector<int> ordinalOf(image.bytes.size() / kBlockSize + 1, -1);
    int blocks = 0;
    for (int i = 0; i < account.directorySlots; ++i) {
        size_t at = static_cast<size_t>(account.slots[i].bytes - base) / kBlockSize;
        if (at < ordinalOf.size() && ordinalOf[at] < 0) ordinalOf[at] = blocks++;
    }
    std::vector<int> numberAt(static_cast<size_t>(blocks) * kSlotsPerBlock, -1);
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, countAll)) {
        int place = slotPlace(ordinalOf, base, slot);
        if (place >= 0 && numberAt[place] < 0) numberAt[place] = cursor.number;
    }
    for (int i = 0; i < account.directorySlots; ++i) {
        int place = slotPlace(ordinalOf, base, account.slots[i].bytes);
        account.slots[i].number = place >= 0 ? numberAt[place] : -1;
    }
}

void accountBorderBlock(Accounting &a) {
    TrackSector border;
    if (!geosBorderBlock(a.image, border) || border.track == 0) return;
    ChainEnd end = claimSingleBlock(a, border, newChain(a, kOwnerBorder, ChainRole::Border));
    if (end.blocks == 1) addSlots(a, border);
}

// ---- REL side sectors ----

// The header of each side sector: its number within its group of six, the
// record length, the list of the group's side sectors.
void checkSideHeaders(Accounting &a, int owner, const std::vector<TrackSector> &sides, int recordLength) {
    for (size_t i = 0; i < sides.size(); ++i) {
        const uint8_t *side = blockAt(a.image, sides[i].track, sides[i].sector);
        int number = static_cast<int>(i % kRelSidesPerGroup);
        if (side[kSideNumber] != number) reportAbout(a, FindingKind::RelSideNumber, owner, sides[i], side[kSideNumber], number);
        if (side[kSideRecordLength] != recordLength)
            reportAbout(a, FindingKind::RelSideRecordLength, owner, sides[i], side[kSideRecordLength], recordLength);
        size_t group = i - static_cast<size_t>(number);
        for (size_t j = group; j < std::min(sides.size(), group + kRelSidesPerGroup); ++j) {
            TrackSector listed = pairAt(side, kSideList + 2 * static_cast<int>(j - group));
            if (sameBlock(listed, sides[j])) continue;
            reportListed(a, FindingKind::RelSideList, owner, sides[i], listed, sides[j], j - group);
            break;
        }
    }
}

// A 1581's super side sector lists the first side sector of each group.
void checkSuperSide(Accounting &a, int owner, TrackSector super, const std::vector<TrackSector> &sides) {
    const uint8_t *block = blockAt(a.image, super.track, super.sector);
    for (size_t group = 0; group * kRelSidesPerGroup < sides.size(); ++group) {
        TrackSector listed = pairAt(block, kSuperGroupList + 2 * static_cast<int>(group));
        TrackSector first = sides[group * kRelSidesPerGroup];
        if (sameBlock(listed, first)) continue;
        reportListed(a, FindingKind::RelSuperList, owner, super, listed, first, group);
        return;
    }
}

// The data blocks the side sectors list, in order, against the data chain:
// 120 in each full side sector, (used-byte index - 15) / 2 in the last.
void checkSideDataList(Accounting &a, int owner, const std::vector<TrackSector> &sides, int lastIndex,
                       const std::vector<TrackSector> &data) {
    size_t listedCount = 0;
    for (size_t i = 0; i < sides.size(); ++i) {
        const uint8_t *side = blockAt(a.image, sides[i].track, sides[i].sector);
        int pairs = i + 1 < sides.size() ? kRelPairsPerSide : std::clamp((lastIndex - 15) / 2, 0, kRelPairsPerSide);
        for (int p = 0; p < pairs; ++p, ++listedCount) {
            TrackSector listed = pairAt(side, kSideDataList + 2 * p);
            if (listedCount >= data.size() || sameBlock(listed, data[listedCount])) continue;
            reportListed(a, FindingKind::RelDataBlock, owner, sides[i], listed, data[listedCount], listedCount);
            return;
        }
    }
    if (listedCount != data.size())
        reportAbout(a, FindingKind::RelDataCount, owner, kNoBlock, static_cast<int>(listedCount),
                    static_cast<int>(data.size()));
}

// True when the first block of a REL file's side-sector chain is a 1581's
// super side sector: a D81 (or partition) block whose byte 02 is $FE, where
// side sector 0 holds 0.
bool isSuperSide(const ImageBuffer &image, TrackSector first) {
    const uint8_t *block = blockAt(image, first.track, first.sector);
    return image.shape.family->map == MapLayout::D81 && block && block[kSideNumber] == kSuperSideMark;
}

// Claims the side sectors (after a 1581's super side sector) and checks them
// against the entry and the data chain (only when that chain was walked
// whole); returns the blocks claimed.
int accountSideSectors(Accounting &a, const uint8_t *slot, int owner, TrackSector start,
                       const std::vector<TrackSector> &data, bool dataClean) {
    int recordLength = slot[kSlotRecordLength];
    if (recordLength == 0) reportAbout(a, FindingKind::RelRecordLength, owner, kNoBlock, 0, 0);
    if (start.track == 0) {
        reportNamed(a, FindingKind::RelNoSideSectors, owner, start);
        return 0;
    }
    std::vector<TrackSector> sides;
    ChainEnd end = walkClaiming(a, start, newChain(a, owner, ChainRole::SideSectors), walkBound(a.image.shape), &sides);
    bool super = !sides.empty() && isSuperSide(a.image, sides[0]);
    TrackSector superBlock = super ? sides[0] : kNoBlock;
    if (super) sides.erase(sides.begin());
    int most = super ? kRelGroups * kRelSidesPerGroup : kRelSidesPerGroup;
    if (static_cast<int>(sides.size()) > most) {
        reportAbout(a, FindingKind::RelTooManySides, owner, kNoBlock, static_cast<int>(sides.size()), most);
        return end.blocks;
    }
    if (!end.clean || sides.empty()) return end.blocks;
    if (super) checkSuperSide(a, owner, superBlock, sides);
    checkSideHeaders(a, owner, sides, recordLength);
    if (dataClean) checkSideDataList(a, owner, sides, end.next.sector, data);
    return end.blocks;
}

// A drive fills a REL file's data with whole records.
void checkRecordCount(Accounting &a, const uint8_t *slot, int owner, const ChainEnd &data) {
    int recordLength = slot[kSlotRecordLength];
    if (!data.clean || data.blocks == 0 || recordLength == 0 || data.next.sector < 1) return;
    int bytes = (data.blocks - 1) * kBlockPayload + data.next.sector - 1;
    if (bytes % recordLength != 0) reportAbout(a, FindingKind::RelRecordCount, owner, kNoBlock, bytes, recordLength);
}

// ---- GEOS ----

int accountGeosInfo(Accounting &a, TrackSector info, int owner) {
    if (info.track == 0) {
        reportNamed(a, FindingKind::GeosNoInfo, owner, info);
        return 0;
    }
    return claimSingleBlock(a, info, newChain(a, owner, ChainRole::GeosInfo)).blocks;
}

// Every record chain the VLIR index names.
int accountVlirRecords(Accounting &a, TrackSector indexBlock, int owner) {
    const uint8_t *index = blockAt(a.image, indexBlock.track, indexBlock.sector);
    int blocks = 0;
    for (int record = 0; record < kVlirRecords; ++record) {
        TrackSector start;
        VlirPair pair = vlirRecord(index, record, start);
        if (pair == VlirPair::End) break;
        if (pair == VlirPair::Empty) continue;
        int chain = newChain(a, owner, ChainRole::VlirRecord, record);
        ChainEnd end = walkClaiming(a, start, chain, walkBound(a.image.shape));
        warnIfLastIndexMalformed(a, owner, end);
        blocks += end.blocks;
    }
    return blocks;
}

// ---- Entries ----

// The entry's own chain (for a VLIR file its index block); a DEL entry
// without a first block has none.
ChainEnd accountDataChain(Accounting &a, NamedChain named, int owner, EntryKind kind,
                          std::vector<TrackSector> *order) {
    TrackSector start = named.start;
    bool noStart = !isStartBlock(a.image.shape, start);
    if (kind.type == kTypeDel && noStart) return {0, true, kNoBlock, kNoBlock};
    if (start.track == 0) {
        reportNamed(a, FindingKind::StartTrackZero, owner, start);
        return {0, false, kNoBlock, kNoBlock};
    }
    int chain = newChain(a, owner, named.role);
    if (named.role == ChainRole::VlirIndex) return claimSingleBlock(a, start, chain);
    ChainEnd end = walkClaiming(a, start, chain, walkBound(a.image.shape), order);
    warnIfLastIndexMalformed(a, owner, end);
    return end;
}

// The chain the slot names in bytes 15-16: REL side sectors or a GEOS info block.
int accountSecondChain(Accounting &a, const uint8_t *slot, int owner, NamedChain second,
                       const std::vector<TrackSector> &data, bool dataClean) {
    if (second.role == ChainRole::SideSectors) return accountSideSectors(a, slot, owner, second.start, data, dataClean);
    return accountGeosInfo(a, second.start, owner);
}

// A 1581 partition (a CBM entry): its blocks run from the first block in
// layout order, over track ends, and carry no links; validate marks the range
// used as it is and does not look inside. Claims the blocks the image holds;
// one that another chain has already ends the range as a run into it.
int accountPartition(Accounting &a, TrackSector start, int owner, int size) {
    BlockAccount &account = a.account;
    int chain = newChain(a, owner, ChainRole::Data);
    int first = blockIndex(account.shape, start.track, start.sector);
    int blocks = 0;
    for (int index = first; first >= 0 && blocks < size; ++index) {
        TrackSector at = blockOfIndex(account.shape, index);
        if (at.track == 0 || !blockPresent(a.image, at.track, at.sector)) break;
        if (account.chainOf[index] != -1) {
            Finding found = finding(FindingKind::ChainRunsInto, owner, chain);
            found.at = blocks > 0 ? blockOfIndex(account.shape, index - 1) : kNoBlock;
            found.to = at;
            found.otherChain = account.chainOf[index];
            report(a, found);
            break;
        }
        account.chainOf[index] = chain;
        account.usedSectors[at.track] |= uint64_t{1} << at.sector;
        ++blocks;
    }
    return blocks;
}

bool errorsSince(const BlockAccount &account, size_t first) {
    for (size_t i = first; i < account.findings.size(); ++i)
        if (isError(account.findings[i].kind)) return true;
    return false;
}

void accountEntry(Accounting &a, int entry) {
    const uint8_t *slot = a.account.slots[entry].bytes;
    int typeByte = slot[kSlotType];
    if (typeByte == 0) return;
    int owner = entryOwner(entry);
    size_t firstFinding = a.account.findings.size();
    EntryKind kind = entryKind(slot);
    if (!(typeByte & 0x80)) reportAbout(a, FindingKind::FileOpen, owner, kNoBlock, typeByte, 0);
    if (isPartition(a.image.shape, slot)) {
        accountPartition(a, pairAt(slot, kSlotStartTrack), owner, slotBlockCount(slot));
        return;
    }
    if (kind.type >= 5) reportAbout(a, FindingKind::UnknownType, owner, kNoBlock, typeByte, 0);
    if (kind.unknownStructure)
        reportAbout(a, FindingKind::GeosStructure, owner, kNoBlock, slot[kSlotRecordLength], 0);

    SlotChains named = slotChains(slot, kind);
    std::vector<TrackSector> dataOrder;
    ChainEnd data = accountDataChain(a, named.chains[0], owner, kind, kind.type == kTypeRel ? &dataOrder : nullptr);
    int blocks = data.blocks;
    if (named.count > 1) blocks += accountSecondChain(a, slot, owner, named.chains[1], dataOrder, data.clean);
    if (kind.type == kTypeRel) checkRecordCount(a, slot, owner, data);
    if (kind.vlir && data.blocks == 1) blocks += accountVlirRecords(a, data.last, owner);

    int shown = slotBlockCount(slot);
    if (shown != blocks && !errorsSince(a.account, firstFinding))
        reportAbout(a, FindingKind::ShownCount, owner, kNoBlock, shown, blocks);
}

}  // namespace

void buildAccount(const ImageBuffer &image, BlockAccount &account, bool countAll) {
    account.shape = image.shape;
    account.tracks = image.shape.tracks;
    account.directorySlots = 0;
    account.slots.clear();
    account.chains.clear();
    account.findings.clear();
    // Only the blocks up to the highest track have an index (filling all of
    // the largest image's would cost a D64's check a twentieth more).
    std::fill(account.chainOf, account.chainOf + image.shape.family->trackTable->start[highestTrack(image.shape) + 1],
              -1);
    std::fill(std::begin(account.usedSectors), std::end(account.usedSectors), 0);
    const uint8_t *map = headerBlock(image);
    account.mapPresent = map != nullptr;
    if (!map) return;

    Accounting a{image, account};
    account.driveStart = driveDirectoryStart(image);
    claimSystemBlocks(a);
    accountDirectory(a, map);
    numberListedSlots(image, account, countAll);
    accountBorderBlock(a);
    for (int entry = 0; entry < static_cast<int>(account.slots.size()); ++entry) accountEntry(a, entry);
}

BlockSet usedBlocks(const BlockAccount &account) {
    BlockSet used{};
    for (int track = 1; track <= highestTrack(account.shape); ++track)
        for (int sector = 0; sector < sectorsPerTrack(account.shape, track); ++sector)
            if (account.usedSectors[track] >> sector & 1) blockSetAdd(used, track, sector);
    return used;
}

int ownerOf(const BlockAccount &account, int track, int sector) {
    int index = blockIndex(account.shape, track, sector);
    if (index < 0 || account.chainOf[index] < 0) return kOwnerNone;
    return account.chains[account.chainOf[index]].owner;
}
