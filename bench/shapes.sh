#!/usr/bin/env bash
# The cost of the disk shapes: every block lookup is one index into the
# family's track table. Prints the D64 figures of the full disk of
# make_images.py (-check, -csv, -bam, -x into an empty folder; callgrind,
# whole process) beside their figures before the families were added, which
# are the targets, and the D71 and D81 figures (listing and -check of the full
# disks families.sh makes) beside those of a reference tree when one is given
# (target: no worse). Instruction counts repeat exactly; asserts nothing.
# Needs cmake, a C++ compiler, python3, cc1541 and valgrind.
#
#   bench/shapes.sh [REFERENCE_TREE]     (e.g. a worktree of main)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
reference=${1:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$root/bench/common.sh"
reference_kestrel=
if [ -n "$reference" ]; then
    build_kestrel "$(cd "$reference" && pwd)"
    reference_kestrel=$kestrel
fi
build_kestrel "$root"
python3 "$root/bench/make_images.py" full "$work/full.d64"
make_full_families "$work"
ROW_WIDTH=28

# Instructions of one kestrel run on an image in $work; -x runs in an empty folder.
count_of() {  # kestrel, arguments...
    local program=$1
    shift
    if [ "$1" = -x ]; then
        rm -rf "$work/x"
        mkdir "$work/x"
        instructions_in "$work/x" "$program" "$@"
    else
        instructions_in "$work" "$program" "$@"
    fi
}

echo
echo "== the full D64: before the families / now (instructions)"
printf "  %-28s %12s %12s   %s\n" "" "before" "now" "target: now <= before"
for figure in "-check 229000" "-csv 1053000" "-bam 236000" "-x 976000"; do
    set -- $figure
    now=$(if [ "$1" = -x ]; then count_of "$kestrel" -x ../full.d64; else count_of "$kestrel" "$1" full.d64; fi)
    printf "  %-28s %12s %12s   %s\n" "$1 full.d64" "$2" "$now" "$(verdict "$now" "$2")"
done

echo
echo "== the full D71 and D81 (instructions)"
printf "  %-28s %12s %12s   %s\n" "" "reference" "now" "target: now <= reference"
for family in d71 d81; do
    for action in listing -check; do
        args=(full.$family)
        [ "$action" = -check ] && args=(-check full.$family)
        now=$(count_of "$kestrel" "${args[@]}")
        before=-
        [ -n "$reference_kestrel" ] && before=$(count_of "$reference_kestrel" "${args[@]}")
        printf "  %-28s %12s %12s   %s\n" "$action full.$family" "$before" "$now" \
            "$([ "$before" = - ] && echo "(no reference given)" || verdict "$now" "$before")"
    done
done
