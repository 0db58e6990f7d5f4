// Availability map view.
#include "views/bamview.h"

#include "base/console.h"
#include "disk/bam.h"

void showBam(const ImageBuffer &image) {
    int shown = 0;
    int used = 0;
    for (int track = 1; track <= kMapTracks; ++track) {
        int sectors = sectorsPerTrack(track);
        consolePrintf("%2i: %2i/%2i ", track, trackMapEntry(image, track).freeCount, sectors);
        for (int sector = 0; sector < sectors; ++sector) {
            bool free = isBlockFree(image, track, sector);
            consolePrintf("%s ", free ? "o" : ".");
            ++shown;
            if (!free) ++used;
        }
        consolePrintf("\n");
    }
    consolePrintf("Blocks: %d\n", shown);
    consolePrintf("Used blocks: %d\n", used);
}
