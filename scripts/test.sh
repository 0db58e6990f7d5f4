#!/usr/bin/env bash
# Quick start, step two, and what CI runs (.ci/run): installs what the tests
# need when it is missing (Debian packages, via apt-get), then runs every test
# with `make test`. Arguments go to make instead of `test`, e.g.
# `bash scripts/test.sh test-native`.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every package the tests need; the one list, for people and CI alike.
test_packages=(
  cmake g++ make                    # the build
  googletest libgtest-dev           # unit and end-to-end suites
  zlib1g-dev                        # images in .zip and .gz archives; CRC-32 cross-checks
  cc1541 cbmconvert                 # independent D64 tools the results are checked against
  jq python3 python3-jsonschema     # checks of JSON output
  tmux                              # tests in a real terminal
  strace                            # the safe write syncs before it renames
  clang libclang-rt-14-dev afl++    # fuzz smoke run (AFL++ with the sanitizers)
  valgrind                          # memcheck run (tests/valgrind/run.sh), bench/ instruction counts
  g++-mingw-w64-x86-64 wine64 wine  # the Windows build, tested under Wine
  libz-mingw-w64-dev                # zlib for the Windows build (archives), linked statically
  mandoc groff-base                 # manual page lint (mandoc and groff)
  dpkg-dev file man-db              # the Debian package: its dependencies (dpkg-shlibdeps), man -w after dpkg -i
)

. scripts/packages.sh
ensure_packages "the tests" "${test_packages[@]}"
if [ $# -eq 0 ]; then set -- test; fi
exec make "$@"
