// Reading and writing GEOS Convert files.
#include "containers/cvt.h"

#include <cstring>
#include <string>

#include "disk/directory.h"

namespace {

constexpr size_t kSignatureAt = 0x1E;
constexpr char kSignatureTail[] = " formatted GEOS file";  // after "PRG" or "SEQ"
constexpr char kVersion[] = " V1.0";
constexpr size_t kInfoAt = kCvtBlock;           // block 1
constexpr size_t kTableAt = 2 * kCvtBlock;      // a VLIR file's block 2
constexpr size_t kVlirDataAt = 3 * kCvtBlock;   // its records
constexpr size_t kSequentialDataAt = kTableAt;  // a sequential file's data

// Offsets in block 0: the slot's bytes from 02 on.
constexpr size_t kEntryBytes = kSlotSize - kSlotType;
constexpr size_t entryOffset(int slotOffset) { return static_cast<size_t>(slotOffset - kSlotType); }

ContainerRead refusedCvt(const std::string &problem) {
    ContainerRead read;
    read.problem = problem;
    return read;
}

// True when `bytes` at the signature's place read "PRG" or "SEQ" and the
// words after it; `versioned` tells whether " V1.0" follows.
bool cvtSignature(const uint8_t *bytes, bool &versioned) {
    const char *at = reinterpret_cast<const char *>(bytes + kSignatureAt);
    if (std::memcmp(at, "PRG", 3) != 0 && std::memcmp(at, "SEQ", 3) != 0) return false;
    if (std::memcmp(at + 3, kSignatureTail, sizeof kSignatureTail - 1) != 0) return false;
    versioned = std::memcmp(at + 3 + sizeof kSignatureTail - 1, kVersion, sizeof kVersion - 1) == 0;
    return true;
}

// Reads the record table of a VLIR file into the structure, each record's
// offset counted from the data's start; "" or the problem.
std::string readRecordTable(const uint8_t *bytes, size_t size, bool versioned, FileStructure &structure,
                            size_t &end) {
    const uint8_t *table = bytes + kTableAt;
    size_t at = kVlirDataAt;
    for (int record = 0; record < kVlirRecords; ++record) {
        uint8_t blocks = table[2 * record], last = table[2 * record + 1];
        if (blocks == 0 && last == 0) break;
        if (blocks == 0) {
            structure.records.push_back({VlirPair::Empty, last, 0, 0});
            continue;
        }
        int lastBytes = versioned ? last - 1 : last;
        if (lastBytes < 0 || lastBytes > static_cast<int>(kCvtBlock) || (lastBytes == 0 && blocks > 1))
            return "lies: record " + std::to_string(record) + " of its table gives " + std::to_string(last) +
                   " for the bytes of its last block, which holds 1 to 254";
        size_t length = (blocks - 1) * kCvtBlock + static_cast<size_t>(lastBytes);
        if (at + length > size)
            return "lies: record " + std::to_string(record) + " of its table (" + std::to_string(blocks) +
                   " blocks) would end at byte " + std::to_string(at + length) + ", the file at " +
                   std::to_string(size);
        structure.records.push_back({VlirPair::Record, 0, at - kVlirDataAt, length});
        end = at + length;
        at += blocks * kCvtBlock;
    }
    return "";
}

}  // namespace

