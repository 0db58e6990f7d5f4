#!/usr/bin/env bash
# Executions a second of the fuzz target, sanitizers on, in the two ways
# AFL++ can run it: persistent mode (many inputs per process, the way
# fuzz/smoke.sh runs it) and a fresh process forked for every input
# (KESTREL_FUZZ_RUNS_PER_PROCESS=1, the deferred fork server alone).
#
# Prints, for each, the executions, the rate AFL++ reports (wall time: it
# depends on the machine's load, printed too) and executions per second of
# CPU time spent by AFL++ and the target together (perf stat), which is the
# rate on one core of its own. Needs AFL++, cc1541 and perf.
#
#   bench/fuzz_rate.sh [SECONDS]      (default 60 for each way)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
target=1000
shm=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then shm=/dev/shm; fi
work=$(mktemp -d "$shm/kestrel-fuzz-rate.XXXXXX")
trap 'rm -rf "$work"' EXIT

bash "$root/fuzz/build.sh" >/dev/null
harness=$root/build-fuzz/kestrel_fuzz
bash "$root/fuzz/make-seeds.sh" "$work/seeds" >/dev/null
cp "$root"/fuzz/corpus/* "$work/seeds/"

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=0:symbolize=0:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1"
export LSAN_OPTIONS="symbolize=0"
export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_NO_AFFINITY=1 AFL_FAST_CAL=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1

measure() {  # label, runs per process
  local out=$work/out-$2
  local load_before
  load_before=$(cut -d' ' -f1 /proc/loadavg)
  mkdir -p "$work/tmp-$2"
  TMPDIR=$work/tmp-$2 KESTREL_FUZZ_RUNS_PER_PROCESS=$2 \
    perf stat -x, -e task-clock -o "$work/perf-$2" \
    afl-fuzz -i "$work/seeds" -o "$out" -m none -t 2000 -V "$seconds" -- "$harness" >"$work/log-$2" 2>&1
  local execs rate cpu
  execs=$(awk '/^execs_done/ {print $3}' "$out/default/fuzzer_stats")
  rate=$(awk '/^execs_per_sec/ {print $3}' "$out/default/fuzzer_stats")
  cpu=$(awk -F, '/task-clock/ {print $1 / 1000}' "$work/perf-$2")
  printf '%-34s %9d execs  %7.0f/s wall  %7.0f/s per CPU second (target %d)  load %s..%s\n' \
    "$1" "$execs" "$rate" "$(awk -v e="$execs" -v c="$cpu" 'BEGIN {print e / c}')" "$target" \
    "$load_before" "$(cut -d' ' -f1 /proc/loadavg)"
}

echo "== $seconds s each, $(nproc) cores"
measure "persistent (10000 inputs/process)" 10000
measure "fork per input" 1
