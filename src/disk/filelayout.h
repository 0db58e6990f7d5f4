// Files that are more than one chain of data blocks, as structures on a disk:
// a REL file's side sectors (on a 1581 also its super side sector), a GEOS
// file's info block and, for a VLIR file, its index block and records. Reads
// an entry's structure into a plain record (FileStructure) beside its data,
// and writes one onto blocks a caller has already taken, in the order
// relStreamOrder and geosStreamOrder give. Placement (which blocks) is the
// insert's part; nothing here searches the map, prints or exits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/entrychains.h"
#include "disk/image.h"

constexpr int kBlockPayload = kBlockSize - 2;  // data bytes a linked block holds
constexpr int kGeosFields = 7;                 // slot bytes 17-1D of a GEOS entry

enum class FileForm : uint8_t { Plain, Rel, GeosSequential, GeosVlir };

// One pair of a VLIR index, up to the first End pair.
struct VlirSlot {
    VlirPair kind;      // Empty or Record (End is never stored)
    uint8_t emptyByte;  // Empty: the pair's second byte, kept as it stands (0xFF as GEOS writes it)
    size_t offset;      // Record: where its bytes begin in the file's data
    size_t length;      // Record: how many bytes it holds
};

// What a file is beyond its data. Plain data, passed by value.
struct FileStructure {
    FileForm form = FileForm::Plain;
    int recordLength = 0;              // Rel: the record length, 1..254
    uint8_t geosFields[kGeosFields]{}; // GEOS: structure, GEOS type, year, month, day, hour, minute
    uint8_t info[kBlockPayload]{};     // GEOS: the info block without its two link bytes
    std::vector<VlirSlot> records;     // GeosVlir: the index pairs before the first End (at most 127)
};

inline bool isGeosForm(FileForm form) { return form == FileForm::GeosSequential || form == FileForm::GeosVlir; }

// ---- Reading an entry ----

// The structure of the entry in `slot` (a file entry, not a partition), and,
// when `data` is given, its data: the data chain's payload (REL: the
// records), for a VLIR file every record's payload one after another. Returns
// "" when the entry can be taken whole, else why not, in words that follow
// "entry N " ("has no info block", "has a chain that breaks off before its
// last block", ...): a data chain, info block, index block or record chain
// that the walker cannot follow to its end, a REL record length of 0, a
// GEOS structure byte other than 0 and 1. `data` is then in no particular
// state. Every walk is bounded (walk.h); nothing outside the image is read.
std::string readFileStructure(const ImageBuffer &image, const uint8_t *slot, FileStructure &structure,
                              std::vector<uint8_t> *data);

// ---- REL files ----

// Data blocks one side sector lists, and side sectors in a group (all a
// 1541 or 1571 REL file has).
constexpr int kRelPairsPerSide = 120;
constexpr int kRelSidesPerGroup = 6;
// Groups a 1581 super side sector lists.
constexpr int kRelGroups = 126;
// Byte 02 of a 1581 super side sector.
constexpr uint8_t kSuperSideMark = 0xFE;

// True when REL files on this image get a super side sector: a 1581 disk
// (or partition) whose I/O byte (F/1 byte 06) does not have bit 5 set.
bool relUsesSuperSide(const ImageBuffer &image);

// The side sectors a REL file of `dataBlocks` data blocks needs (one for each
// 120, at least one).
inline int relSideSectors(int dataBlocks) { return dataBlocks <= 0 ? 1 : (dataBlocks + kRelPairsPerSide - 1) / kRelPairsPerSide; }

// The most side sectors a REL file may have on this image: 6, or with a
// super side sector 126 groups of 6.
int relMostSideSectors(const ImageBuffer &image);

// What each block of a REL file's stream of blocks is, in the order the
// insert takes them: the first data block, the super side sector (when
// there is one), side sector 0, the next 119 data blocks, then for each
// further 120 the data block that starts them, its side sector, and the rest.
struct RelPart {
    enum Kind : uint8_t { Data, Side, Super } kind;
    int index;  // data block or side sector number within the file
};
std::vector<RelPart> relStreamOrder(int dataBlocks, bool superSide);

// Writes a REL file onto blocks already taken: `data` as a chain holding
// `size` bytes from `bytes`, the side sectors in `sides` (relSideSectors of
// the data blocks, linked in turn, each listing its group's side sectors and
// 120 data blocks, the record length in byte 03), and, unless `super` is
// track 0, the super side sector. Precondition: every block is present.
void writeRelFile(ImageBuffer &image, const std::vector<TrackSector> &data, const std::vector<TrackSector> &sides,
                  TrackSector super, int recordLength, const uint8_t *bytes, size_t size);

// ---- GEOS files ----

// Blocks of a GEOS file, in the order the insert takes them: the info block,
// the VLIR index block (VLIR only), then the data blocks: a sequential file's
// chain, or each record's chain in turn.
int geosBlockCount(const FileStructure &structure, size_t size);

// Writes a GEOS file onto `blocks` (geosBlockCount of them, in that order):
// the info block (link 00 FF), the index block (link 00 FF; each record's
// first block, empty records and the End pairs as the structure has them),
// and the chains. Returns the entry's first block (the index block of a VLIR
// file, else the data chain's) and sets `info`. Precondition: every block is
// present.
TrackSector writeGeosFile(ImageBuffer &image, const std::vector<TrackSector> &blocks, const FileStructure &structure,
                          const uint8_t *bytes, size_t size, TrackSector &info);

// ---- Chains ----

// Blocks of a chain holding `size` bytes (an empty file takes one).
inline int chainBlocksFor(size_t size) {
    return size == 0 ? 1 : static_cast<int>((size + kBlockPayload - 1) / kBlockPayload);
}

// Writes `size` bytes as a chain over the `count` blocks at `blocks`
// (chainBlocksFor(size) of them): each linked to the next, the last linked 0 and the
// index of its last used byte; bytes beyond the data are 0.
void writeChainBlocks(ImageBuffer &image, const TrackSector *blocks, int count, const uint8_t *bytes, size_t size);
