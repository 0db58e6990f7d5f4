#include "support/d64_zones.h"

int zoneSectors(int track) { return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17; }

size_t zoneOffset(int track, int sector) {
    size_t blocks = 0;
    for (int t = 1; t < track; ++t) blocks += static_cast<size_t>(zoneSectors(t));
    return (blocks + static_cast<size_t>(sector)) * 256;
}
