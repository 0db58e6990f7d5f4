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
#include "disk/entrychains.h"
#include "disk/filelayout.h"

namespace {

// One file to write: its entry, its host name and its first block.
struct Extraction {
    int number;
    std::string stem;       // host name without extension (and without "~N")
    std::string extension;  // "prg" ...; with a container its letter alone ("p")
    std::string name;       // the host name the file gets
    TrackSector start;
    size_t length;          // bytes written (at most a chain's walkBound blocks, and a container's header)
    std::vector<uint8_t> header;  // the container's header, else empty
    const uint8_t *slot;    // the entry's slot
    bool cvt;               // a GEOS file written as a CVT file (-cvt)
};

// An entry with a chain to take off: not a 1581 partition (CBM), whose
// blocks are an area of the disk rather than a file.
bool chosen(const DiskShape &shape, const uint8_t *slot, int number) {
    if (!slotHasStartBlock(shape, slot)) return false;
    if (isPartition(shape, slot)) return false;
    if (options.extractFirst < 0) return slot[kSlotType] != 0;
    return number >= options.extractFirst && number <= options.extractLast;
}

// The chosen entries in directory order; a looping directory gives each of
// its entries once (the cursor stops at the first block it meets again).
std::vector<Extraction> collectExtractions(const ImageBuffer &image, ContainerHeader container, const GeosForm *geos) {
    std::vector<Extraction> files;
    files.reserve(static_cast<size_t>(image.shape.family->directoryCapacity));
    DirectoryCursor cursor = startDirectory(image);
    while (const uint8_t *slot = nextListedSlot(image, cursor, options.showAll)) {
        if (!chosen(image.shape, slot, cursor.number)) continue;
        bool cvt = geos && entryKind(slot).geos;
        files.push_back({cursor.number, hostNameOfEntry(slot + kSlotName),
                         cvt ? geos->extension : hostExtensionOfType(slot[kSlotType]),
                         {}, {slot[kSlotStartTrack], slot[kSlotStartSector]}, 0, {}, slot, cvt});
        char letter = 0;
        if (container && !cvt) container(slot, files.back().header, letter);
        if (container && !cvt) files.back().extension = std::string(1, letter);
    }
    return files;
}

// Host names, with "~1", "~2", ... in directory order for every file of a
// group that would share one; with `cvtOnly`, of the CVT files alone.
void assignNames(std::vector<Extraction> &files, bool cvtOnly = false) {
    std::vector<HostNameParts> parts;
    std::vector<Extraction *> named;
    parts.reserve(files.size());
    for (Extraction &file : files) {
        if (cvtOnly && !file.cvt) continue;
        parts.push_back({file.stem, "." + file.extension});
        named.push_back(&file);
    }
    std::vector<std::string> names = distinctHostNames(parts);
    for (size_t i = 0; i < named.size(); ++i) named[i]->name = std::move(names[i]);
}

// With a GEOS form, why a GEOS entry cannot be written in it, or "".
std::string cvtProblem(const ImageBuffer &image, const std::vector<Extraction> &files) {
    FileStructure structure;
    for (const Extraction &file : files) {
        if (!file.cvt) continue;
        std::string problem = readFileStructure(image, file.slot, structure, nullptr);
        if (!problem.empty())
            return "Entry " + std::to_string(file.number) + " cannot be written as a ." + file.extension +
                   " file: it " + problem + "; nothing was extracted.";
    }
    return "";
}

// The bytes of one file: the container's header and the chain's payload, or
// a GEOS file in the GEOS form.
void filePayload(const ImageBuffer &image, const Extraction &file, const GeosForm *geos, std::vector<uint8_t> &payload) {
    if (!file.cvt) {
        payload.assign(file.header.begin(), file.header.end());
        readChain(image, file.start, payload);
        return;
    }
    FileStructure structure;
    std::vector<uint8_t> data;
    readFileStructure(image, file.slot, structure, &data);
    geos->write(file.slot, structure, data, payload);
}

// Container names: stem, ".", the letter and two digits, counted up in
// directory order among the files whose names differ in nothing else (as a
// file system that does not tell the cases apart compares them). Returns
// the message when a name would need a third digit, else "".
std::string assignContainerNames(std::vector<Extraction> &files) {
    std::vector<std::string> taken;  // the names given so far, in one case
    for (Extraction &file : files) {
        if (file.cvt) continue;
        std::string key = file.stem + "." + file.extension;
        for (char &c : key) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        int number = static_cast<int>(std::count(taken.begin(), taken.end(), key));
        if (number > 99)
            return "More than 100 files would be named '" + file.stem + "." + file.extension +
                   "NN'; nothing was extracted.";
        taken.push_back(key);
        file.name = file.stem + "." + file.extension + static_cast<char>('0' + number / 10) +
                    static_cast<char>('0' + number % 10);
    }
    return "";
}

// Why the folder could not be opened, in the words of a message.
std::string folderProblem(FolderResult result, const std::string &at) {
    const char *form = result == FolderResult::NotAFolder    ? "'%s' is not a folder; nothing was extracted."
                       : result == FolderResult::ThroughLink ? "'%s' is a symbolic link, which '-x' never writes "
                                                               "through; nothing was extracted."
                                                             : "Could not open or make the folder '%s'; nothing "
                                                               "was extracted.";
    std::string text = form;
    return text.replace(text.find("%s"), 2, at);
}

// The most bytes one image's files may come to: a multiple of the image's
// length. Entries that share a chain (a loader listed twice, as cc1541 -l
// makes them) stay far below it; a directory that names the same chains
// thousands of times would write gigabytes from a disk of kilobytes.
uint64_t writeBound(const ImageBuffer &image) {
    return kExtractBoundFactor * static_cast<uint64_t>(image.bytes.size());
}

// The message for a run whose files would pass writeBound.
std::string boundProblem(const ImageBuffer &image) {
    return "The files would come to more than " + std::to_string(writeBound(image)) + " bytes, " +
           std::to_string(kExtractBoundFactor) + " times the image's size (its directory names the same blocks "
           "many times); nothing was extracted.";
}

// The message for a file that could not be written or named.
std::string writeProblem(const NewFiles &written, WriteResult result, const std::string &name) {
    std::string shown = (written.folder ? written.folder->shown : "") + name;
    return result == WriteResult::AlreadyExists ? "'" + shown + "' exists already; nothing was extracted."
                                                : "Could not write '" + shown + "'; nothing was extracted.";
}

// Writes the files, each whole, into the run's folder as one batch: all
// their data, then all their names (base/filewrite: one sync of the data,
// one of the folder). On a failure, or past writeBound, takes back what was
// written and gives the message.
std::string writeFiles(const ImageBuffer &image, std::vector<Extraction> &files, const GeosForm *geos,
                       NewFiles &written) {
    // One file's payload at a time: a chain holds at most walkBound blocks.
    std::vector<uint8_t> payload;
    payload.reserve(static_cast<size_t>(walkBound(image.shape)) * (kBlockSize - 2));
    uint64_t total = 0;
    for (Extraction &file : files) {
        filePayload(image, file, geos, payload);
        file.length = payload.size();
        total += payload.size();
        if (total > writeBound(image)) {
            removeNewFiles(written);
            return boundProblem(image);
        }
        WriteResult result = writeNewFile(written, file.name, payload.data(), payload.size());
        if (result == WriteResult::Written) continue;
        removeNewFiles(written);
        return writeProblem(written, result, file.name);
    }
    std::string failed;
    WriteResult result = nameNewFiles(written, failed);
    return result == WriteResult::Written ? "" : writeProblem(written, result, failed);
}

}  // namespace

