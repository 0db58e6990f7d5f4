// Interactive block viewer.
#include "views/blockviewer.h"

#include "base/console.h"
#include "base/errors.h"
#include "base/options.h"

void clampTrackSector(const DiskShape &shape, int &track, int &sector) {
    if (track < 1) track = 1;
    if (sector < 0) sector = 0;
    if (track > highestTrack(shape)) track = mapTracks(shape);
    int sectors = sectorsPerTrack(shape, track);
    if (sector >= sectors) sector = sectors - 1;
}

namespace {

void printHexRows(const uint8_t *block) {
    consolePrintf("    ");
    for (int column = 0; column < 16; ++column) consolePrintf("%02x ", column);
    consolePrintf("\n    -----------------------------------------------\n");
    for (int row = 0; row < 16; ++row) {
        const uint8_t *bytes = block + row * 16;
        consolePrintf("%02x: ", row * 16);
        for (int i = 0; i < 16; ++i) consolePrintf("%02x ", bytes[i]);
        consolePrintf(" | ");
        for (int i = 0; i < 16; ++i) consoleDiskCode(bytes[i]);
        consolePrintf("\n");
    }
}

// The link that the screen shows and j follows: (0, 0) outside the image.
TrackSector shownLink(const ImageBuffer &image, int track, int sector) {
    clampTrackSector(image.shape, track, sector);
    return getNextTrackSector(image, track, sector);
}

// Whether the viewer may go to (track, sector): every block of the map's
// tracks (one beyond a cut image shows as such), a block of the tracks above
// (36..40 of a D64) only where the image holds it, as a 40-track image does.
bool reachable(const ImageBuffer &image, int track, int sector) {
    if (track < 1 || track > highestTrack(image.shape)) return false;
    clampTrackSector(image.shape, track, sector);
    return track <= mapTracks(image.shape) || blockPresent(image, track, sector);
}

void followLink(const ImageBuffer &image) {
    TrackSector link = shownLink(image, options.viewTrack, options.viewSector);
    if (link.sector < sectorsPerTrack(image.shape, link.track) && reachable(image, link.track, link.sector)) {
        options.viewTrack = link.track;
        options.viewSector = link.sector;
    }
}

void moveByArrow(const ImageBuffer &image, int code) {
    if (code == kKeyUp && reachable(image, options.viewTrack + 1, options.viewSector)) ++options.viewTrack;
    if (code == kKeyDown && options.viewTrack >= 2) --options.viewTrack;
    if (code == kKeyLeft && options.viewSector >= 1) --options.viewSector;
    int lastSector = sectorsPerTrack(image.shape, options.viewTrack) - 1;
    if (code == kKeyRight && options.viewSector < lastSector) ++options.viewSector;
}

}  // namespace

void showBlock(const ImageBuffer &image, int track, int sector) {
    clampTrackSector(image.shape, track, sector);
    consoleClearScreen();
    consolePrintf("Track:  %2i (0x%02x)\n", track, track);
    consolePrintf("Sector: %2i (0x%02x)\n", sector, sector);
    consolePrintf("\n");
    const uint8_t *block = blockAt(image, track, sector);
    if (block)
        printHexRows(block);
    else
        consolePrintf("Block %i/%i lies beyond the end of the image.\n", track, sector);
    TrackSector link = shownLink(image, track, sector);
    consolePrintf("\n");
    consolePrintf("Next track:  %2i (0x%02x)\n", link.track, link.track);
    consolePrintf("Next sector: %2i (0x%02x)", link.sector, link.sector);
}

void runBlockViewer(const ImageBuffer &image) {
    // The screen is 24 lines. On a terminal its last line end waits for the
    // key: written at once it would put the cursor on a 25th row, and a
    // 24-row terminal would scroll the first line out of sight.
    bool lineEndAfterKey = consoleOutputIsTerminal();
    for (;;) {
        showBlock(image, options.viewTrack, options.viewSector);
        if (!lineEndAfterKey) consolePrintf("\n");
        int code = consoleReadKey();
        if (code == kKeyOutputClosed) exitIfOutputLost();  // the screen went nowhere: end with status 1
        if (code == kKeyRedraw) continue;
        if (lineEndAfterKey) consolePrintf("\n");
        consoleDiskChar(static_cast<uint8_t>(code));
        consolePrintf(" %i\n", code);
        if (code == kKeyEsc || code == 'q') return;
        if (code == 0 || code == kKeyArrowPrefix) moveByArrow(image, consoleReadKey());
        else if (code == 'j') followLink(image);
    }
}
