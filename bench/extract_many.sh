#!/usr/bin/env bash
# -x over many images against cbmconvert doing the same: COUNT different full
# D64s (make_images.py fulls, 144 files each) extracted by one
# `kestrel -x *.d64 -into out` (each image into a folder of its own) and by a
# loop that runs `cbmconvert -N -d` once per image in a folder of its own.
# Prints both wall times (best of three, interleaved, after a warm-up) and
# the target: kestrel at most cbmconvert's time. Wall time moves with the
# machine's load; asserts nothing. Needs cmake, a C++ compiler, python3 and
# cbmconvert.
#
#   bench/extract_many.sh [COUNT]      (default 300 images)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$root/bench/common.sh"
build_kestrel "$root"
mkdir "$work/images"
python3 "$root/bench/make_images.py" fulls "$work/images" "$count"
images=("$work"/images/*.d64)

run_kestrel() {
    rm -rf "$work/k"
    "$kestrel" -x "${images[@]}" -into "$work/k"
}
run_cbmconvert() {
    rm -rf "$work/c"
    mkdir "$work/c"
    local image folder
    for image in "${images[@]}"; do
        folder=$work/c/$(basename "$image" .d64)
        mkdir "$folder"
        (cd "$folder" && cbmconvert -N -d "$image" >/dev/null 2>&1)
    done
}

run_kestrel >/dev/null
run_cbmconvert
best_kestrel=999 best_cbm=999
for round in 1 2 3; do
    best_kestrel=$(smaller "$(seconds run_kestrel)" "$best_kestrel")
    best_cbm=$(smaller "$(seconds run_cbmconvert)" "$best_cbm")
done
files_kestrel=$(find "$work/k" -type f | wc -l)
files_cbm=$(find "$work/c" -type f | wc -l)
echo
echo "== -x of $count images ($files_kestrel files; cbmconvert wrote $files_cbm), wall seconds, best of 3"
row "cbmconvert -N -d, one per image" "$best_cbm" "-" ""
row "kestrel -x ... -into" "$best_kestrel" "<= $best_cbm" "$(verdict "$best_kestrel" "$best_cbm")"
