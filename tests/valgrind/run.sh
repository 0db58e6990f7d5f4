#!/usr/bin/env bash
# Runs the kestrel binary under valgrind's memcheck for each action on the
# sample disk and a few damaged ones; any invalid read or write, use of an
# uninitialised value or leak makes valgrind exit with 99 and this script fail.
# Usage: bash tests/valgrind/run.sh [path/to/kestrel]. Without a path it builds
# build-valgrind/kestrel: a release build linked against the shared C library,
# since valgrind cannot follow malloc inside a fully static binary.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
if [ $# -ge 1 ]; then
  kestrel="$(realpath "$1")"
else
  cmake -S "$top" -B "$top/build-valgrind" -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF \
    -DKESTREL_CAN_LINK_STATIC=OFF >/dev/null
  cmake --build "$top/build-valgrind" -j "${JOBS:-2}" --target kestrel >/dev/null
  kestrel="$top/build-valgrind/kestrel"
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$top/examples/sample.d64" "$work/sample.d64"
for damaged in long-loops cut-inside-18-1 links-into-36-40; do
  cp "$top/tests/corpus/$damaged.d64" "$work/$damaged.d64"
done
cd "$work"

failed=0
check() {  # keys, arguments...
  local keys="$1"
  shift
  local status=0
  printf '%s' "$keys" | valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --error-exitcode=99 "$kestrel" "$@" >/dev/null 2>valgrind.err || status=$?
  if [ "$status" -eq 99 ] || grep -q '^==[0-9]*==' valgrind.err; then
    echo "FAIL: kestrel $*"
    cat valgrind.err
    failed=1
  else
    echo "ok (status $status): kestrel $*"
  fi
  rm -f ./*.out.d64 ./*.prg ./*.seq ./*.usr ./*.rel ./*.del ./*.bin
}
printf 'a host file for -w' > host.txt
# A file scratched as a 1541 scratches it (blocks freed), for -undel to give back.
"$kestrel" -sd 1 sample.d64 scratched-used.d64 >/dev/null
"$kestrel" -fix scratched-used.d64 scratched.d64 >/dev/null

for disk in sample.d64 long-loops.d64 cut-inside-18-1.d64 links-into-36-40.d64; do
  check "" -vantsfbc "$disk"
  check "" -csv "$disk"
  check "" -e -rd 1 -start 0 4096 "$disk"
  check "" -bam "$disk"
  check "" -adel "$disk"
  check "" -merge "$disk" sample.d64
  check $'jj\e[A\e[Cj\e[Dq' -block 18 1 "$disk"
  check "" -fix -check "$disk"
  check "" -x "$disk"
  check "" -w host.txt -rename 0 '%c0X' -type 0 'SEQ<' -blocks 0 9 -move 0 1 -header ART -id XY "$disk"
  check "" -json -U "$disk" sample.d64
done
check "" -va -undel 1 -type 1 SEQ scratched.d64

# The other kinds of image and file: a G64 through the GCR coder and back,
# images read out of a zip and a gzip file, a Lynx archive and a ZipCode pack
# both ways, REL files, a D81 partition and the block commands.
"$kestrel" -convert sample.d64 sample.g64 >/dev/null
"$kestrel" -x -lnx sample.d64 -into lynx >/dev/null
"$kestrel" -x -zipcode sample.d64 -into pack >/dev/null
"$kestrel" -new REL,01 -wrel 20 -w host.txt rel.d64 >/dev/null
python3 -c "import zipfile, gzip, shutil
with zipfile.ZipFile('disks.zip', 'w', zipfile.ZIP_DEFLATED) as z: z.write('sample.d64'); z.write('long-loops.d64')
shutil.copyfileobj(open('sample.d64', 'rb'), gzip.open('sample.d64.gz', 'wb'))"
check "" -vantsfbc -check sample.g64
check "" -convert sample.g64 back.d64
check "" -w host.txt -bpoke 1/0 4 'a9 00 60' sample.g64 edited.g64
check "" -json -check disks.zip sample.d64.gz
check "" -new LYNX,01 -w lynx/sample.lnx lynx.d64
check "" -zipdisk 'pack/1!sample' unpacked.d64
check "" -new PARTS,01 -wrel 20 -w host.txt -mkpart PART 120 -chain 1 parts.d81
check "" -new COPY,01 -copy rel.d64 -check copy.d81
check "" -x -p00 rel.d64 -into rel
exit "$failed"
