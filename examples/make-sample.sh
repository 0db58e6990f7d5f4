#!/usr/bin/env bash
# Rebuilds examples/sample.d64 with Debian's cc1541 from files made here, so
# the sample needs nothing but this script. Usage: bash examples/make-sample.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# A BASIC-style program loaded at $0801, a text file, a larger data file of a
# fixed pseudo-random pattern and a program that fills exactly two blocks.
printf '\x01\x08\x0b\x08\x0a\x00\x99\x22hello\x22\x00\x00\x00' > hello.prg
printf 'kestrel sample text file\r' > readme.seq
python3 -c "
import sys
state = 12345
out = bytearray()
for _ in range(9000):
    state = (state * 1103515245 + 12345) & 0x7fffffff
    out.append(state >> 23)
sys.stdout.buffer.write(bytes([0x00, 0x40]) + bytes(out))
" > music.prg
python3 -c "import sys; sys.stdout.buffer.write(bytes([0x00, 0xc0]) + bytes(i & 0xff for i in range(506)))" > twoblock.prg

rm -f "$here/sample.d64"
cc1541 -q -n "kestrel demo" -i "kd" \
  -f "hello" -w hello.prg \
  -f "readme" -T SEQ -w readme.seq \
  -f "music" -w music.prg \
  -f "locked" -P -w twoblock.prg \
  -f "#b0#60#60#60#ae art #dd#dd" -T USR -w readme.seq \
  -f "----------------" -T DEL -L \
  "$here/sample.d64" >/dev/null
echo "wrote $here/sample.d64"
