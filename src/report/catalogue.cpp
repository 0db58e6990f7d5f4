// The CSV catalogue of many images (see catalogue.h).
#include "report/catalogue.h"

#include <cstdio>
#include <cstring>

#include "base/charmap.h"
#include "base/console.h"
#include "base/options.h"
#include "disk/bam.h"
#include "disk/directory.h"
#include "report/json.h"

namespace {

constexpr char kHeader[] = "image,number,shown_blocks,name,type,closed,locked,track,sector,start_address,bytes,"
                           "blocks,crc32,disk_name\r\n";

// Appends a field, in quotes (inner quotes doubled) when it holds a comma, a
// quote or a line end, and the comma after it.
void appendField(std::string &rows, const std::string &field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        rows += field;
    } else {
        rows += '"';
        for (char c : field) {
            if (c == '"') rows += '"';
            rows += c;
        }
        rows += '"';
    }
    rows += ',';
}

void appendNumber(std::string &rows, long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%lld,", value);
    rows += text;
}

// A name field's glyphs without the 0xA0 padding at its end, as -json gives it.
std::string nameGlyphs(const uint8_t *codes, int count) {
    while (count > 0 && codes[count - 1] == 0xA0) --count;
    std::string text;
    for (int i = 0; i < count; ++i) text += diskGlyph(codes[i]);
    return text;
}

// Start address, bytes, blocks and CRC-32 of an entry, empty where -json
// gives null: no start block; a partition (its size in blocks alone); a file
// shorter than 2 bytes has no start address.
void appendFigures(CsvCatalogue &catalogue, const ImageBuffer &image, const uint8_t *slot) {
    std::string &rows = catalogue.rows;
    if (isPartition(image.shape, slot)) {
        rows += ",,";
        appendNumber(rows, slotBlockCount(slot));
        rows += ',';
        return;
    }
    if (!slotHasStartBlock(image.shape, slot)) {
        rows += ",,,,";
        return;
    }
    ChainMeasure measure = measureOnce(image, {slot[kSlotStartTrack], slot[kSlotStartSector]}, catalogue.measures);
    int address;
    if (measure.bytes >= 2 && slotStartAddress(image, slot, address)) appendNumber(rows, address);
    else rows += ',';
    appendNumber(rows, measure.bytes);
    appendNumber(rows, measure.blocks);
    char crc[12];
    std::snprintf(crc, sizeof crc, "%08x,", measure.checksum);
    rows += crc;
}

}  // namespace

void printCatalogueHeader() { consoleText(kHeader, sizeof kHeader - 1); }

void printCatalogueRows(CsvCatalogue &catalogue, const std::string &path, const ImageBuffer &image) {
    std::string &rows = catalogue.rows;
    rows.clear();
    forgetMeasures(catalogue.measures);
    std::string shownPath = wellFormedText(path);
    std::string diskName = nameGlyphs(headerBlock(image) + diskNameOffset(image), kNameLength);
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, options.showAll != 0)) {
        int type = slot[kSlotType];
        appendField(rows, shownPath);
        appendNumber(rows, cursor.number);
        appendNumber(rows, slotBlockCount(slot));
        appendField(rows, nameGlyphs(slot + kSlotName, kNameLength));
        appendField(rows, fileTypeName(image.shape, type));
        rows += type & 0x80 ? "true," : "false,";
        rows += type & 0x40 ? "true," : "false,";
        appendNumber(rows, slot[kSlotStartTrack]);
        appendNumber(rows, slot[kSlotStartSector]);
        appendFigures(catalogue, image, slot);
        appendField(rows, diskName);
        rows.back() = '\r';  // the last field has no comma after it
        rows += '\n';
    }
    consoleText(rows.data(), rows.size());
}
