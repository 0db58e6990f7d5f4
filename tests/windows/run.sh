#!/usr/bin/env bash
# The Windows build of kestrel, tested under Wine: cross-compiles kestrel.exe
# with mingw-w64, builds the Linux end-to-end suite, and runs that suite with
# every kestrel call going to kestrel.exe under Wine. The suite compares exact
# bytes, so a pass means listings, CSV, export, map view, edits, DEL append,
# merge and the piped-key viewer print and write the same bytes on both systems.
#
# Folders (all under build-windows, which `make clean` removes):
#   build-windows            kestrel.exe (CMake toolchain cmake/mingw-w64.cmake)
#   build-windows/host       the native test executables
#   build-windows/wineprefix a private Wine prefix, made on the first run
# Needs the Debian packages g++-mingw-w64-x86-64, wine64 (or wine) and what the
# native build needs. Runs headless: console programs need no X display.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

jobs=${JOBS:-2}
build=$root/build-windows
host=$build/host

# Tests that cannot work under Wine, left out of the run:
#   ViewerTerminal.*, TerminalListing.{GraphicsArrive..., EscapeBytes...}
#     drive kestrel in a real terminal (tmux on a pseudo-terminal). They check
#     the POSIX side: UTF-8 glyphs on a terminal, termios raw mode restored
#     after q and after SIGTERM. Wine turns a Unix terminal into a console of
#     its own (where, for one, a lone Esc key never arrives), and Windows has
#     no termios or SIGTERM to restore. TerminalListing.PipeGetsExactBytes is
#     kept: it pipes raw control bytes through, which binary mode must pass.
#   CommandLine.EmptyCommandLineShowsUsageWithTheInvocationName expects the
#     usage line to name the path the test ran; under Wine the program is
#     started as Z:\...\kestrel.exe and names that.
#   Destination.ReadOnlyFolderKeepsTheExistingFile and *Permission* tests rely
#     on POSIX file modes, which Windows does not have, and on POSIX symbolic
#     links, which Wine shows to a Windows program as plain files.
#   SafeWrite.FileSizeLimitFailsTheWriteInsteadOfEndingTheProcess and
#   Extract.FileSizeLimitTakesBackTheFilesWritten: Windows has no SIGXFSZ to
#     ignore; under Wine the Linux signal ends kestrel.exe.
#   SafeWrite.TemporaryFileIsSyncedBeforeItTakesTheName reads the system
#     calls of a POSIX build under strace; under Wine it would see Wine's.
#     SafeWrite.SignalDuringTheFlushRemovesTheTemporaryFile has strace send a
#     POSIX signal at the POSIX build's fsync, which Windows has neither of.
#   Insert.TapeEntriesThatShareDataAreNotCopied and
#     Archives.ZipBombStaysWithinItsBound limit the address space
#     (RLIMIT_AS) of the run, far below what Wine itself maps.
#   *Tmux* any later test that needs tmux.
#   StructuredFiles.DamagedContainersAreInsertedWholeOrNotAtAll runs kestrel
#     on every cut and lie of three containers, about 2,000 runs, each a Wine
#     start: minutes under Wine for parsing that the native and sanitizer
#     suites check byte for byte; the refusal tables still run here.
#   DocExamples.* run the documents' examples through bash, several kestrel
#     calls each (fixtures, claims): 10.5 minutes under Wine (measured), for
#     bytes the other suites compare
#     already; and the manual's example of a destination that is a link needs
#     POSIX links.
excluded_tests=(
    "ViewerTerminal.*"
    "TerminalListing.GraphicsArriveAsUtf8Glyphs"
    "TerminalListing.EscapeBytesInRawNamesDoNotReachTheTerminal"
    "CommandLine.EmptyCommandLineShowsUsageWithTheInvocationName"
    "Destination.ReadOnlyFolderKeepsTheExistingFile"
    "*Permission*"
    "SafeWrite.FileSizeLimitFailsTheWriteInsteadOfEndingTheProcess"
    "Extract.FileSizeLimitTakesBackTheFilesWritten"
    "SafeWrite.TemporaryFileIsSyncedBeforeItTakesTheName"
    "SafeWrite.SignalDuringTheFlushRemovesTheTemporaryFile"
    "Insert.TapeEntriesThatShareDataAreNotCopied"
    "Archives.ZipBombStaysWithinItsBound"
    "StructuredFiles.DamagedContainersAreInsertedWholeOrNotAtAll"
    "*Tmux*"
    "DocExamples.*"
)
excluded=${KESTREL_WINDOWS_EXCLUDE:-$(IFS=:; echo "${excluded_tests[*]}")}

