// The JSON report: the line of one image, built whole in memory and written
// with one call. Field names and their meaning are documented in
// doc/kestrel.1 and checked against doc/kestrel-json.schema.json by the tests.
#include "report/json.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "base/charmap.h"
#include "base/console.h"
#include "base/options.h"
#include "disk/bam.h"
#include "disk/directory.h"
#include "disk/entrychains.h"
#include "gcr/gcrdisk.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void appendNumber(JsonLine &line, long long value) {
    char *at = line.room(24);
    line.used += static_cast<size_t>(std::to_chars(at, at + 24, value).ptr - at);
}

// Appends a string literal without measuring it at run time.
template <size_t N>
void appendLiteral(JsonLine &line, const char (&text)[N]) {
    line.add(text, N - 1);
}

template <size_t N>
void appendKey(JsonLine &line, const char (&key)[N]) {
    line.add('"');
    appendLiteral(line, key);
    appendLiteral(line, "\":");
}

template <size_t N>
void appendNumberField(JsonLine &line, const char (&key)[N], long long value) {
    appendKey(line, key);
    appendNumber(line, value);
    line.add(',');
}

template <size_t N>
void appendBoolField(JsonLine &line, const char (&key)[N], bool value) {
    appendKey(line, key);
    if (value) appendLiteral(line, "true,");
    else appendLiteral(line, "false,");
}

// Length of the UTF-8 sequence at `at` when it is well formed (shortest form,
// no surrogate, at most U+10FFFF), else 0.
size_t utf8SequenceLength(const unsigned char *at, size_t left) {
    unsigned char lead = at[0];
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || length > left) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((at[i] & 0xC0) != 0x80) return 0;
    if (lead == 0xE0 && at[1] < 0xA0) return 0;   // overlong
    if (lead == 0xED && at[1] >= 0xA0) return 0;  // surrogate
    if (lead == 0xF0 && at[1] < 0x90) return 0;   // overlong
    if (lead == 0xF4 && at[1] >= 0x90) return 0;  // above U+10FFFF
    return length;
}

// "\u00XX" for a code below 0x100 that JSON or a terminal must not see as it is.
void appendEscapedCode(JsonLine &line, unsigned code) {
    appendLiteral(line, "\\u00");
    line.add(kHexDigits[code >> 4 & 15]);
    line.add(kHexDigits[code & 15]);
}

// A JSON string of text from outside (a path, a message): '"', '\' and the
// control codes escaped, C1 controls too (some terminals obey them), and every
// byte that does not begin a well-formed UTF-8 sequence as U+FFFD.
void appendTextString(JsonLine &line, const std::string &text) {
    line.add('"');
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t at = 0; at < text.size();) {
        unsigned char byte = bytes[at];
        size_t length = byte < 0x80 ? 1 : utf8SequenceLength(bytes + at, text.size() - at);
        if (length == 0) {
            appendLiteral(line, "\xEF\xBF\xBD");
            length = 1;
        } else if (byte == 0xC2 && bytes[at + 1] < 0xA0) {
            appendEscapedCode(line, bytes[at + 1]);
        } else if (byte == '"' || byte == '\\') {
            line.add('\\');
            line.add(static_cast<char>(byte));
        } else if (byte < 0x20 || byte == 0x7F) {
            appendEscapedCode(line, byte);
        } else {
            line.add(text.data() + at, length);
        }
        at += length;
    }
    line.add('"');
}

}  // namespace

std::string wellFormedText(const std::string &text) {
    std::string clean;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t at = 0; at < text.size();) {
        unsigned char byte = bytes[at];
        size_t length = byte < 0x80 ? 1 : utf8SequenceLength(bytes + at, text.size() - at);
        bool control = byte < 0x20 || byte == 0x7F || (length == 2 && byte == 0xC2 && bytes[at + 1] < 0xA0);
        if (length == 0 || control) clean += "\xEF\xBF\xBD";
        else clean.append(text, at, length);
        at += length ? length : 1;
    }
    return clean;
}

