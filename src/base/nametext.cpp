// The text rule for names. The glyphs are found by running every disk code
// through the same tables the listing prints with, so what a terminal showed
// can be pasted back.
#include "base/nametext.h"

#include <algorithm>
#include <cstring>

#include "base/charmap.h"
#include "base/console.h"

namespace {

constexpr uint8_t kNamePadding = 0xA0;  // fills a name field after its text

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of the UTF-8 character starting at `text`, or 0 when it is not one
// (a stray continuation byte, a bad lead byte, a character cut short).
int utf8Length(const char *text) {
    uint8_t lead = static_cast<uint8_t>(text[0]);
    int length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    for (int i = 1; i < length; ++i)
        if ((static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) return 0;
    return length;
}

bool isGlyph(const char *glyph, const char *text, int length) {
    return static_cast<int>(std::strlen(glyph)) == length && std::memcmp(glyph, text, static_cast<size_t>(length)) == 0;
}

// Where `code` stands among the codes that show the `length` bytes of glyph
// at `text` in `glyphSet`, lowest first (the order decodeNameText states).
int glyphPreference(int glyphSet, uint8_t code, const char *text, int length) {
    const char *c64 = c64Glyph(glyphSet == kGlyphsCodePage437 ? kGlyphsC64Upper : glyphSet, code);
    bool drawnAsIs = c64 && isGlyph(c64, text, length);
    int group = (code & 0x7F) < 0x20 ? 3 : (code & 0xE0) == 0x60 || code >= 0xE0 ? 2 : 1;
    return (drawnAsIs ? group : group + 4) << 8 | code;
}

// The disk code whose glyph in `glyphSet` is the `length` bytes at `text`, the
// first by glyphPreference where several are; -1 when none is.
int codeOfGlyph(const char *text, int length, int glyphSet) {
    int found = -1, foundRank = 0;
    for (int code = 0; code < 256; ++code) {
        uint8_t byte = static_cast<uint8_t>(code);
        if (!isGlyph(glyphOfCode(glyphSet, byte), text, length)) continue;
        int rank = glyphPreference(glyphSet, byte, text, length);
        if (found < 0 || rank < foundRank) found = code, foundRank = rank;
    }
    return found;
}

// One disk byte from the text at `at`, which moves past what was read; -1
// with `problem` set when the text there gives none.
int nextByte(const char *&at, int glyphSet, NameTextProblem &problem) {
    char c = *at;
    if (c == '%') {
        int high = hexValue(at[1]), low = high < 0 ? -1 : hexValue(at[2]);
        if (low < 0) return problem = NameTextProblem::BadEscape, -1;
        at += 3;
        return high << 4 | low;
    }
    // The lower-case set shows 0x41-0x5A as small letters and 0xC1-0xDA as capitals.
    if (c >= 'A' && c <= 'Z' && glyphSet == kGlyphsC64Lower) return ++at, c - 'A' + 0xC1;
    if (c >= 'a' && c <= 'z') return ++at, c - 'a' + 'A';
    if (c >= ' ' && c <= '~') return ++at, c;
    int length = glyphSet != kNoGlyphs ? utf8Length(at) : 0;
    int code = length ? codeOfGlyph(at, length, glyphSet) : -1;
    if (code < 0) return problem = NameTextProblem::BadCharacter, -1;
    at += length;
    return code;
}

}  // namespace

NameText decodeNameText(const char *text, int maxBytes, int glyphSet, int paddingPlace) {
    NameText name{};
    for (const char *at = text; *at;) {
        name.problemAt = static_cast<int>(at - text);
        bool blank = *at == ' ';
        int byte = nextByte(at, glyphSet, name.problem);
        if (byte < 0) break;
        if (name.length == maxBytes) {
            name.problem = NameTextProblem::TooLong;
            break;
        }
        if (blank && name.length == paddingPlace) byte = kNamePadding;
        name.bytes[name.length++] = static_cast<uint8_t>(byte);
    }
    if (name.problem == NameTextProblem::BadCharacter)
        name.problemLength = std::max(1, utf8Length(text + name.problemAt));
    return name;
}

// ---- Host file names -------------------------------------------------------

namespace {

// Bytes that stand for themselves in a host name: digits, space and the
// punctuation every file system takes.
constexpr bool keptAsIs(uint8_t code) {
    return (code >= '0' && code <= '9') || code == ' ' || code == '!' || code == '#' || code == '$' ||
           code == '&' || code == '\'' || code == '(' || code == ')' || code == '+' || code == ',' ||
           code == '-' || code == '.' || code == ';' || code == '=' || code == '@' || code == '[' ||
           code == ']' || code == '^' || code == '_';
}

// What each byte gives inside a host name: its character, or 0 for "%XX".
// Disk codes 0x41-0x5A are letters, given in lower case; in the text of a
// host name letters of both cases stand for themselves.
struct HostCharTable {
    char of[256];
    constexpr explicit HostCharTable(bool diskCodes) : of() {
        for (int code = 0; code < 256; ++code) {
            bool lower = code >= 'a' && code <= 'z';
            if (code >= 'A' && code <= 'Z') of[code] = static_cast<char>(diskCodes ? code - 'A' + 'a' : code);
            else if (keptAsIs(static_cast<uint8_t>(code)) || (lower && !diskCodes)) of[code] = static_cast<char>(code);
        }
    }
};
constexpr HostCharTable kEntryChars(true);
constexpr HostCharTable kTextChars(false);

void appendEscape(std::string &text, uint8_t code) {
    static const char kHex[] = "0123456789ABCDEF";
    text += '%';
    text += kHex[code >> 4];
    text += kHex[code & 15];
}

// True when the `length` characters at `stem` are a name Windows keeps for
// a device, in either case.
bool isDeviceName(const char *stem, size_t length) {
    static const char *const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    char lower[8] = {};
    for (size_t i = 0; i < length && i < sizeof lower; ++i)
        lower[i] = static_cast<char>(stem[i] >= 'A' && stem[i] <= 'Z' ? stem[i] - 'A' + 'a' : stem[i]);
    for (const char *device : kDevices)
        if (std::strlen(device) == length && std::memcmp(lower, device, length) == 0) return true;
    return length == 4 && (std::memcmp(lower, "com", 3) == 0 || std::memcmp(lower, "lpt", 3) == 0) &&
           lower[3] >= '0' && lower[3] <= '9';
}

// Windows reads "con.x.prg" and "con .prg" as the device too: what counts is
// the text before the first "." without its trailing spaces. Its last letter
// becomes the "%XX" of its byte in `bytes`: a device name holds no "%", so up
// to there each byte gave one character.
void escapeDeviceName(std::string &host, const uint8_t *bytes) {
    size_t end = host.find('.');
    if (end == std::string::npos) end = host.size();
    while (end > 0 && host[end - 1] == ' ') --end;
    if (end < 3 || end > 7 || !isDeviceName(host.data(), end)) return;
    size_t letter = host.find_last_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", end - 1);
    std::string escaped;
    appendEscape(escaped, bytes[letter]);
    host.replace(letter, 1, escaped);
}

// The rule of hostNameOfEntry over `length` bytes, each read through `table`.
std::string hostNameOfBytes(const uint8_t *bytes, int length, const HostCharTable &table) {
    if (length == 0) return "%A0";
    std::string host;  // no reserve: most names fit the string's own buffer
    for (int i = 0; i < length; ++i) {
        char kept = table.of[bytes[i]];
        bool last = i == length - 1;
        if (kept && !(last && (kept == ' ' || kept == '.'))) host += kept;
        else appendEscape(host, bytes[i]);
    }
    escapeDeviceName(host, bytes);
    return host;
}

// The closed type byte an extension stands for; PRG for any other.
uint8_t typeOfExtension(const std::string &extension) {
    static const char *const kTypes[] = {"del", "seq", "prg", "usr"};
    std::string lower;
    for (char c : extension) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (int type = 0; type < 4; ++type)
        if (lower == kTypes[type]) return static_cast<uint8_t>(0x80 + type);
    return 0x82;
}

}  // namespace

std::string hostNameOfEntry(const uint8_t *name) {
    int length = 0;
    while (length < kNameTextCapacity && name[length] != kNamePadding) ++length;
    return hostNameOfBytes(name, length, kEntryChars);
}

std::string hostNameOfImage(const std::string &fileName) {
    size_t dot = fileName.find_last_of('.');
    size_t length = dot == std::string::npos || dot == 0 ? fileName.size() : dot;
    return hostNameOfBytes(reinterpret_cast<const uint8_t *>(fileName.data()), static_cast<int>(length), kTextChars);
}

std::vector<std::string> distinctHostNames(const std::vector<HostNameParts> &parts) {
    std::vector<std::string> names;
    names.reserve(parts.size());
    for (const HostNameParts &part : parts) names.push_back(part.stem + part.suffix);
    // Names are grouped by their folded case, compared in place (no folded copies).
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    auto foldedLess = [&](size_t a, size_t b) {
        return std::lexicographical_compare(names[a].begin(), names[a].end(), names[b].begin(), names[b].end(),
                                            [&](char x, char y) { return fold(x) < fold(y); });
    };
    auto foldedSame = [&](size_t a, size_t b) {
        return names[a].size() == names[b].size() &&
               std::equal(names[a].begin(), names[a].end(), names[b].begin(),
                          [&](char x, char y) { return fold(x) == fold(y); });
    };
    std::vector<size_t> order(names.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), foldedLess);
    for (size_t first = 0, end = 0; first < order.size(); first = end) {
        while (end < order.size() && foldedSame(order[end], order[first])) ++end;
        if (end - first == 1) continue;
        for (size_t i = first; i < end; ++i) {
            const HostNameParts &part = parts[order[i]];
            names[order[i]] = part.stem + '~' + std::to_string(i - first + 1) + part.suffix;
        }
    }
    return names;
}

const char *hostExtensionOfType(int typeByte) {
    static const char *const kExtensions[8] = {"del", "seq", "prg", "usr", "rel", "bin", "bin", "bin"};
    return kExtensions[typeByte & 7];
}

HostFileEntry entryOfHostName(const std::string &fileName) {
    size_t dot = fileName.find_last_of('.');
    std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    HostFileEntry entry{};
    entry.typeByte = dot == std::string::npos ? 0x82 : typeOfExtension(fileName.substr(dot + 1));
    NameText text = decodeNameText(stem.c_str(), kNameTextCapacity, kNoGlyphs, -1);
    std::memset(entry.name, kNamePadding, kNameTextCapacity);
    std::memcpy(entry.name, text.bytes, static_cast<size_t>(text.length));
    entry.length = text.length;
    entry.problem = text.problem;
    return entry;
}
