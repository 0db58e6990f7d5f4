// The command-line parser.
#include "frontend/cmdline.h"

#include <cstring>

#include "base/charmap.h"
#include "base/errors.h"
#include "frontend/numbers.h"

namespace {

// Cursor over argv: the options below consume their values through it.
struct ArgCursor {
    int argc;
    char **argv;
    int next;  // index of the next unread argument

    bool hasNext(int count = 1) const { return next + count <= argc; }
    const char *peek() const { return argv[next]; }
    const char *take() { return argv[next++]; }
};

void applyViewLetters(const char *arg) {
    if (std::strlen(arg) == 2) exitWithError(1, "ERROR: Missing sub option for -v.");
    for (const char *c = arg; *c; ++c) {
        switch (*c) {
            case 'o': options.rawCharacters = 1; break;
            case 'p': options.activeCharMap = alternativeCharMap; break;
            case 'a': options.showAll = 1; break;
            case 'n': options.showNumbers = 1; break;
            case 't': options.showTrackSector = 1; break;
            case 's': options.showStartAddress = 1; break;
            case 'f': options.showFileSize = 1; break;
            case 'b': options.showBlockCount = 1; break;
            case 'c': options.showChecksum = 1; break;
            default: break;
        }
    }
}

void setAllColumns() {
    options.csvOutput = options.showNumbers = options.showTrackSector = 1;
    options.showStartAddress = options.showFileSize = 1;
    options.showBlockCount = options.showChecksum = 1;
}

// "-rd"/"-sd" num [last]: num is always consumed, last only when whole.
void readEntryRange(ArgCursor &args, const char *missingMessage) {
    if (!args.hasNext()) exitWithError(1, "%s", missingMessage);
    options.firstEntry = parseNumberArg(args.take(), 0, 255);
    if (args.hasNext() && isWholeNumber(args.peek()))
        options.lastEntry = parseNumberArg(args.take(), 0, 255);
    else
        options.lastEntry = options.firstEntry;
}

// "-block" [track [sector]]: each only when it is a whole number.
void readViewPosition(ArgCursor &args) {
    options.viewTrack = 18;
    options.viewSector = 0;
    if (!args.hasNext() || !isWholeNumber(args.peek())) return;
    options.viewTrack = parseNumberArg(args.take(), 1, 40);
    if (args.hasNext() && isWholeNumber(args.peek()))
        options.viewSector = parseNumberArg(args.take(), 0, 25);
}

// "-start" num addr: both consumed whatever they are.
void readStartChange(ArgCursor &args) {
    if (!args.hasNext(2)) exitWithError(1, "ERROR: Arguments for '-start' missing.");
    options.startEntry = parseNumberArg(args.take(), 0, 255);
    options.newStartAddress = parseNumberArg(args.take(), 0, 65535);
}

void placePlainArgument(const char *arg, RunPaths &paths) {
    if (options.jsonReport) paths.images.push_back(arg);
    else if (paths.source.empty()) paths.source = arg;
    else if (options.secondImageNeeded && paths.second.empty()) paths.second = arg;
    else if (options.imageModified && paths.destination.empty()) paths.destination = arg;
    else exitWithError(1, "ERROR: Bad argument %s", arg);
}

// One argument, by the first rule that matches; values are consumed from args.
void applyArgument(const char *arg, ArgCursor &args, RunPaths &paths) {
    auto is = [arg](const char *name) { return std::strcmp(arg, name) == 0; };
    if (is("-p")) {
        options.activeCharMap = alternativeCharMap;
    } else if (std::strncmp(arg, "-v", 2) == 0) {
        applyViewLetters(arg);
    } else if (is("-csv")) {
        setAllColumns();
    } else if (is("-e")) {
        options.showTrackSector = options.exportTrackSector = 1;
    } else if (is("-rd")) {
        options.removeEntries = options.imageModified = 1;
        readEntryRange(args, "ERROR: Integer after '-rd' missing.");
    } else if (is("-sd")) {
        options.scratchEntries = options.imageModified = 1;
        readEntryRange(args, "ERROR: Integer after '-s' missing.");
    } else if (is("-block")) {
        options.blockViewer = 1;
        readViewPosition(args);
    } else if (is("-bam")) {
        options.bamView = 1;
    } else if (is("-merge")) {
        options.mergeImages = options.imageModified = options.secondImageNeeded = 1;
    } else if (is("-adel")) {
        options.appendDel = options.imageModified = 1;
    } else if (is("-start")) {
        options.changeStartAddress = options.imageModified = 1;
        readStartChange(args);
    } else if (is("-json")) {
        // Set before the first argument was read: see parseCommandLine.
    } else if (is("-utf8")) {
        options.utf8Output = 1;
    } else if (is("-U")) {
        options.glyphSet = kGlyphsC64Upper;
    } else if (is("-Ul")) {
        options.glyphSet = kGlyphsC64Lower;
    } else if (arg[0] == '-') {
        exitWithError(1, "ERROR: Unknown option '%s'.", arg);
    } else {
        placePlainArgument(arg, paths);
    }
}

// The JSON report lists images and nothing else.
void refuseJsonConflicts(const RunPaths &paths) {
    if (!options.jsonReport) return;
    if (options.imageModified) exitWithError(1, "ERROR: '-json' cannot be combined with an editing option.");
    if (options.blockViewer || options.bamView || options.exportTrackSector)
        exitWithError(1, "ERROR: '-json' cannot be combined with '-block', '-bam' or '-e'.");
    if (paths.images.empty()) exitWithError(1, "ERROR: No image named for '-json'.");
}

}  // namespace

RunPaths parseCommandLine(int argc, char **argv) {
    RunPaths paths;
    // -json changes what every plain argument is, those before it included.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-json") == 0) options.jsonReport = 1;
    ArgCursor args{argc, argv, 1};
    while (args.hasNext()) applyArgument(args.take(), args, paths);
    refuseJsonConflicts(paths);
    return paths;
}
