// Block availability map: reading and changing map bits, and the orders in
// which the two free-block searches try the blocks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "disk/bam.h"
#include "support/d64_builder.h"
#include "support/d64_zones.h"

namespace {

constexpr int kMapOffset = 91392;  // block 18/0

// An image whose map marks every block of tracks 1..35 free (18/0 and 18/1 too).
ImageBuffer allFreeImage() {
    ImageBuffer image = formatImage();
    markBlock(image, 18, 0, true);
    markBlock(image, 18, 1, true);
    return image;
}

// An image whose map marks every block used.
ImageBuffer fullImage() {
    ImageBuffer image = formatImage();
    for (int track = 1; track <= 35; ++track)
        for (int sector = 0; sector < zoneSectors(track); ++sector) markBlock(image, track, sector, false);
    return image;
}

// Skips nothing: the searches follow the map alone.
SearchSkips trustTheMap{};

std::string name(TrackSector at) { return std::to_string(at.track) + "/" + std::to_string(at.sector); }

// Calls `search` from the same start until it finds nothing, marking each
// found block used (without a trace line); returns the blocks in found order.
template <typename Search>
std::vector<std::string> takeAll(ImageBuffer &image, Search search) {
    std::vector<std::string> order;
    TrackSector found{-7, -7};
    while (search(image, found)) {
        order.push_back(name(found));
        markBlock(image, found.track, found.sector, false);
        if (order.size() > 700) break;
    }
    return order;
}

std::string captured(void (*action)(ImageBuffer &), ImageBuffer &image) {
    testing::internal::CaptureStdout();
    action(image);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(BlockMap, BitsAreReadLeastSignificantByteFirst) {
    ImageBuffer image = formatImage();
    uint8_t *entry = &image.bytes[kMapOffset + 4 * 5];
    entry[0] = 21;  // the count claims more than the bits hold; only the bits count
    entry[1] = 0x05;
    entry[2] = 0x80;
    entry[3] = 0x10;
    for (int sector = 0; sector < 21; ++sector) {
        bool free = sector == 0 || sector == 2 || sector == 15 || sector == 20;
        EXPECT_EQ(isBlockFree(image, 5, sector), free) << "5/" << sector;
    }
    EXPECT_EQ(trackMapEntry(image, 5).freeCount, 21);

    TrackSector found{0, 0};
    ASSERT_TRUE(findFreeBlock(image, 5, 3, trustTheMap, found));
    EXPECT_EQ(name(found), "5/15");
    ASSERT_TRUE(findFreeBlockInterleaved(image, 5, 0, 3, trustTheMap, found));
    EXPECT_EQ(name(found), "5/15");
}

// The bit and the track's free count change together, so that the count
// keeps matching the bits; a bit already as asked changes neither.
TEST(BlockMap, SetBlockFreeChangesTheBitAndTheCountAndPrintsItsTrace) {
    ImageBuffer image = formatImage();
    const std::vector<uint8_t> before = bytesOf(image);
    const size_t bitsByte = kMapOffset + 74;  // track 18, sector 9: byte 4*18 + 1 + 9/8
    const size_t countByte = kMapOffset + 72;

    EXPECT_EQ(captured([](ImageBuffer &im) { setBlockFree(im, 18, 9, 0); }, image), "setBlockFree 18/9 0\n");
    EXPECT_FALSE(isBlockFree(image, 18, 9));
    EXPECT_EQ(image.bytes[bitsByte], before[bitsByte] & ~0x02);
    EXPECT_EQ(image.bytes[countByte], before[countByte] - 1);
    for (size_t i = 0; i < image.bytes.size(); ++i) {
        if (i == bitsByte || i == countByte) continue;
        ASSERT_EQ(image.bytes[i], before[i]) << "byte " << i;
    }
    const std::vector<uint8_t> used = bytesOf(image);
    EXPECT_EQ(captured([](ImageBuffer &im) { setBlockFree(im, 18, 9, 0); }, image), "setBlockFree 18/9 0\n");
    EXPECT_EQ(bytesOf(image), used);

    // Any nonzero flag frees the block, and the trace shows the flag as passed.
    EXPECT_EQ(captured([](ImageBuffer &im) { setBlockFree(im, 18, 9, 2); }, image), "setBlockFree 18/9 2\n");
    EXPECT_TRUE(isBlockFree(image, 18, 9));
    EXPECT_EQ(bytesOf(image), before);
    captured([](ImageBuffer &im) { setBlockFree(im, 18, 9, 1); }, image);
    EXPECT_EQ(bytesOf(image), before);

    // A count that disagrees with the bits is held at its limits.
    image.bytes[countByte] = 0;
    captured([](ImageBuffer &im) { setBlockFree(im, 18, 9, 0); }, image);
    EXPECT_EQ(image.bytes[countByte], 0);
}

TEST(FindFreeBlock, SearchesUpwardWithoutWrapping) {
    ImageBuffer image = allFreeImage();
    std::vector<std::string> expected;
    for (int track = 18; track <= 35; ++track)
        for (int sector = track == 18 ? 5 : 0; sector < zoneSectors(track); ++sector)
            expected.push_back(std::to_string(track) + "/" + std::to_string(sector));
    EXPECT_EQ(takeAll(image,
                      [](const ImageBuffer &im, TrackSector &f) { return findFreeBlock(im, 18, 5, trustTheMap, f); }),
              expected);
}

TEST(FindFreeBlock, EdgeCases) {
    TrackSector found{-7, -7};
    ImageBuffer image = fullImage();
    for (int track = 1; track <= 17; ++track) markBlock(image, track, 3, true);
    EXPECT_FALSE(findFreeBlock(image, 18, 18, trustTheMap, found));
    EXPECT_EQ(name(found), "-7/-7");  // untouched when nothing is found
    markBlock(image, 19, 0, true);
    ASSERT_TRUE(findFreeBlock(image, 18, 18, trustTheMap, found));
    EXPECT_EQ(name(found), "19/0");
    // A start sector past the track's last skips the rest of the start track.
    markBlock(image, 18, 5, true);
    ASSERT_TRUE(findFreeBlock(image, 18, 19, trustTheMap, found));
    EXPECT_EQ(name(found), "19/0");
    ASSERT_TRUE(findFreeBlock(image, 18, 5, trustTheMap, found));
    EXPECT_EQ(name(found), "18/5");

    // A start off the map's tracks (a directory ending on tracks 36-40 of a
    // 40-track image) starts over at 1/0, from sector 0 in both searches.
    ImageBuffer free = allFreeImage();
    markBlock(free, 1, 0, false);
    for (auto [track, sector] : {std::pair{36, 0}, {40, 16}, {0, 5}}) {
        found = {-7, -7};
        ASSERT_TRUE(findFreeBlock(free, track, sector, trustTheMap, found)) << track;
        EXPECT_EQ(name(found), "1/1") << track;
        ASSERT_TRUE(findFreeBlockInterleaved(free, track, sector, 3, trustTheMap, found)) << track;
        EXPECT_EQ(name(found), "1/1") << track;
    }
}

// Blocks in use are passed over whatever the map says; those the map marks
// free are noted, the ones it marks used are not.
TEST(FindFreeBlock, PassesOverBlocksInUse) {
    ImageBuffer image = allFreeImage();
    markBlock(image, 18, 3, false);
    SearchSkips skips{};
    for (int sector : {0, 1, 2, 3}) blockSetAdd(skips.inUse, 18, sector);
    TrackSector found{0, 0};
    ASSERT_TRUE(findFreeBlock(image, 18, 0, skips, found));
    EXPECT_EQ(name(found), "18/4");
    ASSERT_TRUE(findFreeBlockInterleaved(image, 18, 16, 3, skips, found));  // tries 18/0 first
    EXPECT_EQ(name(found), "18/4");
    std::vector<std::string> noted;
    for (int sector = 0; sector < 19; ++sector)
        if (blockSetHas(skips.passedOver, 18, sector)) noted.push_back(name({18, sector}));
    EXPECT_EQ(noted, (std::vector<std::string>{"18/0", "18/1", "18/2"}));
}

TEST(FindFreeBlockInterleaved, FromEighteenOneTriesTheWholeDiskOnce) {
    ImageBuffer image = allFreeImage();
    std::vector<std::string> expected;
    for (int j = 0; j < 19; ++j) expected.push_back("18/" + std::to_string((4 + j) % 19));
    for (int pass = 1; pass < 35; ++pass) {
        int track = 18 + pass > 35 ? 18 + pass - 35 : 18 + pass;
        for (int sector = 0; sector < zoneSectors(track); ++sector)
            expected.push_back(std::to_string(track) + "/" + std::to_string(sector));
    }
    ASSERT_EQ(expected.size(), 683u);
    EXPECT_EQ(takeAll(image,
                      [](const ImageBuffer &im, TrackSector &f) {
                          return findFreeBlockInterleaved(im, 18, 1, 3, trustTheMap, f);
                      }),
              expected);
}

TEST(FindFreeBlockInterleaved, StartTrackIsTriedCircularlyFromTheBase) {
    ImageBuffer image = allFreeImage();
    TrackSector found{0, 0};
    ASSERT_TRUE(findFreeBlockInterleaved(image, 18, 17, 3, trustTheMap, found));
    EXPECT_EQ(name(found), "18/1");  // (17 + 3) mod 19

    // From 35/0 the tracks come as 35, 1, 2, ..., 34.
    std::vector<std::string> order = takeAll(
        image,
        [](const ImageBuffer &im, TrackSector &f) { return findFreeBlockInterleaved(im, 35, 0, 3, trustTheMap, f); });
    ASSERT_EQ(order.size(), 683u);
    EXPECT_EQ(order[0], "35/3");
    EXPECT_EQ(order[13], "35/16");
    EXPECT_EQ(order[14], "35/0");
    EXPECT_EQ(order[16], "35/2");
    EXPECT_EQ(order[17], "1/0");
    EXPECT_EQ(order.back(), "34/16");

    // The start block itself is tried when it is the only free block of its track.
    image = allFreeImage();
    for (int sector = 1; sector < 17; ++sector) markBlock(image, 35, sector, false);
    ASSERT_TRUE(findFreeBlockInterleaved(image, 35, 0, 3, trustTheMap, found));
    EXPECT_EQ(name(found), "35/0");
}

// A truncated image may mark blocks free that it does not hold; they are never taken.
TEST(FindFreeBlock, SkipsBlocksBeyondTheImagesEnd) {
    ImageBuffer image = allFreeImage();
    image.bytes.resize(image.bytes.size() - 256 * 17 + 100);  // track 35 is cut
    TrackSector found{0, 0};
    EXPECT_FALSE(findFreeBlock(image, 35, 0, trustTheMap, found));
    ASSERT_TRUE(findFreeBlockInterleaved(image, 35, 0, 3, trustTheMap, found));
    EXPECT_EQ(name(found), "1/0");
}
