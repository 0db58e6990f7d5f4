// The directory-art editor: the listing as the C64 shows it, a cursor over
// its lines, and keys that make the command line's directory edits.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/charmap.h"
#include "base/console.h"
#include "base/options.h"
#include "directory/append.h"
#include "directory/dirart.h"
#include "directory/listing.h"
#include "disk/bam.h"
#include "disk/directory.h"
#include "edit/editors.h"
#include "edit/history.h"

namespace {

// What the keys do at the moment.
enum class Mode {
    Browse,   // move the cursor, start an edit
    Text,     // type over a name, the disk name or the id
    Palette,  // pick a code from the table of all 256
    Number,   // type the block count
    Leave,    // asked whether to leave without writing
};

// Which text the Text mode types over.
enum class Field { EntryName, DiskName, DiskId };

constexpr int kListTop = 1;      // screen row of the first listing line
constexpr int kMarkWidth = 2;    // "> " before the line under the cursor
constexpr int kCountWidth = 5;   // the block count field of an entry line

struct Editor {
    Editor(ImageBuffer &image_, const EditTarget &target_) : image(image_), target(target_) {}
    ImageBuffer &image;
    const EditTarget &target;
    EditHistory history;
    Mode mode = Mode::Browse;
    int line = 0;       // cursor: 0 the header line, n + 1 entry n
    int top = 0;        // first listing line shown
    int glyphSet = kGlyphsC64Upper;
    std::string status;
    // Text mode
    Field field = Field::EntryName;
    uint8_t text[kNameLength] = {};
    int textLength = 0;  // bytes of the field: 16, or 5 for the id
    int textAt = 0;      // the byte the next key types over
    int hexDigits = -1;  // after '%': -1 none, 0 no digit yet, 1 one (in hexValue)
    int hexValue = 0;
    int paletteCode = 0x20;
    std::string number;  // Number mode
};

// One listed entry: its slot and its number.
struct Row {
    uint8_t *slot;
    int number;
};

std::vector<Row> listedRows(ImageBuffer &image) {
    std::vector<Row> rows;
    rows.reserve(kSlotsPerBlock * 8);
    DirectoryCursor cursor = startDirectory(image);
    while (uint8_t *slot = nextListedSlot(image, cursor, options.showAll != 0)) rows.push_back({slot, cursor.number});
    return rows;
}

// The listing lines that fit: below the title, above the status line and
// the two lines of keys.
int listRows(const Screen &screen) { return screen.rows - kListTop - 3 < 1 ? 1 : screen.rows - kListTop - 3; }

// ---- Drawing ------------------------------------------------------------------

void addAsciiCodes(std::vector<uint8_t> &codes, const char *ascii) {
    for (; *ascii; ++ascii) codes.push_back(static_cast<uint8_t>(*ascii));
}

// The codes of one entry line as the C64 lists it (the count as "%-5i",
// the quoted name, splat, type, lock); `name` in place of the slot's name
// when one is being typed.
std::vector<uint8_t> entryCodes(const DiskShape &shape, const uint8_t *slot, const uint8_t *name) {
    std::vector<uint8_t> codes;
    codes.reserve(32);
    std::string count = std::to_string(slotBlockCount(slot));
    if (count.size() < kCountWidth) count.resize(kCountWidth, ' ');
    addAsciiCodes(codes, count.c_str());
    uint8_t field[kNameLength + 2];
    quotedNameCodes(name ? name : slot + kSlotName, field);
    codes.insert(codes.end(), field, field + kNameLength + 2);
    TypeMarks marks = typeMarks(shape, slot[kSlotType]);
    codes.push_back(static_cast<uint8_t>(marks.splat));
    addAsciiCodes(codes, marks.name);
    codes.push_back(static_cast<uint8_t>(marks.lock));
    return codes;
}

std::vector<uint8_t> headerCodes(const Editor &editor) {
    const uint8_t *header = headerBlock(editor.image);
    const uint8_t *name = header + diskNameOffset(editor.image);
    const uint8_t *id = header + diskIdOffset(editor.image);
    bool typing = editor.mode == Mode::Text || editor.mode == Mode::Palette;
    if (typing && editor.field == Field::DiskName) name = editor.text;
    if (typing && editor.field == Field::DiskId) id = editor.text;
    std::vector<uint8_t> codes;
    addAsciiCodes(codes, "0 \"");
    codes.insert(codes.end(), name, name + kNameLength);
    addAsciiCodes(codes, "\" ");
    codes.insert(codes.end(), id, id + kDiskIdLength);
    return codes;
}

void addListingLine(Screen &screen, const Editor &editor, int line, const std::vector<uint8_t> &codes) {
    newLine(screen);
    addText(screen, line == editor.line ? "> " : "  ");
    addCodes(screen, codes.data(), static_cast<int>(codes.size()), editor.glyphSet);
}

// The screen column of the byte being typed over.
int textColumn(const Editor &editor) {
    if (editor.field == Field::EntryName) return kMarkWidth + kCountWidth + 1 + editor.textAt;
    if (editor.field == Field::DiskName) return kMarkWidth + 3 + editor.textAt;
    return kMarkWidth + 3 + kNameLength + 2 + editor.textAt;
}

void addPalette(Screen &screen, const Editor &editor) {
    for (int row = 0; row < 16; ++row) {
        newLine(screen);
        char label[16];
        std::snprintf(label, sizeof label, "  %x0 ", row);
        addText(screen, label);
        for (int column = 0; column < 16; ++column) {
            uint8_t code = static_cast<uint8_t>(row * 16 + column);
            bool chosen = code == editor.paletteCode;
            addText(screen, chosen ? "[" : " ");
            addCodes(screen, &code, 1, editor.glyphSet);
            addText(screen, chosen ? "]" : " ");
        }
    }
}

const char *helpLine(const Editor &editor) {
    switch (editor.mode) {
        case Mode::Text:
            return "keys type PETSCII  %XX any byte  Tab palette  <- -> move  Backspace  Enter done  Esc cancel";
        case Mode::Palette: return "arrows choose  Enter put the code  Esc back";
        case Mode::Number: return "digits  Backspace  Enter done  Esc cancel";
        case Mode::Leave: return "y leave without writing  any other key stays";
        default:
            return "arrows/jk  J K move entry  Enter name  I id  t l * type  b blocks  i d DEL line\n"
                   "u undo  U redo  c character set  w write  x write and quit  q quit";
    }
}

void draw(Editor &editor, const std::vector<Row> &rows) {
    Screen screen = startScreen();
    int lines = static_cast<int>(rows.size()) + 2;  // the header, the entries, BLOCKS FREE
    if (editor.line > lines - 2) editor.line = lines - 2;
    int shown = listRows(screen);
    if (editor.line < editor.top) editor.top = editor.line;
    if (editor.line >= editor.top + shown) editor.top = editor.line - shown + 1;
    if (editor.top > 0 && editor.top + shown > lines) editor.top = lines > shown ? lines - shown : 0;

    std::string title = "kestrel -edit " + consoleEscapeControls(editor.target.imagePath) +
                        (editor.glyphSet == kGlyphsC64Lower ? "  [lower case]" : "  [upper case]") +
                        (hasUnsavedChanges(editor.history) ? "  changed" : "");
    addText(screen, title);
    int cursorRow = 0, cursorColumn = 0;
    bool typing = editor.mode == Mode::Text || editor.mode == Mode::Palette;
    if (editor.mode == Mode::Palette) {
        Row row = editor.line > 0 ? rows[editor.line - 1] : Row{nullptr, 0};
        addListingLine(screen, editor, editor.line,
                       row.slot && editor.field == Field::EntryName ? entryCodes(editor.image.shape, row.slot, editor.text)
                                                                    : headerCodes(editor));
        addPalette(screen, editor);
        cursorRow = kListTop;
        cursorColumn = textColumn(editor);
    } else {
        for (int line = editor.top; line < editor.top + shown && line < lines; ++line) {
            if (line == 0) {
                addListingLine(screen, editor, line, headerCodes(editor));
            } else if (line <= static_cast<int>(rows.size())) {
                bool thisName = typing && editor.field == Field::EntryName && line == editor.line;
                addListingLine(screen, editor, line,
                               entryCodes(editor.image.shape, rows[line - 1].slot, thisName ? editor.text : nullptr));
            } else {
                std::vector<uint8_t> codes;
                addAsciiCodes(codes, (std::to_string(blocksFree(editor.image)) + " BLOCKS FREE.").c_str());
                addListingLine(screen, editor, line, codes);
            }
        }
        cursorRow = kListTop + editor.line - editor.top;
        cursorColumn = typing ? textColumn(editor) : 0;
    }
    padToRow(screen, screen.rows - 3);
    std::string status = editor.status;
    if (editor.mode == Mode::Number) status = "Blocks the line shows: " + editor.number;
    if (editor.mode == Mode::Text && editor.hexDigits >= 0)
        status = editor.hexDigits == 0 ? "Byte: %" : std::string("Byte: %") + "0123456789abcdef"[editor.hexValue];
    if (editor.mode == Mode::Palette) {
        char code[32];
        std::snprintf(code, sizeof code, "Code $%02x", editor.paletteCode);
        status = code;
    }
    addText(screen, status);
    std::string help = helpLine(editor);
    size_t cut = help.find('\n');
    newLine(screen);
    addText(screen, help.substr(0, cut));
    newLine(screen);
    if (cut != std::string::npos) addText(screen, help.substr(cut + 1));
    if (editor.mode == Mode::Number || editor.mode == Mode::Leave) {
        cursorRow = screen.rows - 3;
        cursorColumn = static_cast<int>(status.size());
    }
    consoleDrawScreen(screen.text, cursorRow, cursorColumn);
}

// ---- Edits ----------------------------------------------------------------------

// The entry under the cursor, or -1 on the header and BLOCKS FREE lines.
int entryAtCursor(Editor &editor, const std::vector<Row> &rows) {
    if (editor.line < 1 || editor.line > static_cast<int>(rows.size())) return -1;
    return rows[editor.line - 1].number;
}

void edit(Editor &editor, DirEdit change) {
    editor.status = recordEdit(editor.image, editor.history, [&] { return makeDirectoryEdit(editor.image, change); });
}

void changeType(Editor &editor, const std::vector<Row> &rows, int (*next)(int)) {
    int entry = entryAtCursor(editor, rows);
    if (entry < 0) return;
    int type = next(rows[editor.line - 1].slot[kSlotType]);
    if (type == 0) {
        editor.status = "Type byte 0 would empty the slot; d deletes a DEL line.";
        return;
    }
    edit(editor, DirEdit{DirEditKind::Type, entry, type, NameText{}});
}

int nextType(int type) { return (type & ~7) | ((type & 7) >= 4 ? 0 : (type & 7) + 1); }
int toggledLock(int type) { return type ^ 0x40; }
int toggledSplat(int type) { return type ^ 0x80; }

// 'i': a DEL line appended as -adel appends it, then moved to the cursor's
// place as -move moves it; one step for undo.
void insertDelLine(Editor &editor, const std::vector<Row> &rows) {
    int place = editor.line < 1 ? 0 : editor.line - 1;
    if (place > static_cast<int>(rows.size())) place = static_cast<int>(rows.size());
    std::vector<uint8_t *> before;
    for (const Row &row : rows) before.push_back(row.slot);
    editor.status = recordEdit(editor.image, editor.history, [&]() -> std::string {
        bool full = false;
        std::string problem = appendDelLine(editor.image, editor.target.imagePath, full);
        if (!problem.empty()) return problem;
        for (const Row &row : listedRows(editor.image)) {
            bool listedBefore = false;
            for (const uint8_t *slot : before) listedBefore = listedBefore || slot == row.slot;
            if (!listedBefore && row.number != place)
                return makeDirectoryEdit(editor.image, DirEdit{DirEditKind::Move, row.number, place, NameText{}});
        }
        return "";
    });
    if (editor.status.rfind("ERROR", 0) != 0) {
        editor.line = place + 1;
        editor.status = "DEL line inserted as entry " + std::to_string(place) + ".";
    }
}

void deleteDelLine(Editor &editor, const std::vector<Row> &rows) {
    int entry = entryAtCursor(editor, rows);
    if (entry < 0) return;
    const uint8_t *slot = rows[editor.line - 1].slot;
    if ((slot[kSlotType] & 7) != 0 || slot[kSlotStartTrack] != 0) {
        editor.status = "Only a DEL line without a file is deleted here.";
        return;
    }
    edit(editor, DirEdit{DirEditKind::Type, entry, 0, NameText{}});
}

void moveEntry(Editor &editor, const std::vector<Row> &rows, int step) {
    int entry = entryAtCursor(editor, rows);
    int to = editor.line - 1 + step;
    if (entry < 0 || to < 0 || to >= static_cast<int>(rows.size())) return;
    edit(editor, DirEdit{DirEditKind::Move, entry, rows[to].number, NameText{}});
    if (editor.status.rfind("ERROR", 0) != 0) editor.line += step;
}

void startText(Editor &editor, const std::vector<Row> &rows, Field field) {
    const uint8_t *header = headerBlock(editor.image);
    const uint8_t *from = nullptr;
    if (field == Field::EntryName) {
        if (entryAtCursor(editor, rows) < 0) return;
        from = rows[editor.line - 1].slot + kSlotName;
    } else {
        from = header + (field == Field::DiskName ? diskNameOffset(editor.image) : diskIdOffset(editor.image));
    }
    editor.field = field;
    editor.textLength = field == Field::DiskId ? kDiskIdLength : kNameLength;
    std::memcpy(editor.text, from, static_cast<size_t>(editor.textLength));
    editor.textAt = 0;
    editor.hexDigits = -1;
    editor.mode = Mode::Text;
    editor.status.clear();
}

void finishText(Editor &editor, const std::vector<Row> &rows) {
    NameText text{};
    std::memcpy(text.bytes, editor.text, static_cast<size_t>(editor.textLength));
    text.length = editor.textLength;
    editor.mode = Mode::Browse;
    if (editor.field == Field::EntryName) edit(editor, DirEdit{DirEditKind::Rename, entryAtCursor(editor, rows), -1, text});
    else edit(editor, DirEdit{editor.field == Field::DiskName ? DirEditKind::Header : DirEditKind::Id, -1, -1, text});
}

void putCode(Editor &editor, int code) {
    editor.text[editor.textAt] = static_cast<uint8_t>(code);
    if (editor.textAt < editor.textLength - 1) ++editor.textAt;
}

void textKey(Editor &editor, const std::vector<Row> &rows, int key) {
    if (editor.hexDigits >= 0) {
        int digit = hexDigit(key);
        if (digit < 0) editor.hexDigits = -1;
        else if (editor.hexDigits == 0) editor.hexValue = digit, editor.hexDigits = 1;
        else putCode(editor, editor.hexValue * 16 + digit), editor.hexDigits = -1;
        return;
    }
    switch (key) {
        case kKeyEsc: editor.mode = Mode::Browse; return;
        case kKeyEnter: case '\n': finishText(editor, rows); return;
        case kKeyTab: editor.mode = Mode::Palette; return;
        case '%': editor.hexDigits = 0; return;
        case kArrowLeft: if (editor.textAt > 0) --editor.textAt; return;
        case kArrowRight: if (editor.textAt < editor.textLength - 1) ++editor.textAt; return;
        case kKeyBackspace: case 8:
            // The bytes after the cursor close up; the padding byte fills the end.
            if (editor.textAt == 0) return;
            --editor.textAt;
            std::memmove(editor.text + editor.textAt, editor.text + editor.textAt + 1,
                         static_cast<size_t>(editor.textLength - editor.textAt - 1));
            editor.text[editor.textLength - 1] = 0xA0;
            return;
        default: break;
    }
    int code = key < 0x100 ? codeOfTypedKey(key, editor.glyphSet) : -1;
    if (code >= 0) putCode(editor, code);
}

void paletteKey(Editor &editor, int key) {
    int code = editor.paletteCode;
    switch (key) {
        case kArrowUp: case 'k': code -= 16; break;
        case kArrowDown: case 'j': code += 16; break;
        case kArrowLeft: case 'h': code -= 1; break;
        case kArrowRight: case 'l': code += 1; break;
        case kKeyEnter: case '\n': putCode(editor, code); editor.mode = Mode::Text; return;
        case kKeyEsc: case kKeyTab: editor.mode = Mode::Text; return;
        default: return;
    }
    editor.paletteCode = code & 0xFF;
}

void numberKey(Editor &editor, const std::vector<Row> &rows, int key) {
    if (key >= '0' && key <= '9' && editor.number.size() < 5) editor.number += static_cast<char>(key);
    else if ((key == kKeyBackspace || key == 8) && !editor.number.empty()) editor.number.pop_back();
    else if (key == kKeyEsc) editor.mode = Mode::Browse;
    if (key != kKeyEnter && key != '\n') return;
    editor.mode = Mode::Browse;
    long blocks = editor.number.empty() ? -1 : std::stol(editor.number);
    if (blocks < 0 || blocks > 65535) {
        editor.status = "A block count is 0 to 65535.";
        return;
    }
    edit(editor, DirEdit{DirEditKind::Blocks, entryAtCursor(editor, rows), static_cast<int>(blocks), NameText{}});
}

// Browse keys; false once the editor is to end.
bool browseKey(Editor &editor, const std::vector<Row> &rows, int key) {
    switch (historyKey(key, editor.image, editor.target, editor.history, editor.status)) {
        case HistoryKey::Leave: return false;
        case HistoryKey::AskFirst: editor.mode = Mode::Leave; return true;
        case HistoryKey::Done: return true;
        case HistoryKey::NotOne: break;
    }
    int last = static_cast<int>(rows.size()) + 1;
    switch (key) {
        case kArrowUp: case 'k': if (editor.line > 0) --editor.line; break;
        case kArrowDown: case 'j': if (editor.line < last - 1) ++editor.line; break;
        case 'g': editor.line = 0; break;
        case 'G': editor.line = static_cast<int>(rows.size()); break;
        case 'K': moveEntry(editor, rows, -1); break;
        case 'J': moveEntry(editor, rows, 1); break;
        case kKeyEnter: case '\n': case 'r':
            startText(editor, rows, editor.line == 0 ? Field::DiskName : Field::EntryName);
            break;
        case 'I': startText(editor, rows, Field::DiskId); break;
        case 't': changeType(editor, rows, nextType); break;
        case 'l': changeType(editor, rows, toggledLock); break;
        case '*': changeType(editor, rows, toggledSplat); break;
        case 'b':
            if (entryAtCursor(editor, rows) >= 0) {
                editor.number.clear();
                editor.mode = Mode::Number;
            }
            break;
        case 'i': insertDelLine(editor, rows); break;
        case 'd': deleteDelLine(editor, rows); break;
        case 'c':
            editor.glyphSet = editor.glyphSet == kGlyphsC64Upper ? kGlyphsC64Lower : kGlyphsC64Upper;
            options.glyphSet = editor.glyphSet;  // the status line's glyphs too
            break;
        default: break;
    }
    return true;
}

}  // namespace

void runDirectoryEditor(ImageBuffer &image, const EditTarget &target) {
    Editor editor(image, target);
    if (options.glyphSet == kGlyphsC64Lower) editor.glyphSet = kGlyphsC64Lower;
    options.glyphSet = editor.glyphSet;  // the status line's glyphs, which the edits print
    consoleWatchResize();
    for (;;) {
        // Read once for the screen and the key: a key changes the directory only after both.
        std::vector<Row> rows = listedRows(image);
        draw(editor, rows);
        int key = readEditorKey();
        if (key == kKeyRedraw) continue;
        // The terminal has gone: nothing more can be typed or written.
        if (consoleKeysEnded()) break;
        switch (editor.mode) {
            case Mode::Browse:
                if (!browseKey(editor, rows, key)) break;
                continue;
            case Mode::Text: textKey(editor, rows, key); continue;
            case Mode::Palette: paletteKey(editor, key); continue;
            case Mode::Number: numberKey(editor, rows, key); continue;
            case Mode::Leave:
                if (key == 'y' || key == 'Y') break;
                editor.mode = Mode::Browse;
                editor.status.clear();
                continue;
        }
        break;
    }
    consoleDrawScreen("", 0, 0);
}
