// The editors' undo list: an edit becomes the runs of bytes it changed (near
// changes joined, far ones apart, wherever they lie against the blocks), a
// refused edit leaves the image as it was, and undo and redo walk the steps
// back and forth; "changes not written" follows the steps. The step holds
// only what the blocks the gate handed out show, so the real edits that
// write most widely (a directory grown, a partition's map) are taken back
// and made again byte for byte: a change that escaped the step would stay.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/options.h"
#include "blocks/blocks.h"
#include "directory/append.h"
#include "directory/dirart.h"
#include "disk/partition.h"
#include "edit/history.h"
#include "support/d64_builder.h"

namespace {

struct Change {
    size_t offset;
    uint8_t value;
};

// The byte at `offset` of a D64, as the gate hands it out for writing.
uint8_t &gateByte(ImageBuffer &image, size_t offset) {
    for (int track = 1; track <= 35; ++track)
        for (int sector = 0; sector < 21; ++sector)
            if (uint8_t *block = blockAt(image, track, sector); block && block - image.bytes.data() == static_cast<long>(offset / 256 * 256))
                return block[offset % 256];
    throw std::out_of_range("no block holds the offset");
}

// One edit that sets each byte given and prints a line, or returns `problem`.
std::function<std::string()> setBytes(ImageBuffer &image, std::vector<Change> changes, std::string problem = "") {
    return [&image, changes, problem] {
        for (const Change &change : changes) gateByte(image, change.offset) = change.value;
        consolePrintf("first line\nset %zu\n", changes.size());
        return problem;
    };
}

std::vector<std::pair<size_t, size_t>> runsOf(const EditStep &step) {
    std::vector<std::pair<size_t, size_t>> runs;
    for (const ByteRun &run : step.runs) runs.push_back({run.offset, run.after.size()});
    return runs;
}

}  // namespace

TEST(History, AnEditBecomesTheRunsOfBytesItChanged) {
    const size_t end = 174848;  // a 35-track D64
    struct Case {
        std::vector<Change> changes;
        std::vector<std::pair<size_t, size_t>> runs;  // offset, length
    } const cases[] = {
        {{{0, 1}}, {{0, 1}}},
        {{{end - 1, 1}}, {{end - 1, 1}}},
        // Sixteen bytes apart are one run, seventeen are two.
        {{{100, 1}, {116, 1}}, {{100, 17}}},
        {{{100, 1}, {117, 1}}, {{100, 1}, {117, 1}}},
        // Across a block's end, and in blocks far apart.
        {{{255, 1}, {256, 1}}, {{255, 2}}},
        {{{4095, 1}, {4096, 1}, {8191, 1}}, {{4095, 2}, {8191, 1}}},
        // A byte set to the value it had is no change.
        {{{300, 0}}, {}},
        {{{91392 + 4, 7}, {end - 2, 9}}, {{91392 + 4, 1}, {end - 2, 1}}},
    };
    for (const Case &c : cases) {
        ImageBuffer image = formatImage();
        for (const Change &change : c.changes)
            if (change.value != 0) image.bytes[change.offset] = 0;
        std::vector<uint8_t> before = bytesOf(image);
        EditHistory history;
        std::string shown = recordEdit(image, history, setBytes(image, c.changes));
        ASSERT_EQ(history.undo.size(), c.runs.empty() ? 0u : 1u);
        EXPECT_EQ(c.runs.empty() ? c.runs : runsOf(history.undo.back()), c.runs);
        EXPECT_EQ(shown, "set " + std::to_string(c.changes.size()));
        EXPECT_EQ(hasUnsavedChanges(history), !c.runs.empty());
        std::vector<uint8_t> after = bytesOf(image);
        EXPECT_TRUE(undoEdit(image, history) == !c.runs.empty());
        EXPECT_EQ(bytesOf(image), before);
        EXPECT_EQ(redoEdit(image, history), !c.runs.empty());
        EXPECT_EQ(bytesOf(image), after);
    }
}

TEST(History, RefusalsUndoRedoAndWhatIsWritten) {
    ImageBuffer image = formatImage();
    const std::vector<uint8_t> loaded = bytesOf(image);
    EditHistory history;
    // A refused edit: its message, the image as it was, no step.
    EXPECT_EQ(recordEdit(image, history, setBytes(image, {{10, 1}, {90000, 2}}, "ERROR: no")), "ERROR: no");
    EXPECT_EQ(bytesOf(image), loaded);
    EXPECT_TRUE(history.undo.empty());

    recordEdit(image, history, setBytes(image, {{10, 1}}));
    const std::vector<uint8_t> one = bytesOf(image);
    recordEdit(image, history, setBytes(image, {{10, 2}, {20, 3}}));
    const std::vector<uint8_t> two = bytesOf(image);
    markSaved(history);
    EXPECT_FALSE(hasUnsavedChanges(history));
    ASSERT_TRUE(undoEdit(image, history));
    EXPECT_EQ(bytesOf(image), one);
    EXPECT_TRUE(hasUnsavedChanges(history));
    // An edit after an undo drops the redo list and is taken back against the image as it stood.
    recordEdit(image, history, setBytes(image, {{10, 4}}));
    EXPECT_FALSE(redoEdit(image, history));
    ASSERT_TRUE(undoEdit(image, history));
    EXPECT_EQ(bytesOf(image), one);
    ASSERT_TRUE(undoEdit(image, history));
    EXPECT_EQ(bytesOf(image), loaded);
    EXPECT_FALSE(undoEdit(image, history));
    EXPECT_TRUE(hasUnsavedChanges(history));  // written was the image of the two edits
    ASSERT_TRUE(redoEdit(image, history));
    ASSERT_TRUE(redoEdit(image, history));
    EXPECT_EQ(image.bytes[10], 4);
    EXPECT_NE(bytesOf(image), two);
}

