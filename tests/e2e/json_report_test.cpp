// The JSON report checked from outside: every line parses as strict JSON
// (Python's json, and jq) and validates against doc/kestrel-json.schema.json;
// its fields agree with the -vntsfbc listing of the same image and with the
// facts of the files that cc1541 and cbmconvert put on the disks (lengths,
// zlib CRC-32s, start addresses); names with awkward bytes round-trip through
// name_hex; and a run goes on past an image that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tools.h"
#include "support/unicode.h"

#ifdef KESTREL_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

#define REQUIRE_JSON_TOOLS()                                                                             \
    do {                                                                                                 \
        REQUIRE_TOOL("jq --version", "jq");                                                              \
        REQUIRE_TOOL(pythonWithJsonschema().empty() ? "false" : "true", "python3 with python3-jsonschema"); \
    } while (0)

// @tsv's escapes undone: \t \n \r \\.
std::string untab(const std::string &field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            text += field[i];
            continue;
        }
        char next = field[++i];
        text += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return text;
}

std::vector<std::string> splitTabs(const std::string &line) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t at; (at = line.find('\t', from)) != std::string::npos; from = at + 1)
        fields.push_back(untab(line.substr(from, at - from)));
    fields.push_back(untab(line.substr(from)));
    return fields;
}

// One line of the report as jq flattens it: an image's fields (by name), and
// each entry's fields in the order of kEntryFields.
struct ReportImage {
    std::map<std::string, std::string> field;
    std::vector<std::map<std::string, std::string>> entries;
};

const std::vector<std::string> kImageFields = {"image",  "error",         "size", "tracks", "error_bytes",
                                               "truncated", "disk_name", "disk_name_hex", "id", "id_hex",
                                               "blocks_free", "directory_end"};
const std::vector<std::string> kEntryFields = {"number", "type", "type_byte", "closed", "locked", "name", "name_hex",
                                               "track", "sector", "shown_blocks", "start_address", "bytes",
                                               "blocks", "crc32"};

std::string jqRow(const char *tag, const std::vector<std::string> &fields) {
    std::string row = std::string("([\"") + tag + "\"";
    for (const std::string &name : fields) row += ", ." + name;
    return row + "] | @tsv)";
}

// Runs kestrel -json with `args` in `dir`, requires `status`, checks every
// line with the schema (Python) and reads the lines back through jq.
std::vector<ReportImage> runReport(const TempDir &dir, std::vector<std::string> args, int status) {
    args.insert(args.begin(), "-json");
    RunResult run = runBinary(args, dir.path);
    EXPECT_EQ(run.status, status) << run.err;
    writeBytes(dir.file("report.jsonl"), std::vector<uint8_t>(run.out.begin(), run.out.end()));
    bool valid = false;
    std::string verdict = jsonLinesVerdict(sourcePath("doc/kestrel-json.schema.json"),
                                           sourcePath("tests/support/check_json_lines.py"), dir.file("report.jsonl"), valid);
    EXPECT_TRUE(valid) << verdict;
    std::string program = jqRow("I", kImageFields) + ", (.entries // [] | .[] | " + jqRow("E", kEntryFields) + ")";
    int jqStatus = -1;
    std::string flat = shellOutput("jq -r '" + program + "' " + dir.file("report.jsonl"), &jqStatus);
    EXPECT_EQ(jqStatus, 0) << flat;
    std::vector<ReportImage> images;
    for (const std::string &line : splitLines(flat)) {
        std::vector<std::string> fields = splitTabs(line);
        const std::vector<std::string> &names = fields[0] == "I" ? kImageFields : kEntryFields;
        if (fields.size() != names.size() + 1 || (fields[0] == "E" && images.empty())) {
            ADD_FAILURE() << "jq gave: " << line;
            break;
        }
        std::map<std::string, std::string> record;
        for (size_t i = 0; i < names.size(); ++i) record[names[i]] = fields[i + 1];
        if (fields[0] == "I") images.push_back({record, {}});
        else images.back().entries.push_back(record);
    }
    return images;
}

// The glyph kestrel shows for each code 00-FF with `options`, and the code
// page 437 byte it writes into a pipe: read from the block viewer's character
// column (with -utf8, and without) over a block that holds the codes 00-FF.
struct GlyphTables {
    std::vector<std::string> glyph;
    std::vector<uint8_t> pipeByte;
};

