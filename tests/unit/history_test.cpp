// The editors' undo list: an edit becomes the runs of bytes it changed (near
// changes joined, far ones apart, wherever they lie against the blocks and
// the sixteen-block runs the comparison skips), a refused edit leaves the
// image as it was, and undo and redo walk the steps back and forth, the
// image and the kept copy alike; "changes not written" follows the steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/console.h"
#include "edit/history.h"
#include "support/d64_builder.h"

namespace {

struct Change {
    size_t offset;
    uint8_t value;
};

// One edit that sets each byte given and prints a line, or returns `problem`.
std::function<std::string()> setBytes(ImageBuffer &image, std::vector<Change> changes, std::string problem = "") {
    return [&image, changes, problem] {
        for (const Change &change : changes) image.bytes[change.offset] = change.value;
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
        // Across a block's end and across the end of a sixteen-block run.
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
        startHistory(history, image);
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
    startHistory(history, image);
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
