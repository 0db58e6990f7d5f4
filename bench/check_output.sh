#!/usr/bin/env bash
# Byte-for-byte comparison of two kestrel builds: every image in IMAGE_DIR is
# run through a set of command lines by both binaries, each in its own copy of
# the image, and standard output, standard error, the exit status and any file
# written must be identical. Used to show that a speed change altered nothing.
#
#   bench/check_output.sh REFERENCE_BINARY NEW_BINARY IMAGE_DIR
set -u
ref=$1 new=$2 images=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

command_lines=(
    "" "-va" "-vt" "-vs" "-vf" "-vn" "-vb" "-vc" "-vo" "-vp" "-p" "-vatsnfbc" "-vatsnfbcp" "-vatsnfbco"
    "-csv" "-csv -va" "-csv -p" "-e" "-bam" "-rd 0" "-rd 0 143" "-sd 1 5" "-start 2 4096"
    "-start 0 65535 -vs" "-adel" "-e -rd 1" "-rd 1 -bam" "-vq" "-x" "-rd 300"
)

runs=0 differences=0
for image in "$images"/*.d64; do
    for line in "${command_lines[@]}"; do
        for side in ref new; do
            mkdir -p "$work/$side"
            rm -f "$work/$side"/*
            cp "$image" "$work/$side/disk.d64"
            binary=$ref
            [ "$side" = new ] && binary=$new
            # shellcheck disable=SC2086
            (cd "$work/$side" && "$binary" $line disk.d64 >stdout.txt 2>stderr.txt </dev/null; echo $? >status.txt)
        done
        runs=$((runs + 1))
        if ! diff -r "$work/ref" "$work/new" >/dev/null; then
            differences=$((differences + 1))
            echo "DIFFERENT: $(basename "$image") $line"
        fi
    done
done
echo "$runs runs compared, $differences with differences"
[ "$differences" -eq 0 ]
