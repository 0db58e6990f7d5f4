// cc1541's listing of an image, read from its output without colour codes.
#include "support/cc1541.h"

#include "support/shell.h"

#include <algorithm>

CcListing ccList(const TempDir &dir, const std::string &image) {
    // cc1541 takes the family from the extension: the copy keeps it.
    std::string copy = "cclist" + image.substr(std::min(image.rfind('.'), image.size()));
    shellOutput("cd " + dir.path + " && cp " + image + " " + copy);
    std::string out = shellOutput("cd " + dir.path + " && cc1541 " + copy + " 2>&1");
    std::string plain;  // without the ESC [ ... m colour codes
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\x1b') {
            while (i < out.size() && out[i] != 'm') ++i;
            continue;
        }
        plain += out[i];
    }
    CcListing listing;
    bool inDirectory = false;
    for (const std::string &line : splitLines(plain)) {
        if (line.rfind("0 \"", 0) == 0) {
            listing.header = line;
            inDirectory = true;
        } else if (inDirectory && line.find("blocks free.") != std::string::npos) {
            listing.blocksFree = line;
            inDirectory = false;
        } else if (inDirectory) {
            listing.entries.push_back(line);
        }
    }
    return listing;
}