ContainerRead readCvt(const uint8_t *bytes, size_t size) {
    if (size < kSequentialDataAt)
        return refusedCvt("is too short for a CVT file (" + std::to_string(size) +
                          " bytes; its entry and info block take 508)");
    bool versioned = false;
    if (!cvtSignature(bytes, versioned))
        return refusedCvt("has no CVT signature (\"PRG formatted GEOS file\" at byte 30)");
    const uint8_t *entry = bytes;  // slot bytes 02-1F
    uint8_t type = entry[entryOffset(kSlotType)];
    if ((type & 7) < 1 || (type & 7) > 3)
        return refusedCvt("gives type byte $" + std::string(1, "0123456789abcdef"[type >> 4]) +
                          "0123456789abcdef"[type & 15] + ", which no GEOS file has (SEQ, PRG or USR)");
    const uint8_t *name = entry + entryOffset(kSlotName);
    const void *padding = std::memchr(name, 0xA0, kNameLength);
    size_t nameLength = padding ? static_cast<size_t>(static_cast<const uint8_t *>(padding) - name) : kNameLength;
    if (nameLength == 0) return refusedCvt("holds an empty name, which a drive cannot address");
    ContainedFile file{containedEntry(name, nameLength, type), 0, 0, -1, {}};
    std::memcpy(file.entry.name, name, kNameLength);  // the bytes after a 0xA0 inside it too
    FileStructure &structure = file.structure;
    std::memcpy(structure.geosFields, entry + entryOffset(kSlotRecordLength), kGeosFields);
    int form = structure.geosFields[0];
    if (form > 1)
        return refusedCvt("gives structure byte " + std::to_string(form) + ", neither sequential (0) nor VLIR (1)");
    if (structure.geosFields[1] == 0) return refusedCvt("gives GEOS file type 0, that of a file that is no GEOS file");
    std::memcpy(structure.info, bytes + kInfoAt, kCvtBlock);
    ContainerRead read;
    if (form == 0) {
        structure.form = FileForm::GeosSequential;
        file.offset = kSequentialDataAt;
        file.length = size - kSequentialDataAt;
    } else {
        structure.form = FileForm::GeosVlir;
        if (size < kVlirDataAt)
            return refusedCvt("is too short for a VLIR file's CVT (" + std::to_string(size) +
                              " bytes; its entry, info block and record table take 762)");
        size_t end = kVlirDataAt;
        std::string problem = readRecordTable(bytes, size, versioned, structure, end);
        if (!problem.empty()) return refusedCvt(problem);
        file.offset = kVlirDataAt;
        file.length = end - kVlirDataAt;
        if (end < size)
            read.warnings.push_back("it holds " + std::to_string(size - end) +
                                    " bytes after the last record of its table; they are left out");
    }
    if (!versioned) read.warnings.push_back("its signature lacks \" V1.0\"; its record table is read as an older "
                                            "tool writes it, each last block counting its bytes");
    read.files.push_back(file);
    return read;
}

void writeCvt(const uint8_t *slot, const FileStructure &structure, const std::vector<uint8_t> &data,
              std::vector<uint8_t> &out) {
    bool vlir = structure.form == FileForm::GeosVlir;
    out.assign(vlir ? kVlirDataAt : kSequentialDataAt, 0);
    std::memcpy(out.data(), slot + kSlotType, kEntryBytes);
    for (int field : {kSlotStartTrack, kSlotStartSector, kSlotSideOrInfo, kSlotSideOrInfo + 1})
        out[entryOffset(field)] = 0;
    int blocks = geosBlockCount(structure, data.size());
    out[entryOffset(kSlotBlockCount)] = static_cast<uint8_t>(blocks & 0xFF);
    out[entryOffset(kSlotBlockCount) + 1] = static_cast<uint8_t>(blocks >> 8);
    std::string signature = std::string(vlir ? "PRG" : "SEQ") + kSignatureTail + kVersion;
    std::memcpy(out.data() + kSignatureAt, signature.data(), signature.size());
    std::memcpy(out.data() + kInfoAt, structure.info, kCvtBlock);
    if (!vlir) {
        out.insert(out.end(), data.begin(), data.end());
        return;
    }
    size_t lastRecord = 0;
    for (size_t record = 0; record < structure.records.size(); ++record)
        if (structure.records[record].kind == VlirPair::Record) lastRecord = record + 1;
    for (size_t record = 0; record < structure.records.size(); ++record) {
        const VlirSlot &entry = structure.records[record];
        uint8_t *pair = out.data() + kTableAt + 2 * record;
        if (entry.kind != VlirPair::Record) {
            pair[1] = entry.emptyByte;
            continue;
        }
        int count = chainBlocksFor(entry.length);
        pair[0] = static_cast<uint8_t>(count);
        pair[1] = static_cast<uint8_t>(entry.length - static_cast<size_t>(count - 1) * kCvtBlock + 1);
        out.insert(out.end(), data.begin() + static_cast<long>(entry.offset),
                   data.begin() + static_cast<long>(entry.offset + entry.length));
        // Every record but the file's last fills its last block.
        if (record + 1 < lastRecord) out.resize(out.size() + static_cast<size_t>(count) * kCvtBlock - entry.length);
    }
}
