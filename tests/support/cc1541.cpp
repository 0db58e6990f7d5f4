// cc1541's listing of an image, read from its output without colour codes.
#include "support/cc1541.h"

#include "support/shell.h"

CcListing ccList(const TempDir &dir, const std::string &image) {
    shellOutput("cd " + dir.path + " && cp " + image + " cclist.d64");
    std::string out = shellOutput("cd " + dir.path + " && cc1541 cclist.d64 2>&1");
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