GlyphTables viewerGlyphs(const TempDir &dir, const std::vector<std::string> &options) {
    ImageBuffer image = formatImage();
    uint8_t *block = blockAt(image, 1, 0);
    for (int code = 0; code < 256; ++code) block[code] = static_cast<uint8_t>(code);
    writeImage(dir.file("codes.d64"), image);
    GlyphTables tables;
    bool raw = std::find(options.begin(), options.end(), "-vo") != options.end();  // its bytes break the lines
    for (bool utf8 : {true, false}) {
        if (!utf8 && raw) break;
        std::vector<std::string> args = options;
        if (utf8) args.push_back("-utf8");
        args.insert(args.end(), {"-block", "1", "0", "codes.d64"});
        RunResult run = runBinary(args, dir.path, "q");
        for (const std::string &line : splitLines(run.out)) {
            size_t bar = line.find(" | ");
            if (line.size() < 4 || line[2] != ':' || bar == std::string::npos) continue;
            std::string column = line.substr(bar + 3);
            if (!utf8) {
                tables.pipeByte.insert(tables.pipeByte.end(), column.begin(), column.end());
                continue;
            }
            std::vector<uint32_t> points;
            EXPECT_TRUE(decodeUtf8(column, points));
            for (size_t at = 0, n = 0; n < points.size(); ++n) {  // one code point each
                size_t length = points[n] < 0x80 ? 1 : points[n] < 0x800 ? 2 : points[n] < 0x10000 ? 3 : 4;
                tables.glyph.push_back(column.substr(at, length));
                at += length;
            }
        }
    }
    EXPECT_EQ(tables.glyph.size(), 256u);
    EXPECT_EQ(tables.pipeByte.size(), raw ? 0u : 256u);
    return tables;
}

std::vector<uint8_t> fromHex(const std::string &hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The text fields: the glyphs of the bytes, without the 0xA0 padding at the end.
std::string glyphsOf(const GlyphTables &tables, std::vector<uint8_t> bytes, bool trimPadding) {
    while (trimPadding && !bytes.empty() && bytes.back() == 0xA0) bytes.pop_back();
    std::string text;
    for (uint8_t byte : bytes) text += tables.glyph.size() == 256 ? tables.glyph[byte] : "";
    return text;
}

std::string crcHex(uint32_t crc) {
    char text[12];
    std::snprintf(text, sizeof text, "%08x", crc);
    return text;
}

// One entry line of "kestrel -vntsfbc" (or -vantsfbc) in a pipe: the entry
// number, the block count, name field, marks and type (28 bytes), then the
// six columns. The columns are read as words, since a number may widen them.
struct ListingRow {
    std::string number, namePart;
    std::vector<std::string> columns;  // t#, s#, start, bytes, blk, check-sum
};

std::vector<ListingRow> listingRows(const TempDir &dir, const std::string &image, const char *letters,
                                    std::string &header, std::string &blocksFree) {
    std::vector<std::string> lines = splitLines(runBinary({letters, image}, dir.path).out);
    std::vector<ListingRow> rows;
    if (lines.size() < 2) return rows;
    header = lines.front();
    blocksFree = lines.back();
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        size_t colon = lines[i].find(": ");
        ListingRow row{lines[i].substr(0, colon), lines[i].substr(colon + 2, 28), {}};
        char word[64];
        std::string rest = lines[i].substr(colon + 2 + 28);
        for (const char *at = rest.c_str(); std::sscanf(at, "%63s", word) == 1;) {
            row.columns.push_back(word);
            at = std::strstr(at, word) + std::strlen(word);
        }
        row.number.erase(0, row.number.find_first_not_of(' '));
        rows.push_back(row);
    }
    return rows;
}

