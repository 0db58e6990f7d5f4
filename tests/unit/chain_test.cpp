// Chain walks: the last block of a chain with its trace lines, the measuring
// walks (byte size, block count, payload, checksum) and the CRC-32 itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "disk/chain.h"
#include "support/d64_builder.h"

#ifdef KESTREL_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

constexpr size_t k35TrackBytes = 174848;

// Last block of a chain, with what the walk printed.
struct Traced {
    LastBlock last;
    std::string out;
};

Traced traceLastBlock(const ImageBuffer &image, TrackSector start) {
    testing::internal::CaptureStdout();
    LastBlock last = findLastBlock(image, start);
    std::fflush(stdout);
    return {last, testing::internal::GetCapturedStdout()};
}

std::vector<uint8_t> payloadOf(const ImageBuffer &image, TrackSector start) {
    std::vector<uint8_t> payload;
    int copied = readChain(image, start, payload);
    EXPECT_EQ(copied, static_cast<int>(payload.size()));
    return payload;
}

std::vector<uint8_t> blockBytes(const ImageBuffer &image, int track, int sector, int from, int to) {
    const uint8_t *block = blockAt(image, track, sector);
    return std::vector<uint8_t>(block + from, block + to + 1);
}

#ifdef KESTREL_HAVE_ZLIB
uint32_t zlibCrc(const std::vector<uint8_t> &bytes) {
    return static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}
#endif

// Every block of a 40-track image in layout order.
std::vector<TrackSector> allBlocks() {
    std::vector<TrackSector> blocks;
    for (int track = 1; track <= 40; ++track)
        for (int sector = 0; sector < sectorsPerTrack(kShapeD64, track); ++sector) blocks.push_back({track, sector});
    return blocks;
}

}  // namespace

TEST(FindLastBlock, FollowsTheChainAndPrintsTwoLines) {
    ImageBuffer image = formatImage();
    Traced single = traceLastBlock(image, {18, 1});
    EXPECT_EQ(single.out, "Last Block of 18/ 1: \n18/ 1\n");
    EXPECT_EQ(single.last.stop, WalkStop::EndOfChain);

    linkBlock(image, 18, 1, 18, 4);
    linkBlock(image, 18, 4, 0, 255);
    Traced two = traceLastBlock(image, {18, 1});
    EXPECT_EQ(two.out, "Last Block of 18/ 1: \n18/ 4\n");
    EXPECT_EQ(two.last.block.track, 18);
    EXPECT_EQ(two.last.block.sector, 4);
    EXPECT_EQ(two.last.stop, WalkStop::EndOfChain);

    // The map block's link leads into the directory.
    EXPECT_EQ(traceLastBlock(image, {18, 0}).out, "Last Block of 18/ 0: \n18/ 4\n");

    // No range check: tracks 36..40 are followed on a 40-track image.
    ImageBuffer wide = formatImage("WIDE", "wd", 40);
    linkBlock(wide, 18, 1, 36, 2);
    linkBlock(wide, 36, 2, 0, 255);
    Traced beyond = traceLastBlock(wide, {18, 1});
    EXPECT_EQ(beyond.out, "Last Block of 18/ 1: \n36/ 2\n");
    EXPECT_EQ(beyond.last.stop, WalkStop::EndOfChain);
}

