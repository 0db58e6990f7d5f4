// Geometry, block addressing, the block gate and links.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "disk/blockset.h"
#include "disk/image.h"
#include "support/d64_builder.h"

TEST(Geometry, SectorsPerTrackFollowTheBands) {
    const DiskShape d71 = shapeForSize(349696), d81 = shapeForSize(819200);
    const std::tuple<const DiskShape *, int, int> cases[] = {
        {&kShapeD64, 0, 21},  {&kShapeD64, 1, 21},  {&kShapeD64, 17, 21}, {&kShapeD64, 18, 19}, {&kShapeD64, 24, 19},
        {&kShapeD64, 25, 18}, {&kShapeD64, 30, 18}, {&kShapeD64, 31, 17}, {&kShapeD64, 35, 17}, {&kShapeD64, 40, 17},
        {&kShapeD64, 41, 17}, {&kShapeD64, 255, 17}, {&kShapeD64, -3, 21}, {&kShapeD64, 300, 17},
        // side 2 of a D71 repeats side 1's bands; a D81 has 40 everywhere
        {&d71, 36, 21}, {&d71, 52, 21}, {&d71, 53, 19}, {&d71, 59, 19}, {&d71, 60, 18}, {&d71, 66, 17},
        {&d71, 70, 17}, {&d71, 71, 17}, {&d71, 0, 21}, {&d81, 1, 40}, {&d81, 83, 40}, {&d81, 255, 40}};
    for (auto [shape, track, sectors] : cases)
        EXPECT_EQ(sectorsPerTrack(*shape, track), sectors) << shape->family->name << " track " << track;
}

TEST(Geometry, BlockOffsetsOfTellingBlocks) {
    EXPECT_EQ(blockOffset(kShapeD64, 1, 0), 0);
    EXPECT_EQ(blockOffset(kShapeD64, 18, 0), 91392);
    EXPECT_EQ(blockOffset(kShapeD64, 18, 1), 91648);
    EXPECT_EQ(blockOffset(kShapeD64, 0, 5), 1280);
    EXPECT_EQ(blockOffset(kShapeD64, 1, 5), 1280);
    EXPECT_EQ(blockOffset(kShapeD64, 1, 21), blockOffset(kShapeD64, 2, 0));
    EXPECT_EQ(blockOffset(kShapeD64, 2, 0), 5376);
    EXPECT_EQ(blockOffset(kShapeD64, 19, 0), 96256);
    EXPECT_EQ(blockOffset(kShapeD64, 25, 0), 125440);
    EXPECT_EQ(blockOffset(kShapeD64, 31, 0), 153088);
    EXPECT_EQ(blockOffset(kShapeD64, 35, 16), 174592);
    EXPECT_EQ(blockOffset(kShapeD64, 36, 0), 174848);
    EXPECT_EQ(blockOffset(kShapeD64, 40, 16), 196352);
    // Only the low 8 bits of each argument count.
    EXPECT_EQ(blockOffset(kShapeD64, 18 + 256, 1 + 512), blockOffset(kShapeD64, 18, 1));
}

// Every family's blocks follow each other without a gap up to its highest
// track; the layout order agrees, and a track above the highest is that
// track's band.
TEST(Geometry, EveryBlockOfEachFamilyIsContiguous) {
    const std::pair<DiskShape, int> cases[] = {
        {kShapeD64, 196608}, {shapeForSize(206114), 205312}, {shapeForSize(349696), 349696},
        {shapeForSize(853240), 849920}};
    for (const auto &[shape, bytes] : cases) {
        SCOPED_TRACE(std::string(shape.family->name) + " " + std::to_string(highestTrack(shape)));
        int expected = 0;
        for (int track = 1; track <= highestTrack(shape); ++track)
            for (int sector = 0; sector < sectorsPerTrack(shape, track); ++sector, expected += 256) {
                ASSERT_EQ(blockOffset(shape, track, sector), expected) << track << "/" << sector;
                ASSERT_EQ(blockIndex(shape, track, sector), expected / 256) << track << "/" << sector;
            }
        EXPECT_EQ(expected, bytes);
        int last = highestTrack(shape);
        EXPECT_EQ(blockOffset(shape, last + 1, 0), blockOffset(shape, last, 0));
        EXPECT_EQ(blockIndex(shape, last + 1, 0), -1);
    }
}

TEST(BlockGate, RefusesTracksOutsideOneToFortyAndBlocksPastTheEnd) {
    ImageBuffer image;
    image.bytes.assign(174848, 0);
    EXPECT_NE(blockAt(image, 1, 0), nullptr);
    EXPECT_NE(blockAt(image, 35, 16), nullptr);
    EXPECT_EQ(blockAt(image, 0, 5), nullptr);
    EXPECT_EQ(blockAt(image, 36, 0), nullptr);
    EXPECT_EQ(blockAt(image, 41, 0), nullptr);
    EXPECT_EQ(blockAt(image, 35, 17), nullptr);  // one sector past the last
    image.bytes.resize(91392 + 255);             // block 18/0 is one byte short
    EXPECT_EQ(blockAt(image, 18, 0), nullptr);
    EXPECT_NE(blockAt(image, 17, 20), nullptr);
    image.bytes.assign(196608, 0);
    EXPECT_NE(blockAt(image, 40, 16), nullptr);
    EXPECT_EQ(blockAt(image, 40, 17), nullptr);
    EXPECT_EQ(blockAt(image, 255, 255), nullptr);
}

