// Lynx archives and ZipCode packs as host files.
#include "frontend/packfiles.h"

#include <cstdint>
#include <vector>

#include "base/console.h"
#include "base/errors.h"
#include "base/filewrite.h"
#include "base/options.h"
#include "containers/lynx.h"
#include "containers/zipcode.h"
#include "frontend/imagefile.h"

namespace {

// One file to write.
struct PackedFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

// The files of the pack or archive that -x asks for, or why there are none.
std::string packedFiles(const ImageBuffer &image, const std::string &stem, std::vector<PackedFile> &files,
                        int &lynxFiles) {
    if (options.extractLynx) {
        files.push_back({stem + ".lnx", {}});
        return lynxOfImage(image, kExtractBoundFactor * static_cast<uint64_t>(image.bytes.size()), files.back().bytes,
                           lynxFiles);
    }
    std::vector<std::vector<uint8_t>> parts;
    std::string problem = zipCodeOfImage(image, parts);
    if (!problem.empty()) return "The image " + problem + "; nothing was written.";
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string name(1, static_cast<char>('1' + i));
        name += '!';
        files.push_back({name + stem, std::move(parts[i])});
    }
    return "";
}

}  // namespace

std::string writePackedImage(const ImageBuffer &image, const std::string &folderPath, const std::string &stem,
                             ExtractedFiles *kept) {
    std::vector<PackedFile> files;
    int lynxFiles = 0;
    std::string problem = packedFiles(image, stem, files, lynxFiles);
    if (!problem.empty()) return problem;
    ExtractedFiles own;
    ExtractedFiles &run = kept ? *kept : own;
    if (!folderPath.empty()) {
        std::string failedAt;
        FolderResult opened = openOutputFolder(folderPath, run.folder, failedAt);
        if (opened != FolderResult::Opened) return "Could not open or make the folder '" + failedAt + "'; nothing was written.";
        run.written.folder = &run.folder;
    }
    for (const PackedFile &file : files) {
        if (!nameTaken(run.written, file.name)) continue;
        closeOutputFolder(run.folder, true);
        return "'" + run.folder.shown + file.name + "' exists already; nothing was written.";
    }
    if (consoleLostStream()) closeOutputFolder(run.folder, true);
    exitIfOutputLost();
    for (const PackedFile &file : files) {
        if (writeNewFile(run.written, file.name, file.bytes.data(), file.bytes.size()) == WriteResult::Written) continue;
        removeNewFiles(run.written);
        closeOutputFolder(run.folder, true);
        return "Could not write '" + run.folder.shown + file.name + "'; nothing was written.";
    }
    std::string failed;
    if (WriteResult named = nameNewFiles(run.written, failed); named != WriteResult::Written) {
        closeOutputFolder(run.folder, true);
        return named == WriteResult::AlreadyExists
                   ? "'" + run.folder.shown + failed + "' exists already; nothing was written."
                   : "Could not write '" + run.folder.shown + failed + "'; nothing was written.";
    }
    std::string shownFolder = consoleOutsideText(run.folder.shown, ConsoleStream::Output);
    for (const PackedFile &file : files) {
        std::string name = consoleOutsideText(file.name, ConsoleStream::Output);
        int size = static_cast<int>(file.bytes.size());
        if (options.extractLynx)
            consolePrintf("%s%s (%i file%s, %i byte%s)\n", shownFolder.c_str(), name.c_str(), lynxFiles,
                          plural(lynxFiles), size, plural(size));
        else consolePrintf("%s%s (%i byte%s)\n", shownFolder.c_str(), name.c_str(), size, plural(size));
    }
    if (consoleLostStream()) {
        removeNewFiles(run.written);
        closeOutputFolder(run.folder, true);
    }
    exitIfOutputLost();
    if (!kept) closeOutputFolder(run.folder, false);
    return "";
}

std::string loadZipCodeDisk(const std::string &path, ImageBuffer &image) {
    size_t nameStart = fileNameStart(path);
    std::string folder = path.substr(0, nameStart), name = path.substr(nameStart);
    if (zipCodePart(name) > 0) name = name.substr(2);
    std::vector<std::vector<uint8_t>> parts(kZipCodeParts);
    for (int part = 1; part <= kZipCodeParts; ++part) {
        std::string file = folder;
        file += static_cast<char>('0' + part);
        file += '!';
        file += name;
        bool optional = part == kZipCodeParts;
        if (optional && !imageExists(file)) break;
        ImageBuffer bytes;
        uint64_t size = 0;
        LoadResult result = loadImage(file, bytes, size);
        std::string shown = consoleOutsideText(file, ConsoleStream::Error);
        if (result != LoadResult::Loaded)
            return "Could not read '" + shown + "', " + (result == LoadResult::TooLarge ? "too large for " : "") +
                   "a file of the ZipCode pack '" + consoleOutsideText(path, ConsoleStream::Error) + "'.";
        parts[static_cast<size_t>(part - 1)].assign(bytes.bytes.begin(), bytes.bytes.end());
    }
    int badPart = 0;
    std::string problem = diskOfZipCode(parts, image, badPart);
    if (problem.empty()) return "";
    std::string file = folder;
    file += static_cast<char>('0' + badPart);
    file += '!';
    file += name;
    std::string message = "'";
    message += consoleOutsideText(file, ConsoleStream::Error);
    message += "' ";
    return message + problem + "; nothing was written.";
}
