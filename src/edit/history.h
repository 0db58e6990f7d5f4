// The undo list of the editors and what they share: an edit made with its
// output held back, the screen built line by line, the keys read as one code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk/image.h"
#include "edit/editors.h"

// ---- Undo and redo --------------------------------------------------------------

// The bytes one edit changed, in runs: enough to take it back and make it again.
struct ByteRun {
    size_t offset;
    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
};
struct EditStep {
    std::vector<ByteRun> runs;
    int serial;  // numbers the steps, so that a write can tell later steps from earlier ones
};
struct EditHistory {
    EditHistory();
    std::vector<EditStep> undo;  // made, the last one last
    std::vector<EditStep> redo;  // taken back, the last one taken back last
    std::unique_ptr<BlockJournal> journal;  // the blocks the edit being recorded was handed, empty between edits
    int nextSerial = 1;
    int savedSerial = 0;         // serial of the last step made when the image was written (0: none)
};

// Runs `edit` on the image with what it prints held back, the image's
// journal keeping each block the gate hands out for writing. When it returns
// a message (it was refused) those blocks are put back as they were and the
// message is returned; otherwise the bytes it changed in them become one undo
// step (none when it changed nothing, and the redo list is dropped) and the
// returned text is the last line it printed, after any warning it gave. So an
// edit costs what it touched, whatever the image's size. Precondition: `edit`
// writes only bytes the gate hands it while it runs (the edit functions ask
// for their blocks afresh); bytes handed out before would escape the step.
std::string recordEdit(ImageBuffer &image, EditHistory &history, const std::function<std::string()> &edit);

// Takes back the last step (redo: makes again the last one taken back); false
// when there is none.
bool undoEdit(ImageBuffer &image, EditHistory &history);
bool redoEdit(ImageBuffer &image, EditHistory &history);

// True when the image differs from what was last written (or loaded).
bool hasUnsavedChanges(const EditHistory &history);
void markSaved(EditHistory &history);

// Writes the whole image to the target's destination; the status line's
// text ("Written to ..." or the error), and the history marked written.
std::string writeEdited(const ImageBuffer &image, const EditTarget &target, EditHistory &history);

// The keys both editors read alike: u undo, U and Ctrl+R redo, w write,
// x write and leave, q and Esc leave (asked first when there are changes
// not written). What the editor is to do next; `status` gets the status text.
enum class HistoryKey { NotOne, Done, Leave, AskFirst };
HistoryKey historyKey(int key, ImageBuffer &image, const EditTarget &target, EditHistory &history,
                      std::string &status);

// ---- Keys -----------------------------------------------------------------------

// The arrow keys as single codes, above every byte.
constexpr int kArrowUp = 0x100, kArrowDown = 0x101, kArrowLeft = 0x102, kArrowRight = 0x103;
constexpr int kKeyEnter = '\r', kKeyTab = '\t', kKeyBackspace = 0x7F, kKeyCtrlR = 0x12;

// The next key, an arrow as one of the codes above, kKeyRedraw when the screen
// must be drawn anew; 'q' once the keys have ended. A closed output ends the
// run (status 1).
int readEditorKey();

// ---- Screens --------------------------------------------------------------------

// The glyph of each code in one set as UTF-8, looked up once per screen.
struct GlyphTable {
    int glyphSet;
    char glyph[256][5];
    uint8_t length[256];
};

// A screen being built: whole lines of `columns` at most, `rows` at most.
struct Screen {
    int columns;
    int rows;
    std::string text;  // UTF-8, lines joined by '\n'
    int lines;         // lines added so far
    int width;         // columns of the line being built
};

// A screen of the terminal's present size.
Screen startScreen();
// Starts the next line.
void newLine(Screen &screen);
// Text (ASCII, or UTF-8 glyphs of one column each; a control code or a
// byte of no whole character shown as '?') on the line, cut at the edge.
void addText(Screen &screen, const std::string &text);
// Disk codes as glyphs of `glyphSet` (kGlyphsC64Upper, kGlyphsC64Lower), cut at the edge.
void addCodes(Screen &screen, const uint8_t *codes, int count, int glyphSet);
// Empty lines up to `row` (from 0), so that what follows starts there.
void padToRow(Screen &screen, int row);

// The disk code a typed key gives by the command line's text rule in
// `glyphSet`: an ASCII key (a letter of either case gives 0x41-0x5A) or a
// UTF-8 character (its lead byte `key`, the rest read here) that the set shows
// for a code; -1 for a key that gives none.
int codeOfTypedKey(int key, int glyphSet);

// The value of a hex digit key of either case, -1 for another key.
int hexDigit(int key);
