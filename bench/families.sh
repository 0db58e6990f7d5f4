#!/usr/bin/env bash
# Cost of kestrel on the D71 and D81 families, measured against cat in the
# same run.
#
# Builds a release kestrel in build-bench/ and, with Debian's cc1541, a full
# D81 (296 entries, every one of its 3,160 data blocks used, nothing free) and
# a full D71 (144 entries, all 1,328 data blocks used); the full D64 comes
# from make_images.py. Then prints each figure beside its target:
#   1. instructions (callgrind, whole process) of a listing of the full D81
#      against `cat` of it (target: at most twice cat's);
#   2. instructions of `-check` of it (target: 1,500,000);
#   3. wall time of one `kestrel -json` run over COUNT different full images,
#      a third of each family, against one `cat` of the same files, best of
#      three interleaved rounds after a warm-up (target: at most twice cat's),
#      and the instructions of both over the first 30 of them.
# Asserts nothing. Needs cmake, a C/C++ compiler, python3, cc1541 and valgrind.
#
#   bench/families.sh [COUNT]      (default 1000 images)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$root/bench/common.sh"
build_kestrel "$root"
ROW_WIDTH=40

echo "== building images"
full_disk "$work/full.d81" "full 81" 296 10 200  # 200 x 11 + 96 x 10 = 3,160 blocks
full_disk "$work/full.d71" "full 71" 144 9 32    # 32 x 10 + 112 x 9 = 1,328 blocks
python3 "$root/bench/make_images.py" full "$work/full.d64"
for family in d64 d71 d81; do
    "$kestrel" "$work/full.$family" | tail -1 | grep -q '^0 BLOCKS FREE' ||
        echo "  (full.$family is not full: $("$kestrel" "$work/full.$family" | tail -1))"
done
# COUNT different images: each family's full disk in turn, with its own disk
# name and one data byte of its own, so that no two files are the same.
mkdir "$work/images"
python3 - "$work" "$count" <<'EOF'
import sys
work, count = sys.argv[1], int(sys.argv[2])
# The disk name's place in the header block of each family.
name_at = {"d64": 0x16590, "d71": 0x16590, "d81": 39 * 40 * 256 + 4}
# A data byte of the first file (17/0 on the 1541 and 1571, 39/0 on the 1581).
data_at = {"d64": 0x15000 + 10, "d71": 0x15000 + 10, "d81": 38 * 40 * 256 + 10}
bases = {family: open(f"{work}/full.{family}", "rb").read() for family in name_at}
for i in range(count):
    family = ("d64", "d71", "d81")[i % 3]
    image = bytearray(bases[family])
    image[name_at[family]:name_at[family] + 9] = b"IMAGE%04d" % i
    image[data_at[family]] = i % 256
    open(f"{work}/images/img{i:04d}.{family}", "wb").write(image)
EOF
images=("$work"/images/*)

instructions() { instructions_in "$work" "$@"; }

echo
echo "== the full D81: 296 entries, 3,160 blocks used (instructions)"
cat_count=$(instructions cat full.d81)
row "cat full.d81" "$cat_count" "-" ""
listing=$(instructions "$kestrel" full.d81)
limit=$((2 * cat_count))
row "listing" "$listing" "<= $limit" "$(verdict "$listing" "$limit")"
check=$(instructions "$kestrel" -check full.d81)
row "-check" "$check" "<= 1500000" "$(verdict "$check" 1500000)"
for family in d71 d64; do
    row "listing of full.$family (cat: $(instructions cat "full.$family"))" \
        "$(instructions "$kestrel" "full.$family")" "-" ""
    row "-check of full.$family" "$(instructions "$kestrel" -check "full.$family")" "-" ""
done

echo
echo "== one -json run over $count images, a third of each family (wall time, best of 3)"
json_against_cat "${images[@]}"
bytes=$(cat "${images[@]}" | wc -c)
row "cat (s, $((bytes / 1048576)) MiB)" "$best_cat" "-" ""
row "kestrel -json (s, $("$kestrel" -json "${images[@]}" | wc -l) lines)" "$best_json" "-" ""
row "kestrel -json / cat" "$ratio" "<= 2.0" "$(verdict "$ratio" 2.0)"
few=("${images[@]:0:30}")
cat_few=$(instructions cat "${few[@]}")
json_few=$(instructions "$kestrel" -json "${few[@]}")
row "instructions, cat of the first 30" "$cat_few" "-" ""
row "instructions, -json of the first 30" "$json_few" "-" \
    "ratio $(awk -v k="$json_few" -v c="$cat_few" 'BEGIN { printf "%.2f", k / c }')"
