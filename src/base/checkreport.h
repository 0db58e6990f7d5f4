// What the disk check found, as data: the check (check/) fills it and prints
// it as text, the JSON report (report/) gives it as fields of an image's line.
// A plain record on the ground floor because two features share it; it holds
// no logic.
#pragma once

#include <string>
#include <vector>

struct CheckFinding {
    bool error;        /* an error, else a warning */
    std::string text;  /* the line after "error: " or "warning: ", without its line end: a console capture */
};

struct CheckReport {
    std::vector<CheckFinding> findings; /* in the order -check prints them */
    int errors;
    int warnings;
    bool mapPresent;           /* the header lies inside the image: the figures below are counted only then */
    int blocksUsed;            /* by files and the directory, on every track */
    int freeByMap;             /* blocks free by the map, the system track (18, 40) left out */
    int freeByChains;          /* the same tracks, free by the chains */
    int usedUncovered;         /* used on the tracks the map does not cover (36-40 of a D64, 81-83 of a D81) */
    int firstUncovered;        /* the first and last of those tracks */
    int lastUncovered;
    const char *mapExtension;  /* the map of tracks 36-40: "SpeedDOS", "DolphinDOS", or nullptr */
    std::string geosSignature; /* a GEOS disk: its signature as it stands ("GEOS format V1.2"); "" for another disk */
    int geosBorderTrack;       /* a GEOS disk's border block, as 18/0 AB-AC name it */
    int geosBorderSector;
};
