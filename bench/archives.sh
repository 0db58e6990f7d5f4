#!/usr/bin/env bash
# Cost of reading images straight out of a zip, measured against unzip in the
# same run.
#
# Builds a release kestrel in build-bench/ (or takes the one KESTREL names),
# COUNT different full disks (144 files, every data block used) and one zip
# holding them all (Python's zipfile, deflated), then prints beside its target:
#   1. wall time of one `kestrel -json all.zip` against one `unzip -p all.zip`,
#      both into /dev/null, best of three interleaved rounds after a warm-up
#      (target: at most twice unzip's time);
#   2. COUNT zips of one image each, as collections arrive: one `kestrel -json`
#      over them all against `unzip -p` of each (unzip reads one archive a run);
#   3. one .gz of one image each, COUNT times over, against `gzip -dc` of
#      each (wall time, one process per image either way);
#   4. peak resident memory of -json over the zip of COUNT images beside that
#      over a zip of 10 (target: flat, within 10% plus the zip's directory).
# Asserts nothing. Needs cmake, a C/C++ compiler, python3, unzip, gzip and
# GNU time.
#
#   bench/archives.sh [COUNT]      (default 1000 images)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/common.sh"
count=${1:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ROW_WIDTH=44

if [ -n "${KESTREL:-}" ]; then kestrel=$KESTREL; else build_kestrel "$root"; fi

echo "== building $count full images, their zip and a gzip of each"
mkdir "$work/images" "$work/gz" "$work/zips"
python3 "$root/bench/make_images.py" fulls "$work/images" "$count"
(cd "$work/images" && python3 -c "
import sys, zipfile
with zipfile.ZipFile('../all.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    for name in sys.argv[1:]: z.write(name)" *.d64)
(cd "$work/images" && python3 -c "
import sys, zipfile
for name in sys.argv[1:]:
    with zipfile.ZipFile('../zips/' + name + '.zip', 'w', zipfile.ZIP_DEFLATED) as z: z.write(name)" *.d64)
for image in "$work"/images/*.d64; do gzip -c "$image" >"$work/gz/$(basename "$image").gz"; done
zip=$work/all.zip
zips=("$work"/zips/*.zip)
gzs=("$work"/gz/*.gz)

best() {  # command...: the best of three wall-clock runs, after a warm-up
    "$@" >/dev/null
    local best=999 round
    for round in 1 2 3; do best=$(smaller "$(seconds "$@")" "$best"); done
    echo "$best"
}
each_gunzip() { for file in "$@"; do gzip -dc "$file"; done; }
each_json() { for file in "$@"; do "$kestrel" -json "$file"; done; }
each_unzip() { for file in "$@"; do unzip -p "$file"; done; }
# Rows of one comparison: the reference's and kestrel's best seconds, and their ratio.
against() {  # reference's name, kestrel's name, reference command (one word), kestrel command (one word), files...
    local ref_s kestrel_s ratio
    ref_s=$(best "$3" "${@:5}")
    kestrel_s=$(best "$4" "${@:5}")
    ratio=$(awk -v k="$kestrel_s" -v c="$ref_s" 'BEGIN { printf "%.2f", k / c }')
    row "$1 (s)" "$ref_s" "-" ""
    row "$2 (s)" "$kestrel_s" "-" ""
    row "kestrel -json / $1" "$ratio" "<= 2.0" "$(verdict "$ratio" 2.0)"
}
unzip_all() { unzip -p "$@"; }
json_all() { "$kestrel" -json "$@"; }

echo
echo "== one run over the zip of $count images, $("$kestrel" -json "$zip" | wc -l) JSON lines (wall time, best of 3)"
against "unzip -p" "kestrel -json" unzip_all json_all "$zip"

echo
echo "== $count zips of one image each: one kestrel -json over all, one unzip -p per zip (wall time, best of 3)"
against "unzip -p, each" "kestrel -json" each_unzip json_all "${zips[@]}"

echo
echo "== one process per .gz, $count of them (wall time, best of 3)"
against "gzip -dc" "kestrel -json, each" each_gunzip each_json "${gzs[@]}"

echo
echo "== peak resident memory (KiB)"
rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
(cd "$work/images" && python3 -c "
import sys, zipfile
with zipfile.ZipFile('../ten.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    for name in sys.argv[1:11]: z.write(name)" *.d64)
ten=$(rss "$kestrel" -json "$work/ten.zip")
all=$(rss "$kestrel" -json "$zip")
# Flat: the zip's directory (46 bytes and a name per member, held as
# records) is all that may grow with the count of images.
directory=$(unzip -Z1 "$zip" | wc -c)
limit=$(awk -v s="$ten" -v n="$count" -v d="$directory" 'BEGIN { printf "%d", s * 1.1 + (d + 96 * n) / 1024 }')
row "unzip -p, $count images" "$(rss unzip -p "$zip")" "-" ""
row "kestrel -json, one plain image" "$(rss "$kestrel" -json "$work/images/$(ls "$work/images" | head -1)")" "-" ""
row "kestrel -json, zip of 10" "$ten" "-" ""
row "kestrel -json, zip of $count" "$all" "<= $limit" "$(verdict "$all" "$limit")"
