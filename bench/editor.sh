#!/usr/bin/env bash
# Cost of the directory editor (-edit) on a full D81 (296 entries, made by
# cc1541), in a real terminal: tmux runs kestrel under callgrind, keys are
# typed once its terminal is raw. Prints each figure beside its target:
#   1. start-up to the first screen: the whole process of a session that
#      only leaves (q), against a listing of the same image (target: at most
#      twice the listing's instructions);
#   2. one key and the screen drawn anew: a session of j then q less the one
#      of q alone (target: 200,000 instructions); the same for a key that
#      makes an edit (j t t less j t: t changes the type byte of entry 0 and
#      keeps an undo step; the first edit also pays for the question before
#      leaving) and for a resize of the window to 100 x 30.
# Asserts nothing. Needs cmake, a C++ compiler, cc1541, tmux and valgrind.
#
#   bench/editor.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
socket=kestrel-bench-$$
trap 'tmux -L "$socket" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT

. "$root/bench/common.sh"
build_kestrel "$root"
ROW_WIDTH=44

echo "== building the full D81"
full_disk "$work/full.d81" "full 81" 296 10 200 "$work"

pane() { tmux -L "$socket" -f /dev/null "$@"; }

# Waits (up to 60 s) until `test` holds.
wait_for() {  # test...
    local i
    for ((i = 0; i < 600; i++)); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    echo "  (gave up waiting for: $*)" >&2
    return 1
}
raw_pane() { stty -a -F "$(pane display -p '#{pane_tty}')" 2>/dev/null | grep -q -- ' -icanon '; }
screen_shows() { pane capture-pane -p | grep -qF -- "$1"; }
written() { [ -s "$work/callgrind.out" ] && grep -q '^totals:' "$work/callgrind.out"; }

# Whole-process instructions of one editor session: each argument is either
# a key for tmux send-keys or "resize", which makes the window 100 x 30.
editor_session() {  # keys...
    rm -f "$work/callgrind.out"
    pane new-session -d -x 80 -y 24 "cd '$work' && valgrind --tool=callgrind \
        --callgrind-out-file='$work/callgrind.out' '$kestrel' -edit full.d81 2>/dev/null; sleep 60"
    wait_for raw_pane
    wait_for screen_shows "q quit"
    local key
    for key in "$@"; do
        if [ "$key" = resize ]; then pane resize-window -x 100 -y 30; else pane send-keys "$key"; fi
        sleep 1
    done
    # After an edit, q asks whether to leave without writing: y.
    pane send-keys q
    sleep 1
    pane send-keys y
    wait_for written
    pane kill-server 2>/dev/null || true
    sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$work/callgrind.out"
}

listing=$(instructions_in "$work" "$kestrel" full.d81)
quit=$(editor_session)
down=$(editor_session j)
down_edit=$(editor_session j t)
down_edits=$(editor_session j t t)
resize=$(editor_session resize)

echo "== the directory editor on a full D81 (whole-process callgrind counts)"
row "listing of full.d81" "$listing" "" ""
row "-edit, first screen, then q" "$quit" "<= $((2 * listing))" "$(verdict "$quit" $((2 * listing)))"
one_key() {  # name, figure
    row "$1" "$2" "<= 200000" "$(verdict "$2" 200000)"
}
one_key "j (cursor down) and its screen" "$((down - quit))"
one_key "a second t (an edit, undo step), screen" "$((down_edits - down_edit))"
one_key "a resize (100 x 30) and its screen" "$((resize - quit))"
