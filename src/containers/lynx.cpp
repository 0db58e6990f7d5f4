// Reading and writing Lynx archives.
#include "containers/lynx.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "base/options.h"
#include "disk/chain.h"
#include "disk/directory.h"
#include "disk/entrychains.h"

namespace {

constexpr uint8_t kReturn = 0x0D;
constexpr uint8_t kPadding = 0xA0;
constexpr size_t kLynxBlock = 254;
constexpr int kStubAddress = 0x0801;
constexpr int kSideSectorLinks = 120;  // data blocks one side sector lists
constexpr int kMostDigits = 9;         // a number longer than that is no count of blocks
constexpr int kSlotRecordLength = 0x17;

// The type letters of the types 0 to 4, as a Lynx directory writes them.
const char kTypeLetters[] = "DSPUR";

// ---- Reading --------------------------------------------------------------------

// Reads the directory's lines one after the other, up to `end`.
struct LineReader {
    const uint8_t *bytes;
    size_t at;
    size_t end;
    // The next line (without its carriage return) into [start, start + length);
    // false when no carriage return comes before `end`.
    bool next(size_t &start, size_t &length) {
        if (at >= end) return false;  // also an empty archive, whose buffer may have no address
        const uint8_t *found = static_cast<const uint8_t *>(std::memchr(bytes + at, kReturn, end - at));
        if (!found) return false;
        start = at;
        length = static_cast<size_t>(found - bytes) - at;
        at += length + 1;
        return true;
    }
};

// The number a line holds: blanks, up to kMostDigits digits, blanks; -1 when
// it holds anything else. `rest` (when given) gets where the text after the
// number and its blanks begins, and then anything may follow it.
long lineNumber(const uint8_t *line, size_t length, size_t *rest = nullptr) {
    size_t i = 0;
    while (i < length && line[i] == ' ') ++i;
    size_t first = i;
    long value = 0;
    while (i < length && line[i] >= '0' && line[i] <= '9' && i - first < kMostDigits) value = value * 10 + (line[i++] - '0');
    if (i == first) return -1;
    while (i < length && line[i] == ' ') ++i;
    if (rest) *rest = i;
    else if (i != length) return -1;
    return value;
}

// Where the directory begins: after the BASIC stub and the carriage return
// that ends it, when the file begins with a program for $0801; else at 0.
// Returns false when the stub's lines link outside the file or backwards.
bool directoryStart(const uint8_t *bytes, size_t size, size_t &start) {
    start = 0;
    if (size < 2 || bytes[0] != (kStubAddress & 0xFF) || bytes[1] != kStubAddress >> 8) return true;
    size_t line = 2;
    for (;;) {
        if (line + 2 > size) return false;
        int link = bytes[line] | bytes[line + 1] << 8;
        if (link == 0) break;
        size_t next = static_cast<size_t>(link - kStubAddress) + 2;
        if (link < kStubAddress || next <= line + 2 || next >= size) return false;
        line = next;
    }
    start = line + 2;
    if (start < size && bytes[start] == kReturn) ++start;
    return true;
}

std::string entryText(size_t number, const uint8_t *name, size_t length) {
    return "entry " + std::to_string(number) + " (" + consoleQuotedName(name, static_cast<int>(length)) + ")";
}

ContainerRead refused(const std::string &problem) {
    ContainerRead read;
    read.problem = problem;
    return read;
}

// One entry of the directory, as read.
struct LynxEntry {
    size_t nameAt, nameLength;
    long blocks;
    char letter;
    long lastByte;  // -1: not given
    long recordLength;  // REL: its record length; 0 else
};

// Reads the next entry's lines; "" or the problem.
std::string readEntry(const uint8_t *bytes, LineReader &lines, size_t number, bool last, LynxEntry &entry) {
    std::string where = "entry " + std::to_string(number);
    size_t at = 0, length = 0;
    if (!lines.next(entry.nameAt, entry.nameLength)) return "is cut short: its directory ends inside " + where;
    entry.nameLength = std::min<size_t>(entry.nameLength, kNameTextCapacity + 1);
    while (entry.nameLength > 0 && bytes[entry.nameAt + entry.nameLength - 1] == kPadding) --entry.nameLength;
    if (entry.nameLength > kNameLength) return "names " + where + " with more than 16 bytes";
    if (entry.nameLength == 0) return "holds a file with an empty name (" + where + "), which a drive cannot address";
    where = entryText(number, bytes + entry.nameAt, entry.nameLength);
    if (!lines.next(at, length)) return "is cut short: its directory ends inside " + where;
    entry.blocks = lineNumber(bytes + at, length);
    if (entry.blocks < 1) return "lies: " + where + " gives no count of blocks";
    if (!lines.next(at, length)) return "is cut short: its directory ends inside " + where;
    size_t letter = 0;
    while (letter < length && bytes[at + letter] == ' ') ++letter;
    entry.letter = letter < length ? static_cast<char>(bytes[at + letter] & 0xDF) : '\0';
    if (!entry.letter || !std::strchr(kTypeLetters, entry.letter))
        return "lies: " + where + " has no type letter (D, S, P, U or R)";
    if (entry.letter == 'R') {
        if (!lines.next(at, length)) return "lies: " + where + " is a REL file without a record length";
        entry.recordLength = lineNumber(bytes + at, length);
        if (entry.recordLength < 1 || entry.recordLength > 254)
            return "lies: " + where + " is a REL file without a record length of 1 to 254";
    }
    // Some writers leave the last file's out: its directory ends there.
    bool given = lines.next(at, length);
    entry.lastByte = given ? lineNumber(bytes + at, length) : -1;
    if (given || !last) {
        if (entry.lastByte < 1 || entry.lastByte > 255)
            return "lies: " + where + " gives no byte count of its last block (1 to 255)";
    }
    return "";
}

// ---- Writing --------------------------------------------------------------------

// The BASIC stub: 10 PRINT"USE LYNX TO DISSOLVE THIS FILE", and a carriage
// return. Its one line starts at $0801; the link after it is $0000.
std::vector<uint8_t> basicStub() {
    static const char kText[] = "\"USE LYNX TO DISSOLVE THIS FILE\"";
    constexpr int kLineLength = 2 + 2 + 1 + sizeof kText - 1 + 1;  // link, number, PRINT, text, end
    constexpr int kNext = kStubAddress + kLineLength;
    std::vector<uint8_t> stub = {kStubAddress & 0xFF, kStubAddress >> 8, kNext & 0xFF, kNext >> 8, 10, 0, 0x99};
    for (const char *c = kText; *c; ++c) stub.push_back(static_cast<uint8_t>(*c));
    for (uint8_t byte : {uint8_t{0}, uint8_t{0}, uint8_t{0}, kReturn}) stub.push_back(byte);
    return stub;
}

// Appends `before`, the number, `after` and a carriage return: a line of the directory.
void appendLine(std::vector<uint8_t> &to, const char *before, long number, const char *after) {
    char line[48];
    int length = std::snprintf(line, sizeof line, "%s%ld%s\r", before, number, after);
    for (int i = 0; i < length && i < static_cast<int>(sizeof line) - 1; ++i) to.push_back(static_cast<uint8_t>(line[i]));
}

// One file as it goes into the archive.
struct LynxFile {
    const uint8_t *slot;
    std::vector<uint8_t> data;
    long blocks;       // blocks of the archive it takes, side sectors included
    long sideSectors;  // REL: zero blocks before its data
};

// The directory's lines after the signature line.
std::vector<uint8_t> directoryLines(const std::vector<LynxFile> &files) {
    std::vector<uint8_t> lines;
    appendLine(lines, " ", static_cast<long>(files.size()), " ");
    for (const LynxFile &file : files) {
        const uint8_t *name = file.slot + kSlotName;
        for (int i = 0; i < kNameLength; ++i) lines.push_back(name[i]);
        lines.push_back(kReturn);
        long lastBytes = static_cast<long>(file.data.size()) - (file.blocks - file.sideSectors - 1) * static_cast<long>(kLynxBlock);
        char letter = kTypeLetters[file.slot[kSlotType] & 7];
        appendLine(lines, " ", file.blocks, "");
        lines.push_back(static_cast<uint8_t>(letter));
        lines.push_back(kReturn);
        if (letter == 'R') appendLine(lines, " ", file.slot[kSlotRecordLength], " ");
        appendLine(lines, " ", lastBytes + 1, " ");
    }
    return lines;
}

// Why an entry cannot go into a Lynx archive, or "".
std::string lynxProblem(int number, const uint8_t *slot) {
    EntryKind kind = entryKind(slot);
    std::string entry = "Entry " + std::to_string(number) + " ";
    if (kind.type > kTypeRel) return entry + "has a type (5 to 7) that a Lynx archive has no letter for; nothing was written.";
    if (kind.geos)
        return entry + "is a GEOS file, whose info block and records a Lynx archive cannot hold; nothing was written.";
    if (std::memchr(slot + kSlotName, kReturn, kNameLength))
        return entry + "has a carriage return ($0D) in its name, which ends a line of a Lynx directory; nothing was "
                       "written.";
    return "";
}

}  // namespace

