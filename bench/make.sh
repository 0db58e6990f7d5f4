#!/usr/bin/env bash
# Cost of making disks: a new disk filled with files, on a 1541 and a 1581
# image, and copying every file of one image into another, measured against
# the independent tools that do the same.
#
# Builds a release kestrel in build-bench/ and the bench's full disk, takes
# its 144 files off it (-x), then prints each figure beside its target:
# whole-process instructions (callgrind) of
#   1. a new D64 with the 144 files (-new, then -w of each);
#   2. a new D81 with the same files;
#   3. -copy of all 144 entries of the full disk into a blank D81 and into a
#      blank D64;
# each beside cc1541 and cbmconvert doing the same job. When this kestrel
# refuses -new, the inserts go into a blank image made by cc1541 and the rows
# say so. Instruction counts repeat exactly from run to run. Needs cmake, a
# C++ compiler, python3, valgrind and cc1541; cbmconvert only for its rows.
#
#   bench/make.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$root/bench/common.sh"
build_kestrel "$root"
python3 "$root/bench/make_images.py" full "$work/full.d64"
mkdir "$work/x"
(cd "$work/x" && "$kestrel" -x ../full.d64 >/dev/null)

ROW_WIDTH=50
have() { command -v "$1" >/dev/null 2>&1; }
measure() {  # label, limit, folder, command...
    local label=$1 limit=$2 folder=$3 count
    shift 3
    count=$(instructions_in "$folder" "$@")
    row "$label" "$count" "<= $limit" "$(verdict "$count" "$limit")"
}

w_args=() cc_args=() cbm_args=()
for file in "$work"/x/*; do
    name=${file##*/}
    w_args+=(-w "x/$name")
    cc_args+=(-f "${name%.prg}" -w "x/$name")
    cbm_args+=("$name")
done

# A new disk of `extension` filled with the 144 files: by -new where this
# kestrel has it, else into a blank image made by cc1541.
fill_new() {  # extension, limit
    local ext=$1 limit=$2
    echo
    echo "== a new $ext with the 144 files (instructions)"
    if (cd "$work" && "$kestrel" -new probe,pb "probe.$ext" >/dev/null 2>&1) && [ -s "$work/probe.$ext" ]; then
        measure "kestrel -new bench,bn new.$ext -w ..." "$limit" "$work" \
            "$kestrel" -new bench,bn "new.$ext" "${w_args[@]}"
    else
        echo "  (this kestrel refuses -new: the files go into a blank $ext made by cc1541)"
        cc1541 -q -n bench -i bn "$work/blank.$ext" >/dev/null
        measure "kestrel -w ... blank.$ext new.$ext" "$limit" "$work" \
            "$kestrel" "${w_args[@]}" "blank.$ext" "new.$ext"
    fi
    echo "  (the written disk: $(cd "$work" && "$kestrel" "new.$ext" | tail -1))"
    row "cc1541 (a new $ext, same files)" "$(instructions_in "$work" cc1541 -q -n bench -i bn "${cc_args[@]}" "cc.$ext")" "-" ""
    if have cbmconvert; then
        local flag=-D4
        [ "$ext" = d81 ] && flag=-D8
        row "cbmconvert $flag (a new $ext, same files)" \
            "$(instructions_in "$work/x" cbmconvert -n "$flag" "../cbm.$ext" "${cbm_args[@]}")" "-" ""
    fi
}

fill_new d64 3000000
fill_new d81 4000000

echo
echo "== copying all 144 files of the full disk into a blank image (instructions)"
for ext in d81 d64; do
    cc1541 -q -n target -i tg "$work/target.$ext" >/dev/null
    measure "kestrel -copy full.d64 target.$ext copy.$ext" 2000000 "$work" \
        "$kestrel" -copy full.d64 "target.$ext" "copy.$ext"
    echo "  (the written disk: $(cd "$work" && "$kestrel" "copy.$ext" | tail -1))"
    if have cbmconvert; then
        flag=-D4
        [ "$ext" = d81 ] && flag=-D8
        cp "$work/target.$ext" "$work/cbmcopy.$ext"
        row "cbmconvert -d $flag (same copy)" \
            "$(instructions_in "$work" cbmconvert "$flag" "cbmcopy.$ext" -d full.d64)" "-" ""
    fi
done
echo "  (cc1541 copies no files between images: its row above writes the same 144 files from the host)"
