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

# D71 and D81: blank ones and ones with files (cc1541 and cbmconvert), a D81
# with a 1581 partition (a CBM entry over tracks 60-62, marked used in 40/2),
# and a D71 and a D81 whose first directory block links to itself.
cc1541 -q -n "blank 71" -i "71" blank.d71 >/dev/null
cc1541 -q -n "blank 81" -i "81" blank.d81 >/dev/null
cc1541 -q -n "files 71" -i "f7" -f "small" -w small.prg -f "three" -T SEQ -w three.seq \
  -f "rel" -T REL -w small.prg files.d71 >/dev/null
cc1541 -q -n "files 81" -i "f8" -f "small" -w small.prg -f "three" -T SEQ -w three.seq \
  -f "locked" -P -w small.prg files.d81 >/dev/null
cp small.prg SMALL && cp three.seq THREE
cbmconvert -v0 -n -D8 conv.d81 SMALL THREE >/dev/null 2>&1 || true
cp files.d81 part.d81
printf '\x85\x3c\x00PART\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0' |
  dd of=part.d81 bs=1 seek=$((0x61B00 + 0x62)) conv=notrunc status=none
printf '\x78\x00' | dd of=part.d81 bs=1 seek=$((0x61B00 + 0x62 + 28)) conv=notrunc status=none
head -c 18 /dev/zero | dd of=part.d81 bs=1 seek=$((0x61A00 + 0x10 + 6 * 19)) conv=notrunc status=none
cp files.d71 loops.d71
printf '\x12\x01' | dd of=loops.d71 bs=1 seek=$((0x16600)) conv=notrunc status=none
cp files.d81 loops.d81
printf '\x28\x03' | dd of=loops.d81 bs=1 seek=$((0x61B00)) conv=notrunc status=none
families="blank.d71 files.d71 loops.d71 blank.d81 files.d81 part.d81 loops.d81"
[ -s conv.d81 ] && families="$families conv.d81"

n=0
seed() {  # keys, first image, second image or -, arguments...
  n=$((n + 1))
  "$harness" --make-seed "$out/seed-$(printf %03d $n)" "$@"
}
for disk in full.d64 sample.d64 forty.d64 loops.d64 short.d64 last35.d64 last40.d64 $families; do
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
seed "" files.d71 blank.d71 -merge a.d64 b.d64 out.d64
seed "" files.d81 files.d71 -json -check a.d64 b.d64
# Blank disks of each family, filled and checked in the same run; and -new
# onto a name that is taken, which must write nothing.
seed "" empty.d64 - -new DEMO,23 -w h.prg -w e.seq -check out.d64
seed "" empty.d64 - -new DEMO,23 -40 speeddos -errorbytes -adel -fix out.d64
seed "" empty.d64 - -new DEMO,23 -w h.prg -x n.d71
seed "" empty.d64 - -new DEMO,23 -errorbytes -bam n.D81
seed "" empty.d64 - -new DEMO,23 a.d64
# -w of the working folder and of patterns, name clashes skipped or replaced,
# and -adel given twice.
seed "" full.d64 - -clash skip -w . -w '*.p0?' -adel -adel a.d64 out.d64
seed "" files.d81 - -clash replace -w '?.prg' -w h.prg a.d64 out.d64
# New 1581 partitions: at the root beside a file, inside the partition of
# part.d81, and copied from (a partition is left out).
seed "" files.d81 - -mkpart PART 160 -w h.prg -check a.d64 out.d64
seed "" part.d81 - -part PART -mkpart GAME 120 -fix a.d64 out.d64
seed "" part.d81 files.d81 -copy a.d64 -mkpart GAME 120 b.d64 out.d64
# Block commands in one run, in command-line order, and reading out; the
# editors, which refuse without a terminal.
# (A command line holds 15 arguments at most.)
seed "" full.d64 empty.d64 -bfill 1/0 0xea -bpoke 1/0 4 'a9 00 60' -bused 1/0 a.d64 out.d64
seed "" full.d64 empty.d64 -bcopy 17/5 b.d64 18/0 -chain 1 a.d64 out.d64
seed "" files.d81 - -bwrite 40/3 e.seq -bfree 40/3 -bread 1/0 blk.bin -chain 40/3 a.d64 out.d64
seed "" full.d64 - -edit a.d64
# G64s (the harness's G64 form: full.d64 through kestrel's GCR writer, then
# knobs), one per pitfall of GCR readers, each listed, checked, converted and
# edited in place.
g64_knobs=(
  "00 0000 00 00 00 0000 0000"                                           # as written
  "07 000000 000101 000202 000303 000404 000505 100006 0000 00 00 00 0000 0000"  # each read error
  "00 0123 03 00 00 0000 0000"                                           # syncs 3 bits off, sectors wrapping
  "00 0000 00 03 0400 1e01 0b02 00 0000 0000"                            # killer, no sync, missing track
  "00 0000 00 03 0203 0804 2205 00 0000 0000"                            # half track, offset and length past the end
  "00 0000 00 00 46 1e0c 0000"                                           # N = 70, stored size 7,692
  "00 0000 00 00 00 0000 0001 0002ac 03 45585401"                        # an EXT block over track 1
)
for knobs in "${g64_knobs[@]}"; do
  image="g64:full.d64:${knobs// /}"
  seed "" "$image" - -check a.d64
  seed "" "$image" - -convert a.d64 out.d64
  seed "" "$image" - -vantsfbc a.d64
  seed "" "$image" - -w h.prg -rename 0 x -fix a.d64 out.g64
