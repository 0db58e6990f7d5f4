// The "create a new file, never replace" mode of the one file write, as a
// batch (all files written, then all named), and the removal of a run's new
// files when a later one fails. The replacing mode and the order of the
// syncs are tested end to end (tests/e2e/file_safety_test.cpp,
// safe_write_test.cpp).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
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
    std::string failed;
    EXPECT_EQ(writeNewFile(files, dir.file("first"), bytes.data(), bytes.size()), WriteResult::Written);
    EXPECT_FALSE(fs::exists(dir.file("first")));  // named only with the batch
    EXPECT_EQ(nameNewFiles(files, failed), WriteResult::Written);
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
    EXPECT_TRUE(files.waiting.empty() && files.temporaries.empty());
    EXPECT_EQ(listFolder(dir.path), (std::vector<std::string>{"dangling", "first", "folder", "taken"}));
}

// Naming a batch is all or nothing: a name that something took after its
// file was written (a file, a dangling link) or that the batch holds twice
// is refused, and every file of the batch goes, those named before it too.
TEST(FileWrite, NamingTheBatchTakesBackEveryFileWhenOneNameIsRefused) {
    struct Case {
        const char *what;
        std::vector<std::string> names;  // written in this order
        std::string planted;             // made after the writes, before the naming ("" none)
        bool asLink;                     // planted as a dangling link, else as a file
        WriteResult result;
        std::string failed;
    };
    const Case cases[] = {
        {"all names free", {"one", "two", "three"}, "", false, WriteResult::Written, ""},
        {"the last name taken meanwhile", {"one", "two", "three"}, "three", false, WriteResult::AlreadyExists, "three"},
        {"the first name taken meanwhile", {"one", "two", "three"}, "one", false, WriteResult::AlreadyExists, "one"},
        {"a link planted meanwhile", {"one", "two"}, "two", true, WriteResult::AlreadyExists, "two"},
        {"one name twice in the batch", {"one", "two", "one"}, "", false, WriteResult::AlreadyExists, "one"},
    };
    const std::vector<uint8_t> planted(7, 0x77);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        NewFiles files;
        std::vector<std::vector<uint8_t>> contents;
        for (size_t i = 0; i < c.names.size(); ++i) {
            contents.push_back(randomBytes(200 + i, static_cast<unsigned>(i)));
            ASSERT_EQ(writeNewFile(files, dir.file(c.names[i]), contents[i].data(), contents[i].size()),
                      WriteResult::Written);
        }
        if (!c.planted.empty() && c.asLink) fs::create_symlink("elsewhere", dir.file(c.planted));
        if (!c.planted.empty() && !c.asLink) writeBytes(dir.file(c.planted), planted);
        std::string failed;
        EXPECT_EQ(nameNewFiles(files, failed), c.result);
        EXPECT_TRUE(files.waiting.empty() && files.temporaries.empty());
        std::vector<std::string> expected;
        if (c.result == WriteResult::Written) {
            expected = c.names;
            for (size_t i = 0; i < c.names.size(); ++i) EXPECT_EQ(readBytes(dir.file(c.names[i])), contents[i]);
            EXPECT_EQ(files.paths.size(), c.names.size());
        } else {
            EXPECT_EQ(failed, dir.file(c.failed));
            EXPECT_TRUE(files.paths.empty());
            if (!c.planted.empty()) expected = {c.planted};
            if (!c.planted.empty() && !c.asLink) {
                EXPECT_EQ(readBytes(dir.file(c.planted)), planted);
            }
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listFolder(dir.path), expected);  // no temporary file stays
    }
}

TEST(FileWrite, RemovingNewFilesTakesBackOnlyWhatTheRunWrote) {
    TempDir dir;
    const std::vector<uint8_t> bytes = randomBytes(300, 4);
    writeBytes(dir.file("before"), bytes);
    NewFiles files;
    std::string failed;
    for (const char *name : {"one", "two", "before"}) writeNewFile(files, dir.file(name), bytes.data(), bytes.size());
    ASSERT_EQ(nameNewFiles(files, failed), WriteResult::Written);
    fs::remove(dir.file("two"));  // gone already: skipped
    writeNewFile(files, dir.file("three"), bytes.data(), bytes.size());  // written, not named yet
    removeNewFiles(files);
    EXPECT_TRUE(files.paths.empty() && files.waiting.empty() && files.temporaries.empty());
    EXPECT_EQ(listFolder(dir.path), std::vector<std::string>{"before"});
    EXPECT_EQ(readBytes(dir.file("before")), bytes);
}