namespace {

void appendGlyphs(JsonReport &report, const uint8_t *codes, int count) {
    for (int i = 0; i < count; ++i) report.line.add(report.glyphText[codes[i]], report.glyphLength[codes[i]]);
}

// A name field as glyphs, without the 0xA0 padding at its end.
template <size_t N>
void appendDiskText(JsonReport &report, const char (&key)[N], const uint8_t *codes, int count) {
    int shown = count;
    while (shown > 0 && codes[shown - 1] == 0xA0) --shown;
    appendKey(report.line, key);
    report.line.add('"');
    appendGlyphs(report, codes, shown);
    appendLiteral(report.line, "\",");
}

template <size_t N>
void appendHex(JsonLine &line, const char (&key)[N], const uint8_t *bytes, int count) {
    appendKey(line, key);
    line.add('"');
    char *at = line.room(2 * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        *at++ = kHexDigits[bytes[i] >> 4];
        *at++ = kHexDigits[bytes[i] & 15];
    }
    line.used += 2 * static_cast<size_t>(count);
    appendLiteral(line, "\",");
}

template <size_t N, size_t M>
void appendDiskField(JsonReport &report, const char (&key)[N], const char (&hexKey)[M], const uint8_t *codes,
                     int count) {
    appendDiskText(report, key, codes, count);
    appendHex(report.line, hexKey, codes, count);
}

const char *directoryEndName(WalkStop stop) {
    switch (stop) {
        case WalkStop::AbsentBlock: return "absent_block";
        case WalkStop::Loop: return "loop";
        default: return "end_of_chain";
    }
}

// The file's figures, or null for an entry without a start block. A
// partition is an area, no file: its size in blocks alone. A file shorter
// than 2 bytes has no start address (its first block's bytes 2-3 are no data of it).
void appendFileFigures(JsonReport &report, const ImageBuffer &image, const uint8_t *slot) {
    JsonLine &line = report.line;
    if (isPartition(image.shape, slot)) {
        appendLiteral(line, "\"start_address\":null,\"bytes\":null,\"blocks\":");
        appendNumber(line, slotBlockCount(slot));
        appendLiteral(line, ",\"crc32\":null");
        return;
    }
    if (!slotHasStartBlock(image.shape, slot)) {
        appendLiteral(line, "\"start_address\":null,\"bytes\":null,\"blocks\":null,\"crc32\":null");
        return;
    }
    ChainMeasure measure =
        measureOnce(image, {slot[kSlotStartTrack], slot[kSlotStartSector]}, report.measures);
    int address;
    appendKey(line, "start_address");
    if (measure.bytes >= 2 && slotStartAddress(image, slot, address)) appendNumber(line, address);
    else appendLiteral(line, "null");
    line.add(',');
    appendNumberField(line, "bytes", measure.bytes);
    appendNumberField(line, "blocks", measure.blocks);
    appendKey(line, "crc32");
    char crc[8];
    for (int i = 0; i < 8; ++i) crc[i] = kHexDigits[measure.checksum >> (28 - 4 * i) & 15];
    line.add('"');
    line.add(crc, 8);
    line.add('"');
}

// GEOS file types by number, as GEOS names them; "" past the table.
const char *geosTypeName(int type) {
    static const char *const kNames[] = {"non-GEOS", "BASIC", "assembler", "data", "system", "desk accessory",
                                         "application", "application data", "font", "printer driver",
                                         "input driver", "disk driver", "system boot", "temporary",
                                         "auto-execute", "input driver 128"};
    return type < static_cast<int>(std::size(kNames)) ? kNames[type] : "";
}

// Text a GEOS disk holds in ASCII (a class, a signature): its bytes up to the
// first 0 (at most `count`), each byte above 0x7E as U+FFFD.
std::string geosText(const uint8_t *bytes, int count) {
    std::string text;
    for (int i = 0; i < count && bytes[i] != 0; ++i)
        text += bytes[i] < 0x7F ? std::string(1, static_cast<char>(bytes[i])) : std::string("\xEF\xBF\xBD");
    return text;
}

// ,"date":"YYYY-MM-DD HH:MM" from a GEOS entry's bytes 19-1D (year 80-99 in
// the 1900s, 0-79 in the 2000s), or null for a date no calendar has.
void appendGeosDate(JsonLine &line, const uint8_t *date) {
    appendKey(line, "date");
    int year = date[0] + (date[0] < 80 ? 2000 : 1900), month = date[1], day = date[2], hour = date[3], minute = date[4];
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59) {
        appendLiteral(line, "null,");
        return;
    }
    char text[24];
    int length = std::snprintf(text, sizeof text, "\"%04d-%02d-%02d %02d:%02d\",", year, month, day, hour, minute);
    line.add(text, static_cast<size_t>(length));
}

