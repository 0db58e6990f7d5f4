// The block editor and its map view: bytes typed over in hex or as
// characters, links followed, map bits set and cleared, every change made
// through the block commands' own functions.
#include <cstdio>
#include <string>
#include <vector>

#include "base/charmap.h"
#include "base/console.h"
#include "base/options.h"
#include "blocks/blocks.h"
#include "disk/bam.h"
#include "edit/editors.h"
#include "edit/history.h"

namespace {

constexpr int kHexColumn = 4;                    // "xx: " before the bytes
constexpr int kCharColumn = kHexColumn + 48 + 2;  // 16 "xx " and "| "
constexpr int kBlockTop = 2;                     // screen row of the first byte row
constexpr int kMapTop = 2;                       // screen row of the first track of the map

struct BlockEditor {
    BlockEditor(ImageBuffer &image_, const EditTarget &target_, TrackSector block_)
        : image(image_), target(target_), block(block_), mapAt(block_) {}
    ImageBuffer &image;
    const EditTarget &target;
    EditHistory history;
    TrackSector block;
    int at = 0;             // the byte under the cursor
    bool charPane = false;  // keys type characters, not hex digits
    int nibble = -1;        // the high digit typed, -1 before it
    std::vector<TrackSector> path;  // blocks left by n and g, for p
    bool mapView = false;
    TrackSector mapAt;      // the map view's cursor
    int mapTop = 1;         // first track shown
    bool leaving = false;   // asked whether to leave without writing
    std::string status;
};

std::string blockName(TrackSector block) {
    return std::to_string(block.track) + "/" + std::to_string(block.sector);
}

bool holds(const ImageBuffer &image, TrackSector block) { return blockProblem(image, "", block.track, block.sector).empty(); }

void addTitle(Screen &screen, BlockEditor &editor, const std::string &what) {
    addText(screen, std::string(editor.mapView ? "kestrel -bamedit " : "kestrel -bedit ") +
                        consoleEscapeControls(editor.target.imagePath) + "  " + what +
                        (hasUnsavedChanges(editor.history) ? "  changed" : ""));
}

void drawBlock(BlockEditor &editor, Screen &screen, int &row, int &column) {
    const uint8_t *bytes = blockAt(editor.image, editor.block.track, editor.block.sector);
    bool mapped = isMapTrack(editor.image, editor.block.track);
    bool free = mapped && isBlockFree(editor.image, editor.block.track, editor.block.sector);
    addTitle(screen, editor, "block " + blockName(editor.block) +
                                 (!mapped ? "  (no map bit)" : free ? "  free in the map" : "  used in the map"));
    newLine(screen);
    addText(screen, "    00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f");
    char text[16];
    for (int r = 0; r < 16; ++r) {
        newLine(screen);
        std::snprintf(text, sizeof text, "%02x: ", r * 16);
        addText(screen, text);
        for (int i = 0; i < 16; ++i) {
            int index = r * 16 + i;
            if (index == editor.at && editor.nibble >= 0) std::snprintf(text, sizeof text, "%x_ ", editor.nibble);
            else std::snprintf(text, sizeof text, "%02x ", bytes[index]);
            addText(screen, text);
        }
        addText(screen, "| ");
        addCodes(screen, bytes + r * 16, 16, options.glyphSet == kGlyphsC64Lower ? kGlyphsC64Lower : kGlyphsC64Upper);
    }
    newLine(screen);
    addText(screen, "link " + std::to_string(bytes[0]) + "/" + std::to_string(bytes[1]));
    row = kBlockTop + editor.at / 16;
    column = editor.charPane ? kCharColumn + editor.at % 16 : kHexColumn + 3 * (editor.at % 16) + (editor.nibble >= 0);
}

void drawMap(BlockEditor &editor, Screen &screen, int &row, int &column) {
    int tracks = mapTracks(editor.image.shape);
    int shown = screen.rows - kMapTop - 3 < 1 ? 1 : screen.rows - kMapTop - 3;
    if (editor.mapAt.track < editor.mapTop) editor.mapTop = editor.mapAt.track;
    if (editor.mapAt.track >= editor.mapTop + shown) editor.mapTop = editor.mapAt.track - shown + 1;
    addTitle(screen, editor, "map, block " + blockName(editor.mapAt) + "  . free  # used");
    newLine(screen);
    std::string units = "    ";
    for (int sector = 0; sector < kMostSectors; ++sector) units += static_cast<char>('0' + sector % 10);
    addText(screen, units);
    char label[16];
    for (int track = editor.mapTop; track <= tracks && track < editor.mapTop + shown; ++track) {
        newLine(screen);
        std::snprintf(label, sizeof label, "%2i  ", track);
        std::string line = label;
        for (int sector = 0; sector < sectorsPerTrack(editor.image.shape, track); ++sector)
            line += isBlockFree(editor.image, track, sector) ? '.' : '#';
        addText(screen, line);
    }
    row = kMapTop + editor.mapAt.track - editor.mapTop;
    column = 4 + editor.mapAt.sector;
}

void draw(BlockEditor &editor) {
    Screen screen = startScreen();
    int row = 0, column = 0;
    if (editor.mapView) drawMap(editor, screen, row, column);
    else drawBlock(editor, screen, row, column);
    padToRow(screen, screen.rows - 3);
    addText(screen, editor.status);
    newLine(screen);
    addText(screen, editor.mapView    ? "arrows/hjkl move  Space used/free  Enter open the block  v block view"
                    : editor.charPane ? "keys type PETSCII  Tab or Esc: back to hex digits  arrows move"
                                      : "hex digits type  Tab characters  < > sector  [ ] track  g go to the link "
                                        "there");
    newLine(screen);
    addText(screen, editor.mapView ? "u undo  U redo  w write  x write and quit  q quit"
                                   : "n next in chain  p back  m used/free  v map  u undo  U redo  w write  x write "
                                     "and quit  q quit");
    consoleDrawScreen(screen.text, row, column);
}

// Goes to `to` when the image holds it; the block left is kept for p.
void goTo(BlockEditor &editor, TrackSector to, bool remember) {
    if (!holds(editor.image, to)) {
        editor.status = "Block " + blockName(to) + " is not in the image.";
        return;
    }
    if (remember) editor.path.push_back(editor.block);
    editor.block = to;
    editor.nibble = -1;
    editor.status.clear();
}

void putByte(BlockEditor &editor, int value) {
    uint8_t byte = static_cast<uint8_t>(value);
    std::string given = "byte " + std::to_string(editor.at) + " of " + blockName(editor.block);
    editor.status = recordEdit(editor.image, editor.history, [&] {
        return putBlockBytes(editor.image, given, editor.block, editor.at, &byte, 1);
    });
    if (editor.at < 255) ++editor.at;
}

void toggleMapBit(BlockEditor &editor, TrackSector block) {
    bool free = isBlockFree(editor.image, block.track, block.sector);
    std::string given = "block " + blockName(block);
    editor.status = recordEdit(editor.image, editor.history, [&] { return markBlock(editor.image, given, block, free); });
    if (editor.status.empty()) editor.status = given + (free ? " marked used." : " marked free.");
}

// Keys both views share; false once the editor is to end.
bool commonKey(BlockEditor &editor, int key, bool &used) {
    used = true;
    switch (historyKey(key, editor.image, editor.target, editor.history, editor.status)) {
        case HistoryKey::Leave: return false;
        case HistoryKey::AskFirst: editor.leaving = true; return true;
        case HistoryKey::Done: return true;
        case HistoryKey::NotOne: break;
    }
    used = key == 'v';
    if (!used) return true;
    editor.mapView = !editor.mapView;
    if (editor.mapView && isMapTrack(editor.image, editor.block.track)) editor.mapAt = editor.block;
    return true;
}

void mapKey(BlockEditor &editor, int key) {
    TrackSector &at = editor.mapAt;
    int tracks = mapTracks(editor.image.shape);
    switch (key) {
        case kArrowUp: case 'k': if (at.track > 1) --at.track; break;
        case kArrowDown: case 'j': if (at.track < tracks) ++at.track; break;
        case kArrowLeft: case 'h': if (at.sector > 0) --at.sector; break;
        case kArrowRight: case 'l': ++at.sector; break;
        case ' ': toggleMapBit(editor, at); break;
        case kKeyEnter: case '\n':
            goTo(editor, at, true);
            editor.mapView = false;
            break;
        default: break;
    }
    int last = sectorsPerTrack(editor.image.shape, at.track) - 1;
    if (at.sector > last) at.sector = last;
}

void blockKey(BlockEditor &editor, int key) {
    const uint8_t *bytes = blockAt(editor.image, editor.block.track, editor.block.sector);
    if (editor.charPane) {
        int code = key < 0x100 && key != kKeyTab && key != kKeyEsc ? codeOfTypedKey(key, options.glyphSet) : -1;
        if (code >= 0) putByte(editor, code);
        if (key == kKeyTab || key == kKeyEsc) {
            editor.charPane = false;
            return;
        }
    } else {
        int digit = hexDigit(key);
        if (digit >= 0 && editor.nibble < 0) {
            editor.nibble = digit;
            return;
        }
        if (digit >= 0) {
            int value = editor.nibble * 16 + digit;
            editor.nibble = -1;
            putByte(editor, value);
            return;
        }
        editor.nibble = -1;
    }
    int sectors = sectorsPerTrack(editor.image.shape, editor.block.track);
    switch (key) {
        case kArrowUp: if (editor.at >= 16) editor.at -= 16; break;
        case kArrowDown: if (editor.at < 240) editor.at += 16; break;
        case kArrowLeft: if (editor.at > 0) --editor.at; break;
        case kArrowRight: if (editor.at < 255) ++editor.at; break;
        default: break;
    }
    if (editor.charPane) return;
    switch (key) {
        case 'k': if (editor.at >= 16) editor.at -= 16; break;
        case 'j': if (editor.at < 240) editor.at += 16; break;
        case 'h': if (editor.at > 0) --editor.at; break;
        case 'l': if (editor.at < 255) ++editor.at; break;
        case kKeyTab: editor.charPane = true; break;
        case '<': goTo(editor, {editor.block.track, (editor.block.sector + sectors - 1) % sectors}, false); break;
        case '>': goTo(editor, {editor.block.track, (editor.block.sector + 1) % sectors}, false); break;
        case '[': goTo(editor, {editor.block.track - 1, editor.block.sector}, false); break;
        case ']': goTo(editor, {editor.block.track + 1, editor.block.sector}, false); break;
        case 'n': goTo(editor, {bytes[0], bytes[1]}, true); break;
        case 'g': goTo(editor, {bytes[editor.at], editor.at < 255 ? bytes[editor.at + 1] : 0}, true); break;
        case 'p':
            if (!editor.path.empty()) {
                editor.block = editor.path.back();
                editor.path.pop_back();
            }
            break;
        case 'm':
            if (isMapTrack(editor.image, editor.block.track)) toggleMapBit(editor, editor.block);
            break;
        default: break;
    }
}

}  // namespace

void runBlockEditor(ImageBuffer &image, const EditTarget &target, bool mapView) {
    BlockEditor editor(image, target, {options.viewTrack, options.viewSector});
    if (!holds(image, editor.block)) editor.block = {image.shape.systemTrack, 0};
    editor.mapView = mapView;
    // -bamedit names no block: the map view starts at its first.
    editor.mapAt = !mapView && isMapTrack(image, editor.block.track) ? editor.block : TrackSector{1, 0};
    consoleWatchResize();
    for (;;) {
        if (!holds(image, editor.block)) {
            editor.status = "The image does not hold block " + blockName(editor.block) + ".";
            if (editor.path.empty()) break;
            editor.block = editor.path.back();
            editor.path.pop_back();
        }
        draw(editor);
        int key = readEditorKey();
        if (key == kKeyRedraw) continue;
        if (consoleKeysEnded()) break;
        if (editor.leaving) {
            if (key == 'y' || key == 'Y') break;
            editor.leaving = false;
            editor.status.clear();
            continue;
        }
        bool used = false;
        if (!commonKey(editor, key, used)) break;
        if (used) continue;
        if (editor.mapView) mapKey(editor, key);
        else blockKey(editor, key);
    }
    consoleDrawScreen("", 0, 0);
}
