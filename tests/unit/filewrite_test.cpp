// The "create a new file, never replace" mode of the one file write, and the
// removal of a run's new files when a later one fails. The replacing mode is
// tested end to end (tests/e2e/file_safety_test.cpp, safe_write_test.cpp).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/filewrite.h"
#include "support/d64_builder.h"
#include "support/run_binary.h"

namespace fs = std::filesystem;

TEST(FileWrite, NewFilesNeverReplaceWhatStandsAtTheName) {
    TempDir dir;
    const std::vector<uint8_t> old(100, 0x11), bytes = randomBytes(5000, 3);
    writeBytes(dir.file("taken"), old);
    fs::create_symlink("elsewhere", dir.file("dangling"));
    fs::create_directory(dir.file("folder"));

    NewFiles files;
    EXPECT_EQ(writeNewFile(files, dir.file("first"), bytes.data(), bytes.size()), WriteResult::Written);
    for (const char *name : {"taken", "dangling", "folder", "first"})
        EXPECT_EQ(writeNewFile(files, dir.file(name), bytes.data(), 10), WriteResult::AlreadyExists) << name;
    EXPECT_EQ(writeNewFile(files, dir.file("no/such/folder"), bytes.data(), 10), WriteResult::Failed);

    EXPECT_EQ(readBytes(dir.file("first")), bytes);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(fs::status(dir.file("first")).permissions(), static_cast<fs::perms>(0666 & ~mask));
    EXPECT_EQ(readBytes(dir.file("taken")), old);
    EXPECT_FALSE(fs::exists(dir.file("elsewhere")));  // the dangling link was not followed
    EXPECT_EQ(files.paths, std::vector<std::string>{dir.file("first")});
    EXPECT_EQ(listFolder(dir.path), (std::vector<std::string>{"dangling", "first", "folder", "taken"}));
}

TEST(FileWrite, RemovingNewFilesTakesBackOnlyWhatTheRunWrote) {
    TempDir dir;
    const std::vector<uint8_t> bytes = randomBytes(300, 4);
    writeBytes(dir.file("before"), bytes);
    NewFiles files;
    for (const char *name : {"one", "two", "before"}) writeNewFile(files, dir.file(name), bytes.data(), bytes.size());
    fs::remove(dir.file("two"));  // gone already: skipped
    removeNewFiles(files);
    EXPECT_TRUE(files.paths.empty());
    EXPECT_EQ(listFolder(dir.path), std::vector<std::string>{"before"});
}