TEST(FindLastBlock, LoopsEndWithLoop) {
    ImageBuffer image = formatImage();
    linkBlock(image, 18, 1, 18, 1);
    Traced one = traceLastBlock(image, {18, 1});
    EXPECT_EQ(one.last.stop, WalkStop::Loop);
    EXPECT_EQ(one.out.rfind("Last Block of 18/ 1: \n", 0), 0u);
    EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 2);

    linkBlock(image, 18, 1, 18, 4);
    linkBlock(image, 18, 4, 18, 1);
    Traced two = traceLastBlock(image, {18, 1});
    EXPECT_EQ(two.last.stop, WalkStop::Loop);
    EXPECT_EQ(std::count(two.out.begin(), two.out.end(), '\n'), 2);

    // 700 distinct blocks in a ring; entered at its first block.
    ImageBuffer wide;
    wide.bytes.assign(196608, 0);
    std::vector<TrackSector> blocks = allBlocks();
    for (size_t i = 0; i < 700; ++i)
        linkBlock(wide, blocks[i].track, blocks[i].sector, blocks[(i + 1) % 700].track, blocks[(i + 1) % 700].sector);
    Traced ring = traceLastBlock(wide, {1, 0});
    EXPECT_EQ(ring.last.stop, WalkStop::Loop);
    EXPECT_EQ(std::count(ring.out.begin(), ring.out.end(), '\n'), 2);
}

// The bound must not cut a real chain: all 768 blocks of a 40-track image in one chain.
TEST(FindLastBlock, ChainOverEveryBlockOfA40TrackImageEnds) {
    ImageBuffer wide;
    wide.bytes.assign(196608, 0);
    std::vector<TrackSector> blocks = allBlocks();
    ASSERT_EQ(blocks.size(), 768u);
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
        linkBlock(wide, blocks[i].track, blocks[i].sector, blocks[i + 1].track, blocks[i + 1].sector);
    linkBlock(wide, 40, 16, 0, 255);
    Traced full = traceLastBlock(wide, {1, 0});
    EXPECT_EQ(full.last.stop, WalkStop::EndOfChain);
    EXPECT_EQ(full.out, "Last Block of  1/ 0: \n40/16\n");
}

TEST(FindLastBlock, ChainLeavingTheImageStopsAtTheAbsentBlock) {
    ImageBuffer image = formatImage();
    linkBlock(image, 18, 1, 36, 0);  // a 35-track image has no track 36
    Traced absent = traceLastBlock(image, {18, 1});
    EXPECT_EQ(absent.last.stop, WalkStop::AbsentBlock);
    EXPECT_EQ(absent.last.block.track, 36);
    EXPECT_EQ(std::count(absent.out.begin(), absent.out.end(), '\n'), 2);

    linkBlock(image, 18, 1, 41, 0);  // no track 41 on any image
    EXPECT_EQ(traceLastBlock(image, {18, 1}).last.stop, WalkStop::AbsentBlock);

    image.bytes.resize(blockOffset(kShapeD64, 18, 4) + 255);  // block 18/4 is one byte short
    linkBlock(image, 18, 1, 18, 4);
    EXPECT_EQ(traceLastBlock(image, {18, 1}).last.stop, WalkStop::AbsentBlock);
}

TEST(ChainMeasures, TwoBlockFileOf354Bytes) {
    ImageBuffer image = formatImage();
    std::vector<uint8_t> noise = randomBytes(512, 3);
    std::copy(noise.begin(), noise.begin() + 256, blockAt(image, 17, 0));
    std::copy(noise.begin() + 256, noise.end(), blockAt(image, 17, 3));
    linkBlock(image, 17, 0, 17, 3);
    linkBlock(image, 17, 3, 0, 101);

    std::vector<uint8_t> expected = blockBytes(image, 17, 0, 2, 255);
    std::vector<uint8_t> tail = blockBytes(image, 17, 3, 2, 101);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(chainByteSize(image, {17, 0}), 354);
    EXPECT_EQ(chainBlockCount(image, {17, 0}), 2);
    EXPECT_EQ(payloadOf(image, {17, 0}), expected);
#ifdef KESTREL_HAVE_ZLIB
    EXPECT_EQ(chainChecksum(image, {17, 0}), zlibCrc(expected));
#endif
    EXPECT_EQ(chainChecksum(image, {17, 0}), computeCrc32(0, expected.data(), expected.size()));
}

