// Test helper: UTF-8 decoding and the C64 character-set data file.
#include "support/unicode.h"

#include <fstream>
#include <sstream>

#include "support/run_binary.h"

bool decodeUtf8(const std::string &text, std::vector<uint32_t> &points) {
    points.clear();
    for (size_t at = 0; at < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[at]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                                    : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
        if (length == 0 || at + length > text.size()) return false;
        uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; ++i) {
            unsigned char next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) return false;
            point = point << 6 | (next & 0x3F);
        }
        static const uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        points.push_back(point);
        at += length;
    }
    return true;
}

std::vector<uint32_t> readPetsciiColumn(int column) {
    std::ifstream file(sourcePath("data/petscii-unicode.tsv"));
    std::vector<uint32_t> points;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string code, upper, lower;
        if (!(fields >> code >> upper >> lower) || std::stoul(code, nullptr, 16) != points.size()) return {};
        const std::string &value = column == 1 ? upper : lower;
        points.push_back(value == "-" ? 0 : static_cast<uint32_t>(std::stoul(value.substr(2), nullptr, 16)));
    }
    if (points.size() != 256) return {};
    return points;
}
