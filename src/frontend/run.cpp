// The run order: parse the command line, load the images, run the requested
// actions in their fixed order, write the edited image once at the end.
#include "frontend/run.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/errors.h"
#include "base/filewrite.h"
#include "check/check.h"
#include "check/fix.h"
#include "directory/append.h"
#include "directory/dirart.h"
#include "directory/listing.h"
#include "directory/merge.h"
#include "frontend/cmdline.h"
#include "frontend/imagefile.h"
#include "files/extract.h"
#include "files/insert.h"
#include "frontend/usage.h"
#include "report/json.h"
#include "views/bamview.h"
#include "views/blockviewer.h"

namespace {

// A path as the message on standard output (file errors) may show it.
std::string shownOnOutput(const std::string &path) { return consoleOutsideText(path, ConsoleStream::Output); }

// A path as the message on standard error (the error exit) may show it.
std::string shownOnError(const std::string &path) { return consoleOutsideText(path, ConsoleStream::Error); }

// printf into a string (the messages about an image, which -json reports
// without ending the run).
__attribute__((format(printf, 1, 2))) std::string formatText(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

// Loads an image; returns why it could not be loaded, in the words of the file
// errors with the path as it is ("File 'x' not found."), or an empty text
// when it was loaded.
std::string loadProblem(const std::string &path, const char *label, ImageBuffer &image) {
    if (path.empty() || !imageExists(path)) return formatText("%s '%s' not found.", label, path.c_str());
    uint64_t size = 0;
    LoadResult result = loadImage(path, image, size);
    if (result == LoadResult::TooLarge)
        return formatText("%s '%s' is too large for a disk image (%llu bytes).", label, path.c_str(),
                          static_cast<unsigned long long>(size));
    if (result != LoadResult::Loaded) return formatText("%s '%s' could not be read.", label, path.c_str());
    return "";
}

// The map view, the listing, the merge, the edits and the JSON report read
// block 18/0: why an image too short to hold it cannot be used, or "".
std::string mapBlockProblem(const ImageBuffer &image, const char *label, const std::string &path) {
    if (blockPresent(image, kDirTrack, 0)) return "";
    return formatText("%s '%s' is too short to hold block 18/0 (%llu bytes).", label, path.c_str(),
                      static_cast<unsigned long long>(image.bytes.size()));
}

// A file error about an image; the message's only outside text is the path,
// so escaping the whole message for a terminal escapes just that.
[[noreturn]] void exitWithImageProblem(const std::string &problem) {
    exitWithFileError("ERROR: %s", consoleOutsideText(problem, ConsoleStream::Output).c_str());
}

// Loads an image, or ends with a file error naming it ("File" or "2nd file").
void loadOrExit(const std::string &path, const char *label, ImageBuffer &image) {
    std::string problem = loadProblem(path, label, image);
    if (!problem.empty()) exitWithImageProblem(problem);
}

// An image that cannot hold block 18/0 is refused before any action runs.
void requireMapBlock(const ImageBuffer &image, const char *label, const std::string &path) {
    std::string problem = mapBlockProblem(image, label, path);
    if (!problem.empty()) exitWithImageProblem(problem);
}

// -json: every image in turn through one buffer, so memory stays that of the
// largest image; an image that cannot be listed gives its error line (and
// the message on standard error) and the run goes on. Status 1 when any failed.
int runJsonReport(const std::vector<const char *> &images) {
    JsonReport report;
    startJsonReport(report);
    ImageBuffer image;
    int status = 0;
    for (const std::string path : images) {
        std::string problem = loadProblem(path, "File", image);
        if (problem.empty()) problem = mapBlockProblem(image, "File", path);
        if (problem.empty()) {
            printImageJson(report, consoleArgumentAsUtf8(path), image);
            continue;
        }
        printImageJsonError(report, consoleArgumentAsUtf8(path), consoleArgumentAsUtf8(problem));
        consoleErrorf("ERROR: %s\n", consoleOutsideText(problem, ConsoleStream::Error).c_str());
        status = 1;
    }
    exitIfOutputLost();
    return status;
}

bool listingRuns() {
    return !options.blockViewer && !options.bamView && !options.appendDel && options.dirEdits.empty() &&
           !options.checkDisk && !options.fixMap && !options.extractFiles && !options.insertFiles;
}

// -w: each host file, its name read first, then the file read whole as an
// image is (a regular file, never a FIFO or device), inserted in command-line
// order. A file too large for any disk image cannot fit this one either.
void insertHostFiles(ImageBuffer &image, const RunPaths &paths) {
    InsertRun run = startInserts(image, paths.source);
    for (const std::string &path : paths.inserts) {
        HostFileEntry entry = requireEntryName(path, path.substr(fileNameStart(path)));
        ImageBuffer file;
        uint64_t size = 0;
        LoadResult result = loadImage(path, file, size);
        if (result == LoadResult::TooLarge) exitWithError(2, "ERROR: Disk full '%s'!", run.growth.path.c_str());
        if (result != LoadResult::Loaded) exitWithError(1, "ERROR: Could not read '%s'.", shownOnError(path).c_str());
        insertFile(image, run, path, entry, file.bytes.data(), file.bytes.size());
    }
}

// Exit status of a run whose check found errors on the disk.
constexpr int kCheckFoundErrors = 3;

void writeDestination(const ImageBuffer &image, const RunPaths &paths) {
    consolePrintf("\n");
    std::string destination = paths.destination;
    if (destination.empty()) {
        if (!defaultDestination(paths.source, destination))
            exitWithError(1, "ERROR: Source file '%s' has no file extension.", shownOnError(paths.source).c_str());
        consolePrintf("Destination file set to '%s'.\n", shownOnOutput(destination).c_str());
    }
    // Output that did not arrive must not be followed by a written file.
    exitIfOutputLost();
    if (saveImage(image, destination) != 0)
        exitWithError(1, "ERROR: Could not write '%s'.", shownOnError(destination).c_str());
}

}  // namespace

int runKestrel(int argc, char **argv) {
    registerUsagePrinter(printUsage);
    letFileSizeLimitFailWrites();
    resetOptions();
    if (argc <= 1) {
        printUsage(argc == 1 ? argv[0] : "kestrel");
        exitIfOutputLost();
        return 0;
    }
    RunPaths paths = parseCommandLine(argc, argv);
    if (options.showHelp || options.showVersion) {
        if (options.showHelp) printHelp(argv[0]);
        else printVersion();
        exitIfOutputLost();
        return 0;
    }
    if (options.jsonReport) return runJsonReport(paths.images);

    ImageBuffer image;
    ImageBuffer second;
    loadOrExit(paths.source, "File", image);
    if (options.secondImageNeeded) {
        if (paths.second.empty()) exitWithError(1, "ERROR: Name of second file missing.");
        loadOrExit(paths.second, "2nd file", second);
    }
    if (options.mergeImages || listingRuns() || options.bamView || !options.dirEdits.empty() || options.fixMap ||
        options.extractFiles || options.insertFiles)
        requireMapBlock(image, "File", paths.source);
    if (options.mergeImages) requireMapBlock(second, "2nd file", paths.second);

    if (options.mergeImages) mergeDirectories(paths.source, paths.second, image, second);
    if (listingRuns()) requireEditsMade(showDirectory(image, options.exportTrackSector ? 0 : 1));
    if (options.bamView) showBam(image);
    if (options.blockViewer) runBlockViewer(image);
    if (options.appendDel) appendDelEntry(image, paths.source);
    if (!options.dirEdits.empty()) applyDirectoryEdits(image);
    if (options.insertFiles) insertHostFiles(image, paths);
    if (options.fixMap) fixMap(image);
    int status = 0;
    if (options.checkDisk && checkImage(image) > 0) status = kCheckFoundErrors;
    if (options.extractFiles) extractFiles(image);
    if (options.imageModified) writeDestination(image, paths);
    exitIfOutputLost();
    return status;
}
