// The editors' undo list, held-back output, screens and keys.
#include "edit/history.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "base/charmap.h"
#include "base/console.h"
#include "base/errors.h"
#include "base/nametext.h"

namespace {

// Two changed bytes this close together make one run, not two.
constexpr size_t kJoinGap = 16;

// The byte at `offset` as it was before the edit: the journal's copy when its
// block is kept, else the image's (a block not handed out is unchanged).
uint8_t byteBefore(const ImageBytes &image, const BlockJournal &journal, size_t offset) {
    int kept = journal.kept[offset / kBlockSize];
    if (kept < 0) return image[offset];
    return journal.before[static_cast<size_t>(kept) * kBlockSize + offset % kBlockSize];
}

ByteRun runOf(const ImageBytes &image, const BlockJournal &journal, size_t first, size_t end) {
    ByteRun run{first, std::vector<uint8_t>(end - first), std::vector<uint8_t>(image.begin() + first, image.begin() + end)};
    for (size_t at = first; at < end; ++at) run.before[at - first] = byteBefore(image, journal, at);
    return run;
}

// The runs of bytes in which the kept blocks differ from what they held, in
// the image's order.
std::vector<ByteRun> changedRuns(const ImageBytes &image, const BlockJournal &journal) {
    std::vector<int> positions = journal.positions;
    std::sort(positions.begin(), positions.end());
    std::vector<ByteRun> runs;
    size_t first = 0, last = 0;  // the run being gathered: its first and its last changed byte
    bool open = false;
    for (int position : positions) {
        size_t base = static_cast<size_t>(position) * kBlockSize;
        const uint8_t *was = journal.before.data() + static_cast<size_t>(journal.kept[position]) * kBlockSize;
        // Most blocks an edit is handed it only reads: passed over at memcmp's speed.
        if (std::memcmp(was, image.data() + base, kBlockSize) == 0) continue;
        for (size_t i = 0; i < static_cast<size_t>(kBlockSize); ++i) {
            if (was[i] == image[base + i]) continue;
            if (open && base + i - last > kJoinGap) runs.push_back(runOf(image, journal, first, last + 1));
            if (!open || base + i - last > kJoinGap) first = base + i;
            open = true;
            last = base + i;
        }
    }
    if (open) runs.push_back(runOf(image, journal, first, last + 1));
    return runs;
}

void applyRuns(ImageBytes &image, const EditStep &step, bool forward) {
    for (const ByteRun &run : step.runs) {
        const std::vector<uint8_t> &bytes = forward ? run.after : run.before;
        std::memcpy(image.data() + run.offset, bytes.data(), bytes.size());
    }
}

// Puts the kept blocks back as they were and empties the journal.
void putBack(ImageBytes &image, BlockJournal &journal, bool restore) {
    for (size_t k = 0; k < journal.positions.size(); ++k) {
        size_t base = static_cast<size_t>(journal.positions[k]) * kBlockSize;
        if (restore) std::memcpy(image.data() + base, journal.before.data() + k * kBlockSize, kBlockSize);
        journal.kept[journal.positions[k]] = -1;
    }
    journal.positions.clear();
    journal.before.clear();
}

// The last line of a text, without its line end.
std::string lastLine(const std::string &text) {
    std::string line = text;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    size_t cut = line.rfind('\n');
    return cut == std::string::npos ? line : line.substr(cut + 1);
}

}  // namespace

EditHistory::EditHistory() : journal(std::make_unique<BlockJournal>()) {
    std::fill(std::begin(journal->kept), std::end(journal->kept), -1);
}

std::string recordEdit(ImageBuffer &image, EditHistory &history, const std::function<std::string()> &edit) {
    std::string printed, warnings;
    consoleCaptureStart(printed);
    consoleErrorCaptureStart(warnings);
    BlockJournal &journal = *history.journal;
    image.journal = &journal;
    std::string problem = edit();
    image.journal = nullptr;
    consoleErrorCaptureStop();
    consoleCaptureStop();
    EditStep step{problem.empty() ? changedRuns(image.bytes, journal) : std::vector<ByteRun>{}, 0};
    putBack(image.bytes, journal, !problem.empty());
    if (!problem.empty()) return problem;
    if (!step.runs.empty()) {
        step.serial = history.nextSerial++;
        history.undo.push_back(std::move(step));
        history.redo.clear();
    }
    std::string shown = consoleCapturedGlyphs(lastLine(printed));
    return warnings.empty() ? shown : lastLine(warnings);
}

namespace {

// Applies the last step of `from` (forward: as made; else taken back) and
// moves it onto `to`; false when `from` holds none.
template <typename Steps>
bool moveStep(ImageBuffer &image, Steps &from, Steps &to, bool forward) {
    if (from.empty()) return false;
    applyRuns(image.bytes, from.back(), forward);
    to.push_back(std::move(from.back()));
    from.pop_back();
    return true;
}

}  // namespace

bool undoEdit(ImageBuffer &image, EditHistory &history) { return moveStep(image, history.undo, history.redo, false); }

bool redoEdit(ImageBuffer &image, EditHistory &history) { return moveStep(image, history.redo, history.undo, true); }

bool hasUnsavedChanges(const EditHistory &history) {
    int last = history.undo.empty() ? 0 : history.undo.back().serial;
    return last != history.savedSerial;
}

