# Helpers shared by the benchmark scripts (sourced, not run): whole-process
# instruction counts from callgrind and the rows that print a figure beside
# its target. ROW_WIDTH sets the width of the name column (default 34).

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
