// The directory walk: listing, CSV form, blocks-free figure, the entry edits
// (-rd, -sd, -start) and the track/sector export, all made in one pass.
#pragma once

#include <cstdint>
#include <string>

#include "disk/bam.h"
#include "disk/directory.h"
#include "disk/image.h"

// A view of one 32-byte slot inside a directory block of the image.
struct DirEntry {
    uint8_t *bytes;
};

// The export lists, filled by the walk (at most kExportCapacity entries).
constexpr int kExportCapacity = 150;
extern uint8_t exportTracks[kExportCapacity];
extern uint8_t exportSectors[kExportCapacity];
extern uint8_t exportCount;

// Why -start left its entry alone.
enum class StartRefusal {
    None,            // it wrote the new address, or it met no entry of its number
    NoStartBlock,    // the start track is 0
    OutsideImage,    // the first block lies above track 40 or beyond the image
    BeyondTrack,     // its sector lies beyond the track's count: 17/25 is no block
    DirectoryBlock,  // 18/0 or a block of the directory
};

// What the entry edits of one walk did, for requireEditsMade.
struct EntryEditOutcome {
    int rangeEdits;             // slots that -rd or -sd changed
    bool startEntryMet;         // -start met the entry of its number
    StartRefusal startRefusal;  // and why it left that entry alone
    TrackSector startBlock;     // that entry's start track and sector
    bool rangeListedOnly;       // -rd or -sd met an entry of its range that is listed, never edited
    bool startListedOnly;       // -start met its entry there
    TrackSector beyondBlock;    // the block from which on entries are listed, never edited
};

// Walks the directory from block 18/0 and prints the listing when printListing
// is 1 (header, entry lines, blocks-free line), makes the edits chosen in
// `options` and prints the export for -e. The walk stops quietly, with a
// warning on standard error, at an absent block or at the first directory
// block it meets again (a loop: each entry is listed once).
// The edits write only through real addresses: the entries of a block that
// the walk reached through a sector beyond its track's count (17/25), and of
// every block after it, are listed but not edited; -start refuses an entry
// whose first block is not a block of a file (see StartRefusal) and prints
// nothing for it. Precondition: the header block (18/0, 40/0) is present.
EntryEditOutcome showDirectory(ImageBuffer &image, int printListing);

// Ends the program with status 1 and a message naming the option when an
// edit asked for in `options` did not happen: -rd or -sd met no entry in its
// range, -start met no entry of its number or refused it; the message says so
// when the entries it named are listed, never edited. Returns otherwise.
void requireEditsMade(const EntryEditOutcome &outcome);

// The error exit for an edit that names only entries the listing shows but
// no edit writes: those in or after `beyond`, the first block the directory
// reaches through a link to a sector beyond its track's count (18/19 names
// the bytes of 19/0, which may be a file's). `edit` is the option as given
// ("-rd 9"), `named` what it names ("an entry", "entry 9").
[[noreturn]] void refuseListedOnly(const char *edit, const char *named, TrackSector beyond);
// Its message, for an edit that reports instead of ending the program.
std::string listedOnlyText(const char *edit, const char *named, TrackSector beyond);

// Prints the quoted name, splat mark, type name and lock mark of one slot;
// with -csv the name field is one a CSV reader reads back whole (see
// showDirectory's CSV lines in listing.cpp).
void printEntryName(const DiskShape &shape, DirEntry entry);

// Prints `count` disk characters, each as the output mode shows it.
void printDiskChars(const uint8_t *codes, int count);

// Prints the 18-character name field of an entry line: a quote, the 16 name
// characters with the closing quote in place of the first 0xA0 (a blank
// after them when there is none).
void printQuotedName(const uint8_t *name);
// The same field as 18 disk codes in `field`.
void quotedNameCodes(const uint8_t *name, uint8_t *field);

// What an entry line shows for a type byte: the splat mark ('*' or ' '), the
// type name (three letters, "???" for types 5-7) and the lock mark ('<' or ' ').
struct TypeMarks {
    char splat;
    const char *name;
    char lock;
};
TypeMarks typeMarks(const DiskShape &shape, int type);

// ";" in CSV mode, else " ".
void printSeparator();
