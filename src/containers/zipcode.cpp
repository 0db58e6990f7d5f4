// Reading and writing ZipCode 4-packs.
#include "containers/zipcode.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kFirstLoadAddress = 0x03FE;
constexpr int kLoadAddress = 0x0400;
constexpr int kStoredMethod = 0, kFillMethod = 1, kRunsMethod = 2;
constexpr int kShortestRun = 4;      // a run costs 3 bytes coded: shorter ones stay as they are
constexpr int kLongestRun = 255;     // the count is one byte
constexpr size_t kLongestRuns = 253; // coded blocks longer than that are stored, as disk2zip stores them
constexpr uint8_t kNoError = 0x01;   // the error byte of a block the drive read well

// The first and last track of each file of a pack.
struct PartTracks {
    int first, last;
};
constexpr PartTracks kPartTracks[kZipCodeParts] = {{1, 8}, {9, 16}, {17, 25}, {26, 35}, {36, 40}};

std::string blockText(int track, int sector) { return std::to_string(track) + "/" + std::to_string(sector); }

// Decodes a block coded by runs from `coded` (`length` bytes, after its
// marker) into `block`; false when the runs do not fill exactly 256 bytes.
bool decodeRuns(const uint8_t *coded, size_t length, uint8_t marker, uint8_t *block) {
    size_t out = 0;
    for (size_t i = 0; i < length;) {
        if (coded[i] != marker) {
            if (out == kBlockSize) return false;
            block[out++] = coded[i++];
            continue;
        }
        if (i + 2 >= length || out + coded[i + 1] > kBlockSize) return false;
        std::memset(block + out, coded[i + 2], coded[i + 1]);
        out += coded[i + 1];
        i += 3;
    }
    return out == kBlockSize;
}

// Reads the blocks of one file into the image; `seen` marks the blocks found.
std::string readPart(const std::vector<uint8_t> &bytes, int part, ImageBuffer &image, std::vector<bool> &seen) {
    size_t at = part == 1 ? 4 : 2;
    int address = part == 1 ? kFirstLoadAddress : kLoadAddress;
    if (bytes.size() < at || (bytes[0] | bytes[1] << 8) != address)
        return bytes.size() < at ? "is cut short before its first block"
                                 : "has no ZipCode load address ($" + std::string(part == 1 ? "03FE" : "0400") +
                                       ") at its start";
    const PartTracks tracks = kPartTracks[part - 1];
    while (at < bytes.size()) {
        if (at + 2 > bytes.size()) return "is cut short inside a block's header at byte " + std::to_string(at);
        int method = bytes[at] >> 6, track = bytes[at] & 0x3F, sector = bytes[at + 1];
        std::string where = "block " + blockText(track, sector) + " (byte " + std::to_string(at) + ")";
        if (track < tracks.first || track > tracks.last)
            return "lies: " + where + " lies outside its tracks " + std::to_string(tracks.first) + "-" +
                   std::to_string(tracks.last);
        uint8_t *block = blockAt(image, track, sector);
        if (sector >= sectorsPerTrack(image.shape, track) || !block)
            return "lies: " + where + " has a sector beyond its track's " +
                   std::to_string(sectorsPerTrack(image.shape, track));
        size_t position = static_cast<size_t>(block - image.bytes.data()) / kBlockSize;
        if (seen[position]) return "lies: " + where + " is given a second time";
        seen[position] = true;
        at += 2;
        size_t need = method == kStoredMethod ? kBlockSize : method == kFillMethod ? 1 : 2;
        if (method > kRunsMethod) return "lies: " + where + " is coded by method 3, which ZipCode does not have";
        if (at + need > bytes.size()) return "is cut short inside " + where;
        if (method == kStoredMethod) std::memcpy(block, &bytes[at], kBlockSize);
        if (method == kFillMethod) std::memset(block, bytes[at], kBlockSize);
        if (method == kRunsMethod) {
            size_t length = bytes[at];
            if (at + 2 + length > bytes.size()) return "is cut short inside " + where;
            if (!decodeRuns(&bytes[at + 2], length, bytes[at + 1], block))
                return "lies: the runs of " + where + " do not fill its 256 bytes";
            need += length;
        }
        at += need;
    }
    return "";
}

// The sector the packer takes `i`-th on a track of `sectors`: alternately
// from the first half and the second.
int packedSector(int i, int sectors) { return i % 2 == 0 ? i / 2 : (sectors + 1) / 2 + i / 2; }