void markSaved(EditHistory &history) { history.savedSerial = history.undo.empty() ? 0 : history.undo.back().serial; }

std::string writeEdited(const ImageBuffer &image, const EditTarget &target, EditHistory &history) {
    std::string shown = consoleEscapeControls(target.destination);
    std::string problem = target.save(image, target);
    if (!problem.empty()) return problem;
    markSaved(history);
    return "Written to '" + shown + "'.";
}

HistoryKey historyKey(int key, ImageBuffer &image, const EditTarget &target, EditHistory &history,
                      std::string &status) {
    switch (key) {
        case 'u': status = undoEdit(image, history) ? "Undone." : "Nothing to undo."; return HistoryKey::Done;
        case 'U': case kKeyCtrlR:
            status = redoEdit(image, history) ? "Redone." : "Nothing to redo.";
            return HistoryKey::Done;
        case 'w': status = writeEdited(image, target, history); return HistoryKey::Done;
        case 'x':
            status = writeEdited(image, target, history);
            return hasUnsavedChanges(history) ? HistoryKey::Done : HistoryKey::Leave;
        case 'q': case kKeyEsc:
            if (!hasUnsavedChanges(history)) return HistoryKey::Leave;
            status = "The changes are not written. Leave without writing them? (y/n)";
            return HistoryKey::AskFirst;
        default: return HistoryKey::NotOne;
    }
}

// ---- Keys -----------------------------------------------------------------------

int readEditorKey() {
    int key = consoleReadKey();
    if (key == kKeyOutputClosed) exitIfOutputLost();
    if (key != kKeyArrowPrefix) return key;
    switch (consoleReadKey()) {
        case kKeyUp: return kArrowUp;
        case kKeyDown: return kArrowDown;
        case kKeyLeft: return kArrowLeft;
        case kKeyRight: return kArrowRight;
        default: return -1;
    }
}

int hexDigit(int key) {
    if (key >= '0' && key <= '9') return key - '0';
    if (key >= 'a' && key <= 'f') return key - 'a' + 10;
    if (key >= 'A' && key <= 'F') return key - 'A' + 10;
    return -1;
}

int codeOfTypedKey(int key, int glyphSet) {
    char text[5] = {static_cast<char>(key), 0, 0, 0, 0};
    int length = key >= 0xF0 ? 4 : key >= 0xE0 ? 3 : key >= 0xC0 ? 2 : 1;
    if (key < 0x20 || key == 0x7F || key == '%' || key > 0xF4 || (key >= 0x80 && key < 0xC2)) return -1;
    for (int i = 1; i < length; ++i) {
        int next = consoleReadKey();
        if (next < 0x80 || next > 0xBF) return -1;
        text[i] = static_cast<char>(next);
    }
    NameText name = decodeNameText(text, 1, glyphSet, -1);
    return name.problem == NameTextProblem::None && name.length == 1 ? name.bytes[0] : -1;
}

// ---- Screens --------------------------------------------------------------------

Screen startScreen() {
    Screen screen{80, 24, "", 1, 0};
    consoleScreenSize(screen.columns, screen.rows);
    screen.text.reserve(static_cast<size_t>(screen.columns * screen.rows * 2));
    return screen;
}

// Lines past the last row are dropped whole: their text is never added.
void newLine(Screen &screen) {
    if (screen.lines < screen.rows) screen.text += '\n';
    ++screen.lines;
    screen.width = 0;
}

namespace {
bool lineShown(const Screen &screen) { return screen.lines <= screen.rows; }
}  // namespace

void addText(Screen &screen, const std::string &text) {
    if (!lineShown(screen)) return;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t at = 0; at < text.size() && screen.width < screen.columns; ++screen.width) {
        unsigned char lead = bytes[at];
        size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
        bool whole = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4 && at + length <= text.size());
        for (size_t i = 1; whole && i < length; ++i) whole = (bytes[at + i] & 0xC0) == 0x80;
        if (lead < 0x20 || lead == 0x7F || !whole) {
            screen.text += '?';
            ++at;
        } else {
            screen.text.append(text, at, length);
            at += length;
        }
    }
}

namespace {

// The table of the set asked for last: a screen asks for one set many times.
const GlyphTable &glyphTable(int glyphSet) {
    static GlyphTable table{-1, {}, {}};
    if (table.glyphSet == glyphSet) return table;
    table.glyphSet = glyphSet;
    for (int code = 0; code < 256; ++code) {
        const char *glyph = glyphOfCode(glyphSet, static_cast<uint8_t>(code));
        size_t length = std::strlen(glyph);
        std::memcpy(table.glyph[code], glyph, length);
        table.length[code] = static_cast<uint8_t>(length);
    }
    return table;
}

}  // namespace

void addCodes(Screen &screen, const uint8_t *codes, int count, int glyphSet) {
    if (!lineShown(screen)) return;
    const GlyphTable &table = glyphTable(glyphSet);
    for (int i = 0; i < count && screen.width < screen.columns; ++i) {
        screen.text.append(table.glyph[codes[i]], table.length[codes[i]]);
        ++screen.width;
    }
}

void padToRow(Screen &screen, int row) {
    while (screen.lines < row + 1) newLine(screen);
}