echo "== Cross-compiling kestrel.exe (build-windows)"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target kestrel

echo "== Building the native end-to-end suite (build-windows/host)"
cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=ON >/dev/null
cmake --build "$host" -j "$jobs" --target kestrel_e2e_tests

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# Wine takes the code pages for arguments and file names from the locale: the
# tests' non-ASCII names need the same UTF-8 locale everywhere (a bare
# container sets none, and Wine then falls back to another code page).
export LC_ALL=C.UTF-8
export WINEPREFIX=$build/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono, no Gecko (no download prompts), no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

# Making a prefix now and then leaves system32 empty (seen once in a clean CI
# clone: "could not load kernel32.dll"); such a prefix is made again.
prefix_ready() { [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; }
for attempt in 1 2 3; do
    prefix_ready && break
    echo "== Creating the Wine prefix (attempt $attempt)"
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w
done
prefix_ready || { echo "could not create a working Wine prefix in $WINEPREFIX"; exit 1; }

# One wine server for the whole run instead of one per kestrel call; it is
# stopped again however this script ends. Wine's background services start
# here, with no standard stream of ours: a service started by the first test's
# kestrel.exe would inherit that test's output pipes and keep them open, and
# the test would wait for their end forever.
"$wineserver" -p >/dev/null 2>&1 || true  # fails only when one runs already
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
"$wine" wineboot </dev/null >/dev/null 2>&1 || true

wrapper=$build/kestrel-wine.sh
cat >"$wrapper" <<EOF
#!/bin/sh
# Written by tests/windows/run.sh: runs kestrel.exe under Wine.
export LC_ALL=C.UTF-8 WINEPREFIX='$WINEPREFIX' WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
# Not exec: a status kestrel never gives (it gives 0 to 3) is Wine's own,
# such as a start that failed, and goes into the log of odd calls.
'$wine' '$build/kestrel.exe' "\$@"
status=\$?
case \$status in
    0|1|2|3) ;;
    *) printf '%s status %s: kestrel.exe %s\\n' "\$(date +%T)" "\$status" "\$*" >>'$build/wine-odd-calls.log' ;;
esac
exit \$status
EOF
chmod +x "$wrapper"

echo "== kestrel.exe under Wine: first run"
out=$("$wrapper" </dev/null 2>/dev/null)
case "$out" in
    "A tool to view and manipulate d64 files."*) ;;
    *) echo "kestrel.exe did not print its usage under Wine:"; echo "$out"; exit 1 ;;
esac

echo "== End-to-end suite against kestrel.exe (excluded: $excluded)"
# A hang (a pipe held open, a key read that never ends) fails the run instead
# of stopping CI. The bound is far above a run's length: on a machine busy
# with other builds the suite ran 87 tests in 862 s (14 minutes).
run_suite() {
    KESTREL_TEST_BINARY=$wrapper timeout "${KESTREL_WINDOWS_TIMEOUT:-3600}" \
        "$host/tests/kestrel_e2e_tests" --gtest_filter="$1" </dev/null 2>&1 | tee "$log"
    return "${PIPESTATUS[0]}"
}
log=$build/e2e-under-wine.log
rm -f "$build/wine-odd-calls.log"
status=0
run_suite "-$excluded" || status=$?
[ "$status" -eq 0 ] && exit 0

# Now and then a kestrel.exe call under Wine comes back at once with no output
# at all (4 to 9 ms where a run takes 20 ms or more): seen in a clean CI clone
# and twice in about 450 repeats of the ten viewer tests, each time on another
# test, which passed in every other repeat. Such a start of
# Wine's would fail CI, so the failed tests run once more, when there are at
# most three of them: a fault of kestrel's fails both times, and the run still
# fails on it. A timeout or a suite that did not finish is not retried.
failed=$(sed -n 's/^\[  FAILED  \] \([^ ,]*\).* ([0-9]* ms)$/\1/p' "$log" | sort -u)
count=$(printf '%s' "$failed" | grep -c . || true)
if [ "$status" -eq 124 ] || [ "$count" -eq 0 ] || [ "$count" -gt 3 ]; then exit "$status"; fi
echo "== Running the $count failed test(s) once more under Wine: $(echo $failed)"
[ -f "$build/wine-odd-calls.log" ] && { echo "Calls with a status kestrel never gives:"; cat "$build/wine-odd-calls.log"; }
run_suite "$(echo $failed | tr ' ' ':')"
echo "== The failed test(s) passed on the second run; counted as Wine's, not kestrel's: $(echo $failed)"