// ,"record_length":N for a REL file; ,"geos":{...} for a GEOS file: its
// structure, GEOS type, date and, from its info block, its class.
void appendStructureFields(JsonLine &line, const ImageBuffer &image, const uint8_t *slot) {
    EntryKind kind = entryKind(slot);
    if (kind.type == kTypeRel) {
        appendLiteral(line, ",\"record_length\":");
        appendNumber(line, slot[kSlotRecordLength]);
        return;
    }
    if (!kind.geos) return;
    appendLiteral(line, ",\"geos\":{\"structure\":\"");
    if (kind.vlir) appendLiteral(line, "vlir\",");
    else if (kind.unknownStructure) appendLiteral(line, "unknown\",");
    else appendLiteral(line, "sequential\",");
    appendNumberField(line, "structure_byte", slot[kSlotRecordLength]);
    appendNumberField(line, "type", slot[kSlotGeosType]);
    appendKey(line, "type_name");
    appendTextString(line, geosTypeName(slot[kSlotGeosType]));
    line.add(',');
    appendGeosDate(line, slot + kSlotGeosType + 1);
    appendHex(line, "date_hex", slot + kSlotGeosType + 1, 5);
    appendKey(line, "class");
    TrackSector info = pairAt(slot, kSlotSideOrInfo);
    const uint8_t *block = isStartBlock(image.shape, info) ? blockAt(image, info.track, info.sector) : nullptr;
    if (block) appendTextString(line, geosText(block + kGeosClassOffset, kGeosClassLength));
    else appendLiteral(line, "null");
    line.add('}');
}

void appendEntry(JsonReport &report, const ImageBuffer &image, const DirectoryCursor &cursor, const uint8_t *slot) {
    JsonLine &line = report.line;
    int type = slot[kSlotType];
    line.add('{');
    appendNumberField(line, "number", cursor.number);
    appendKey(line, "slot");
    line.add('{');
    appendNumberField(line, "track", cursor.walk.at.track);
    appendNumberField(line, "sector", cursor.walk.at.sector);
    appendKey(line, "index");
    appendNumber(line, cursor.slotIndex);
    appendLiteral(line, "},\"type\":\"");
    line.add(fileTypeName(image.shape, type), 3);
    appendLiteral(line, "\",");
    appendNumberField(line, "type_byte", type);
    appendBoolField(line, "closed", (type & 0x80) != 0);
    appendBoolField(line, "locked", (type & 0x40) != 0);
    appendDiskField(report, "name", "name_hex", slot + kSlotName, kNameLength);
    appendNumberField(line, "track", slot[kSlotStartTrack]);
    appendNumberField(line, "sector", slot[kSlotStartSector]);
    appendNumberField(line, "shown_blocks", slotBlockCount(slot));
    appendFileFigures(report, image, slot);
    appendStructureFields(line, image, slot);
    line.add('}');
}

void appendEntries(JsonReport &report, const ImageBuffer &image) {
    JsonLine &line = report.line;
    forgetMeasures(report.measures);
    DirectoryCursor cursor = startDirectory(image);
    appendKey(line, "entries");
    line.add('[');
    bool first = true;
    while (const uint8_t *slot = nextListedSlot(image, cursor, options.showAll != 0)) {
        if (!first) line.add(',');
        first = false;
        appendEntry(report, image, cursor, slot);
    }
    appendLiteral(line, "],\"directory_end\":\"");
    const char *end = directoryEndName(cursor.walk.stop);
    line.add(end, std::strlen(end));
    line.add('"');
}

