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
exit "$failed"
