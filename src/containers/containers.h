// Host files that carry C64 files with their names: PC64 files (.P00, .S00,
// .U00, .R00, .D00, any two digits, any case) and T64 tape images. Reads
// them from a byte buffer into the entries -w inserts, and writes the PC64
// header -x -p00 puts before a file. Never trusts the container: every
// offset and length is checked against its size before a byte is read, and
// a container that lies gets a problem text, never a partial result. Reads
// and writes no host file and prints nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/nametext.h"
#include "disk/filelayout.h"

// What a host file's name (no folder) says it holds.
enum class HostFileKind { Plain, Pc64, Tape, Cvt, Lynx };
HostFileKind hostFileKindOf(const std::string &fileName);

// One C64 file found in a container, ready for the insert. Its bytes stay in
// the container's buffer, where files may share them (a tape whose entries
// share an offset): what a container gives never holds more than the
// container itself and a record per entry.
struct ContainedFile {
    HostFileEntry entry;  // name padded with 0xA0, its length, the closed type; problem None
    size_t offset;        // where its bytes begin in the container
    size_t length;        // how many there are
    int startAddress;     // a tape's PRG: the start address that goes in front of them; -1: none
    FileStructure structure;  // REL record length, GEOS fields and records (offsets from `offset`); Plain else
};

// The entry for `length` name bytes at `name` (0..16) and `typeByte`, padded
// with 0xA0. As with a host name, a lone 0xA0 stands for a name of padding
// only (pc64Header writes one there).
HostFileEntry containedEntry(const uint8_t *name, size_t length, uint8_t typeByte);

// The bytes of `file` as they are inserted: its start address (low byte
// first) if it has one, then its bytes from `container`, the buffer it was
// read from; into `data`, which is reused from file to file.
void containedData(const uint8_t *container, const ContainedFile &file, std::vector<uint8_t> &data);

// What a container gave: its files in directory order, warnings (lines
// without "WARNING: "), or why it cannot be used (files then empty).
struct ContainerRead {
    std::vector<ContainedFile> files;
    std::vector<std::string> warnings;
    std::string problem;  // "" when read; else a phrase after the container's name ("is ...", "has ...")
};

// A PC64 file named `fileName` (its extension gives the type: P PRG, S SEQ,
// U USR, D DEL, R REL with the record length of byte 25): "C64File" and a 0
// in bytes 0-7, the name in 8-23 without the 0x00 that pad it (a 0x00 inside
// the name is kept; 0xA0 padding is the disk's own), the data from byte 26
// on. Refused: a file shorter than its header, a wrong signature, an empty
// name, a REL file of record length 0 or 255. A REL file whose data is no whole
// number of records gives a warning. Precondition: hostFileKindOf(fileName)
// is Pc64.
ContainerRead readPc64(const std::string &fileName, const uint8_t *bytes, size_t size);

// A T64 tape image: "C64" at byte 0, the number of directory entries at
// 0x22, the 32-byte entries from 0x40. Every entry of type 1 (a tape file)
// gives a file: its name (bytes 0x10-0x1F without trailing blanks, 0x00 or
// 0xA0), SEQ where its file type byte says SEQ (0x81, 0xC1, ...), else PRG
// with the start address (bytes 2-3) in front of the data. A file's data
// begins at its offset (bytes 8-11); the bytes up to the next higher offset
// of any entry, or to the end of the container, are its room. The end
// address (bytes 4-5; $0000 stands for $10000) is often wrong: the file
// ends there when the rest of its room holds zero bytes only (padding);
// else, and when the end address lies before the start or beyond the room,
// the file takes its whole room, with a warning that names it where the two
// disagree. Entries are named as the listing shows names.
// Entries of other types (snapshots) are left out with a warning;
// so is a count of used entries (0x24) that disagrees with the entries found.
// Refused: a header or directory cut short, no "C64", no directory entries,
// no tape file, an offset inside the header or directory or at or past the
// end, an empty name.
ContainerRead readTape(const uint8_t *bytes, size_t size);

// The 26-byte PC64 header for the directory slot `slot` (32 bytes): "C64File"
// and 0, every name byte up to the 0xA0 padding at its end (an inner 0xA0
// and the bytes after it too) padded with 0x00, 0, the REL record length
// (slot byte 0x17). So that every name reads back as it is, a name of padding
// only gets one 0xA0 (as the host-name rule gives "%A0"), and a name that
// ends in 0x00 is padded with 0xA0. `letter` gets the extension's letter for
// the slot's type: 'd', 's', 'p', 'u', 'r' (types 5 to 7: 'u').
void pc64Header(const uint8_t *slot, std::vector<uint8_t> &header, char &letter);