// Appends one block, in the shortest of the three forms.
void packBlock(const uint8_t *block, int track, int sector, std::vector<uint8_t> &out) {
    if (std::all_of(block, block + kBlockSize, [block](uint8_t b) { return b == block[0]; })) {
        out.insert(out.end(), {static_cast<uint8_t>(track | kFillMethod << 6), static_cast<uint8_t>(sector), block[0]});
        return;
    }
    bool present[256] = {};
    for (int i = 0; i < kBlockSize; ++i) present[block[i]] = true;
    const bool *free = std::find(present, present + 256, false);
    std::vector<uint8_t> coded;
    if (free != present + 256) {
        uint8_t marker = static_cast<uint8_t>(free - present);
        for (int i = 0; i < kBlockSize && coded.size() <= kLongestRuns;) {
            int run = 1;
            while (i + run < kBlockSize && block[i + run] == block[i] && run < kLongestRun) ++run;
            if (run >= kShortestRun) coded.insert(coded.end(), {marker, static_cast<uint8_t>(run), block[i]});
            else coded.insert(coded.end(), block + i, block + i + run);
            i += run;
        }
        if (coded.size() <= kLongestRuns) {
            out.insert(out.end(), {static_cast<uint8_t>(track | kRunsMethod << 6), static_cast<uint8_t>(sector),
                                   static_cast<uint8_t>(coded.size()), marker});
            out.insert(out.end(), coded.begin(), coded.end());
            return;
        }
    }
    out.insert(out.end(), {static_cast<uint8_t>(track), static_cast<uint8_t>(sector)});
    out.insert(out.end(), block, block + kBlockSize);
}

}  // namespace

int zipCodePart(const std::string &fileName) {
    if (fileName.size() < 3 || fileName[1] != '!' || fileName[0] < '1' || fileName[0] > '0' + kZipCodeParts) return 0;
    return fileName[0] - '0';
}

std::string diskOfZipCode(const std::vector<std::vector<uint8_t>> &parts, ImageBuffer &image, int &badPart) {
    bool forty = parts.size() == kZipCodeParts && !parts.back().empty();
    image.shape = formattedShape(kFamilyD64, forty ? kExtendedD64Tracks : kFamilyD64.mapTracks, false);
    image.bytes.assign(static_cast<size_t>(blockCount(image.shape)) * kBlockSize, 0);
    std::vector<bool> seen(static_cast<size_t>(blockCount(image.shape)), false);
    badPart = 0;
    for (int part = 1; part <= (forty ? kZipCodeParts : kZipCodeDiskParts); ++part) {
        std::string problem = readPart(parts[static_cast<size_t>(part - 1)], part, image, seen);
        if (problem.empty()) continue;
        badPart = part;
        image.bytes.clear();
        return problem;
    }
    for (int part = 1; part <= (forty ? kZipCodeParts : kZipCodeDiskParts); ++part) {
        for (int track = kPartTracks[part - 1].first; track <= kPartTracks[part - 1].last; ++track)
            for (int sector = 0; sector < sectorsPerTrack(image.shape, track); ++sector) {
                size_t position = static_cast<size_t>(blockAt(image, track, sector) - image.bytes.data()) / kBlockSize;
                if (seen[position]) continue;
                badPart = part;
                image.bytes.clear();
                return "lacks block " + blockText(track, sector);
            }
    }
    return "";
}

std::string zipCodeOfImage(const ImageBuffer &image, std::vector<std::vector<uint8_t>> &parts) {
    parts.clear();
    const DiskShape &shape = image.shape;
    if (shape.family != &kFamilyD64 || !shape.exactSize ||
        (shape.tracks != kFamilyD64.mapTracks && shape.tracks != kExtendedD64Tracks))
        return "is no D64 of 35 or 40 tracks, which is all a ZipCode pack holds";
    const uint8_t *errors = image.bytes.data() + static_cast<size_t>(blockCount(shape)) * kBlockSize;
    for (int track = 1; shape.errorBytes && track <= shape.tracks; ++track)
        for (int sector = 0; sector < sectorsPerTrack(shape, track); ++sector) {
            uint8_t error = errors[(blockAt(image, track, sector) - image.bytes.data()) / kBlockSize];
            if (error != kNoError && error != 0)
                return "has a read error on block " + blockText(track, sector) + " (error byte $" +
                       "0123456789ABCDEF"[error >> 4] + "0123456789ABCDEF"[error & 15] +
                       "), which a ZipCode pack cannot keep";
        }
    const uint8_t *header = headerBlock(image);
    int count = shape.tracks == kExtendedD64Tracks ? kZipCodeParts : kZipCodeDiskParts;
    for (int part = 1; part <= count; ++part) {
        int address = part == 1 ? kFirstLoadAddress : kLoadAddress;
        std::vector<uint8_t> out = {static_cast<uint8_t>(address & 0xFF), static_cast<uint8_t>(address >> 8)};
        if (part == 1) out.insert(out.end(), header + kFamilyD64.idOffset, header + kFamilyD64.idOffset + 2);
        for (int track = kPartTracks[part - 1].first; track <= kPartTracks[part - 1].last; ++track) {
            int sectors = sectorsPerTrack(shape, track);
            for (int i = 0; i < sectors; ++i) {
                int sector = packedSector(i, sectors);
                packBlock(blockAt(image, track, sector), track, sector, out);
            }
        }
        parts.push_back(std::move(out));
    }
    return "";
}