TEST(ChainMeasures, LastBlockLengths) {
    ImageBuffer image = formatImage();
    linkBlock(image, 17, 0, 0, 255);
    EXPECT_EQ(chainByteSize(image, {17, 0}), 254);
    EXPECT_EQ(chainBlockCount(image, {17, 0}), 1);
    EXPECT_EQ(payloadOf(image, {17, 0}), blockBytes(image, 17, 0, 2, 255));

    linkBlock(image, 17, 0, 0, 1);
    EXPECT_EQ(chainByteSize(image, {17, 0}), 0);
    EXPECT_EQ(chainBlockCount(image, {17, 0}), 1);
    EXPECT_EQ(chainChecksum(image, {17, 0}), 0u);

    // A next-sector byte of 0 counts -1 and copies nothing.
    linkBlock(image, 17, 0, 0, 0);
    EXPECT_EQ(chainByteSize(image, {17, 0}), -1);
    EXPECT_EQ(chainBlockCount(image, {17, 0}), 1);
    EXPECT_TRUE(payloadOf(image, {17, 0}).empty());
    EXPECT_EQ(chainChecksum(image, {17, 0}), 0u);

    // The map block is measured like any other: 18/0 -> 18/1 (0, 255).
    EXPECT_EQ(chainByteSize(image, {18, 0}), 508);
    EXPECT_EQ(chainBlockCount(image, {18, 0}), 2);
}

// Tracks 36..40 are measured where the image holds them: a 40-track image
// whole, while on a 35-track image a link to track 36 ends the chain.
TEST(ChainMeasures, TracksThirtySixToFortyCountWhereTheImageHoldsThem) {
    for (int tracks : {35, 40}) {
        SCOPED_TRACE(tracks);
        ImageBuffer image = formatImage("X", "xx", tracks);
        linkBlock(image, 17, 0, 36, 0);
        std::vector<uint8_t> expected = blockBytes(image, 17, 0, 2, 255);
        if (tracks == 40) {
            linkBlock(image, 36, 0, 40, 16);
            linkBlock(image, 40, 16, 0, 101);
            for (auto [track, sector, last] : {std::tuple{36, 0, 255}, {40, 16, 101}}) {
                std::vector<uint8_t> part = blockBytes(image, track, sector, 2, last);
                expected.insert(expected.end(), part.begin(), part.end());
            }
        }
        int blocks = tracks == 40 ? 3 : 1;
        EXPECT_EQ(chainByteSize(image, {17, 0}), static_cast<int>(expected.size()));
        EXPECT_EQ(chainBlockCount(image, {17, 0}), blocks);
        EXPECT_EQ(payloadOf(image, {17, 0}), expected);
        EXPECT_EQ(chainChecksum(image, {17, 0}), computeCrc32(0, expected.data(), expected.size()));
        // A file that starts on track 36.
        EXPECT_EQ(chainBlockCount(image, {36, 0}), blocks - 1);
        EXPECT_EQ(chainByteSize(image, {36, 0}), tracks == 40 ? 254 + 100 : 0);

        for (TrackSector start : {TrackSector{41, 0}, TrackSector{0, 5}}) {
            EXPECT_EQ(chainByteSize(image, start), 0);
            EXPECT_EQ(chainBlockCount(image, start), 0);
            EXPECT_TRUE(payloadOf(image, start).empty());
            EXPECT_EQ(chainChecksum(image, start), 0u);
        }
    }
}

