#!/usr/bin/env bash
# Cost of taking files off a disk and putting them on one, measured against
# the independent tools that do the same.
#
# Builds a release kestrel in build-bench/ and the bench images, then prints
# each figure beside its target: whole-process instructions (callgrind) of
#   1. -x: extracting all 144 files of the full disk into an empty folder
#      (cbmconvert -N -d does the same);
#   2. -w: inserting those 144 files into a blank disk (cc1541 and cbmconvert
#      -D4 do the same).
# Instruction counts repeat exactly from run to run. Needs cmake, a C++
# compiler, python3 and valgrind; cc1541 and cbmconvert only for their rows.
#
#   bench/files.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$root/bench/common.sh"
build_kestrel "$root"
python3 "$root/bench/make_images.py" full "$work/full.d64"
python3 "$root/bench/make_images.py" blank "$work/blank.d64"

ROW_WIDTH=44

have() { command -v "$1" >/dev/null 2>&1; }

echo
echo "== extracting the 144 files of the full disk (instructions)"
mkdir "$work/x"
count=$(instructions_in "$work/x" "$kestrel" -x ../full.d64)
files=$(ls "$work/x" | wc -l)
row "kestrel -x full.d64 ($files files)" "$count" "<= 1500000" "$(verdict "$count" 1500000)"
if have cbmconvert; then
    mkdir "$work/cbm"
    row "cbmconvert -N -d full.d64" "$(instructions_in "$work/cbm" cbmconvert -N -d ../full.d64)" "-" ""
fi

echo
echo "== inserting those 144 files into a blank disk (instructions)"
args=()
for file in "$work"/x/*; do args+=(-w "x/${file##*/}"); done
count=$(instructions_in "$work" "$kestrel" "${args[@]}" blank.d64 inserted.d64)
row "kestrel -w ... blank.d64 (144 files)" "$count" "<= 3000000" "$(verdict "$count" 3000000)"
free=$(cd "$work" && "$kestrel" inserted.d64 | tail -1)
echo "  (the written disk: $free)"
if have cc1541; then
    cc_args=()
    for file in "$work"/x/*; do
        name=${file##*/}
        cc_args+=(-f "${name%.prg}" -w "x/$name")
    done
    cp "$work/blank.d64" "$work/cc.d64"
    row "cc1541 (same files, same blank disk)" "$(instructions_in "$work" cc1541 -q "${cc_args[@]}" cc.d64)" "-" ""
fi
if have cbmconvert; then
    cp "$work/blank.d64" "$work/cbm.d64"
    cbm_args=()
    for file in "$work"/x/*; do cbm_args+=("${file##*/}"); done
    row "cbmconvert -D4 (same files, same blank disk)" \
        "$(instructions_in "$work/x" cbmconvert -n -D4 ../cbm.d64 "${cbm_args[@]}")" "-" ""
fi
