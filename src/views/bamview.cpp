// Availability map view: a line per map track, its stored free count, its
// sector count and a mark per sector ("o" free, "." used). A track of up to
// 21 sectors shows each mark followed by a space; a 1581's 40 sectors show
// in four groups of ten, so that every line fits 80 columns.
#include "views/bamview.h"

#include "base/console.h"
#include "disk/bam.h"

namespace {

constexpr int kLineColumns = 80;
constexpr int kLabelColumns = 11;  // "%2i: %2i/%2i "
constexpr int kGroupSectors = 10;

}  // namespace

void showBam(const ImageBuffer &image) {
    int shown = 0;
    int used = 0;
    for (int track = 1; track <= mapTracks(image.shape); ++track) {
        int sectors = sectorsPerTrack(image.shape, track);
        bool grouped = kLabelColumns + 2 * sectors > kLineColumns;
        consolePrintf("%2i: %2i/%2i ", track, trackMapEntry(image, track).freeCount, sectors);
        for (int sector = 0; sector < sectors; ++sector) {
            bool free = isBlockFree(image, track, sector);
            if (!grouped) consolePrintf("%s ", free ? "o" : ".");
            else consolePrintf("%s%s", sector > 0 && sector % kGroupSectors == 0 ? " " : "", free ? "o" : ".");
            ++shown;
            if (!free) ++used;
        }
        consolePrintf("\n");
    }
    consolePrintf("Blocks: %d\n", shown);
    consolePrintf("Used blocks: %d\n", used);
}