// A cut image ends the walk at the first block it does not hold; the block
// before it counts in full.
TEST(ChainMeasures, TruncatedImageStopsAtTheCut) {
    ImageBuffer image = formatImage();
    std::vector<uint8_t> data = randomBytes(254 * 3 + 40, 11);
    TrackSector start = addFile(image, data, "FILE", 0x82, 1);
    ASSERT_EQ(chainBlockCount(image, start), 4);
    TrackSector second = getNextTrackSector(image, start.track, start.sector);
    ASSERT_GT(blockOffset(kShapeD64, second.track, second.sector), blockOffset(kShapeD64, start.track, start.sector));

    image.bytes.resize(blockOffset(kShapeD64, second.track, second.sector) + 255);
    EXPECT_EQ(chainByteSize(image, start), 254);
    EXPECT_EQ(chainBlockCount(image, start), 1);
    std::vector<uint8_t> first(data.begin(), data.begin() + 254);
    EXPECT_EQ(payloadOf(image, start), first);
#ifdef KESTREL_HAVE_ZLIB
    EXPECT_EQ(chainChecksum(image, start), zlibCrc(first));
#endif
    image.bytes.resize(blockOffset(kShapeD64, start.track, start.sector) + 100);
    EXPECT_EQ(chainByteSize(image, start), 0);
    EXPECT_EQ(chainBlockCount(image, start), 0);
}

TEST(ChainMeasures, CyclicChainStopsAfter768Blocks) {
    ImageBuffer image = formatImage();
    linkBlock(image, 17, 0, 17, 3);
    linkBlock(image, 17, 3, 17, 0);
    EXPECT_EQ(chainBlockCount(image, {17, 0}), 768);
    EXPECT_EQ(chainByteSize(image, {17, 0}), 768 * 254);
    EXPECT_EQ(payloadOf(image, {17, 0}).size(), 768u * 254u);
}

// Files written by the image builder read back exactly, whatever their length,
// also beyond 100,000 bytes.
TEST(ChainMeasures, FilesReadBackWithTheirLengthAndCrc) {
    for (size_t length : {0u, 1u, 253u, 254u, 255u, 508u, 509u, 5000u, 120000u}) {
        ImageBuffer image = formatImage();
        std::vector<uint8_t> data = randomBytes(length, static_cast<uint32_t>(length));
        TrackSector start = addFile(image, data, "FILE");
        EXPECT_EQ(chainByteSize(image, start), static_cast<int>(length)) << length;
        EXPECT_EQ(chainBlockCount(image, start), length == 0 ? 1 : static_cast<int>((length + 253) / 254)) << length;
        EXPECT_EQ(payloadOf(image, start), data) << length;
#ifdef KESTREL_HAVE_ZLIB
        EXPECT_EQ(chainChecksum(image, start), zlibCrc(data)) << length;
#endif
    }
}

TEST(Crc32, CheckValueAndEmptyInput) {
    const char digits[] = "123456789";
    EXPECT_EQ(computeCrc32(0, reinterpret_cast<const uint8_t *>(digits), 9), 0xCBF43926u);
    EXPECT_EQ(computeCrc32(0, nullptr, 0), 0u);
    EXPECT_EQ(computeCrc32(0x12345678u, nullptr, 0), 0x12345678u);
}

#ifdef KESTREL_HAVE_ZLIB
TEST(Crc32, AgreesWithZlibWholeAndInPieces) {
    std::vector<uint8_t> data = randomBytes(70000, 99);
    for (size_t length = 0; length <= 1100; length += length < 300 ? 1 : 37) {
        std::vector<uint8_t> part(data.begin(), data.begin() + static_cast<long>(length));
        ASSERT_EQ(computeCrc32(0, part.data(), part.size()), zlibCrc(part)) << length;
    }
    ASSERT_EQ(computeCrc32(0, data.data(), data.size()), zlibCrc(data));

    // Fed in uneven pieces, continuing from each result.
    std::vector<uint8_t> cuts = randomBytes(400, 5);
    uint32_t crc = 0;
    size_t at = 0;
    for (size_t i = 0; at < data.size(); ++i) {
        size_t piece = std::min<size_t>(data.size() - at, cuts[i % cuts.size()] * 3u);
        crc = computeCrc32(crc, data.data() + at, piece);
        at += piece;
    }
    EXPECT_EQ(crc, zlibCrc(data));
}
#endif
