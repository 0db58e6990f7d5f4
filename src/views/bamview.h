// The availability map view (-bam).
#pragma once

#include "disk/image.h"

// One line per map track (1..35 of a D64, 1..40 of one with a SpeedDOS or
// DolphinDOS map of tracks 36-40, 1..70 of a D71, 1..80 of a D81: stored
// free count, sectors, a mark per sector, "o" free, "." used), then
// "Blocks: 683" (768, 1366, 3200) and the number of used marks.
// Precondition: the header block (18/0, 40/0) is present.
void showBam(const ImageBuffer &image);
