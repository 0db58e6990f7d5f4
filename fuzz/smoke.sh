#!/usr/bin/env bash
# Builds the fuzz target and runs a short AFL++ campaign from the kept corpus
# (fuzz/corpus) and fresh seeds (make-seeds.sh). Prints the campaign's figures
# and fails (status 1) when it finds a crash or a hang that still hangs when
# replayed alone. Usage: bash fuzz/smoke.sh [seconds] (default 45).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-45}"
out="${KESTREL_FUZZ_OUT:-$top/build-fuzz/out}"
bash "$top/fuzz/build.sh" >/dev/null
harness="$top/build-fuzz/kestrel_fuzz"
seeds="$top/build-fuzz/seeds"
rm -rf "$seeds" "$out"
bash "$top/fuzz/make-seeds.sh" "$seeds" >/dev/null
cp "$top"/fuzz/corpus/* "$seeds"/

# Sanitizer reports must abort, so that the fuzzer sees them as crashes.
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=0:symbolize=0:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
# Left unset, afl-fuzz sets LSAN_OPTIONS with fast_unwind_on_malloc=0, which
# AddressSanitizer also reads: every allocation would then be traced by the
# slow unwinder, a third of all the time a run takes.
export LSAN_OPTIONS="symbolize=0"
# A CI machine has no screen, may scale its clock and may pipe core dumps.
export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_NO_AFFINITY=1 AFL_FAST_CAL=1
export AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
# Every process of the target works in a folder of its own under TMPDIR (in
# memory when it can); processes that crash or time out cannot remove theirs,
# so the whole campaign gets a folder that goes when it ends.
shm=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then shm=/dev/shm; fi
TMPDIR="$(mktemp -d "$shm/kestrel-fuzz-campaign.XXXXXX")"
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
echo "fuzzing for $seconds s, findings in $out (load before: $(cut -d' ' -f1-3 /proc/loadavg))"
# No @@: inputs reach the target through shared memory (persistent mode).
afl-fuzz -i "$seeds" -o "$out" -m none -t 2000 -V "$seconds" -- "$harness" \
  >"$out.log" 2>&1 || { tail -30 "$out.log"; exit 1; }

stats="$out/default/fuzzer_stats"
grep -E '^(execs_done|execs_per_sec|corpus_count|stability|edges_found|total_edges|saved_crashes|saved_hangs) ' "$stats"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
failed=0
# The sanitizer's report (or the harness's own), from its first line on.
replay() {
  ASAN_OPTIONS=detect_leaks=0 LSAN_OPTIONS= "$harness" "$1" 2>&1 |
    sed -n '/==[0-9]*==ERROR: \|runtime error\|^kestrel_fuzz: /,$p' | head -25 || true
}
# afl-fuzz only warns about starting inputs that crash, and leaves them out.
for seed in $(sed -n "s/.*Test case '.*orig:\([^']*\)' results in a crash.*/\1/p" "$out.log"); do
  echo "CRASH (starting input): $seeds/$seed"
  replay "$seeds/$seed"
  failed=1
done
for crash in "$out"/default/crashes/id:*; do
  [ -e "$crash" ] || continue
  echo "CRASH: $crash"
  replay "$crash"
  failed=1
done
for hang in "$out"/default/hangs/id:*; do
  [ -e "$hang" ] || continue
  # A slow run on a busy machine is not a hang; one that needs 10 s alone is.
  status=0
  timeout 10 "$harness" "$hang" >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 124 ]; then
    echo "HANG: $hang"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "fuzz smoke run: no crash, no hang"
exit "$failed"
