// Extracting files.
#include "files/extract.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/errors.h"
#include "base/filewrite.h"
#include "base/nametext.h"
#include "base/options.h"
#include "disk/chain.h"
#include "disk/directory.h"

namespace {

// One file to write: its entry, its host name and its first block.
struct Extraction {
    int number;
    std::string stem;       // host name without extension (and without "~N")
    const char *extension;  // "prg" ...
    std::string name;       // the host name the file gets
    TrackSector start;
    size_t length;          // bytes written (at most a chain's kMaxBlocks blocks)
};

bool chosen(const uint8_t *slot, int number) {
    if (!slotHasStartBlock(slot)) return false;
    if (options.extractFirst < 0) return slot[kSlotType] != 0;
    return number >= options.extractFirst && number <= options.extractLast;
}

// The chosen entries in directory order; a looping directory gives each of
// its entries once (the cursor stops at the first block it meets again).
std::vector<Extraction> collectExtractions(const ImageBuffer &image) {
    std::vector<Extraction> files;
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, options.showAll)) {
        if (!chosen(slot, cursor.number)) continue;
        files.push_back({cursor.number, hostNameOfEntry(slot + kSlotName), hostExtensionOfType(slot[kSlotType]), {},
                         {slot[kSlotStartTrack], slot[kSlotStartSector]}, 0});
    }
    return files;
}

// Host names, with "~1", "~2", ... in directory order for every file of a
// group that would share one (the rule itself never writes a "~").
void assignNames(std::vector<Extraction> &files) {
    for (Extraction &file : files) file.name = file.stem + '.' + file.extension;
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&files](size_t a, size_t b) { return files[a].name < files[b].name; });
    for (size_t first = 0, end = 0; first < order.size(); first = end) {
        while (end < order.size() && files[order[end]].name == files[order[first]].name) ++end;
        if (end - first == 1) continue;
        for (size_t i = first; i < end; ++i) {
            Extraction &file = files[order[i]];
            file.name = file.stem;
            file.name += '~';
            file.name += std::to_string(i - first + 1);
            file.name += '.';
            file.name += file.extension;
        }
    }
}

}  // namespace

void extractFiles(const ImageBuffer &image) {
    std::vector<Extraction> files = collectExtractions(image);
    if (files.empty() && options.extractFirst >= 0)
        exitWithError(1, "ERROR: No entry numbered %i to %i has a file to extract.", options.extractFirst,
                      options.extractLast);
    assignNames(files);
    for (const Extraction &file : files)
        if (nameTaken(file.name))
            exitWithError(1, "ERROR: '%s' exists already; nothing was extracted.", file.name.c_str());

    // Output that did not arrive must not be followed by files, as it is not
    // followed by a written image.
    exitIfOutputLost();

    // One file's payload at a time: a chain holds at most kMaxBlocks blocks.
    std::vector<uint8_t> payload;
    payload.reserve(kMaxBlocks * (kBlockSize - 2));
    NewFiles written;
    for (Extraction &file : files) {
        payload.clear();
        file.length = static_cast<size_t>(readChain(image, file.start, payload));
        WriteResult result = writeNewFile(written, file.name, payload.data(), payload.size());
        if (result == WriteResult::Written) continue;
        removeNewFiles(written);
        exitWithError(1, result == WriteResult::AlreadyExists
                             ? "ERROR: '%s' exists already; nothing was extracted."
                             : "ERROR: Could not write '%s'; nothing was extracted.",
                      file.name.c_str());
    }
    for (const Extraction &file : files)
        consolePrintf("%3i: %s (%i byte%s)\n", file.number, file.name.c_str(), static_cast<int>(file.length),
                      plural(static_cast<int>(file.length)));
    // Files whose lines were lost would be written without a word: take them back.
    if (consoleLostStream()) removeNewFiles(written);
    exitIfOutputLost();
}
