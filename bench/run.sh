#!/usr/bin/env bash
# Start-up and listing cost of kestrel, measured against the floor.
#
# Builds a release kestrel in build-bench/, the floor programs and the images,
# then prints each figure beside its target and the floor's figure, all taken
# in this run. Instruction counts are whole-process counts from callgrind,
# which repeat exactly from run to run; the batch figure is wall time and
# depends on the machine's load. Needs cmake, a C/C++ compiler, python3,
# valgrind and GNU time (/usr/bin/time); hyperfine is not needed.
#
#   bench/run.sh [BATCH_SIZE]      (default 1000 images)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
batch_size=${1:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$root/bench/common.sh"
build_kestrel "$root"

# The floor: open, one read of the image, one line out. As C with the C library
# only; as C++ with its runtime linked statically and dynamically; and fully
# static, the way kestrel itself is linked where a static C library exists.
floor=$root/bench/floor.c
gcc -O2 -o "$work/floor_c" "$floor"
g++ -x c++ -O2 -static-libstdc++ -static-libgcc -o "$work/floor_cxx_static_runtime" "$floor"
g++ -x c++ -O2 -o "$work/floor_cxx_dynamic_runtime" "$floor"
g++ -x c++ -O2 -static -o "$work/floor_cxx_full_static" "$floor" 2>/dev/null || true

echo "== building images"
python3 "$root/bench/make_images.py" full "$work/full.d64"
mkdir "$work/batch"
python3 "$root/bench/make_images.py" batch "$work/batch" "$batch_size"

# Whole-process instructions of one command, run in $work.
instructions() { instructions_in "$work" "$@"; }

echo
echo "== floor (instructions, same run)"
for program in floor_c floor_cxx_static_runtime floor_cxx_dynamic_runtime floor_cxx_full_static; do
    [ -x "$work/$program" ] && row "$program" "$(instructions "./$program" full.d64)" "-" ""
done
row "cat full.d64" "$(instructions cat full.d64)" "-" ""

echo
echo "== kestrel on the full disk (instructions)"
measure() {  # label, limit, arguments...
    local label=$1 limit=$2
    shift 2
    local count
    count=$(instructions "$kestrel" "$@")
    row "$label" "$count" "<= $limit" "$(verdict "$count" "$limit")"
}
measure "listing" 400000 full.d64
measure "-csv" 2000000 -csv full.d64
measure "-bam" 500000 -bam full.d64
measure "-e" 500000 -e full.d64
measure "-check" 500000 -check full.d64
cp "$work/full.d64" "$work/edit.d64"
measure "-rd 0 143 (writes edit.out.d64)" 500000 -rd 0 143 edit.d64
[ -s "$work/edit.out.d64" ] || echo "  (the -rd run wrote no file!)"

echo
echo "== $batch_size images, one process each (wall time, same run)"
list=$work/batch.list
ls "$work"/batch/*.d64 >"$list"
# Each loop runs once untimed first so both start from a warm page cache.
loop_cat() { while read -r f; do cat "$f" >/dev/null; done <"$list"; }
loop_kestrel() { while read -r f; do "$kestrel" "$f" >/dev/null; done <"$list"; }
loop_floor() { while read -r f; do "$work/floor_c" "$f" >/dev/null; done <"$list"; }
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
loop_cat
loop_kestrel
best_cat=999 best_kestrel=999 best_floor=999
for round in 1 2 3; do  # best of three, interleaved, against load from elsewhere
    t=$(seconds loop_cat);     best_cat=$(awk -v a="$t" -v b="$best_cat" 'BEGIN { print (a < b) ? a : b }')
    t=$(seconds loop_kestrel); best_kestrel=$(awk -v a="$t" -v b="$best_kestrel" 'BEGIN { print (a < b) ? a : b }')
    t=$(seconds loop_floor);   best_floor=$(awk -v a="$t" -v b="$best_floor" 'BEGIN { print (a < b) ? a : b }')
done
ratio=$(awk -v k="$best_kestrel" -v c="$best_cat" 'BEGIN { printf "%.2f", k / c }')
floor_ratio=$(awk -v k="$best_floor" -v c="$best_cat" 'BEGIN { printf "%.2f", k / c }')
row "cat (s, best of 3)" "$best_cat" "-" ""
row "floor_c (s, best of 3)" "$best_floor" "-" "ratio to cat $floor_ratio"
row "kestrel listing (s, best of 3)" "$best_kestrel" "-" ""
row "kestrel / cat" "$ratio" "<= 1.5" "$(verdict "$ratio" 1.5)"

echo
echo "== peak resident memory of a listing (KiB)"
rss() { (cd "$work" && /usr/bin/time -f %M "$@" 2>&1 >/dev/null </dev/null | tail -1); }
rss_cat=$(rss cat full.d64)
rss_floor=$(rss ./floor_c full.d64)
rss_kestrel=$(rss "$kestrel" full.d64)
limit=$((2 * rss_cat))
row "cat full.d64" "$rss_cat" "-" ""
row "floor_c" "$rss_floor" "-" ""
row "kestrel listing" "$rss_kestrel" "<= $limit" "$(verdict "$rss_kestrel" "$limit")"
