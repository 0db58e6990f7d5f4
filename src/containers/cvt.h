// GEOS Convert files (.cvt): one GEOS file as a host file, its blocks without
// their link bytes. Block 0 holds the directory entry and a signature, block 1
// the info block, a VLIR file's block 2 its record table (each record's
// blocks and last-block byte in place of its first track and sector), then the
// data: a sequential file's chain, or the records, each padded to whole
// blocks but the file's last. Reads one into the entry -w inserts (never
// trusting a length: every record the table names must lie inside the file),
// and writes one from an entry of a disk. Reads and writes no host file and
// prints nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "containers/containers.h"
#include "disk/filelayout.h"

// Bytes of a CVT block: a disk block's payload.
constexpr size_t kCvtBlock = kBlockPayload;

// A CVT file: "PRG formatted GEOS file" or "SEQ formatted GEOS file" at byte
// 30 (" V1.0" after it, or nothing, as one tool writes them; which of PRG and
// SEQ it says does not matter, as cbmconvert writes PRG for both), the entry's
// type byte (SEQ, PRG or USR), name (to its first 0xA0), structure byte (0
// sequential, 1 VLIR) and GEOS fields, the info block, and the data: all that
// follows for a sequential file; for a VLIR file the records the table names,
// each record's last block counting its bytes plus 1 (V1.0) or its bytes
// (without " V1.0"). Refused, with a phrase for the message: a file too short
// for its blocks, no signature, a type, structure or GEOS type no GEOS file
// has (GEOS type 0 is a plain file's), an empty name, a table entry whose
// last block holds no bytes or more than a block, a record past the end of
// the file. Bytes after the last record give a warning and are left out.
ContainerRead readCvt(const uint8_t *bytes, size_t size);

// The CVT file of a GEOS entry: its 32-byte `slot`, structure and data as
// readFileStructure gives them (for a VLIR file the records one after another),
// into `out`. Block 0 holds slot bytes 02-1F with the first block and info
// block zeroed and the blocks the file takes as its size, then "PRG formatted
// GEOS file V1.0" (VLIR) or "SEQ formatted GEOS file V1.0" (sequential).
// Precondition: the structure is a GEOS one.
void writeCvt(const uint8_t *slot, const FileStructure &structure, const std::vector<uint8_t> &data,
              std::vector<uint8_t> &out);