std::string extractFiles(const ImageBuffer &image, const std::string &folderPath, ContainerHeader container,
                         ExtractedFiles *kept, const GeosForm *geos) {
    std::vector<Extraction> files = collectExtractions(image, container, geos);
    if (files.empty() && options.extractFirst >= 0)
        return "No entry numbered " + std::to_string(options.extractFirst) + " to " +
               std::to_string(options.extractLast) + " has a file to extract.";
    if (files.empty()) return "";
    if (std::string problem = cvtProblem(image, files); !problem.empty()) return problem;
    if (!container) assignNames(files);
    else if (std::string problem = assignContainerNames(files); !problem.empty()) return problem;
    if (container) assignNames(files, true);
    ExtractedFiles own;
    ExtractedFiles &run = kept ? *kept : own;
    OutputFolder &folder = run.folder;
    NewFiles &written = run.written;
    if (!folderPath.empty()) {
        std::string failedAt;
        FolderResult opened = openOutputFolder(folderPath, folder, failedAt);
        if (opened != FolderResult::Opened) return folderProblem(opened, failedAt);
        written.folder = &folder;
    }
    for (const Extraction &file : files) {
        if (!nameTaken(written, file.name)) continue;
        std::string problem = "'" + folder.shown + file.name + "' exists already; nothing was extracted.";
        closeOutputFolder(folder, true);
        return problem;
    }

    // Output that did not arrive must not be followed by files, as it is not
    // followed by a written image.
    if (consoleLostStream()) closeOutputFolder(folder, true);
    exitIfOutputLost();
    std::string problem = writeFiles(image, files, geos, written);
    if (!problem.empty()) {
        closeOutputFolder(folder, true);
        return problem;
    }
    std::string shownFolder = consoleOutsideText(folder.shown, ConsoleStream::Output);
    for (const Extraction &file : files)
        consolePrintf("%3i: %s%s (%i byte%s)\n", file.number, shownFolder.c_str(), file.name.c_str(),
                      static_cast<int>(file.length), plural(static_cast<int>(file.length)));
    // Files whose lines were lost would be written without a word: take them back.
    if (consoleLostStream()) {
        removeNewFiles(written);
        closeOutputFolder(folder, true);
    }
    exitIfOutputLost();
    if (!kept) closeOutputFolder(folder, false);
    return "";
}

void takeBackExtraction(ExtractedFiles &kept) {
    removeNewFiles(kept.written);
    closeOutputFolder(kept.folder, true);
}

void keepExtraction(ExtractedFiles &kept) {
    kept.written.paths.clear();
    closeOutputFolder(kept.folder, false);
}
