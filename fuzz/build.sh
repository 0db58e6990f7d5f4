#!/usr/bin/env bash
# Builds the fuzz target build-fuzz/kestrel_fuzz with AFL++'s instrumenting
# compiler, AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
compiler="${KESTREL_FUZZ_CXX:-afl-clang-fast++}"
CXX="$compiler" cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "${JOBS:-2}" --target kestrel_fuzz
