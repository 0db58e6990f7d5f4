#!/usr/bin/env bash
# Cost of the JSON report over many images, measured against cat in the same run.
#
# Builds a release kestrel in build-bench/ and COUNT different full disks (144
# files, every data block used), then prints each figure beside its target:
#   1. wall time of one `kestrel -json` run over all of them against one `cat`
#      of the same files, both into /dev/null, best of three interleaved rounds
#      after a warm-up (target: at most twice cat's time);
#   2. peak resident memory of -json over 10, 100, COUNT and 3 x COUNT images
#      (each given thrice; target: flat, the last within 10% of the COUNT run
#      plus what its longer command line takes), beside cat's.
# Asserts nothing. Needs cmake, a C/C++ compiler, python3 and GNU time.
#
#   bench/json.sh [COUNT]      (default 1000 images)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
count=${1:-1000}
build=$root/build-bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== building"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
kestrel=$build/kestrel

echo "== building $count full images"
mkdir "$work/images"
python3 "$root/bench/make_images.py" fulls "$work/images" "$count"
images=("$work"/images/*.d64)

row() {  # name, figure, target, verdict
    printf '  %-38s %10s   target %-14s %s\n' "$1" "$2" "$3" "$4"
}

echo
echo "== one run over $count images (wall time, best of 3, same run)"
json_against_cat "${images[@]}"
lines=$("$kestrel" -json "${images[@]}" | wc -l)
row "cat (s)" "$best_cat" "-" ""
row "kestrel -json (s, $lines lines)" "$best_json" "-" ""
row "kestrel -json / cat" "$ratio" "<= 2.0" "$(verdict "$ratio" 2.0)"

echo
echo "== peak resident memory (KiB)"
rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
row "cat, $count images" "$(rss cat "${images[@]}")" "-" ""
row "kestrel -json, 10 images" "$(rss "$kestrel" -json "${images[@]:0:10}")" "-" ""
row "kestrel -json, 100 images" "$(rss "$kestrel" -json "${images[@]:0:100}")" "-" ""
base=$(rss "$kestrel" -json "${images[@]}")
row "kestrel -json, $count images" "$base" "-" ""
# Flat: three times as many images (each given thrice) within 10% of that,
# plus the growth of the command line itself, which the process must hold.
arguments=$(printf '%s\0' "${images[@]}" "${images[@]}" | wc -c)
limit=$(awk -v s="$base" -v a="$arguments" 'BEGIN { printf "%d", s * 1.1 + a / 1024 }')
large=$(rss "$kestrel" -json "${images[@]}" "${images[@]}" "${images[@]}")
row "kestrel -json, $((3 * count)) images" "$large" "<= $limit" "$(verdict "$large" "$limit")"
