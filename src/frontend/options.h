// The program-wide settings record and the command-line parser that fills it.
#pragma once

#include <string>

struct Options {
    int showAll;            /* "a": list slots whose type byte is 0 too */
    int showNumbers;        /* "n", -csv: entry number column */
    int showTrackSector;    /* "t", -csv, -e: track/sector column, export collection */
    int showStartAddress;   /* "s", -csv: start address column */
    int showFileSize;       /* "f", -csv: byte size column */
    int showBlockCount;     /* "b", -csv: real block count column */
    int showChecksum;       /* "c", -csv: CRC-32 column */
    int csvOutput;          /* -csv: semicolon-separated lines */
    int exportTrackSector;  /* -e: print the export instead of the listing */
    int removeEntries;      /* -rd: clear the slots firstEntry..lastEntry */
    int scratchEntries;     /* -sd: zero the type bytes of firstEntry..lastEntry */
    int firstEntry;         /* -rd/-sd num, 0..255 */
    int lastEntry;          /* -rd/-sd last, 0..255 (else equal to firstEntry) */
    int changeStartAddress; /* -start: give one entry a new start address */
    int startEntry;         /* -start num, 0..255 */
    int newStartAddress;    /* -start addr, 0..65535 */
    int blockViewer;        /* -block: run the interactive block viewer */
    int viewTrack;          /* viewer position: track (moved by the viewer's keys) */
    int viewSector;         /* viewer position: sector (never corrected) */
    int bamView;            /* -bam: print the availability map */
    int secondImageNeeded;  /* -merge: the next plain argument names the 2nd image */
    int mergeImages;        /* -merge: append the 2nd image's directory */
    int appendDel;          /* -adel: append an empty DEL entry */
    int imageModified;      /* any edit: write the image, accept a destination name */
    const unsigned char *activeCharMap; /* defaultCharMap or alternativeCharMap */
    int rawCharacters;      /* "o": print disk characters unconverted */
};

extern Options options;

// Names taken from the plain arguments; empty until one is placed.
struct RunPaths {
    std::string source;
    std::string second;
    std::string destination;
};

// Resets `options` to its start values (flags 0, numbers -1, default table).
void resetOptions();

// Reads argv[1..argc-1] into `options` and the paths. Every argument error
// ends the program through exitWithError with status 1.
RunPaths parseCommandLine(int argc, char **argv);
