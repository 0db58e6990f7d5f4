// Image files: whole-file load and save, and what they report for names that
// cannot be read or written.
#include <gtest/gtest.h>

#include <filesystem>

#include "frontend/imagefile.h"
#include "support/d64_builder.h"
#include "support/run_binary.h"

TEST(ImageFile, LoadReadsTheWholeFileWhateverItsLength) {
    TempDir dir;
    writeBytes(dir.file("empty.d64"), {});
    ImageBuffer image;
    uint64_t size = 0;
    image.bytes = {1, 2, 3};
    EXPECT_EQ(imageExists(dir.file("empty.d64")), 1);
    EXPECT_EQ(loadImage(dir.file("empty.d64"), image, size), LoadResult::Loaded);
    EXPECT_TRUE(image.bytes.empty());

    std::vector<uint8_t> odd = randomBytes(174848 + 683, 1);
    writeBytes(dir.file("odd.d64"), odd);
    EXPECT_EQ(loadImage(dir.file("odd.d64"), image, size), LoadResult::Loaded);
    EXPECT_EQ(bytesOf(image), odd);
}

TEST(ImageFile, NamesThatCannotBeLoaded) {
    TempDir dir;
    ImageBuffer image;
    uint64_t size = 0;
    image.bytes = {7, 7};
    EXPECT_EQ(imageExists(dir.file("missing.d64")), 0);
    EXPECT_EQ(loadImage(dir.file("missing.d64"), image, size), LoadResult::CannotOpen);
    EXPECT_EQ(bytesOf(image), (std::vector<uint8_t>{7, 7}));  // untouched

    // A folder opens for reading here but cannot be read as an image.
    std::filesystem::create_directory(dir.file("folder.d64"));
    EXPECT_EQ(loadImage(dir.file("folder.d64"), image, size), LoadResult::CannotRead);
    EXPECT_TRUE(image.bytes.empty());
}

TEST(ImageFile, SaveIntoAMissingFolderCreatesNothing) {
    TempDir dir;
    ImageBuffer image = formatImage();
    EXPECT_EQ(saveImage(image, dir.file("nodir/out.d64")), 1);
    EXPECT_TRUE(listFolder(dir.path).empty());

    EXPECT_EQ(saveImage(image, dir.file("out.d64")), 0);
    EXPECT_EQ(readBytes(dir.file("out.d64")), bytesOf(image));
    EXPECT_EQ(listFolder(dir.path), std::vector<std::string>{"out.d64"});
}
