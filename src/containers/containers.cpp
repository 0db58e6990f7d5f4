// Reading PC64 files and T64 tape images, writing PC64 headers.
#include "containers/containers.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "base/console.h"
#include "base/filewrite.h"
#include "disk/directory.h"
#include "disk/entrychains.h"
#include "disk/family.h"

namespace {

constexpr uint8_t kPadding = 0xA0;
constexpr size_t kPc64HeaderSize = 26;
constexpr size_t kPc64Name = 8;
constexpr size_t kPc64RecordLength = 25;
const char kPc64Signature[8] = {'C', '6', '4', 'F', 'i', 'l', 'e', 0};

constexpr size_t kTapeHeaderSize = 64;
constexpr size_t kTapeEntrySize = 32;
constexpr size_t kTapeMaxEntries = 0x22;
constexpr size_t kTapeUsedEntries = 0x24;
constexpr size_t kTapeName = 0x10;
constexpr uint8_t kTapeFile = 1;

int word(const uint8_t *at) { return at[0] | at[1] << 8; }

uint32_t longWord(const uint8_t *at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

ContainerRead refused(const std::string &problem) {
    ContainerRead read;
    read.problem = problem;
    return read;
}

std::string hex(unsigned value, int digits) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text = "$";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kHex[value >> shift & 15];
    return text;
}

// The length of a tape entry's name: its 16 bytes without the blanks, 0x00
// or 0xA0 that pad them.
size_t tapeNameLength(const uint8_t *name) {
    size_t length = kNameLength;
    while (length > 0 && (name[length - 1] == 0x20 || name[length - 1] == 0 || name[length - 1] == kPadding)) --length;
    return length;
}

// `entry N ("NAME")` for messages: the name without its padding, as the
// listing shows names.
std::string tapeEntryText(size_t number, const uint8_t *entry) {
    int length = static_cast<int>(tapeNameLength(entry + kTapeName));
    return "entry " + std::to_string(number) + " (" + consoleQuotedName(entry + kTapeName, length) + ")";
}

// The bytes of a tape file whose data begins at `offset` with `room` bytes
// before the next file or the end: the end address's count when the rest of
// the room is zero padding, else the whole room (see readTape).
size_t tapeFileLength(const uint8_t *bytes, size_t offset, size_t room, int start, int end) {
    long stated = (end == 0 ? 0x10000L : end) - start;
    if (stated < 0 || static_cast<size_t>(stated) > room) return room;
    const uint8_t *rest = bytes + offset + stated, *roomEnd = bytes + offset + room;
    return std::all_of(rest, roomEnd, [](uint8_t byte) { return byte == 0; }) ? static_cast<size_t>(stated) : room;
}

}  // namespace

HostFileEntry containedEntry(const uint8_t *name, size_t length, uint8_t typeByte) {
    HostFileEntry entry{};
    std::memset(entry.name, kPadding, sizeof entry.name);
    std::memcpy(entry.name, name, length);
    entry.length = static_cast<int>(length);
    entry.typeByte = typeByte;
    entry.problem = NameTextProblem::None;
    return entry;
}

HostFileKind hostFileKindOf(const std::string &fileName) {
    // A name that is all extension (".p00") names a hidden file, no container.
    if (fileName.find_last_of('.') == 0) return HostFileKind::Plain;
    std::string extension = fileExtension(fileName);
    if (extension == "t64") return HostFileKind::Tape;
    if (extension == "cvt") return HostFileKind::Cvt;
    if (extension == "lnx") return HostFileKind::Lynx;
    // A disk image's extension (.d64, .d71, .d81) has the form of a PC64 DEL
    // file's; such a file is a disk image, inserted as it is.
    if (familyNamed(extension.c_str())) return HostFileKind::Plain;
    bool pc64 = extension.size() == 3 && std::strchr("psurd", extension[0]) &&
                extension[1] >= '0' && extension[1] <= '9' && extension[2] >= '0' && extension[2] <= '9';
    return pc64 ? HostFileKind::Pc64 : HostFileKind::Plain;
}

ContainerRead readPc64(const std::string &fileName, const uint8_t *bytes, size_t size) {
    assert(hostFileKindOf(fileName) == HostFileKind::Pc64);
    if (size < kPc64HeaderSize)
        return refused("is too short for a PC64 file (" + std::to_string(size) + " bytes; its header takes 26)");
    if (std::memcmp(bytes, kPc64Signature, sizeof kPc64Signature) != 0)
        return refused("has no PC64 header (\"C64File\" at its start), though its extension names one");
    char letter = fileExtension(fileName)[0];
    static const char kLetters[] = "dspur";
    uint8_t type = static_cast<uint8_t>(0x80 + (std::strchr(kLetters, letter) - kLetters));
    const uint8_t *name = bytes + kPc64Name;
    size_t length = kNameLength;
    while (length > 0 && name[length - 1] == 0) --length;
    ContainedFile file{containedEntry(name, length, type), kPc64HeaderSize, size - kPc64HeaderSize, -1, {}};
    if (file.entry.length == 0) return refused("holds an empty name, which a drive cannot address");
    ContainerRead read;
    if (letter == 'r') {
        int recordLength = bytes[kPc64RecordLength];
        if (recordLength == 0 || recordLength > kBlockPayload)
            return refused("holds a REL file of record length " + std::to_string(recordLength) +
                           " (its byte 25); a drive writes records of 1 to 254 bytes");
        file.structure.form = FileForm::Rel;
        file.structure.recordLength = recordLength;
        if (file.length % static_cast<size_t>(recordLength) != 0)
            read.warnings.push_back("its " + std::to_string(file.length) + " bytes are no whole number of " +
                                    std::to_string(recordLength) + "-byte records; the last record is cut short");
    }
    read.files.push_back(file);
    return read;
}

