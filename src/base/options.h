// The program-wide settings record: filled once by the command-line parser,
// read by every action. Apart from the parser only the block viewer writes it
// (it moves viewTrack and viewSector). Holds no parsing and no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/nametext.h"

// One directory-art edit as given on the command line.
enum class DirEditKind { Rename, Type, Blocks, Move, Undelete, Header, Id };
struct DirEdit {
    DirEditKind kind;
    int entry;      /* entry number (-undel: slot number); unused by -header, -id */
    int value;      /* -type: type byte; -blocks: count; -move: target entry */
    NameText text;  /* -rename, -header, -id: the decoded bytes */
};

// What the -w... options before a -w set for that file only.
struct InsertSettings {
    NameText name;    /* -wname: the entry name; length 0: the host file name's */
    int typeByte;     /* -wtype: the type byte; -1: the host file name's */
    int startTrack;   /* -wtrack T[/S]: the first block's track; 0: the drive's search */
    int startSector;  /* -wtrack T/S: its sector; -1: the track's lowest free one */
    int interleave;   /* -wil: sectors between blocks on a track; 0: the run's */
    int replace;      /* -wreplace: a file of the name is replaced, not refused */
    int recordLength; /* -wrel: a REL file of records this long (1..254); 0: no REL file */
};

// What -w does with a file whose name the disk holds already (-clash).
enum class NameClash { Refuse, Skip, Replace };

// A number given to -block, kept until the image's family says how high it may be.
struct ViewNumber {
    int value;
    bool sector;  /* a sector number, else a track */
};

// One block command (-bwrite -bread -bpoke -bfill -bcopy -bused -bfree -chain).
enum class BlockCommandKind { Write, Read, Poke, Fill, Copy, Used, Free, Chain };
struct BlockCommand {
    BlockCommandKind kind;
    int track, sector;          /* the block it works on; -chain N: track 0, sector the entry number */
    int fromTrack, fromSector;  /* -bcopy: the block copied into it */
    int offset;                 /* -bpoke: where the bytes go; -bfill: the byte */
    std::vector<uint8_t> bytes; /* -bpoke: the bytes */
    std::string path;           /* -bwrite, -bread: the host file; -bcopy: the other image ("" this one) */
    std::string given;          /* the command as given ("-bfill 18/1"), for its messages */
};

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
    int viewTrack;          /* viewer position: track (moved by the viewer's keys); 0: the header's */
    int viewSector;         /* viewer position: sector (never corrected) */
    std::vector<ViewNumber> viewNumbers; /* every number given to any -block, checked once loaded */
    int bamView;            /* -bam: print the availability map */
    int secondImageNeeded;  /* -merge: the next plain argument names the 2nd image */
    int mergeImages;        /* -merge: append the 2nd image's directory */
    int appendDel;          /* -adel: how many empty DEL entries to append (one per -adel) */
    int imageModified;      /* any edit: write the image, accept a destination name */
    const unsigned char *activeCharMap; /* defaultCharMap or alternativeCharMap */
    int rawCharacters;      /* "o": print disk characters unconverted */
    /* directory art: -rename -type -blocks -move -undel -header -id */
    std::vector<DirEdit> dirEdits; /* in command-line order */
    /* help and version requests */
    int showHelp;           /* -h, --help: print the usage, status 0 */
    int showVersion;        /* --version: print "kestrel 1.0", status 0 */
    /* disk check and map repair */
    int checkDisk;          /* -check: report the disk's problems instead of the listing */
    int fixMap;             /* -fix: rebuild the availability map from the chains */
    /* -json, -utf8, -U/-Ul: output for programs, UTF-8 into pipes, the C64's glyphs */
    int jsonReport;         /* -json: every plain argument is an image, each one JSON line */
    int imageList;          /* -check, -x without an edit, -block, -bam: every plain argument is an image */
    int utf8Output;         /* -utf8: disk characters as UTF-8 glyphs into pipes and files too */
    int glyphSet;           /* kGlyphsCodePage437, or -U kGlyphsC64Upper, -Ul kGlyphsC64Lower */
    /* -x and -w: files out of and into the image */
    int extractFiles;       /* -x: write entries' files into the current folder */
    int extractFirst;       /* -x num, 0..255; -1: every listed entry that has a file */
    int extractLast;        /* -x last, 0..255 (else equal to extractFirst) */
    int insertFiles;        /* -w: insert the host files named (RunPaths::inserts) */
    int copyEntries;        /* -copy: copy entries of other images (RunPaths::copies) */
    int extractPc64;        /* -p00: -x writes PC64 files (name.p00 ...) instead of bare ones */
    int extractCvt;         /* -cvt: -x writes each GEOS file as a CVT file (name.cvt) */
    int extractLynx;        /* -lnx: -x writes one Lynx archive (name.lnx) of the entries */
    int extractZipCode;     /* -zipcode: -x writes the disk as a ZipCode 4-pack (1!name ... 4!name) */
    /* -part: the 1581 partitions to work inside */
    std::vector<NameText> partitions; /* names, outermost first: each lies in the one before */
    int makePartitions;     /* -mkpart: make 1581 partitions where the run works (RunPaths::newPartitions) */
    std::vector<InsertSettings> insertSettings; /* one per -w, in command-line order */
    int fileInterleave;     /* -il: interleave of every inserted file; 0: the drive's */
    int useSystemTrack;     /* -dirtrack: inserted files may take free blocks of the directory's track */
    int useTracks36To40;    /* -tracks40: and of tracks 36-40 of a D64 with a SpeedDOS or DolphinDOS map */
    NameClash nameClash;    /* -clash: a -w, container or -copy name the disk holds: refuse, skip, replace */
    /* -new: a blank image instead of a source, its family from the destination's extension */
    int newImage;           /* -new: format a blank image; the one path argument names it */
    NameText newName;       /* -new: the disk name's bytes (0..16) */
    NameText newId;         /* -new: the disk id's 2 bytes */
    int newMapTracks40;     /* -40: 0 (35 tracks), 1 SpeedDOS, 2 DolphinDOS map of tracks 36-40 */
    int newErrorBytes;      /* -errorbytes: an error byte ($01) per block after the blocks */
    /* block commands, run after the directory edits, in command-line order */
    std::vector<BlockCommand> blockCommands;
    /* the editors in the terminal */
    int editDirectory;      /* -edit: the directory-art editor */
    int editBlocks;         /* -bedit [track [sector]]: the block editor at viewTrack/viewSector */
    int editMap;            /* -bamedit: the block editor's map view */
    /* -convert: the image written as the kind the destination's extension names (.d64 .d71 .g64 .g71) */
    int convertImage;       /* -convert: write the destination, the run's one action */
};

extern Options options;

// Resets `options` to its start values (flags 0, numbers -1, default table).
void resetOptions();
