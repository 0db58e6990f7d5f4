// The run order: parse the command line, load the images, run the requested
// actions in their fixed order, write the edited image once at the end.
#include "frontend/run.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/errors.h"
#include "base/filewrite.h"
#include "base/nametext.h"
#include "blocks/blocks.h"
#include "check/check.h"
#include "check/fix.h"
#include "check/layout.h"
#include "containers/containers.h"
#include "containers/cvt.h"
#include "directory/append.h"
#include "directory/dirart.h"
#include "directory/listing.h"
#include "directory/merge.h"
#include "edit/editors.h"
#include "disk/partition.h"
#include "frontend/archive.h"
#include "frontend/cmdline.h"
#include "frontend/imagefile.h"
#include "frontend/packfiles.h"
#include "gcr/gcrdisk.h"
#include "containers/lynx.h"
#include "files/extract.h"
#include "files/insert.h"
#include "make/blank.h"
#include "frontend/usage.h"
#include "make/copy.h"
#include "report/catalogue.h"
#include "report/json.h"
#include "views/bamview.h"
#include "views/blockviewer.h"

namespace {

// A path as the message on standard output (file errors) may show it.
std::string shownOnOutput(const std::string &path) { return consoleOutsideText(path, ConsoleStream::Output); }

// A path as the message on standard error (the error exit) may show it.
std::string shownOnError(const std::string &path) { return consoleOutsideText(path, ConsoleStream::Error); }

// Loads an image (a G64 or G71 decoded into its blocks); returns why it could
// not be loaded, in the words of the file errors with the path as it is
// ("File 'x' not found."), or an empty text when it was loaded. An image
// inside an archive is read from there. `ownFault`, when given, tells
// whether the reason is the archive's or the GCR image's own (one of the
// messages added with them) rather than a file error.
std::string loadProblem(const ImageName &name, const char *label, ImageBuffer &image, bool *ownFault = nullptr) {
    const std::string &path = name.file;
    if (ownFault) *ownFault = false;
    if (path.empty() || !imageExists(path)) return consoleFormatf("%s '%s' not found.", label, path.c_str());
    if (name.source != ImageSource::File || !name.problem.empty()) {
        std::string problem = name.problem.empty() ? loadArchivedImage(name, image) : name.problem;
        if (ownFault) *ownFault = !problem.empty();
        if (!problem.empty()) return consoleFormatf("%s '%s' %s.", label, name.shown.c_str(), problem.c_str());
        confirmShape(name.shown, image);
        return "";
    }
    uint64_t size = 0;
    LoadResult result = loadImage(path, image, size);
    if (result == LoadResult::TooLarge)
        return consoleFormatf("%s '%s' is too large for a disk image (%llu bytes).", label, path.c_str(),
                          static_cast<unsigned long long>(size));
    if (result != LoadResult::Loaded) return consoleFormatf("%s '%s' could not be read.", label, path.c_str());
    std::string fault = decodeGcrFile(path, image);
    if (ownFault) *ownFault = !fault.empty();
    if (!fault.empty()) return consoleFormatf("%s '%s' %s.", label, path.c_str(), fault.c_str());
    confirmShape(path, image);
    return "";
}

// The map view, the listing, the merge, the edits and the JSON report read
// block 18/0: why an image too short to hold it cannot be used, or "".
std::string mapBlockProblem(const ImageBuffer &image, const char *label, const std::string &path) {
    if (headerBlock(image) != nullptr) return "";
    return consoleFormatf("%s '%s' is too short to hold block 18/0 (%llu bytes).", label, path.c_str(),
                      static_cast<unsigned long long>(image.bytes.size()));
}

// A file error about an image; the message's only outside text is the path,
// so escaping the whole message for a terminal escapes just that.
[[noreturn]] void exitWithImageProblem(const std::string &problem) {
    exitWithFileError("ERROR: %s", consoleOutsideText(problem, ConsoleStream::Output).c_str());
}

// Loads an image, or ends with a file error naming it ("File" or "2nd file");
// an archive that gives no image, or several, ends the run with its message.
void loadOrExit(const std::string &path, const char *label, ImageBuffer &image) {
    bool ownFault = false;
    std::string problem = loadProblem(oneImageNamed(path), label, image, &ownFault);
    if (ownFault) exitWithMessage(1, "ERROR: %s", shownOnError(problem).c_str());
    if (!problem.empty()) exitWithImageProblem(problem);
}

// An image that cannot hold block 18/0 is refused before any action runs.
void requireMapBlock(const ImageBuffer &image, const char *label, const std::string &path) {
    std::string problem = mapBlockProblem(image, label, path);
    if (!problem.empty()) exitWithImageProblem(problem);
}

// The highest sector -block takes on a D64 or D71: beyond the 21 of the
// longest track, as it always has been.
constexpr int kD64MostViewSector = 25;

// Exit status of a run whose check found errors on the disk.
constexpr int kCheckFoundErrors = 3;

// A message about one image of many, on standard error, where the run goes on.
void reportImageProblem(const std::string &problem) {
    consoleErrorf("ERROR: %s\n", consoleOutsideText(problem, ConsoleStream::Error).c_str());
}

std::string partitionProblem(ImageBuffer &image, const RunPaths &paths);

// -json: every image in turn through one buffer, so memory stays that of the
// largest image; an image that cannot be listed gives its error line (and
// the message on standard error) and the run goes on. With -check each line
// carries the image's check. Status 1 when any failed, else 3 when a check
// found errors. With -part each image's line lists the partition entered
// (an image without it gives its error line).
int runJsonReport(const std::vector<ImageName> &images, const RunPaths &paths) {
    JsonReport report;
    startJsonReport(report);
    ImageBuffer image;
    CheckReport check;
    int status = 0;
    for (const ImageName &name : images) {
        const std::string &path = name.shown;
        std::string problem = loadProblem(name, "File", image);
        if (problem.empty()) problem = mapBlockProblem(image, "File", path);
        if (problem.empty()) problem = partitionProblem(image, paths);
        if (problem.empty()) {
            if (options.checkDisk) checkFindings(image, check);
            if (options.checkDisk && check.errors > 0 && status == 0) status = kCheckFoundErrors;
            printImageJson(report, path, image, options.checkDisk ? &check : nullptr, paths.partitions);
            continue;
        }
        printImageJsonError(report, path, problem);
        reportImageProblem(problem);
        status = 1;
    }
    exitIfOutputLost();
    return status;
}

// -csv over many images: one catalogue, a header row and the rows of every
// image in turn through one buffer; an image that cannot be listed gives its
// message on standard error and the run goes on. Status 1 when any failed.
int runCatalogue(const std::vector<ImageName> &images) {
    CsvCatalogue catalogue;
    printCatalogueHeader();
    ImageBuffer image;
    int status = 0;
    for (const ImageName &name : images) {
        const std::string &path = name.shown;
        std::string problem = loadProblem(name, "File", image);
        if (problem.empty()) problem = mapBlockProblem(image, "File", path);
        if (problem.empty()) {
            printCatalogueRows(catalogue, path, image);
            continue;
        }
        reportImageProblem(problem);
        status = 1;
    }
    exitIfOutputLost();
    return status;
}

// What -x writes around each file: a PC64 header with -p00, else nothing.
ContainerHeader extractContainer() { return options.extractPc64 ? pc64Header : nullptr; }

// How -x writes a GEOS file: a CVT file with -cvt, else its data chain alone.
const GeosForm kCvtForm{"cvt", writeCvt};
const GeosForm *extractGeosForm() { return options.extractCvt ? &kCvtForm : nullptr; }

// -x of one image: its files, or the one Lynx archive or ZipCode pack of
// them (named after `stem`) into `folder`.
std::string extractImage(const ImageBuffer &image, const std::string &folder, const std::string &stem,
                         ExtractedFiles *kept = nullptr) {
    if (options.extractLynx || options.extractZipCode) return writePackedImage(image, folder, stem, kept);
    return extractFiles(image, folder, extractContainer(), kept, extractGeosForm());
}

// The folder of each image's files when -x runs over many images: the
// image's name without its extension by the host-name rule, "~1", "~2", ...
// for names two images share, inside the -into folder; with -lnx or -zipcode
// the -into folder itself, and `stems` the names.
std::vector<std::string> imageFolders(const std::vector<ImageName> &images, const RunPaths &paths,
                                      std::vector<std::string> &stems) {
    std::vector<HostNameParts> parts;
    for (const ImageName &name : images) parts.push_back({folderNameOfImage(name), ""});
    stems = distinctHostNames(parts);
    std::string into = paths.into;
    if (options.extractLynx || options.extractZipCode) return std::vector<std::string>(stems.size(), into);
    if (!into.empty() && fileNameStart(into) != into.size()) into += '/';
    std::vector<std::string> folders;
    for (const std::string &stem : stems) folders.push_back(into + stem);
    return folders;
}

// What a run over many images counts for its last line and its status.
struct ImagesTally {
    int notRead;       // images that could not be read
    int notExtracted;  // images whose files could not be extracted
    int withErrors;    // images whose check found errors
    int errors;
    int warnings;
};

// -check and -x over many images: each in turn through one buffer, under a
// line that names it, with a blank line between; its check, then its
// extraction into a folder of its own (without either, as for the images of
// one archive, its listing). An image that cannot be read, or whose
// extraction fails, gives its message on standard error and the run goes on.
// With -check a line sums up all. Status 1 when an image failed, else 3 when
// a check found errors.
int runImages(const std::vector<ImageName> &images, const RunPaths &paths) {
    std::vector<std::string> folders, stems;
    if (options.extractFiles) {
        for (const std::string path : paths.images)
            if (isFolder(path))
                exitWithMessage(1, "ERROR: '%s' is a folder, not an image; give '-into %s' to extract into it.",
                                shownOnError(path).c_str(), shownOnError(path).c_str());
        folders = imageFolders(images, paths, stems);
    }
    ImagesTally tally{};
    ImageBuffer image;
    CheckReport check;
    bool first = true;
    for (size_t i = 0; i < images.size(); ++i) {
        const std::string &path = images[i].shown;
        std::string problem = loadProblem(images[i], "File", image);
        if (problem.empty() && (options.extractFiles || !options.checkDisk)) problem = mapBlockProblem(image, "File", path);
        if (problem.empty()) {
            consolePrintf("%s%s:\n", first ? "" : "\n", shownOnOutput(path).c_str());
            first = false;
            if (options.checkDisk) {
                checkFindings(image, check);
                printCheckReport(check);
                tally.withErrors += check.errors > 0;
                tally.errors += check.errors;
                tally.warnings += check.warnings;
            }
            if (options.extractFiles) problem = extractImage(image, folders[i], stems[i]);
            if (!options.checkDisk && !options.extractFiles) showDirectory(image, options.exportTrackSector ? 0 : 1);
            tally.notExtracted += !problem.empty();
        } else {
            ++tally.notRead;
        }
        if (!problem.empty()) reportImageProblem(problem);
    }
    if (options.checkDisk) {
        int count = static_cast<int>(images.size());
        consolePrintf("%s%i image%s: %i error%s, %i warning%s in all; %i image%s with errors", first ? "" : "\n",
                      count, plural(count), tally.errors, plural(tally.errors), tally.warnings,
                      plural(tally.warnings), tally.withErrors, plural(tally.withErrors));
        if (tally.notRead > 0) consolePrintf("; %i could not be read", tally.notRead);
        if (tally.notExtracted > 0) consolePrintf("; %i not extracted", tally.notExtracted);
        consolePrintf("\n");
    }
    exitIfOutputLost();
    return tally.notRead + tally.notExtracted > 0 ? 1 : tally.withErrors > 0 ? kCheckFoundErrors : 0;
}

// The -block position on the loaded image, settled before any action
// prints: the header block when no track was given; every number given to
// any -block, in command-line order, that is above the image's highest track
// (40 on a D64) or above sector 25 (39 on a D81, whose tracks have 40) is
// refused as it would have been on the command line.
void settleViewPosition(const ImageBuffer &image) {
    const DiskShape &shape = image.shape;
    if (options.viewTrack == 0) options.viewTrack = shape.systemTrack;
    int mostTrack = highestTrack(shape);
    int mostSector = std::max(kD64MostViewSector, sectorsPerTrack(shape, 1) - 1);
    for (const ViewNumber &given : options.viewNumbers) {
        int most = given.sector ? mostSector : mostTrack;
        if (given.value > most) exitWithError(1, "ERROR: Number (%i) too high. [Maximum: %i]", given.value, most);
    }
}

bool editorAsked() { return options.editDirectory || options.editBlocks || options.editMap; }

bool listingRuns() {
    return !options.blockViewer && !options.bamView && !options.appendDel && options.dirEdits.empty() &&
           !options.checkDisk && !options.fixMap && !options.extractFiles && !options.insertFiles &&
           !options.copyEntries && !options.makePartitions && options.blockCommands.empty() && !editorAsked() &&
           !options.convertImage;
}

// The name of a copied entry as the listing shows it, for a message on
// standard error: its disk codes as glyphs.
std::string copiedName(const CopiedFile &file) {
    std::string captured;
    consoleCaptureStart(captured);
    consoleDiskCodes(file.entry.name, file.entry.length);
    consoleCaptureStop();
    return consoleEscapeControls(consoleCapturedGlyphs(captured));
}

// The block commands in command-line order, each on the image as the ones
// before it left it; the host file of -bwrite and the image of -bcopy are
// read when the command runs. The first refusal ends the run, nothing written.
void runBlockCommands(ImageBuffer &image) {
    for (const BlockCommand &command : options.blockCommands) {
        ImageBuffer file;
        BlockInput input{nullptr, 0, nullptr};
        if (command.kind == BlockCommandKind::Write) {
            uint64_t size = 0;
            LoadResult result = loadImage(command.path, file, size);
            if (result != LoadResult::Loaded || size > kBlockSize)
                exitWithMessage(1, "ERROR: '%s': '%s' %s.", command.given.c_str(), shownOnError(command.path).c_str(),
                                result == LoadResult::Loaded || result == LoadResult::TooLarge
                                    ? "holds more than the 256 bytes of a block"
                                    : "could not be read");
            input.fileBytes = file.bytes.data();
            input.fileSize = file.bytes.size();
        }
        if (command.kind == BlockCommandKind::Copy && !command.path.empty()) {
            loadOrExit(command.path, "File", file);
            input.from = &file;
        }
        std::string problem = runBlockCommand(image, command, input);
        if (!problem.empty()) exitWithMessage(1, "%s", problem.c_str());
    }
}

// -edit, -bedit, -bamedit: the editor on the loaded image, writing to the
// destination a run with an edit would write (the name given, else the
// source's with ".out"). Refused without a terminal, before anything is read.
void requireTerminal() {
    const char *editor = options.editDirectory ? "-edit" : options.editBlocks ? "-bedit" : "-bamedit";
    if (!consoleIsInteractive())
        exitWithMessage(1, "ERROR: '%s' edits in a terminal; standard input and output must both be one.", editor);
}

// An editor's write: "" when written, else the status line's error; an
// image whose changed block cannot be written (a G64 block whose data block
// is not found) says why, in the words of a run's write.
std::string saveEdited(const ImageBuffer &image, const EditTarget &target) {
    ImageFileOut out = imageFileOut(image, target.destination);
    if (!out.problem.empty())
        return "ERROR: '" + consoleEscapeControls(target.imagePath) + "' " + out.problem + "; nothing was written.";
    if (writeWholeFile(target.destination, out.data, out.size, WriteMode::Replace) != WriteResult::Written)
        return "ERROR: Could not write '" + consoleEscapeControls(target.destination) + "'.";
    return "";
}

void runEditor(ImageBuffer &image, const RunPaths &paths) {
    EditTarget target{paths.source, paths.destination, saveEdited};
    const char *format = image.gcr ? gcrWrittenFormat(image) : image.shape.family->name;
    if (target.destination.empty() && !defaultDestination(paths.source, format, target.destination))
        exitWithError(1, "ERROR: Source file '%s' has no file extension.", shownOnError(paths.source).c_str());
    if (options.editBlocks) settleViewPosition(image);
    if (options.editDirectory) runDirectoryEditor(image, target);
    else runBlockEditor(image, target, options.editMap != 0);
}

// -copy: the chosen entries of `from`, each with its name and type bytes as
// they stand, inserted as -w inserts a file, its data read only then (one
// file in memory at a time). An entry that cannot be copied whole ends the
// run before any of the image's entries is inserted; a 1581 partition is no
// file: it is left out with a warning.
void copyEntries(ImageBuffer &image, InsertRun &run, const CopyRequest &copy, const ImageBuffer &from) {
    std::vector<CopiedFile> files, partitions;
    std::string problem = collectCopies(from, copy.first, copy.last, files, partitions);
    std::string shown = shownOnError(copy.image);
    for (const CopiedFile &partition : partitions)
        consoleErrorf("WARNING: '%s' entry %i \"%s\" is a 1581 partition, an area of the disk and no file; it is "
                      "not copied.\n", shown.c_str(), partition.number, copiedName(partition).c_str());
    if (!problem.empty()) exitWithMessage(1, "ERROR: '%s' %s; nothing was written.", shown.c_str(), problem.c_str());
    std::vector<uint8_t> data;
    FileStructure structure;
    for (const CopiedFile &file : files) {
        readCopiedFile(from, file, structure, data);
        insertStructuredFile(image, run, copy.image + " entry " + std::to_string(file.number), file.entry,
                             kDriveInsert, structure, data.data(), data.size());
    }
}

// The copies and new partitions given before the `inserted`-th -w file (all
// that are left after the last) that have not run yet, in command-line
// order; `copies` and `partitions` count those that have. `copied` holds the
// image of each copy, loaded at the start of the run.
void stepsBefore(ImageBuffer &image, InsertRun &run, const RunPaths &paths, const std::vector<ImageBuffer> &copied,
                 size_t inserted, size_t &copies, size_t &partitions) {
    for (;;) {
        if (partitions < paths.newPartitions.size()) {
            const PartitionRequest &made = paths.newPartitions[partitions];
            if (made.afterInserts <= inserted && made.afterCopies <= copies) {
                makePartition(image, run, made.shown, made.name, made.blocks);
                ++partitions;
                continue;
            }
        }
        if (copies >= paths.copies.size() || paths.copies[copies].afterInserts > inserted) return;
        copyEntries(image, run, paths.copies[copies], copied[copies]);
        ++copies;
    }
}

// The host files of one -w argument (hostFilesOf): a folder or pattern that
// gives none, or whose folder cannot be read, ends the run; so does -wname
// with a folder or pattern, which would give all its files one name.
std::vector<std::string> requireHostFiles(const std::string &path, const InsertSettings &settings) {
    HostFiles files = hostFilesOf(path);
    if (files.kind == HostFilesKind::One) return files.paths;
    std::string shown = shownOnError(path);
    const char *what = files.kind == HostFilesKind::Folder ? "the folder" : "the folder of";
    if (!files.readable) exitWithMessage(1, "ERROR: Could not read %s '-w %s'.", what, shown.c_str());
    if (files.paths.empty())
        exitWithMessage(1, "ERROR: No file for '-w %s': %s holds no %sfile.", shown.c_str(),
                        files.kind == HostFilesKind::Folder ? "the folder" : "its folder",
                        files.kind == HostFilesKind::Folder ? "" : "matching ");
    if (settings.name.length > 0)
        exitWithMessage(1, "ERROR: '-wname' names one file, but '-w %s' names a folder or pattern.", shown.c_str());
    return files.paths;
}

// Inserts one host file: its name read first, then the file read whole as an
// image is (a regular file, never a FIFO or device). A file too large for any
// disk image cannot fit this one either. A PC64 file or T64 tape image gives
// the files it carries, named as it names them; one that cannot be read whole
// ends the run before any of its files is inserted, and its warnings come
// first. A tape's files lie in its buffer, each inserted from there.
void insertHostFile(ImageBuffer &image, InsertRun &run, const std::string &path, const InsertSettings &settings) {
    std::string fileName = path.substr(fileNameStart(path));
    HostFileKind kind = hostFileKindOf(fileName);
    HostFileEntry entry{};
    if (kind == HostFileKind::Plain) entry = requireEntryName(path, fileName, settings);
    // A container names and types each file it carries itself.
    if (kind != HostFileKind::Plain && (settings.name.length > 0 || settings.typeByte >= 0))
        exitWithMessage(1, "ERROR: '%s' names and types the files it carries; '-wname', '-wtype' and '-wrel' do "
                           "not apply to it.", shownOnError(path).c_str());
    ImageBuffer file;
    uint64_t size = 0;
    LoadResult result = loadImage(path, file, size);
    if (result == LoadResult::TooLarge)
        exitWithMessage(2, "ERROR: Disk full '%s'! '%s' holds %llu bytes, more than any disk image.",
                        run.growth.path.c_str(), shownOnError(path).c_str(), static_cast<unsigned long long>(size));
    if (result != LoadResult::Loaded) exitWithMessage(1, "ERROR: Could not read '%s'.", shownOnError(path).c_str());
    if (kind == HostFileKind::Plain && settings.recordLength > 0) {
        insertRelFile(image, run, path, entry, settings, settings.recordLength, file.bytes.data(), file.bytes.size());
        return;
    }
    if (kind == HostFileKind::Plain) {
        insertFile(image, run, path, entry, settings, file.bytes.data(), file.bytes.size());
        return;
    }
    const uint8_t *bytes = file.bytes.data();
    size_t length = file.bytes.size();
    ContainerRead read = kind == HostFileKind::Pc64  ? readPc64(fileName, bytes, length)
                         : kind == HostFileKind::Cvt  ? readCvt(bytes, length)
                         : kind == HostFileKind::Lynx ? readLynx(bytes, length)
                                                      : readTape(bytes, length);
    if (!read.problem.empty())
        exitWithMessage(1, "ERROR: '%s' %s; nothing was written.", shownOnError(path).c_str(), read.problem.c_str());
    for (const std::string &warning : read.warnings)
        consoleErrorf("WARNING: '%s': %s.\n", shownOnError(path).c_str(), warning.c_str());
    std::vector<uint8_t> data;  // one file at a time: a tape's files may share their bytes
    for (const ContainedFile &contained : read.files) {
        containedData(file.bytes.data(), contained, data);
        insertStructuredFile(image, run, path, contained.entry, settings, contained.structure, data.data(),
                             data.size());
    }
}

// -w: each argument's host files (one, a folder's or a pattern's) in
// command-line order, the copies of -copy among them where they were given.
void insertHostFiles(ImageBuffer &image, const RunPaths &paths, const std::string &imagePath,
                     const std::vector<ImageBuffer> &copied) {
    PlacementRules rules = drivePlacement(image.shape);
    if (options.fileInterleave) rules.interleave = options.fileInterleave;
    rules.systemTrack = options.useSystemTrack != 0;
    if (options.useTracks36To40) {
        MapExtension extension = findMapExtension(image);
        if (extension == MapExtension::None)
            exitWithMessage(1, "ERROR: '-tracks40' places files on tracks 36-40, but '%s' keeps no map of them (a "
                               "40-track D64 with a SpeedDOS or DolphinDOS map does).",
                            shownOnError(imagePath).c_str());
        rules.extensionOffset = mapExtensionOffset(extension);
    }
    InsertRun run = startInserts(image, imagePath, rules);
    if (!paths.partitions.empty()) run.partition = shownOnError(paths.partitions.back());
    size_t copies = 0, partitions = 0;
    for (size_t i = 0; i < paths.inserts.size(); ++i) {
        stepsBefore(image, run, paths, copied, i, copies, partitions);
        const InsertSettings &settings = options.insertSettings[i];
        for (const std::string &path : requireHostFiles(paths.inserts[i], settings))
            insertHostFile(image, run, path, settings);
    }
    stepsBefore(image, run, paths, copied, paths.inserts.size(), copies, partitions);
}

// The message for a -new whose name is taken; nothing has been written.
[[noreturn]] void exitNameTaken(const std::string &path) {
    exitWithMessage(1, "ERROR: '%s' already exists; '-new' never replaces a file.", shownOnError(path).c_str());
}

// -new: the blank image of the family the name's extension gives (.d64,
// .d71, .d81, any case), 40 tracks with -40 and error bytes with -errorbytes.
// Refused, before anything else runs, for another extension and for a name
// something already stands at (the write itself refuses one that appears meanwhile).
void makeNewImage(const std::string &path, const RunPaths &paths, ImageBuffer &image) {
    if (!paths.zipDisk.empty()) {
        if (fileExtension(path) != kFamilyD64.name)
            exitWithMessage(1, "ERROR: '-zipdisk' makes a D64; name the new image .d64, not '%s'.",
                            shownOnError(path).c_str());
        NewFiles here;
        if (nameTaken(here, path))
            exitWithMessage(1, "ERROR: '%s' already exists; '-zipdisk' never replaces a file.", shownOnError(path).c_str());
        std::string problem = loadZipCodeDisk(paths.zipDisk, image);
        if (!problem.empty()) exitWithMessage(1, "ERROR: %s", problem.c_str());
        return;
    }
    const DiskFamily *family = familyOfExtension(fileExtension(path));
    if (!family)
        exitWithMessage(1, "ERROR: '-new' takes the kind of disk from the name's extension: .d64, .d71, .d81, .g64 "
                           "or .g71, not '%s'.", shownOnError(path).c_str());
    if (options.newMapTracks40 && family != &kFamilyD64)
        exitWithMessage(1, "ERROR: '-40' makes a D64 of 40 tracks; '%s' names a %s.", shownOnError(path).c_str(),
                        family->name);
    NewFiles here;
    if (nameTaken(here, path)) exitNameTaken(path);
    ExtendedMap map = options.newMapTracks40 == 1   ? ExtendedMap::SpeedDos
                      : options.newMapTracks40 == 2 ? ExtendedMap::DolphinDos
                                                    : ExtendedMap::None;
    image = makeBlankImage({family, map, options.newErrorBytes != 0, options.newName.bytes, options.newName.length,
                            options.newId.bytes});
}

// -part: enters each partition named, the next inside the one before; the
// image's shape becomes that of the innermost, so every action works inside
// it. Returns why it could not (a name no entry has, a CBM entry that cannot
// be a sub-directory or one never formatted inside), else "": a message whose
// only outside text is the name as given.
std::string partitionProblem(ImageBuffer &image, const RunPaths &paths) {
    for (size_t i = 0; i < options.partitions.size(); ++i) {
        const NameText &name = options.partitions[i];
        const std::string &shown = paths.partitions[i];
        const uint8_t *slot = findEntryNamed(image, name.bytes, name.length);
        if (!slot) return consoleFormatf("No entry named '%s' in the directory from %i/0.", shown.c_str(),
                                     image.shape.systemTrack);
        DiskShape inside;
        PartitionFit fit = partitionShape(image.shape, slot, inside);
        if (fit != PartitionFit::Fits)
            return consoleFormatf("'%s' cannot be entered as a sub-directory: %s.", shown.c_str(), partitionFitText(fit));
        if (!partitionFormatted(image, inside))
            return consoleFormatf("Partition '%s' (tracks %i-%i) holds no 1581 header and map at %i/0-%i/2; it was "
                              "never formatted inside.", shown.c_str(), inside.areaFirst, inside.areaLast,
                              inside.systemTrack, inside.systemTrack);
        image.shape = inside;
    }
    return "";
}

// -part on the run of one image: a partition that cannot be entered ends it
// with status 1.
void enterPartitions(ImageBuffer &image, const RunPaths &paths) {
    std::string problem = partitionProblem(image, paths);
    if (!problem.empty()) exitWithMessage(1, "ERROR: %s", shownOnError(problem).c_str());
}

// True when an -undel (undeletes) or another directory-art edit was given.
bool editsGiven(bool undeletes) {
    return std::any_of(options.dirEdits.begin(), options.dirEdits.end(),
                       [undeletes](const DirEdit &edit) { return (edit.kind == DirEditKind::Undelete) == undeletes; });
}

// -convert: an image read from GCR and written as a block image prints what
// was read; a family the destination's extension does not name, or a GCR
// image whose track table is one entry off, is refused.
void reportConversion(const ImageBuffer &image, const std::string &imagePath, const std::string &destination) {
    const DiskFamily *family = familyOfExtension(fileExtension(destination));
    if (family && family != image.shape.family)
        exitWithMessage(1, "ERROR: '%s' is a %s image; '-convert' cannot write it as '%s'.",
                        shownOnError(imagePath).c_str(), image.shape.family->name, shownOnError(destination).c_str());
    std::string extension = fileExtension(destination);
    if (!image.gcr || extension == "g64" || extension == "g71") return;
    readAllTracks(image);
    if (image.gcr->shiftedTrack)
        exitWithMessage(1, "ERROR: '%s': track %i holds the sectors of track %i (the track table is one entry off); "
                           "nothing was written.", shownOnError(imagePath).c_str(), image.gcr->shiftedTrack,
                        image.gcr->shiftedFrom);
    printGcrConversion(image);
}

// Writes the edited image. Every way it can fail first takes back the files
// an -x of the same run wrote (`extracted`): the run then leaves nothing.
void writeDestination(const ImageBuffer &image, const RunPaths &paths, const std::string &imagePath,
                      ExtractedFiles &extracted) {
    std::string destination = paths.destination;
    if (options.convertImage) reportConversion(image, imagePath, destination);
    consolePrintf("\n");
    if (destination.empty()) {
        const char *format = image.gcr ? gcrWrittenFormat(image) : image.shape.family->name;
        if (!defaultDestination(paths.source, format, destination)) {
            takeBackExtraction(extracted);
            exitWithError(1, "ERROR: Source file '%s' has no file extension.", shownOnError(paths.source).c_str());
        }
        consolePrintf("Destination file set to '%s'.\n", shownOnOutput(destination).c_str());
    }
    ImageFileOut out = imageFileOut(image, destination);
    if (!out.problem.empty()) {
        takeBackExtraction(extracted);
        exitWithMessage(1, "ERROR: '%s' %s; nothing was written.", shownOnError(imagePath).c_str(), out.problem.c_str());
    }
    // Output that did not arrive must not be followed by a written file.
    if (consoleLostStream()) takeBackExtraction(extracted);
    exitIfOutputLost();
    WriteResult result = writeWholeFile(destination, out.data, out.size,
                                        options.newImage ? WriteMode::CreateNew : WriteMode::Replace);
    if (result == WriteResult::Written) return;
    takeBackExtraction(extracted);
    if (result == WriteResult::AlreadyExists) exitNameTaken(destination);
    exitWithMessage(1, "ERROR: Could not write '%s'.", shownOnError(destination).c_str());
}

// The images that the plain arguments of a run over many images give: an
// archive's one after another, in its order.
std::vector<ImageName> namedImages(const std::vector<const char *> &paths) {
    std::vector<ImageName> images;
    for (const char *path : paths)
        for (ImageName &name : imagesNamed(path)) images.push_back(std::move(name));
    return images;
}

// An edit of an image inside an archive is refused before anything is read:
// kestrel writes no archive, and a destination beside it would be named after
// the archive, not the image.
void refuseArchiveEdits(const std::vector<ImageName> &source) {
    if (!options.imageModified || (source.size() == 1 && source.front().source == ImageSource::File)) return;
    const std::string &shown = source.size() == 1 ? source.front().shown : source.front().file;
    exitWithMessage(1, "ERROR: '%s' lies inside an archive, which kestrel never writes; unpack the image "
                       "(unzip, gunzip) and edit that.", shownOnError(shown).c_str());
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
    if (options.jsonReport) return runJsonReport(namedImages(paths.images), paths);
    if (!paths.images.empty() && !options.checkDisk && !options.extractFiles) return runCatalogue(namedImages(paths.images));
    if (!paths.images.empty()) return runImages(namedImages(paths.images), paths);
    if (!options.newImage) {
        std::vector<ImageName> source = imagesNamed(paths.source);
        refuseArchiveEdits(source);
        // An archive of several images: the listing, -csv, -check and -x take each in turn.
        if (source.size() > 1 && !options.imageModified && !options.blockViewer && !options.bamView)
            return options.csvOutput && !options.checkDisk && !options.extractFiles ? runCatalogue(source)
                                                                                     : runImages(source, paths);
    }

    if (editorAsked()) requireTerminal();
    ImageBuffer image;
    ImageBuffer second;
    // The image the run works on: loaded, or made blank by -new (which has no source).
    const std::string &imagePath = options.newImage ? paths.destination : paths.source;
    if (options.newImage) makeNewImage(paths.destination, paths, image);
    else loadOrExit(paths.source, "File", image);
    // An edit, and an editor's undo copy, work on every track: a GCR image
    // decodes them all now rather than one by one behind a copy's back.
    if (options.imageModified || editorAsked()) readAllTracks(image);
    if (options.secondImageNeeded) {
        if (paths.second.empty()) exitWithError(1, "ERROR: Name of second file missing.");
        loadOrExit(paths.second, "2nd file", second);
    }
    std::vector<ImageBuffer> copied(paths.copies.size());
    for (size_t i = 0; i < paths.copies.size(); ++i) loadOrExit(paths.copies[i].image, "File", copied[i]);
    if (options.mergeImages || listingRuns() || options.bamView || !options.dirEdits.empty() || options.fixMap ||
        options.extractFiles || options.insertFiles || options.copyEntries || options.makePartitions || editorAsked())
        requireMapBlock(image, "File", imagePath);
    if (options.mergeImages) requireMapBlock(second, "2nd file", paths.second);
    if (!options.partitions.empty()) {
        requireMapBlock(image, "File", imagePath);
        enterPartitions(image, paths);
    }
    for (size_t i = 0; i < paths.copies.size(); ++i) requireMapBlock(copied[i], "File", paths.copies[i].image);

    if (options.blockViewer) settleViewPosition(image);

    if (options.mergeImages) mergeDirectories(paths.source, paths.second, image, second);
    if (listingRuns()) requireEditsMade(showDirectory(image, options.exportTrackSector ? 0 : 1));
    if (options.bamView) showBam(image);
    if (options.blockViewer) runBlockViewer(image);
    for (int i = 0; i < options.appendDel; ++i) appendDelEntry(image, imagePath);
    // -undel before the inserts, the other edits after them, so that an edit
    // can name a file inserted in the same run.
    bool inserts = options.insertFiles || options.copyEntries || options.makePartitions;
    if (!inserts && !options.dirEdits.empty()) applyDirectoryEdits(image, DirEditPass::All);
    if (inserts) {
        if (editsGiven(true)) applyDirectoryEdits(image, DirEditPass::Undeletes);
        insertHostFiles(image, paths, imagePath, copied);
        if (editsGiven(false)) applyDirectoryEdits(image, DirEditPass::AllButUndeletes);
    }
    if (editorAsked()) {
        runEditor(image, paths);
        exitIfOutputLost();
        return 0;
    }
    runBlockCommands(image);
    if (options.fixMap) fixMap(image);
    int status = 0;
    if (options.checkDisk && checkImage(image) > 0) status = kCheckFoundErrors;
    ExtractedFiles extracted;
    if (options.extractFiles) {
        const std::string &named = options.newImage ? paths.destination : paths.source;
        std::string problem = extractImage(image, paths.into, folderNameOfImage(oneImageNamed(named)), &extracted);
        if (!problem.empty()) exitWithMessage(1, "ERROR: %s", shownOnError(problem).c_str());
    }
    if (options.imageModified) writeDestination(image, paths, imagePath, extracted);
    keepExtraction(extracted);
    exitIfOutputLost();
    return status;
}
