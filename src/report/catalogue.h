// The CSV catalogue: the entries of many images as one table that a strict
// RFC 4180 reader takes (-csv with two or more images). A header row, then one
// row per entry the listing shows, the image's path in the first column;
// fields separated by commas, quoted only where they hold a comma, a quote or
// a line end, rows ended by CR LF. Names are the glyphs -json gives (UTF-8,
// the padding at the end left out); numbers are decimal, the CRC-32 is eight
// hex digits, and a figure that -json gives as null is an empty field. The
// CSV lines of one image (the listing's -csv form) are not made here.
#pragma once

#include <string>

#include "disk/chain.h"
#include "disk/image.h"

// What a catalogue run keeps from one image to the next: the rows being
// built and the measures of the image being read.
struct CsvCatalogue {
    std::string rows;
    MeasureCache measures;
};

// Prints the header row.
void printCatalogueHeader();

// Prints the rows of one loaded image that holds its header block, every
// slot with -va (showAll), as the listing walks them. `path` is the image as
// given; its control codes and bytes that are not UTF-8 become U+FFFD.
void printCatalogueRows(CsvCatalogue &catalogue, const std::string &path, const ImageBuffer &image);
