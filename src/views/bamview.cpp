// Availability map view: a line per map track, its stored free count, its
// sector count and a mark per sector ("o" free, "." used). A track of up to
// 21 sectors shows each mark followed by a space; a 1581's 40 sectors show
// in four groups of ten, so that every line fits 80 columns. A 40-track D64
// whose header keeps a SpeedDOS or DolphinDOS map of tracks 36-40 shows
// those five tracks too, from that map; any other D64 shows tracks 1-35.
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
    int extension = extensionMapOffset(image);
    int lastTrack = extension ? kExtendedD64Tracks : mapTracks(image.shape);
    for (int track = 1; track <= lastTrack; ++track) {
        int sectors = sectorsPerTrack(image.shape, track);
        bool grouped = kLabelColumns + 2 * sectors > kLineColumns;
        // The track's entry is read once and its marks printed as one line.
        TrackMapEntry entry = trackMapEntry(image, track);
        if (!isMapTrack(image, track)) readExtensionEntry(image, extension, track, entry);
        char marks[2 * kMostSectors + 2];
        int length = 0;
        for (int sector = 0; sector < sectors; ++sector) {
            bool free = entry.freeBits >> sector & 1;
            if (grouped && sector > 0 && sector % kGroupSectors == 0) marks[length++] = ' ';
            marks[length++] = free ? 'o' : '.';
            if (!grouped) marks[length++] = ' ';
            ++shown;
            if (!free) ++used;
        }
        marks[length] = '\0';
        consolePrintf("%2i: %2i/%2i %s\n", track, entry.freeCount, sectors, marks);
    }
    consolePrintf("Blocks: %d\n", shown);
    consolePrintf("Used blocks: %d\n", used);
}