done
# NIBs and NBZs of those G64s' tracks (the G64 form's container byte): dumps
# starting inside a track, read errors, a killer track and a half track.
nib_knobs=(
  "00 0000 00 00 00 0000 0000 01 0000"
  "07 000000 000101 000202 000303 000404 000505 100006 0000 00 00 00 0000 0000 02 0bb8"
  "00 0000 00 03 0400 1e01 0203 00 0000 0000 01 1234"
  "00 0000 00 00 00 0000 0000 02 0000"
)
for knobs in "${nib_knobs[@]}"; do
  image="g64:full.d64:${knobs// /}"
  seed "" "$image" - -check a.d64
  seed "" "$image" - -convert a.d64 out.d64
  seed "" "$image" - -w h.prg -fix a.d64 out.g64
done
seed "" full.d64 - -convert a.d64 out.g64
seed "" empty.d64 - -new DEMO,23 n.G64
# REL and GEOS files: a sequential and a VLIR GEOS Convert file (one record
# empty), byte-built; D64s cbmconvert makes of them and of a REL file;
# -w of each kind, -wrel of a plain file, -copy across families, -x -cvt.
python3 - <<'PY'
def cvt(name, vlir, records):
    pad = lambda b: b + bytes(-len(b) % 254)
    blocks = sum((len(r) + 253) // 254 for r in records) + 1 + vlir
    entry = bytes([0x83, 0, 0]) + name.upper().encode().ljust(16, b'\xa0')
    entry += bytes([0, 0, vlir, 6 if vlir else 7, 88, 5, 17, 12, 30, blocks & 255, blocks >> 8])
    out = pad(entry + b'PRG formatted GEOS file V1.0')
    out += pad(bytes([3, 21, 0xBF]) + bytes(range(63)) + bytes([0x83, 6 if vlir else 7, vlir, 0, 0x40, 0xFF, 0x4F, 0, 0x40])
               + b'Check File  V1.0')
    if vlir:
        table = b''
        for r in records:
            n = (len(r) + 253) // 254
            table += bytes([0, 0xFF]) if n == 0 else bytes([n, len(r) - (n - 1) * 254 + 1])
        out += pad(table)
        return out + b''.join(pad(r) for r in records[:-1]) + records[-1]
    return out + records[0]
open('seq.cvt', 'wb').write(cvt('seq', 0, [bytes(300)]))
open('vlir.cvt', 'wb').write(cvt('vlir', 1, [b'a' * 300, b'', b'b' * 10]))
PY
head -c 500 < <(yes ledger) > ledger.l32 && cbmconvert -v0 -P -n ledger.l32 >/dev/null 2>&1 || true
cbmconvert -v0 -D4 geos.d64 -n seq.cvt vlir.cvt >/dev/null 2>&1 || true
cbmconvert -v0 -D4 rel.d64 -p ledger.r00 >/dev/null 2>&1 || true
seed "" empty.d64 - -w seq.cvt -w vlir.cvt -wrel 50 -w h.prg -check a.d64 out.d64
seed "" files.d81 - -w vlir.cvt -w ledger.r00 -x -cvt -p00 -into out a.d64 out.d64
for disk in geos.d64 rel.d64; do
  [ -s "$disk" ] || continue
  seed "" blank.d81 "$disk" -copy b.d64 -check -json a.d64 out.d64
  seed "" "$disk" - -x -cvt -into out -json a.d64
done
# A Lynx archive of cbmconvert's, read by -w and written by -x -lnx; a ZipCode
# pack of disk2zip's, read by -zipdisk and written by -x -zipcode; images in a
# zip (deflated and stored) and in a gzip file, read by the listing, -json,
# -check, -x and -copy (a member named), and edits of them refused.
cbmconvert -v0 -L mix.lnx -n small.prg three.seq
seed "" empty.d64 - -w mix.lnx a.d64 out.d64
seed "" full.d64 - -x -lnx -into out a.d64
seed "" forty.d64 - -x -zipcode a.d64
disk2zip -i 6172 full.d64 pack >/dev/null
seed "" empty.d64 - -zipdisk '1!pack' -check n.d64
python3 -c "import zipfile
z = zipfile.ZipFile('images.zip', 'w')
z.write('full.d64', compress_type=zipfile.ZIP_DEFLATED)
z.write('loops.d64', 'sub/LOOPS.D64', compress_type=zipfile.ZIP_DEFLATED)
z.write('small.prg', 'small.d64')
z.close()"
gzip -nc forty.d64 > forty.d64.gz
seed "" full.d64 - -json images.zip forty.d64.gz
seed "" full.d64 - -check -x images.zip -into out
seed "" full.d64 - -csv images.zip 'images.zip!sub/LOOPS.D64'
seed "" empty.d64 - -x forty.d64.gz
seed "" empty.d64 - -new DEMO,23 -copy forty.d64.gz out.d64
seed "" empty.d64 - -fix forty.d64.gz out.d64
echo "$n seeds in $out"