// Every field the listing shows agrees with the report's line of the same image.
void expectAgreesWithListing(const TempDir &dir, const ReportImage &report, const GlyphTables &tables,
                             const char *letters) {
    std::string image = report.field.at("image");
    SCOPED_TRACE(image);
    std::string header, blocksFree;
    std::vector<ListingRow> rows = listingRows(dir, image, letters, header, blocksFree);
    ASSERT_EQ(rows.size(), report.entries.size());
    EXPECT_EQ(blocksFree, report.field.at("blocks_free") + " BLOCKS FREE.");
    std::string shownName;  // the header's 16 name bytes, then `" `, then the 5 id bytes
    for (uint8_t byte : fromHex(report.field.at("disk_name_hex"))) shownName += static_cast<char>(tables.pipeByte[byte]);
    shownName += "\" ";
    for (uint8_t byte : fromHex(report.field.at("id_hex"))) shownName += static_cast<char>(tables.pipeByte[byte]);
    EXPECT_EQ(header.substr(header.find('"') + 1, 23), shownName);
    EXPECT_EQ(report.field.at("disk_name"), glyphsOf(tables, fromHex(report.field.at("disk_name_hex")), true));
    EXPECT_EQ(report.field.at("id"), glyphsOf(tables, fromHex(report.field.at("id_hex")), false));

    for (size_t i = 0; i < rows.size(); ++i) {
        const ListingRow &row = rows[i];
        const std::map<std::string, std::string> &entry = report.entries[i];
        SCOPED_TRACE("entry " + row.number);
        ASSERT_EQ(row.columns.size(), 6u);
        EXPECT_EQ(entry.at("number"), row.number);
        EXPECT_EQ(entry.at("shown_blocks"), std::to_string(std::stoi(row.namePart.substr(0, 5))));
        EXPECT_EQ(entry.at("type"), row.namePart.substr(24, 3));
        EXPECT_EQ(entry.at("track"), row.columns[0]);
        EXPECT_EQ(entry.at("sector"), row.columns[1]);
        std::string start = entry.at("start_address");
        char address[8];
        std::snprintf(address, sizeof address, "$%04x", start.empty() ? 0 : std::stoi(start));
        // A file shorter than 2 bytes has no start address; the listing shows its block's bytes 2-3.
        bool shortFile = !entry.at("bytes").empty() && std::stoi(entry.at("bytes")) < 2;
        if (shortFile) EXPECT_EQ(start, "");
        else EXPECT_EQ(start.empty() ? "-----" : address, row.columns[2]);
        EXPECT_EQ(entry.at("bytes").empty() ? "-----" : entry.at("bytes"), row.columns[3]);
        EXPECT_EQ(entry.at("blocks").empty() ? "---" : entry.at("blocks"), row.columns[4]);
        bool noCrc = row.columns[5] == "----------";
        EXPECT_EQ(entry.at("crc32"), noCrc ? "" : crcHex(static_cast<uint32_t>(std::stoul(row.columns[5]))));
        // The name: each byte as the listing prints it, but for the padding byte
        // that the listing turns into the closing quote.
        std::vector<uint8_t> name = fromHex(entry.at("name_hex"));
        ASSERT_EQ(name.size(), 16u);
        for (size_t k = 0; k < 16; ++k) {
            uint8_t shown = static_cast<uint8_t>(row.namePart[6 + k]);
            EXPECT_TRUE(shown == tables.pipeByte[name[k]] || (name[k] == 0xA0 && shown == '"')) << "byte " << k;
        }
        EXPECT_EQ(entry.at("name"), glyphsOf(tables, name, true));
    }
}

}  // namespace

namespace {

uint32_t zlibCrc32(const std::vector<uint8_t> &data, const std::string &path) {
#ifdef KESTREL_HAVE_ZLIB
    (void)path;
    return static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
#else
    (void)data;
    return static_cast<uint32_t>(std::stoul(
        shellOutput("python3 -c 'import sys,zlib; print(zlib.crc32(open(sys.argv[1],\"rb\").read()))' " + path)));
#endif
}

struct LocalFile {
    std::string name;  // lower case; the tools store it in upper case
    const char *type;
    std::vector<uint8_t> data;
};

std::string upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The report's entries against the files the tool wrote: names, types,
// lengths, block counts, CRC-32s and start addresses.
void expectFilesListed(const ReportImage &report, const std::vector<LocalFile> &files, const TempDir &dir) {
    SCOPED_TRACE(report.field.at("image"));
    ASSERT_EQ(report.entries.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const std::map<std::string, std::string> &entry = report.entries[i];
        const LocalFile &file = files[i];
        SCOPED_TRACE(file.name);
        size_t blocks = file.data.empty() ? 1 : (file.data.size() + 253) / 254;
        EXPECT_EQ(entry.at("name"), upper(file.name));
        EXPECT_EQ(entry.at("type"), file.type);
        EXPECT_EQ(entry.at("bytes"), std::to_string(file.data.size()));
        EXPECT_EQ(entry.at("blocks"), std::to_string(blocks));
        EXPECT_EQ(entry.at("shown_blocks"), std::to_string(blocks));
        EXPECT_EQ(entry.at("crc32"), crcHex(zlibCrc32(file.data, dir.file(file.name))));
        if (file.data.size() >= 2) EXPECT_EQ(entry.at("start_address"), std::to_string(file.data[0] | file.data[1] << 8));
        else EXPECT_EQ(entry.at("start_address"), "");  // no start address: null
    }
}

}  // namespace

