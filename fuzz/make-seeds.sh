#!/usr/bin/env bash
# Writes the fuzzer's starting inputs into the folder given (default
# build-fuzz/seeds): disks made by Debian's cc1541, the sample disk and a few
# damaged ones, each paired with command lines that reach every action.
# Needs build-fuzz/kestrel_fuzz (fuzz/build.sh).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$top/build-fuzz/seeds}"
harness="$top/build-fuzz/kestrel_fuzz"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cd "$work"

printf '\x01\x08hello' > small.prg
head -c 600 /dev/zero | tr '\0' 'x' > three.seq
cc1541 -q -n "fuzz seed" -i "fz" -f "small" -w small.prg -f "three" -T SEQ -w three.seq \
  -f "locked" -P -w small.prg -f "rel" -T REL -w small.prg full.d64 >/dev/null
cc1541 -q -n "empty" -i "em" empty.d64 >/dev/null
cc1541 -q -n "forty" -i "40" -4 -f "x" -w small.prg forty.d64 >/dev/null
# The directory block links to itself; the file chain loops through two blocks.
cp full.d64 loops.d64
printf '\x12\x01' | dd of=loops.d64 bs=1 seek=$((0x16600)) conv=notrunc status=none
head -c 91000 full.d64 > short.d64
cp "$top/examples/sample.d64" sample.d64
# The first file's only block moved to the image's last block (35/16, and
# 40/16 on the 40-track disk), all 254 data bytes used: a read even one byte
# past a block goes past the end of the image there, where the sanitizer sees it.
last_block() {  # image, first byte of the last block, its track and sector
  printf "\\x$(printf %02x "$3")\\x$(printf %02x "$4")" |
    dd of="$1" bs=1 seek=$((0x16600 + 3)) conv=notrunc status=none
  { printf '\x00\xff'; head -c 254 /dev/zero | tr '\0' 'L'; } | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
cp full.d64 last35.d64
last_block last35.d64 $((174848 - 256)) 35 16
cp forty.d64 last40.d64
last_block last40.d64 $((196608 - 256)) 40 16

n=0
seed() {  # keys, first image, second image or -, arguments...
  n=$((n + 1))
  "$harness" --make-seed "$out/seed-$(printf %03d $n)" "$@"
}
for disk in full.d64 sample.d64 forty.d64 loops.d64 short.d64 last35.d64 last40.d64; do
  seed "" "$disk" - -vantsfbc a.d64
  seed "" "$disk" - -csv a.d64
  seed "" "$disk" - -e a.d64
  seed "" "$disk" - -rd 1 2 -sd 0 -start 1 4096 a.d64 out.d64
  seed "" "$disk" - -bam a.d64
  seed "" "$disk" - -check a.d64
  seed "" "$disk" - -adel -fix -check a.d64 out.d64
  seed "" "$disk" - -adel a.d64
  seed "" "$disk" - -rename 1 %c0x -type 0 PRG\< -move 0 2 -header art a.d64 out.d64
  seed "" "$disk" - -va -blocks 2 9 -id xy -undel 3 a.d64 out.d64
  seed "" "$disk" empty.d64 -merge a.d64 b.d64
  seed "" "$disk" - -x a.d64
  seed "" "$disk" - -w h.prg -w e.seq -x 0 2 a.d64 out.d64
  seed $'j\e[A\e[Cj\xe0\x4bj\x00\x48q' "$disk" - -block 18 1 a.d64
  seed "" "$disk" empty.d64 -json -va -U a.d64 b.d64 missing.d64
  seed "" "$disk" - -utf8 -Ul -vantsfbc a.d64
done
seed "" full.d64 short.d64 -check a.d64 b.d64 missing.d64
seed "" full.d64 forty.d64 -json -check -va a.d64 b.d64
seed "" full.d64 - -x a.d64 -into out
seed "" full.d64 sample.d64 -check -x 0 1 a.d64 b.d64 -into out
seed "" full.d64 full.d64 -merge -vantsfbc a.d64 b.d64 out.d64
seed "" empty.d64 - -adel a.d64
seed "" full.d64 - -p -vo a.d64
# A scratched entry whose blocks are still marked used: -undel refuses it
# until the fuzzer frees them.
cp full.d64 scratched.d64
printf '\x00' | dd of=scratched.d64 bs=1 seek=$((0x16622)) conv=notrunc status=none
seed "" scratched.d64 - -va -undel 1 -type 1 SEQ a.d64 out.d64
seed "" full.d64 - -start 1 '$0801' -- a.d64 out.d64
seed "" full.d64 - --help a.d64
# Containers for -w: the PC64 files cbmconvert makes of the disk, and a T64
# tape of two files, the second with a wrong end address; -x -p00 writes
# PC64 files.
mkdir p00 && (cd p00 && cbmconvert -P -d ../full.d64 >/dev/null 2>&1) && cp p00/* .
{ printf 'C64 tape image file'; head -c 13 /dev/zero; printf '\x00\x01\x02\x00\x02\x00\x00\x00%-24s' 'FUZZ TAPE'
  printf '\x01\x82\x01\x08\x08\x08\x00\x00\x80\x00\x00\x00\x00\x00\x00\x00%-16s' SMALL
  printf '\x01\x81\x00\x10\x00\x20\x00\x00\x87\x00\x00\x00\x00\x00\x00\x00%-16s' TEXT
  printf 'hello!!some text'; } > tape.t64
seed "" empty.d64 - -w small.p00 -w three.s00 -x -p00 -into out a.d64 out.d64
seed "" empty.d64 - -w tape.t64 a.d64 out.d64
seed "" full.d64 - -w rel.r00 a.d64 out.d64
seed "" full.d64 - -x -p00 a.d64
# Blank disks of each family, filled and checked in the same run; and -new
# onto a name that is taken, which must write nothing.
seed "" empty.d64 - -new DEMO,23 -w h.prg -w e.seq -check out.d64
seed "" empty.d64 - -new DEMO,23 -40 speeddos -errorbytes -adel -fix out.d64
seed "" empty.d64 - -new DEMO,23 -w h.prg -x n.d71
seed "" empty.d64 - -new DEMO,23 -errorbytes -bam n.D81
seed "" empty.d64 - -new DEMO,23 a.d64
echo "$n seeds in $out"
