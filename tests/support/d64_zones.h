// Test helper: the 1541's zone layout (sectors per track, byte offsets of
// blocks) written out on its own, apart from kestrel's geometry, so that
// tests can check kestrel and the image builder against it.
#pragma once

#include <cstddef>

// Sectors of a track: 21 on tracks 1-17, 19 on 18-24, 18 on 25-30, 17 above.
int zoneSectors(int track);

// Byte offset of block `track`/`sector` in an image laid out by those zones.
size_t zoneOffset(int track, int sector);
