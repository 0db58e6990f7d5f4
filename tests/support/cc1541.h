// Test helper: the listing of Debian's cc1541, an independent D64 tool, as
// the facts an image's directory must show.
#pragma once

#include <string>
#include <vector>

#include "support/run_binary.h"

// cc1541's own listing of an image: the header without its colour codes,
// the entry lines and the free line.
struct CcListing {
    std::string header;
    std::vector<std::string> entries;
    std::string blocksFree;
};

// Lists `image` (a name inside dir) through a copy with its extension, so the
// image stays as it is.
CcListing ccList(const TempDir &dir, const std::string &image);
