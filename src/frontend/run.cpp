// The run order: parse the command line, load the images, run the requested
// actions in their fixed order, write the edited image once at the end.
#include "frontend/run.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/errors.h"
#include "directory/append.h"
#include "directory/listing.h"
#include "directory/merge.h"
#include "frontend/cmdline.h"
#include "frontend/imagefile.h"
#include "frontend/usage.h"
#include "report/json.h"
#include "views/bamview.h"
#include "views/blockviewer.h"

namespace {

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

// Loads an image; returns why it could not be loaded ("File 'x' not found."),
// or an empty text when it was.
std::string loadProblem(const std::string &path, const char *label, ImageBuffer &image) {
    if (path.empty() || !imageExists(path)) return formatText("%s '%s' not found.", label, path.c_str());
    if (loadImage(path, image) != LoadResult::Loaded)
        return formatText("%s '%s' could not be read.", label, path.c_str());
    return "";
}

// Loads an image, or ends with a file error naming it.
void loadOrExit(const std::string &path, const char *label, ImageBuffer &image) {
    std::string problem = loadProblem(path, label, image);
    if (!problem.empty()) exitWithFileError("ERROR: %s", problem.c_str());
}

// The map view, the listing, the merge and the JSON report read block 18/0;
// an image too short to hold it is refused before any action runs.
std::string mapBlockProblem(const ImageBuffer &image, const char *label, const std::string &path) {
    if (blockPresent(image, kDirTrack, 0)) return "";
    return formatText("%s '%s' is too short to hold block 18/0 (%llu bytes).", label, path.c_str(),
                      static_cast<unsigned long long>(image.bytes.size()));
}

void requireMapBlock(const ImageBuffer &image, const char *label, const std::string &path) {
    std::string problem = mapBlockProblem(image, label, path);
    if (!problem.empty()) exitWithFileError("ERROR: %s", problem.c_str());
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
        consoleErrorf("ERROR: %s\n", problem.c_str());
        status = 1;
    }
    consoleFlush();
    return status;
}

bool listingRuns() { return !options.blockViewer && !options.bamView && !options.appendDel; }

void writeDestination(const ImageBuffer &image, const RunPaths &paths) {
    consolePrintf("\n");
    std::string destination = paths.destination;
    if (destination.empty()) {
        if (!defaultDestination(paths.source, destination))
            exitWithError(1, "ERROR: Source file '%s' has no file extension.", paths.source.c_str());
        consolePrintf("Destination file set to '%s'.\n", destination.c_str());
    }
    if (saveImage(image, destination) != 0) exitWithError(1, "ERROR: Could not write '%s'.", destination.c_str());
}

}  // namespace

int runKestrel(int argc, char **argv) {
    registerUsagePrinter(printUsage);
    resetOptions();
    if (argc <= 1) {
        printUsage(argc == 1 ? argv[0] : "kestrel");
        consoleFlush();
        return 0;
    }
    RunPaths paths = parseCommandLine(argc, argv);
    if (options.jsonReport) return runJsonReport(paths.images);

    ImageBuffer image;
    ImageBuffer second;
    loadOrExit(paths.source, "File", image);
    if (options.secondImageNeeded) {
        if (paths.second.empty()) exitWithError(1, "ERROR: Name of second file missing.");
        loadOrExit(paths.second, "2nd file", second);
    }
    if (options.mergeImages || listingRuns() || options.bamView) requireMapBlock(image, "File", paths.source);
    if (options.mergeImages) requireMapBlock(second, "2nd file", paths.second);

    if (options.mergeImages) mergeDirectories(paths.source, image, second);
    if (listingRuns()) showDirectory(image, options.exportTrackSector ? 0 : 1);
    if (options.bamView) showBam(image);
    if (options.blockViewer) runBlockViewer(image);
    if (options.appendDel) appendDelEntry(image, paths.source);
    if (options.imageModified) writeDestination(image, paths);
    consoleFlush();
    return 0;
}
