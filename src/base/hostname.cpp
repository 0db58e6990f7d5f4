#include "base/hostname.h"

#include <cstring>

namespace {

constexpr int kNameBytes = 16;
constexpr uint8_t kPadding = 0xA0;

// Bytes that stand for themselves in a host name: digits, space and the
// punctuation every file system takes.
constexpr bool keptAsIs(uint8_t code) {
    return (code >= '0' && code <= '9') || code == ' ' || code == '!' || code == '#' || code == '$' ||
           code == '&' || code == '\'' || code == '(' || code == ')' || code == '+' || code == ',' ||
           code == '-' || code == '.' || code == ';' || code == '=' || code == '@' || code == '[' ||
           code == ']' || code == '^' || code == '_';
}

// What each disk byte gives inside a host name: its character, or 0 for "%XX".
struct HostCharTable {
    char of[256];
    constexpr HostCharTable() : of() {
        for (int code = 0; code < 256; ++code) {
            if (code >= 'A' && code <= 'Z') of[code] = static_cast<char>(code - 'A' + 'a');
            else if (keptAsIs(static_cast<uint8_t>(code))) of[code] = static_cast<char>(code);
        }
    }
};
constexpr HostCharTable kHostChars;

void appendEscape(std::string &text, uint8_t code) {
    static const char kHex[] = "0123456789ABCDEF";
    text += '%';
    text += kHex[code >> 4];
    text += kHex[code & 15];
}

// True when the `length` characters at `stem` (lower case) are a name
// Windows keeps for a device.
bool isDeviceName(const char *stem, size_t length) {
    static const char *const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char *device : kDevices)
        if (std::strlen(device) == length && std::memcmp(stem, device, length) == 0) return true;
    return length == 4 && (std::memcmp(stem, "com", 3) == 0 || std::memcmp(stem, "lpt", 3) == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

// Windows reads "con.x.prg" and "con .prg" as the device too: what counts is
// the text before the first "." without its trailing spaces.
void escapeDeviceName(std::string &host) {
    size_t end = host.find('.');
    if (end == std::string::npos) end = host.size();
    while (end > 0 && host[end - 1] == ' ') --end;
    if (end < 3 || end > 7 || !isDeviceName(host.data(), end)) return;
    size_t letter = host.find_last_of("abcdefghijklmnopqrstuvwxyz", end - 1);
    std::string escaped;
    appendEscape(escaped, static_cast<uint8_t>(host[letter] - 'a' + 'A'));
    host.replace(letter, 1, escaped);
}

}  // namespace

std::string hostNameOfEntry(const uint8_t *name) {
    int length = 0;
    while (length < kNameBytes && name[length] != kPadding) ++length;
    if (length == 0) return "%A0";
    std::string host;
    host.reserve(3 * kNameBytes);
    for (int i = 0; i < length; ++i) {
        char kept = kHostChars.of[name[i]];
        bool last = i == length - 1;
        if (kept && !(last && (kept == ' ' || kept == '.'))) host += kept;
        else appendEscape(host, name[i]);
    }
    escapeDeviceName(host);
    return host;
}

const char *hostExtensionOfType(int typeByte) {
    static const char *const kExtensions[8] = {"del", "seq", "prg", "usr", "rel", "bin", "bin", "bin"};
    return kExtensions[typeByte & 7];
}

namespace {

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

HostFileEntry entryOfHostName(const std::string &fileName) {
    size_t dot = fileName.find_last_of('.');
    std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    HostFileEntry entry{};
    entry.typeByte = dot == std::string::npos ? 0x82 : typeOfExtension(fileName.substr(dot + 1));
    NameText text = decodeNameText(stem.c_str(), kNameBytes, false);
    std::memset(entry.name, kPadding, kNameBytes);
    std::memcpy(entry.name, text.bytes, static_cast<size_t>(text.length));
    entry.problem = text.problem;
    return entry;
}
