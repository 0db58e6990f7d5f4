// The availability map view (-bam).
#pragma once

#include "disk/image.h"

// One line per track 1..35 (stored free count, sectors, a mark per sector:
// "o" free, "." used), then "Blocks: 683" and the number of used marks.
// Precondition: block 18/0 is present.
void showBam(const ImageBuffer &image);
