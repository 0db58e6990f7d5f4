#!/usr/bin/env bash
# Cost of GCR images (G64), measured against cat and against cc1541 writing
# the same G64.
#
# Builds a release kestrel in build-bench/ and the full disk of
# make_images.py (144 files, every data block used), then prints each figure
# beside its target: whole-process instructions (callgrind) of
#   1. listing a 42-track G64 (the full disk's G64 with tracks 36-42 holding
#      copies of track 35, as imagers store 42 tracks), against cat of it;
#   2. -convert of the 35-track G64 to a D64;
#   3. -convert of the D64 to a G64, beside cc1541 -g writing the G64 of a
#      disk with the same 144 files;
#   4. -convert of a NIB of the 35-track G64 (each track dumped 8,192 bytes
#      from 1,000 bytes in) to a D64: each track's revolution found first.
# Instruction counts repeat exactly from run to run. Needs cmake, a C++
# compiler, python3 and valgrind; cc1541 only for its row.
#
#   bench/gcr.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$root/bench/common.sh"
build_kestrel "$root"
python3 "$root/bench/make_images.py" full "$work/full.d64"
(cd "$work" && "$kestrel" -convert full.d64 full.g64 >/dev/null)
# Tracks 36-42: the block of track 35 again, at whole-track entries 70-82.
python3 - "$work/full.g64" "$work/full42.g64" <<'EOF'
import struct, sys
g = bytearray(open(sys.argv[1], 'rb').read())
entries = g[9]
track35 = struct.unpack_from('<I', g, 12 + 4 * 68)[0]
block = g[track35:track35 + 2 + 7928]
for track in range(36, 43):
    struct.pack_into('<I', g, 12 + 4 * (track - 1) * 2, len(g))
    struct.pack_into('<I', g, 12 + 4 * (entries + (track - 1) * 2), 0)
    g += block
open(sys.argv[2], 'wb').write(g)
EOF

# The NIB an imager would dump of the same tracks.
python3 - "$work/full.g64" "$work/full.nib" <<'EOF'
import struct, sys
g = open(sys.argv[1], 'rb').read()
entries = g[9]
header, dumps = bytearray(256), bytearray()
header[0:13] = b'MNIB-1541-RAW'
header[13] = 3
pair = 0x10
for entry in range(0, entries, 2):
    offset = struct.unpack_from('<I', g, 12 + 4 * entry)[0]
    if offset == 0:
        continue
    length = struct.unpack_from('<H', g, offset)[0]
    track = g[offset + 2:offset + 2 + length]
    header[pair:pair + 2] = bytes([entry + 2, struct.unpack_from('<I', g, 12 + 4 * (entries + entry))[0] & 3])
    pair += 2
    dumps += bytes(track[(1000 + i) % length] for i in range(8192))
open(sys.argv[2], 'wb').write(header + dumps)
EOF

ROW_WIDTH=44

echo
echo "== listing a 42-track G64 ($(stat -c %s "$work/full42.g64") bytes), instructions"
cat_count=$(instructions_in "$work" cat full42.g64)
row "cat full42.g64" "$cat_count" "-" ""
count=$(instructions_in "$work" "$kestrel" full42.g64)
limit=$((3 * cat_count))
row "kestrel full42.g64" "$count" "<= $limit" "$(verdict "$count" "$limit")"
echo "  ($(awk -v k="$count" -v c="$cat_count" 'BEGIN { printf "%.2f", k / c }') x cat)"

echo
echo "== converting (instructions)"
count=$(instructions_in "$work" "$kestrel" -convert full.g64 back.d64)
row "kestrel -convert full.g64 back.d64" "$count" "<= 5000000" "$(verdict "$count" 5000000)"
cmp -s "$work/full.d64" "$work/back.d64" && echo "  (back.d64 is full.d64 byte for byte)"
count=$(instructions_in "$work" "$kestrel" -convert full.d64 again.g64)
row "kestrel -convert full.d64 again.g64" "$count" "<= 3000000" "$(verdict "$count" 3000000)"
count=$(instructions_in "$work" "$kestrel" -convert full.nib nib.d64)
row "kestrel -convert full.nib nib.d64" "$count" "-" ""
cmp -s "$work/full.d64" "$work/nib.d64" && echo "  (nib.d64 is full.d64 byte for byte)"
if command -v cc1541 >/dev/null 2>&1; then
    mkdir "$work/x"
    (cd "$work/x" && "$kestrel" -x ../full.d64 >/dev/null)
    cc_args=()
    for file in "$work"/x/*; do
        name=${file##*/}
        cc_args+=(-f "${name%.prg}" -w "x/$name")
    done
    row "cc1541 -g (the same 144 files)" "$(instructions_in "$work" cc1541 -q "${cc_args[@]}" -g cc.g64 cc.d64)" "-" ""
fi
