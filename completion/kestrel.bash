# bash completion for kestrel: its options; for a plain argument (the image,
# the second image of -merge, the destination, the image -new makes) image
# files (.d64, .d71, .d81, .g64, .g71, and the .zip and .gz archives images
# are read from, in any case) and folders; for the file of -w and of -zipdisk any
# file, for the image of -copy image files. Values that are
# numbers, names or types get nothing offered; -40 gets its two maps, -clash
# its three choices.
# Installed as share/bash-completion/completions/kestrel, which bash-completion
# loads when kestrel is first completed; from the source tree:
#   source completion/kestrel.bash

# Every option kestrel takes (the test suite holds this list to the parser's).
_kestrel_options='-v -p -csv -e -bam -block -json -utf8 -U -Ul -rd -sd -start -adel -merge
    -rename -type -blocks -move -undel -header -id -check -fix -x -into -p00 -cvt -w -copy -wname -wtype -wtrack -wil -wrel
    -wreplace -il -dirtrack -tracks40 -clash -part -mkpart -new -40 -errorbytes -convert -edit -bedit -bamedit -bwrite
    -bread -bpoke -bfill -bcopy -bused -bfree -chain -lnx -zipcode -zipdisk -h --help --version --'

# True when kestrel takes the word as an optional number: a number in any of
# its forms, or the empty word (which it then refuses).
_kestrel_number() {
    [[ -z $1 || $1 =~ ^[+-]?(0[xX][[:xdigit:]]+|\$[[:xdigit:]]+|[0-9]+)$ ]]
}

# COMPREPLY: the names beginning with $1 that are folders, image files, or
# with $2 = any, any file.
_kestrel_files() {
    local name
    COMPREPLY=()
    while IFS= read -r name; do
        case ${name,,} in
            *.d64 | *.d71 | *.d81 | *.g64 | *.g71 | *.zip | *.gz) COMPREPLY+=("$name") ;;
            *) if [[ $2 == any || -d $name ]]; then COMPREPLY+=("$name"); fi ;;
        esac
    done < <(compgen -f -- "$1")
}

_kestrel() {
    local cur=${COMP_WORDS[COMP_CWORD]} word i ended=
    # What the options before the cursor still wait for: the kinds of the
    # values that must follow, and how many numbers may.
    local values=() optional=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((${#values[@]})); then
            values=("${values[@]:1}")
            continue
        fi
        if ((optional > 0)) && _kestrel_number "$word"; then
            optional=$((optional - 1))
            continue
        fi
        optional=0
        [[ $ended ]] && continue
        case $word in
            --) ended=1 ;;
            -rd | -sd) values=(number) optional=1 ;;
            -block | -x | -bedit) optional=2 ;;
            -bwrite | -bread) values=(value file) ;;
            -bpoke) values=(value value value) ;;
            -bfill | -bcopy) values=(value value) ;;
            -bused | -bfree | -chain) values=(value) ;;
            -start | -rename | -type | -blocks | -move) values=(number value) ;;
            -mkpart) values=(value number) ;;
            -undel | -header | -id | -part | -new | -wname | -wtype | -wtrack | -wil | -wrel | -il) values=(value) ;;
            -40) values=(map) ;;
            -clash) values=(clash) ;;
            -w | -zipdisk) values=(file) ;;
            -copy) values=(image) optional=2 ;;
            -into) values=(folder) ;;
        esac
    done
    if ((${#values[@]})); then
        COMPREPLY=()
        if [[ ${values[0]} == file ]]; then _kestrel_files "$cur" any; fi
        if [[ ${values[0]} == image ]]; then _kestrel_files "$cur" images; fi
        if [[ ${values[0]} == folder ]]; then mapfile -t COMPREPLY < <(compgen -d -- "$cur"); fi
        if [[ ${values[0]} == map ]]; then mapfile -t COMPREPLY < <(compgen -W 'speeddos dolphindos' -- "$cur"); fi
        if [[ ${values[0]} == clash ]]; then mapfile -t COMPREPLY < <(compgen -W 'refuse skip replace' -- "$cur"); fi
    elif [[ ! $ended && $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_kestrel_options" -- "$cur")
    else
        _kestrel_files "$cur" images
    fi
}
complete -o filenames -F _kestrel kestrel