// A 1581 disk with partition GAMES (tracks 11-13) whose directory, 13 DEL
// lines, fills 11/3 and 11/4 all but three slots, entered as -part enters it.
ImageBuffer partitionFullOfLines() {
    std::vector<uint8_t> bytes = blankD81();
    addPartition(bytes, 40, 0, "GAMES", 11, 13);
    formatD81(bytes, 11, 11, 13, "GAMES");
    ImageBuffer image;
    image.bytes.assign(bytes.begin(), bytes.end());
    image.shape = shapeForSize(image.bytes.size());
    DiskShape inside;
    EXPECT_EQ(partitionShape(image.shape, blockAt(image, 40, 3), inside), PartitionFit::Fits);
    image.shape = inside;
    bool full = false;
    for (int i = 0; i < 13; ++i) EXPECT_EQ(appendDelLine(image, "disk.d81", full), "");
    return image;
}

// A D64 whose 18/1 holds eight DEL lines: the next entry grows the directory.
ImageBuffer rootFullOfLines() {
    ImageBuffer image = formatImage();
    bool full = false;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(appendDelLine(image, "disk.d64", full), "");
    return image;
}

TEST(History, NoChangeOfARealEditEscapesItsStep) {
    struct Case {
        const char *name;
        ImageBuffer (*image)();
        std::function<std::string(ImageBuffer &)> edit;
        size_t changedBlock;  // a block the edit must change (its offset)
    } const cases[] = {
        // A block of track 18 taken, linked from 18/1 and marked used in 18/0.
        {"the directory grows", rootFullOfLines,
         [](ImageBuffer &image) { bool full; return appendDelLine(image, "disk.d64", full); }, 0x16500},
        // The fourth line grows it: a block of track 11 taken, marked used in the partition's map 11/1.
        {"a partition's directory grows", partitionFullOfLines,
         [](ImageBuffer &image) {
             bool full;
             std::string problem;
             for (int i = 0; i < 4 && problem.empty(); ++i) problem = appendDelLine(image, "disk.d81", full);
             return problem;
         },
         d81Block(11, 1)},
        {"a partition's map", partitionFullOfLines,
         [](ImageBuffer &image) { return markBlock(image, "-bused 12/7", {12, 7}, true); }, d81Block(11, 1)},
        // An entry of 11/4 moved to the top: both blocks' slots change.
        {"a move across blocks", partitionFullOfLines,
         [](ImageBuffer &image) {
             NameText name{};
             name.length = 1;
             name.bytes[0] = 'X';
             std::string problem = makeDirectoryEdit(image, DirEdit{DirEditKind::Rename, 12, -1, name});
             return problem.empty() ? makeDirectoryEdit(image, DirEdit{DirEditKind::Move, 12, 0, NameText{}}) : problem;
         },
         d81Block(11, 3)},
        {"a block written", rootFullOfLines,
         [](ImageBuffer &image) {
             const uint8_t bytes[] = {1, 2, 3};
             return putBlockBytes(image, "-bpoke 35/16 253", {35, 16}, 253, bytes, 3);
         },
         174848 - 256},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        resetOptions();  // the lines the edits print are drawn in the options' glyphs
        ImageBuffer image = c.image();
        const std::vector<uint8_t> before = bytesOf(image);
        EditHistory history;
        std::string shown = recordEdit(image, history, [&] { return c.edit(image); });
        ASSERT_EQ(shown.rfind("ERROR", 0), std::string::npos) << shown;
        const std::vector<uint8_t> after = bytesOf(image);
        ASSERT_FALSE(std::equal(before.begin() + c.changedBlock, before.begin() + c.changedBlock + 256,
                                after.begin() + c.changedBlock));
        ASSERT_EQ(history.undo.size(), 1u);
        ASSERT_TRUE(undoEdit(image, history));
        EXPECT_TRUE(bytesOf(image) == before) << "a change escaped the undo step";
        ASSERT_TRUE(redoEdit(image, history));
        EXPECT_TRUE(bytesOf(image) == after);
        // Refused halfway (the edit and then a refusal): the image as it was.
        image.bytes.assign(before.begin(), before.end());
        EXPECT_EQ(recordEdit(image, history, [&] { c.edit(image); return std::string("ERROR: no"); }), "ERROR: no");
        EXPECT_TRUE(bytesOf(image) == before) << "a refused edit left a change";
    }
}