void containedData(const uint8_t *container, const ContainedFile &file, std::vector<uint8_t> &data) {
    data.clear();
    if (file.startAddress >= 0)
        data = {static_cast<uint8_t>(file.startAddress & 0xFF), static_cast<uint8_t>(file.startAddress >> 8)};
    data.insert(data.end(), container + file.offset, container + file.offset + file.length);
}

ContainerRead readTape(const uint8_t *bytes, size_t size) {
    if (size < kTapeHeaderSize)
        return refused("is too short for a T64 tape image (" + std::to_string(size) + " bytes; its header takes 64)");
    if (std::memcmp(bytes, "C64", 3) != 0) return refused("has no T64 header (\"C64\" at its start)");
    size_t entries = static_cast<size_t>(word(bytes + kTapeMaxEntries));
    if (entries == 0) return refused("is a T64 tape image whose directory has no entries");
    size_t directoryEnd = kTapeHeaderSize + kTapeEntrySize * entries;
    if (directoryEnd > size)
        return refused("is cut short: its directory of " + std::to_string(entries) + " entries ends at byte " +
                       std::to_string(directoryEnd) + ", the file at " + std::to_string(size));

    ContainerRead read;
    std::vector<size_t> tapeFiles;  // entry numbers of the files, in directory order
    std::vector<uint32_t> offsets;  // data offsets of every used entry
    size_t used = 0;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t *entry = bytes + kTapeHeaderSize + kTapeEntrySize * i;
        if (entry[0] == 0) continue;
        ++used;
        uint32_t offset = longWord(entry + 8);
        if (offset < directoryEnd || offset >= size)
            return refused("lies: the data of " + tapeEntryText(i, entry) + " would start at byte " +
                           std::to_string(offset) + ", outside the data between bytes " +
                           std::to_string(directoryEnd) + " and " + std::to_string(size));
        offsets.push_back(offset);
        if (entry[0] == kTapeFile) tapeFiles.push_back(i);
        else
            read.warnings.push_back(tapeEntryText(i, entry) + " is no tape file (entry type " +
                                    std::to_string(entry[0]) + ", such as a memory snapshot); left out");
    }
    if (tapeFiles.empty()) return refused("is a T64 tape image that holds no tape file");
    if (used != static_cast<size_t>(word(bytes + kTapeUsedEntries)))
        read.warnings.push_back("its header counts " + std::to_string(word(bytes + kTapeUsedEntries)) +
                                " used entries, its directory has " + std::to_string(used));
    std::sort(offsets.begin(), offsets.end());

    for (size_t i : tapeFiles) {
        const uint8_t *entry = bytes + kTapeHeaderSize + kTapeEntrySize * i;
        uint32_t offset = longWord(entry + 8);
        auto next = std::upper_bound(offsets.begin(), offsets.end(), offset);
        size_t room = (next == offsets.end() ? size : *next) - offset;
        int start = word(entry + 2), end = word(entry + 4);
        size_t length = tapeFileLength(bytes, offset, room, start, end);
        if (static_cast<size_t>(((end - start) & 0xFFFF)) != length)
            read.warnings.push_back(tapeEntryText(i, entry) + " ends at " + hex(end, 4) +
                                    " by its header, but its data holds " + std::to_string(length) + " bytes (to " +
                                    hex(static_cast<unsigned>(start + length) & 0xFFFF, 4) + "); all are inserted");
        const uint8_t *name = entry + kTapeName;
        size_t nameLength = tapeNameLength(name);
        bool seq = (entry[1] & 0x87) == 0x81;
        ContainedFile file{containedEntry(name, nameLength, seq ? 0x81 : 0x82), offset, length, seq ? -1 : start, {}};
        if (file.entry.length == 0)
            return refused("holds a file with an empty name (" + tapeEntryText(i, entry) +
                           "), which a drive cannot address");
        read.files.push_back(file);
    }
    return read;
}

void pc64Header(const uint8_t *slot, std::vector<uint8_t> &header, char &letter) {
    static const char kLetters[] = "dspuruuu";
    letter = kLetters[slot[kSlotType] & 7];
    header.assign(kPc64HeaderSize, 0);
    std::memcpy(header.data(), kPc64Signature, sizeof kPc64Signature);
    // Every name byte up to the padding at its end, an inner 0xA0 and what follows it too.
    const uint8_t *name = slot + kSlotName;
    size_t length = kNameLength;
    while (length > 0 && name[length - 1] == kPadding) --length;
    std::memcpy(header.data() + kPc64Name, name, std::max<size_t>(length, 1));
    // A name that ends in 0x00 would lose it to the padding: 0xA0 pads it then.
    if (length > 0 && name[length - 1] == 0) std::memset(header.data() + kPc64Name + length, kPadding, kNameLength - length);
    header[kPc64RecordLength] = slot[kSlotRecordLength];
}