ContainerRead readLynx(const uint8_t *bytes, size_t size) {
    size_t start = 0;
    if (!directoryStart(bytes, size, start)) return refused("is cut short or lies: its BASIC stub links outside it");
    LineReader lines{bytes, start, size};
    size_t at = 0, length = 0, rest = 0;
    if (!lines.next(at, length)) return refused("is no Lynx archive (no signature line)");
    long directoryBlocks = lineNumber(bytes + at, length, &rest);
    const uint8_t *text = bytes + at + rest;
    size_t textLength = length - std::min(rest, length);
    static constexpr char kSignature[] = "LYNX";
    bool named = std::search(text, text + textLength, kSignature, kSignature + 4) != text + textLength;
    if (directoryBlocks < 1 || !named) return refused("is no Lynx archive (no \"LYNX\" in its signature line)");
    uint64_t dataStart = static_cast<uint64_t>(directoryBlocks) * kLynxBlock;
    if (dataStart > size)
        return refused("is cut short: its directory of " + std::to_string(directoryBlocks) + " blocks ends at byte " +
                       std::to_string(dataStart) + ", the file at " + std::to_string(size));
    lines.end = static_cast<size_t>(dataStart);
    if (!lines.next(at, length)) return refused("is cut short: its directory ends before its count of files");
    long count = lineNumber(bytes + at, length);
    if (count < 1) return refused("holds no file (its directory counts none)");

    ContainerRead read;
    uint64_t offset = dataStart;
    std::vector<LynxEntry> entries;
    for (long i = 0; i < count; ++i) {
        LynxEntry entry{};
        std::string problem = readEntry(bytes, lines, static_cast<size_t>(i), i + 1 == count, entry);
        if (!problem.empty()) return refused(problem);
        entries.push_back(entry);
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const LynxEntry &entry = entries[i];
        long sideSectors = entry.letter == 'R' ? (entry.blocks + 119) / 121 : 0;
        uint64_t dataAt = offset + static_cast<uint64_t>(sideSectors) * kLynxBlock;
        long dataBlocks = entry.blocks - sideSectors;
        std::string where = entryText(i, bytes + entry.nameAt, entry.nameLength);
        uint64_t length = entry.lastByte < 0 ? std::min<uint64_t>(size - std::min<uint64_t>(dataAt, size),
                                                                   static_cast<uint64_t>(dataBlocks) * kLynxBlock)
                                             : static_cast<uint64_t>(dataBlocks) * kLynxBlock - 255 + entry.lastByte;
        if (dataBlocks < 1 || dataAt + length > size)
            return refused("lies: the data of " + where + " would end at byte " + std::to_string(dataAt + length) +
                           ", past the archive's end at " + std::to_string(size));
        if (entry.lastByte < 0)
            read.warnings.push_back(where + " gives no length; it takes the rest of the archive, " +
                                    std::to_string(length) + " bytes");
        static const uint8_t kTypes[] = {0x80, 0x81, 0x82, 0x83, 0x84};
        uint8_t type = kTypes[std::strchr(kTypeLetters, entry.letter) - kTypeLetters];
        HostFileEntry named{};
        std::memset(named.name, kPadding, sizeof named.name);
        std::memcpy(named.name, bytes + entry.nameAt, entry.nameLength);
        named.length = static_cast<int>(entry.nameLength);
        named.typeByte = type;
        named.problem = NameTextProblem::None;
        read.files.push_back({named, static_cast<size_t>(dataAt), static_cast<size_t>(length), -1, {}});
        // A REL file's side sectors are the target's to build: only its records are kept.
        if (entry.letter == 'R') {
            read.files.back().structure.form = FileForm::Rel;
            read.files.back().structure.recordLength = static_cast<int>(entry.recordLength);
        }
        offset += static_cast<uint64_t>(entry.blocks) * kLynxBlock;
    }
    return read;
}