TEST(Links, ReadAndWriteWithTraceLine) {
    ImageBuffer image = formatImage();
    linkBlock(image, 5, 3, 0x12, 0x04);
    EXPECT_EQ(getNextTrackSector(image, 5, 3).track, 18);
    EXPECT_EQ(getNextTrackSector(image, 5, 3).sector, 4);
    std::vector<uint8_t> before = bytesOf(image);

    testing::internal::CaptureStdout();
    setNextTrackSector(image, 18, 1, 0, 255);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "setNextTrackSector 18 1 0 255 \n");
    const uint8_t *block = blockAt(image, 18, 1);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0xFF);
    for (size_t i = 0; i < image.bytes.size(); ++i) {
        if (i >= 91648 && i <= 91649) continue;
        ASSERT_EQ(image.bytes[i], before[i]) << "byte " << i;
    }

    testing::internal::CaptureStdout();
    setNextTrackSector(image, 18, 1, 18 + 256, 256);  // only the low 8 bits are stored
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "setNextTrackSector 18 1 274 256 \n");
    EXPECT_EQ(block[0], 18);
    EXPECT_EQ(block[1], 0);
}

TEST(Links, AbsentBlockReadsAsEndOfChain) {
    ImageBuffer image;
    image.bytes.assign(1000, 0xFF);
    EXPECT_EQ(getNextTrackSector(image, 18, 0).track, 0);
    EXPECT_EQ(getNextTrackSector(image, 18, 0).sector, 0);
}

// Layout-order indexes cover exactly the real blocks of a 40-track image.
TEST(BlockSet, IndexesEveryRealBlockOnce) {
    BlockSet seen{};
    int count = 0;
    for (int track = 0; track <= 41; ++track)
        for (int sector = -1; sector <= 25; ++sector) {
            int index = blockIndex(kShapeD64, track, sector);
            bool real = track >= 1 && track <= 40 && sector >= 0 && sector < sectorsPerTrack(kShapeD64, track);
            EXPECT_EQ(index >= 0, real) << track << "/" << sector;
            if (!real) continue;
            EXPECT_FALSE(blockSetHas(seen, track, sector));
            blockSetAdd(seen, track, sector);
            ++count;
        }
    EXPECT_EQ(count, 768);
    EXPECT_EQ(blockIndex(kShapeD64, 40, 16), 767);
    EXPECT_FALSE(blockSetHas(seen, 18, 19));
}

// The size decides the family and its shape; block offsets follow the
// family's layout (a D71's side 2 from $2AB00, a D81's 40 sectors a track).
TEST(DiskShape, SizesGiveFamilyTracksBlocksAndLayout) {
    struct Case {
        uint64_t size;
        const char *family;
        int tracks, mapTracks, blocks;
        bool errorBytes;
        TrackSector block;  // a telling block, and its offset
        int offset;
    };
    const Case cases[] = {
        {174848, "d64", 35, 35, 683, false, {35, 16}, 174592},
        {179200, "d64", 36, 35, 700, false, {36, 16}, 179200 - 256},
        {206114, "d64", 42, 35, 802, true, {42, 0}, 200960},
        {180000, "d64", 35, 35, 683, false, {36, 0}, 174848},  // any other size: the blocks it holds
        {196609, "d64", 40, 35, 768, false, {40, 16}, 196352},
        {349696, "d71", 70, 70, 1366, false, {36, 0}, 0x2AB00},
        {351062, "d71", 70, 70, 1366, true, {53, 0}, 0x41000},
        {349696, "d71", 70, 70, 1366, false, {70, 16}, 349696 - 256},
        {819200, "d81", 80, 80, 3200, false, {40, 1}, 399616},
        {853240, "d81", 83, 80, 3320, true, {83, 39}, 849920 - 256},
    };
    for (const Case &c : cases) {
        DiskShape shape = shapeForSize(c.size);
        SCOPED_TRACE(c.size);
        EXPECT_STREQ(shape.family->name, c.family);
        EXPECT_EQ(shape.tracks, c.tracks);
        EXPECT_EQ(mapTracks(shape), c.mapTracks);
        EXPECT_EQ(blockCount(shape), c.blocks);
        EXPECT_EQ(shape.errorBytes, c.errorBytes);
        EXPECT_EQ(blockOffset(shape, c.block.track, c.block.sector), c.offset);
        EXPECT_EQ(blockIndex(shape, c.block.track, c.block.sector), c.offset / 256);
        ImageBuffer image;
        image.bytes.assign(c.size, 0);
        image.shape = shape;
        EXPECT_NE(blockAt(image, c.block.track, c.block.sector), nullptr);
        EXPECT_EQ(blockAt(image, highestTrack(shape) + 1, 0), nullptr);
    }
    EXPECT_EQ(blockCount(singleSided(shapeForSize(349696))), 683);  // side 1 of a D71 alone
}
