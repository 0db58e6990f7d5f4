#!/usr/bin/env bash
# Cost of copying REL and GEOS files between families: -copy of a REL file of
# 100 records (side sectors built anew for the target) and of a GEOS VLIR
# file of 10 records (info block, index block, every record) from a D64 to a
# blank D81 and from a D81 to a blank D64, whole-process instructions
# (callgrind), each beside its target of 2,000,000 and beside cbmconvert
# copying the same disk (-d) into a new image of the target family.
#
# Builds a release kestrel in build-bench/ (or takes the one KESTREL names),
# makes the REL file with cbmconvert (a raw file of 50-byte records turned
# into a .r00 file) and the GEOS Convert file byte by byte, and puts both on
# a D64 and a D81 with kestrel. Asserts nothing. Needs cmake, a C++ compiler,
# python3, valgrind and cbmconvert.
#
#   bench/structured.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$root/bench/common.sh"
if [ -n "${KESTREL:-}" ]; then kestrel=$KESTREL; else build_kestrel "$root"; fi
ROW_WIDTH=50

cd "$work"
head -c 5000 /dev/urandom > ledger.l32  # 100 records of 50 bytes
cbmconvert -v0 -P -n ledger.l32 >/dev/null
python3 - <<'EOF'
import os
pad = lambda b: b + bytes(-len(b) % 254)
records = [os.urandom(n) for n in (300, 10, 0, 600, 254, 1000, 1, 508, 200, 90)]
blocks = sum((len(r) + 253) // 254 for r in records) + 2
entry = bytes([0x83, 0, 0]) + b'PAINT'.ljust(16, b'\xa0') + bytes([0, 0, 1, 6, 88, 5, 17, 12, 30, blocks, 0])
out = pad(entry + b'PRG formatted GEOS file V1.0')
out += pad(bytes([3, 21, 0xBF]) + bytes(63) + bytes([0x83, 6, 1, 0, 0x40, 0xFF, 0x4F, 0, 0x40]) + b'Paint       V1.0')
table = b''
for r in records:
    n = (len(r) + 253) // 254
    table += bytes([0, 0xFF]) if n == 0 else bytes([n, len(r) - (n - 1) * 254 + 1])
out += pad(table) + b''.join(pad(r) for r in records[:-1]) + records[-1]
open('paint.cvt', 'wb').write(out)
EOF
for family in d64 d81; do
    "$kestrel" -new SOURCE,SR -w ledger.r00 -w paint.cvt -check "source.$family" | grep '^[0-9]* errors' 
    "$kestrel" -new BLANK,BL "blank.$family" >/dev/null
done

measure() {  # label, command...
    local label=$1 count
    shift
    count=$(instructions_in "$work" "$@")
    row "$label" "$count" "<= 2000000" "$(verdict "$count" 2000000)"
}
echo
echo "== -copy of a 100-record REL file and a 10-record VLIR file (instructions)"
measure "kestrel -copy, D64 to a blank D81" "$kestrel" -copy source.d64 blank.d81 to.d81
measure "kestrel -copy, D81 to a blank D64" "$kestrel" -copy source.d81 blank.d64 to.d64
for made in to.d81 to.d64; do "$kestrel" -check "$made" | grep '^[0-9]* errors'; done
# cbmconvert writes no REL file on a D81 ("Could not set up the side
# sectors"): it ends with status 4 and an empty disk there; its row counts the
# attempt, and says what it left.
for job in "D64 to a new D81:-D8 cbm.d81 -d source.d64" "D81 to a new D64:-D4 cbm.d64 -d source.d81"; do
    args=${job#*:}
    # shellcheck disable=SC2086
    count=$(instructions_in "$work" cbmconvert -v0 $args)
    lines=$("$kestrel" "$work/${args:4:7}" | grep -c '^[0-9]')  # the header, the entries, BLOCKS FREE
    row "cbmconvert, ${job%%:*}" "$count" "-" "$((lines - 2)) entries made"
done