// Images from two independent tools, one of 40 tracks: the report agrees with
// the files on them and with kestrel's own listing, field by field.
TEST(JsonReport, AgreesWithFilesWrittenByCc1541AndCbmconvert) {
    REQUIRE_JSON_TOOLS();
    REQUIRE_TOOL("command -v cc1541", "cc1541");
    REQUIRE_TOOL("command -v cbmconvert", "cbmconvert");
    TempDir dir;
    std::vector<LocalFile> many;
    const char *types[] = {"PRG", "SEQ", "USR", "PRG"};
    std::vector<size_t> sizes = {1, 2, 253, 254, 255, 508, 509, 3000, 10160, 40000};
    for (size_t i = 0; i < sizes.size(); ++i)
        many.push_back({"file " + std::to_string(sizes[i]), types[i % 4], randomBytes(sizes[i], 500 + i)});
    std::string cc = "cd " + dir.path + " && cc1541 -q -n 'cross check' -i 'k7' -S 4";
    for (const LocalFile &file : many) {
        writeBytes(dir.file(file.name), file.data);
        cc += " -T " + std::string(file.type) + " -f '" + file.name + "' -w '" + file.name + "'";
    }
    std::vector<LocalFile> few = {{"hello", "PRG", randomBytes(3000, 1)}, {"data", "SEQ", randomBytes(700, 2)},
                                  {"one", "USR", randomBytes(1, 3)}};
    std::string cbm = "cd " + dir.path + " && cbmconvert -v0 -D4 cbm.d64 -n";
    for (const LocalFile &file : few) {
        std::string native = file.name + "." + lower(file.type);  // cbmconvert takes the type from it
        writeBytes(dir.file(native), file.data);
        writeBytes(dir.file(file.name), file.data);
        cbm += " " + native;
    }
    int status = -1;
    std::string out = shellOutput(cc + " many.d64 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    out = shellOutput("cd " + dir.path + " && cc1541 -q -4 -f locked -P -w hello -f open -O -w hello -f 'no file' -L forty.d64 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    out = shellOutput(cbm + " 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    // The other families: a file larger than a D64 holds, and a 1-byte one.
    std::vector<LocalFile> large = {{"big", "PRG", randomBytes(300000, 7)}, {"small", "SEQ", randomBytes(1, 8)}};
    std::string families = "cd " + dir.path + " && for image in large.d71 large.d81; do cc1541 -q -n 'large' -i 'k8'";
    for (const LocalFile &file : large) {
        writeBytes(dir.file(file.name), file.data);
        families += " -T " + std::string(file.type) + " -f " + file.name + " -w " + file.name;
    }
    out = shellOutput(families + " $image || exit 1; done 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    out = shellOutput(std::string(cbm).replace(cbm.find("-D4 cbm.d64"), 11, "-D8 cbm.d81") + " 2>&1", &status);
    ASSERT_EQ(status, 0) << out;

    std::vector<ReportImage> reports =
        runReport(dir, {"many.d64", "forty.d64", "cbm.d64", "large.d71", "large.d81", "cbm.d81"}, 0);
    ASSERT_EQ(reports.size(), 6u);
    GlyphTables tables = viewerGlyphs(dir, {});
    for (const ReportImage &report : reports) expectAgreesWithListing(dir, report, tables, "-vntsfbc");
    expectFilesListed(reports[0], many, dir);
    expectFilesListed(reports[2], few, dir);
    expectFilesListed(reports[3], large, dir);
    expectFilesListed(reports[4], large, dir);
    expectFilesListed(reports[5], few, dir);
    EXPECT_EQ(reports[3].field.at("tracks") + reports[4].field.at("tracks"), "7080");

    EXPECT_EQ(reports[0].field.at("disk_name"), "CROSS CHECK");
    EXPECT_EQ(reports[0].field.at("tracks"), "35");
    EXPECT_EQ(reports[0].field.at("size"), "174848");
    EXPECT_EQ(reports[1].field.at("tracks"), "40");
    EXPECT_EQ(reports[1].field.at("error_bytes"), "false");
    EXPECT_EQ(reports[2].field.at("disk_name"), "CBMCONVERT   2.0");
    // cc1541's marks: locked and closed, open (unclosed), an entry without a file.
    ASSERT_EQ(reports[1].entries.size(), 3u);
    const auto &locked = reports[1].entries[0], &open = reports[1].entries[1], &empty = reports[1].entries[2];
    EXPECT_EQ(locked.at("locked") + locked.at("closed"), "truetrue");
    EXPECT_EQ(open.at("locked") + open.at("closed"), "falsefalse");
    EXPECT_EQ(empty.at("start_address") + empty.at("bytes") + empty.at("blocks") + empty.at("crc32"), "");
    for (const ReportImage &report : reports) EXPECT_EQ(report.field.at("directory_end"), "end_of_chain");
}

// Every image of the damaged corpus, every slot (-va), in one run: each line
// is valid, and agrees with the listing, or with its error message where the
// listing refuses the image.
TEST(JsonReport, DamagedImagesAgreeWithTheListing) {
    REQUIRE_JSON_TOOLS();
    TempDir dir;
    std::vector<std::string> names;
    for (const std::string &name : listFolder(sourcePath("tests/corpus"))) {
        if (!name.ends_with(".d64") && !name.ends_with(".d71") && !name.ends_with(".d81")) continue;
        writeBytes(dir.file(name), readBytes(sourcePath("tests/corpus/" + name)));
        names.push_back(name);
    }
    std::vector<ReportImage> reports = runReport(dir, [&] {
        std::vector<std::string> args = names;
        args.insert(args.begin(), "-va");
        return args;
    }(), 1);
    ASSERT_EQ(reports.size(), names.size());
    GlyphTables tables = viewerGlyphs(dir, {});
    int refused = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(reports[i].field.at("image"), names[i]);
        // Cut short: below the D64 size at or above its length (174848, 175531, 196608, 197376).
        int size = reports[i].field.at("error").empty() ? std::stoi(reports[i].field.at("size")) : 0;
        bool whole = size == 174848 || size == 175531 || size == 196608 || size == 197376;
        EXPECT_EQ(reports[i].field.at("truncated"), whole || size == 0 || size > 197376 ? "" : "true") << names[i];
        if (reports[i].field.at("error").empty()) {
            expectAgreesWithListing(dir, reports[i], tables, "-vantsfbc");
            continue;
        }
        RunResult listing = runBinary({names[i]}, dir.path);
        EXPECT_EQ(listing.status, 1);
        EXPECT_EQ(listing.out, "ERROR: " + reports[i].field.at("error"));
        ++refused;
    }
    EXPECT_GE(refused, 3);  // the images that end before block 18/0
}

// Each line of kestrel's output for `args` (in `dir`) as Python's csv reader
// (';' between the fields) reads it: the number of fields, then the name
// field and the last one as hex, each after an "x" so that none is empty.
std::vector<std::string> csvNameFields(const TempDir &dir, const std::vector<std::string> &args) {
    std::string command = "cd " + dir.path + " && " + KESTREL_BINARY;
    for (const std::string &arg : args) command += " " + arg;
    return splitLines(shellOutput(command + " | python3 -c 'import csv,io,sys; h=lambda x: \"x\"+x.encode(\"latin-1\").hex(); "
                                  "[print(len(r), h(r[2]), h(r[-1])) for r in csv.reader(io.TextIOWrapper(sys.stdin.buffer, "
                                  "\"latin-1\", newline=\"\"), delimiter=\";\")]'"));
}

// -json -check over the damaged corpus: each listed image's line carries
// the findings and figures that -check prints for the image alone (with
// -utf8, names as the same glyphs); the lines stay valid by the schema.
TEST(JsonReport, CheckFindingsAgreeWithTheCheckOfEachImage) {
    REQUIRE_JSON_TOOLS();
    TempDir dir;
    std::vector<std::string> args{"-check", "-utf8"};
    for (const std::string &name : listFolder(sourcePath("tests/corpus"))) {
        if (!name.ends_with(".d64") && !name.ends_with(".d71") && !name.ends_with(".d81")) continue;
        writeBytes(dir.file(name), readBytes(sourcePath("tests/corpus/" + name)));
        args.push_back(name);
    }
    ASSERT_EQ(runReport(dir, args, 1).size(), args.size() - 2);
    std::string program = "select(.check) | .image, (.check | (.findings[] | .severity + \": \" + .text), "
                          "\"\\(.errors) \\(.warnings) \\(.blocks_used) \\(.blocks_free_by_map) "
                          "\\(.blocks_free_by_chains)\")";
    std::vector<std::string> lines = splitLines(shellOutput("jq -r '" + program + "' " + dir.file("report.jsonl")));
    int images = 0;
    for (size_t at = 0; at < lines.size(); ++images) {
        RunResult alone = runBinary({"-check", "-utf8", lines[at]}, dir.path);
        std::vector<std::string> expected = splitLines(alone.out);
        SCOPED_TRACE(lines[at]);
        ASSERT_FALSE(expected.empty()) << alone.err;
        ASSERT_LE(at + expected.size() + 1, lines.size());
        for (size_t i = 0; i + 1 < expected.size(); ++i) EXPECT_EQ(lines[at + 1 + i], expected[i]);
        // The summary's first five numbers: the counts, then the blocks.
        std::string digits = expected.back();
        for (char &c : digits) c = std::isdigit(static_cast<unsigned char>(c)) ? c : ' ';
        std::istringstream numbers(digits);
        std::string figures, number;
        for (int i = 0; i < 5 && numbers >> number; ++i) figures += (i ? " " : "") + number;
        EXPECT_EQ(figures, lines[at + expected.size()]) << expected.back();
        at += expected.size() + 1;
    }
    EXPECT_GE(images, 20);
}

// Names holding the quote, the backslash, the CSV separator, control codes,
// 0x00 and a padding byte inside: name_hex gives the 16 bytes back exactly,
// and name is the glyphs a terminal shows for them, in every character mode;
// Python's csv reader gets every name and the disk name back whole.
TEST(JsonReport, AwkwardNamesRoundTripThroughHex) {
    REQUIRE_JSON_TOOLS();
    using namespace std::string_literals;
    const std::vector<std::string> names = {
        "A\"B\"C",  "BACK\\SLASH\\",        "SEMI;COLON;",  "\x00NUL\x00"s,        "\x01\x0d\x0a\x1b[2J\x07",
        "\xa0LEAD",  "IN\xa0SIDE\xa0\xa0X", "\xff\x80\x9f\xc0\xe0\x5c\x60\x7f", "0123456789ABCDEF",
        "PAD\xa0;\"AFTER"};
    TempDir dir;
    ImageBuffer image = formatImage("\"\\;\x00Q\x1b"s, "\x22\x5c");
    for (const std::string &name : names) addFile(image, {0x01, 0x08, 0x60}, name);
    writeImage(dir.file("names.d64"), image);
    for (std::vector<std::string> mode : {std::vector<std::string>{}, {"-p"}, {"-vo"}, {"-U"}, {"-Ul"}}) {
        SCOPED_TRACE(mode.empty() ? "default" : mode[0]);
        GlyphTables tables = viewerGlyphs(dir, mode);
        mode.push_back("names.d64");
        std::vector<ReportImage> reports = runReport(dir, mode, 0);
        ASSERT_EQ(reports.size(), 1u);
        ASSERT_EQ(reports[0].entries.size(), names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            std::vector<uint8_t> bytes(names[i].begin(), names[i].end());
            bytes.resize(16, 0xA0);
            EXPECT_EQ(fromHex(reports[0].entries[i].at("name_hex")), bytes) << i;
            EXPECT_EQ(reports[0].entries[i].at("name"), glyphsOf(tables, bytes, true)) << i;
        }
        std::vector<uint8_t> diskName = fromHex(reports[0].field.at("disk_name_hex"));
        EXPECT_EQ(std::string(diskName.begin(), diskName.begin() + 6), "\"\\;\x00Q\x1b"s);
        EXPECT_EQ(reports[0].field.at("disk_name"), glyphsOf(tables, diskName, true));
        EXPECT_EQ(reports[0].field.at("id_hex").substr(0, 4), "225c");

        mode.insert(mode.begin(), "-csv");
        std::vector<std::string> rows = csvNameFields(dir, mode);
        ASSERT_EQ(rows.size(), names.size());
        auto trim = [](std::string text) { return text.erase(text.find_last_not_of(" \xa0") + 1); };
        auto readBack = [&](const std::string &hex) {  // a field as the reader gave it
            std::vector<uint8_t> bytes = fromHex(hex.substr(1));
            return trim({bytes.begin(), bytes.end()});
        };
        auto shown = [&](const std::vector<uint8_t> &bytes) {  // into a pipe: -vo's raw bytes, else the table's
            std::string text;
            for (uint8_t byte : bytes) text += static_cast<char>(tables.pipeByte.empty() ? byte : tables.pipeByte[byte]);
            return trim(text);
        };
        for (size_t i = 0; i < names.size(); ++i) {
            int fields = 0;
            std::string name, disk, expected = shown(fromHex(reports[0].entries[i].at("name_hex")));
            std::istringstream(rows[i]) >> fields >> name >> disk;
            EXPECT_EQ(fields, 13) << i;
            EXPECT_EQ(readBack(disk), shown(diskName)) << i;
            // A name holding a quote, ';' or a line end comes back whole, up to its padding.
            if (expected.find_first_of("\";\r\n") != std::string::npos) { EXPECT_EQ(readBack(name), expected) << i; }
        }
    }
}

// An image that cannot be found, a folder and an image too short to hold its
// directory, among good ones: each gives its error line, in its place, the
// others are listed, and the status says that something failed.
TEST(JsonReport, GoesOnPastImagesThatCannotBeRead) {
    REQUIRE_JSON_TOOLS();
    TempDir dir;
    ImageBuffer good = formatImage("FIRST", "01");
    addFile(good, randomBytes(600, 9), "ONLY FILE");
    writeImage(dir.file("good.d64"), good);
    writeImage(dir.file("other.d64"), formatImage("SECOND", "02"));
    std::vector<uint8_t> cut = bytesOf(good);
    cut.resize(1000);
    writeBytes(dir.file("short.d64"), cut);
    std::filesystem::create_directory(dir.file("folder"));
    writeImage(dir.file("del\x7f.d64"), good);

    std::vector<ReportImage> reports = runReport(
        dir, {"good.d64", "missing.d64", "folder", "short.d64", "other.d64", "not\xff\x1bUTF-8.d64", "del\x7f.d64"}, 1);
    ASSERT_EQ(reports.size(), 7u);
    EXPECT_EQ(reports[0].field.at("disk_name"), "FIRST");
    EXPECT_EQ(reports[0].entries.size(), 1u);
    EXPECT_EQ(reports[1].field.at("error"), "File 'missing.d64' not found.");
    EXPECT_EQ(reports[2].field.at("error"), "File 'folder' could not be read.");
    EXPECT_EQ(reports[3].field.at("error"), "File 'short.d64' is too short to hold block 18/0 (1000 bytes).");
    EXPECT_EQ(reports[4].field.at("disk_name"), "SECOND");
    EXPECT_EQ(reports[4].field.at("error"), "");
    // A path that is not UTF-8 comes out valid all the same, its stray byte
    // replaced (on Windows the arguments' own conversion replaces it first).
    std::string strayPath = reports[5].field.at("image");
    EXPECT_TRUE(strayPath == "not\xEF\xBF\xBD\x1bUTF-8.d64" || strayPath == "not?\x1bUTF-8.d64") << strayPath;
    // DEL is a control code: escaped as ESC is.
    std::vector<uint8_t> lines = readBytes(dir.file("report.jsonl"));
    EXPECT_TRUE(contains(std::string(lines.begin(), lines.end()), "{\"image\":\"del\\u007f.d64\","));

    // Every plain argument is an image, also one before -json; all readable: status 0.
    RunResult both = runBinary({"good.d64", "-json", "other.d64"}, dir.path);
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(splitLines(both.out).size(), 2u);
}

// -json lists and writes nothing: editing options, the other actions and a
// run without an image are refused before anything is read.
TEST(JsonReport, RefusesWhatItCannotDo) {
    TempDir dir;
    writeImage(dir.file("a.d64"), formatImage());
    writeImage(dir.file("b.d64"), formatImage());
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-json", "-rd", "1", "a.d64"}, "ERROR: '-json' cannot be combined with an editing option."},
        {{"a.d64", "-adel", "-json"}, "ERROR: '-json' cannot be combined with an editing option."},
        {{"-json", "-merge", "a.d64", "b.d64"}, "ERROR: '-json' cannot be combined with an editing option."},
        {{"-json", "-start", "0", "1", "a.d64", "out.d64"}, "ERROR: '-json' cannot be combined with an editing option."},
        {{"-json", "-bam", "a.d64"}, "ERROR: '-json' cannot be combined with '-block', '-bam' or '-e'."},
        {{"-block", "-json", "a.d64"}, "ERROR: '-json' cannot be combined with '-block', '-bam' or '-e'."},
        {{"-json", "-e", "a.d64"}, "ERROR: '-json' cannot be combined with '-block', '-bam' or '-e'."},
        {{"-json", "-va"}, "ERROR: No image named for '-json'."},
        // "-json" after the values an option takes stands as an option.
        {{"-rd", "1", "2", "-json", "a.d64"}, "ERROR: '-json' cannot be combined with an editing option."},
        {{"-move", "0", "1", "-json", "a.d64"}, "ERROR: '-json' cannot be combined with an editing option."},
        {{"-x", "0", "-json", "a.d64"}, "ERROR: '-json' cannot be combined with '-x'."},
        {{"-check", "-json", "-x", "a.d64"}, "ERROR: '-json' cannot be combined with '-x'."},
    };
    for (const auto &[args, message] : cases) {
        RunResult run = runBinary(args, dir.path);
        EXPECT_EQ(run.status, 1) << args[1];
        EXPECT_EQ(run.err, message + "\n");  // one line, and no usage anywhere
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(listFolder(dir.path), (std::vector<std::string>{"a.d64", "b.d64"}));
    }
}

// -csv over many images: one table that Python's csv reader takes in strict
// mode, whose rows are the JSON report's entries field for field (names as
// its glyphs, null as an empty field), over every image of the corpus, names
// holding a comma, a quote or a line end, a path with a comma, and an image
// that cannot be found (its message on standard error, status 1).
TEST(JsonReport, CsvOfManyImagesIsOneStrictTableOfTheReport) {
    REQUIRE_JSON_TOOLS();
    TempDir dir;
    std::vector<std::string> args{"-va"};
    for (const std::string &name : listFolder(sourcePath("tests/corpus"))) {
        if (!name.ends_with(".d64") && !name.ends_with(".d71") && !name.ends_with(".d81")) continue;
        writeBytes(dir.file(name), readBytes(sourcePath("tests/corpus/" + name)));
        args.push_back(name);
    }
    using namespace std::string_literals;
    ImageBuffer image = formatImage("DISK,\"NAME\"", "cs");
    for (const std::string &name : {"COM,MA"s, "\"QUOTED\""s, "LINE\x0d\x0a" "END"s, "SEMI;COLON"s, "\xa0LEAD"s, "A\xa0" "B"s})
        addFile(image, {0x01, 0x08, 0x60}, name);
    addFile(image, {0x2a}, "ONE BYTE");
    writeImage(dir.file("a,b.d64"), image);
    args.insert(args.end(), {"a,b.d64", "missing.d64"});

    runReport(dir, args, 1);  // writes report.jsonl
    args.insert(args.begin(), "-csv");
    RunResult run = runBinary(args, dir.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with("ERROR: File 'missing.d64' not found.\n")) << run.err;
    writeBytes(dir.file("catalogue.csv"), std::vector<uint8_t>(run.out.begin(), run.out.end()));
    int status = -1;
    std::string verdict = shellOutput("python3 " + sourcePath("tests/support/check_csv_catalogue.py") + " " +
                                      dir.file("catalogue.csv") + " " + dir.file("report.jsonl"), &status);
    EXPECT_EQ(status, 0) << verdict;
    EXPECT_TRUE(contains(run.out, "\"a,b.d64\",6,1,ONE BYTE,PRG,true,false,")) << run.out;
    EXPECT_TRUE(contains(run.out, ",,1,1,") && contains(run.out, "\"DISK,\"\"NAME\"\"\"\r\n")) << run.out;

    // -e exports one image's blocks: refused over many.
    RunResult exported = runBinary({"-csv", "-e", "a,b.d64", "good.d64"}, dir.path);
    EXPECT_EQ(exported.status, 1);
    EXPECT_EQ(exported.err, "ERROR: '-e' exports the blocks of one image; '-csv' over 2 images makes a catalogue "
                            "without them.\n");
}