// ,"check":{...}: the check's counts and figures, then its findings.
void appendCheck(JsonLine &line, const CheckReport &check) {
    appendLiteral(line, ",\"check\":{");
    appendNumberField(line, "errors", check.errors);
    appendNumberField(line, "warnings", check.warnings);
    appendNumberField(line, "blocks_used", check.blocksUsed);
    appendNumberField(line, "blocks_free_by_map", check.freeByMap);
    appendNumberField(line, "blocks_free_by_chains", check.freeByChains);
    appendNumberField(line, "blocks_used_beyond_map", check.usedUncovered);
    appendKey(line, "map_36_40");
    if (check.mapExtension) appendTextString(line, check.mapExtension);
    else appendLiteral(line, "null");
    appendLiteral(line, ",\"findings\":[");
    for (size_t i = 0; i < check.findings.size(); ++i) {
        if (i > 0) line.add(',');
        if (check.findings[i].error) appendLiteral(line, "{\"severity\":\"error\",\"text\":");
        else appendLiteral(line, "{\"severity\":\"warning\",\"text\":");
        appendTextString(line, consoleCapturedGlyphs(check.findings[i].text));
        line.add('}');
    }
    appendLiteral(line, "]}");
}

void writeLine(JsonReport &report) {
    appendLiteral(report.line, "}\n");
    consoleText(report.line.bytes.data(), report.line.used);
}

}  // namespace

void JsonLine::grow(size_t count) { bytes.resize(std::max(2 * bytes.size(), used + count + 4096)); }

void startJsonReport(JsonReport &report) {
    for (int code = 0; code < 256; ++code) {
        const char *glyph = diskGlyph(static_cast<uint8_t>(code));
        char *text = report.glyphText[code];
        if (std::strcmp(glyph, "\"") == 0 || std::strcmp(glyph, "\\") == 0) {
            text[0] = '\\';
            text[1] = glyph[0];
            text[2] = '\0';
        } else {
            std::strcpy(text, glyph);
        }
        report.glyphLength[code] = static_cast<uint8_t>(std::strlen(text));
    }
}

void printImageJson(JsonReport &report, const std::string &path, const ImageBuffer &image,
                    const CheckReport *check, const std::vector<std::string> &partitions) {
    const uint8_t *map = headerBlock(image);
    JsonLine &line = report.line;
    line.used = 0;
    appendLiteral(line, "{\"image\":");
    appendTextString(line, path);
    line.add(',');
    // A GCR image (G64, G71, NIB, NBZ) reports its own size and format; its blocks are decoded.
    uint64_t size = image.gcr ? image.gcr->fileSize : image.bytes.size();
    appendNumberField(line, "size", static_cast<long long>(size));
    appendKey(line, "format");
    line.add('"');
    const char *format = image.gcr ? gcrFormatName(image) : image.shape.family->name;
    line.add(format, std::strlen(format));
    appendLiteral(line, "\",");
    appendNumberField(line, "tracks", image.shape.tracks);
    appendBoolField(line, "error_bytes", image.shape.errorBytes);
    if (imageIsCut(image)) appendBoolField(line, "truncated", true);
    if (!partitions.empty()) {
        appendKey(line, "partition");
        line.add('[');
        for (size_t i = 0; i < partitions.size(); ++i) {
            if (i > 0) line.add(',');
            appendTextString(line, partitions[i]);
        }
        appendLiteral(line, "],");
    }
    appendDiskField(report, "disk_name", "disk_name_hex", map + diskNameOffset(image), kNameLength);
    appendKey(line, "id");
    line.add('"');
    appendGlyphs(report, map + diskIdOffset(image), 5);
    appendLiteral(line, "\",");
    appendHex(line, "id_hex", map + diskIdOffset(image), 5);
    appendNumberField(line, "blocks_free", blocksFree(image));
    TrackSector border;
    if (geosBorderBlock(image, border)) {
        appendLiteral(line, "\"geos_disk\":{\"signature\":");
        appendTextString(line, geosText(map + kGeosSignatureOffset, kGeosSignatureLength));
        appendLiteral(line, ",\"border\":{");
        appendNumberField(line, "track", border.track);
        appendKey(line, "sector");
        appendNumber(line, border.sector);
        appendLiteral(line, "}},");
    }
    appendEntries(report, image);
    if (check) appendCheck(line, *check);
    writeLine(report);
}

void printImageJsonError(JsonReport &report, const std::string &path, const std::string &message) {
    JsonLine &line = report.line;
    line.used = 0;
    appendLiteral(line, "{\"image\":");
    appendTextString(line, path);
    appendLiteral(line, ",\"error\":");
    appendTextString(line, message);
    writeLine(report);
}