std::string lynxOfImage(const ImageBuffer &image, uint64_t bound, std::vector<uint8_t> &archive, int &count) {
    archive.clear();
    count = 0;
    std::vector<LynxFile> files;
    uint64_t total = 0;
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, options.showAll)) {
        if (!slotHasStartBlock(image.shape, slot) || isPartition(image.shape, slot)) continue;
        bool chosen = options.extractFirst < 0 ? slot[kSlotType] != 0
                                               : cursor.number >= options.extractFirst && cursor.number <= options.extractLast;
        if (!chosen) continue;
        std::string problem = lynxProblem(cursor.number, slot);
        if (!problem.empty()) return problem;
        LynxFile file{slot, {}, 0, 0};
        readChain(image, pairAt(slot, kSlotStartTrack), file.data);
        long dataBlocks = std::max<long>(1, static_cast<long>((file.data.size() + kLynxBlock - 1) / kLynxBlock));
        file.sideSectors = (slot[kSlotType] & 7) == kTypeRel ? (dataBlocks + kSideSectorLinks - 1) / kSideSectorLinks : 0;
        file.blocks = dataBlocks + file.sideSectors;
        total += static_cast<uint64_t>(file.blocks) * kLynxBlock;
        if (total > bound)
            return "The files would come to more than " + std::to_string(bound) + " bytes, the bound of '-x' for "
                   "the image (its directory names the same blocks many times); nothing was written.";
        files.push_back(std::move(file));
    }
    if (files.empty() && options.extractFirst >= 0)
        return "No entry numbered " + std::to_string(options.extractFirst) + " to " +
               std::to_string(options.extractLast) + " has a file to put into a Lynx archive.";

    std::vector<uint8_t> stub = basicStub(), lines = directoryLines(files), signature;
    // The signature names the directory's blocks, which its own length may
    // change. cbmconvert reads no signature but one of 24 characters.
    long blocks = 1;
    for (;;) {
        signature.clear();
        appendLine(signature, " ", blocks, "  *LYNX ARCHIVE - KESTREL*");
        long needed = static_cast<long>((stub.size() + signature.size() + lines.size() + kLynxBlock - 1) / kLynxBlock);
        if (needed <= blocks) break;
        blocks = needed;
    }
    archive = stub;
    archive.insert(archive.end(), signature.begin(), signature.end());
    archive.insert(archive.end(), lines.begin(), lines.end());
    archive.resize(static_cast<size_t>(blocks) * kLynxBlock, 0);
    for (size_t i = 0; i < files.size(); ++i) {
        archive.resize(archive.size() + static_cast<size_t>(files[i].sideSectors) * kLynxBlock, 0);
        archive.insert(archive.end(), files[i].data.begin(), files[i].data.end());
        // Every file but the last fills its blocks, as cbmconvert writes them.
        if (i + 1 < files.size()) archive.resize(archive.size() + (kLynxBlock - files[i].data.size() % kLynxBlock) % kLynxBlock, 0);
        if (i + 1 < files.size() && files[i].data.empty()) archive.resize(archive.size() + kLynxBlock, 0);
    }
    count = static_cast<int>(files.size());
    return "";
}
