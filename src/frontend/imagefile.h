// Image files: existence test, whole-file load and safe whole-file save, and
// the default destination name.
#pragma once

#include <cstdint>
#include <string>

#include "disk/image.h"

// 1 when the file can be opened for reading (on Windows also when it is a
// folder, which Linux opens too), else 0.
int imageExists(const std::string &path);

enum class LoadResult { Loaded, CannotOpen, CannotRead };

// Reads the whole file into `image` in one read. CannotRead covers a name that
// opens but does not read whole (a folder, a file that shrank); `image` is
// then left empty.
LoadResult loadImage(const std::string &path, ImageBuffer &image);

// Writes the whole buffer to a temporary file beside `path`, then renames it
// over `path`: on any failure (open, short write, close, rename) the temporary
// file is removed, an existing `path` stays as it was, and 1 is returned; 0 on
// success.
int saveImage(const ImageBuffer &image, const std::string &path);

// The last component of a path: the file's own name without its folder.
std::string fileNameOf(const std::string &path);

// The source name up to its extension's ".", followed by ".out.d64". Only a
// "." in the last path component counts. Returns false when there is none.
bool defaultDestination(const std::string &source, std::string &destination);
