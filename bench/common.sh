# Helpers shared by the benchmark scripts (sourced, not run): the release
# build, whole-process instruction counts from callgrind and the rows that
# print a figure beside its target. ROW_WIDTH sets the width of the name
# column (default 34).

# Builds a release kestrel (no tests) in build-bench/ of the tree at `root`
# and names it in $kestrel.
build_kestrel() {  # root
    echo "== building"
    cmake -S "$1" -B "$1/build-bench" -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF >/dev/null
    cmake --build "$1/build-bench" -j2 >/dev/null
    kestrel=$1/build-bench/kestrel
}

# Whole-process instructions of one command, run in the folder given.
instructions_in() {  # folder, command...
    local folder=$1
    shift
    (cd "$folder" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null </dev/null) |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

row() {  # name, figure, target, verdict
    printf "  %-${ROW_WIDTH:-34}s %12s   target %-12s %s\n" "$1" "$2" "$3" "$4"
}

verdict() {  # figure, limit
    awk -v f="$1" -v l="$2" 'BEGIN { print (f + 0 <= l + 0) ? "met" : "NOT MET" }'
}

# Wall-clock seconds of one command (output dropped), and the smaller of two numbers.
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }

# Best of three wall-clock runs of `cat` and of `kestrel -json` over the images
# given (after one warm-up of each): sets best_cat, best_json and their ratio.
json_against_cat() {  # images...
    cat "$@" >/dev/null
    "$kestrel" -json "$@" >/dev/null
    best_cat=999 best_json=999
    for round in 1 2 3; do
        best_cat=$(smaller "$(seconds cat "$@")" "$best_cat")
        best_json=$(smaller "$(seconds "$kestrel" -json "$@")" "$best_json")
    done
    ratio=$(awk -v k="$best_json" -v c="$best_cat" 'BEGIN { printf "%.2f", k / c }')
}

# A full disk made by cc1541: `entries` files (made for it in $work/files),
# the first `larger` of them `blocks` + 1 blocks long, the others `blocks`
# blocks (254 data bytes each). The caller checks that it came out full.
full_disk() {  # image, name, entries, blocks, larger
    local image=$1 name=$2 entries=$3 blocks=$4 larger=$5 i size args=()
    mkdir -p "$work/files"
    for ((i = 0; i < entries; i++)); do
        size=$((254 * (i < larger ? blocks + 1 : blocks)))
        head -c "$size" /dev/urandom >"$work/files/$i"
        args+=(-f "file$i" -w "$work/files/$i")
    done
    # -m: the names are not checked for the hash collisions of one fast loader.
    # The status is not looked at: whether the disk came out full is.
    cc1541 -q -m -n "$name" -i "fb" "${args[@]}" "$image" >/dev/null 2>&1 || true
    rm -r "$work/files"
}
