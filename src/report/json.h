// The JSON report: one image as one line of JSON (JSON Lines), for programs
// that catalogue many images. It reads the directory as the listing does (the
// same entries, numbers and measures) and prints nothing else; the front end
// loads the images one at a time and hands each over.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/checkreport.h"
#include "disk/chain.h"
#include "disk/image.h"

// The line being built: a byte buffer that only grows, filled through small
// inline appends (std::string's own took a third of a report's time).
struct JsonLine {
    std::vector<char> bytes;
    size_t used = 0;

    // Room for `count` more bytes; returns where they go. Small enough to be
    // inlined into every append; growing is the rare case.
    char *room(size_t count) {
        if (bytes.size() - used < count) grow(count);
        return bytes.data() + used;
    }
    void grow(size_t count);
    void add(char byte) {
        *room(1) = byte;
        ++used;
    }
    void add(const char *text, size_t count) {
        std::memcpy(room(count), text, count);
        used += count;
    }
};

// What a report run keeps from one image to the next, so that a run over
// thousands of images allocates nothing per image after the first: the line
// being built, the measures of the image being read, and the JSON text of
// each disk code's glyph under the options of the run.
struct JsonReport {
    JsonLine line;
    MeasureCache measures;
    char glyphText[256][8];      // diskGlyph(code) with '"' and '\' escaped, NUL-terminated
    uint8_t glyphLength[256];    // its length in bytes
};

// Fills the glyph texts from the options (-p, -vo, -U, -Ul); call once after
// the command line is read.
void startJsonReport(JsonReport &report);

// Prints the line of one image that is loaded and holds block 18/0: path,
// length, tracks, error bytes, disk name, id, blocks free, how the directory
// walk ended, and the entries the listing shows (every slot with showAll).
// Text fields are UTF-8 glyphs; the _hex fields give the raw bytes. A path
// that is not UTF-8 has each stray byte replaced by U+FFFD. With `check`
// (-check), the line ends with its counts, figures and findings, each finding's
// text as -check words it. With `partitions` (the names -part entered, the
// image's shape then that of the innermost), the line names them and lists
// that sub-directory.
void printImageJson(JsonReport &report, const std::string &path, const ImageBuffer &image,
                    const CheckReport *check, const std::vector<std::string> &partitions = {});

// Prints the line of an image that could not be listed: its path and the message.
void printImageJsonError(JsonReport &report, const std::string &path, const std::string &message);

// Text from outside (a path) as well-formed UTF-8 without control codes: each
// control (C0, DEL, C1) and each byte that does not begin a well-formed
// sequence becomes U+FFFD.
std::string wellFormedText(const std::string &text);
