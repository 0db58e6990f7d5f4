#!/usr/bin/env bash
# The packages of `make package`: builds them and checks what they hold; then,
# as root, installs the .deb with dpkg -i, runs the installed kestrel
# --version, man -w kestrel and the installed bash completion, and removes it
# with dpkg -r, failing when anything of it is left. The machine stays as it
# was: not as root, or when a kestrel package or one of its files is there
# already, the install is skipped with a message; the package is removed
# however the run ends.
set -euo pipefail
cd "$(dirname "$0")/../.."
pkg_build=${PKG_BUILD:-build-package}
win_build=${WIN_BUILD:-build-windows}
failed=0
fail() { echo "FAIL: $*"; failed=1; }

make --no-print-directory package PKG_BUILD="$pkg_build" WIN_BUILD="$win_build"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$pkg_build/CMakeCache.txt")
deb=$pkg_build/kestrel_${version}_$(dpkg --print-architecture).deb
echo "== $deb: Version $(dpkg-deb -f "$deb" Version), Depends '$(dpkg-deb -f "$deb" Depends)'"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort)
[ "$files" = "$(printf '%s\n' /usr/bin/kestrel /usr/share/bash-completion/completions/kestrel \
    /usr/share/doc/kestrel/README.md /usr/share/man/man1/kestrel.1.gz)" ] || fail "the .deb holds: $files"
zip=$win_build/kestrel-$version-win64.zip
if [ -f "$zip" ]; then
    [ "$(cmake -E tar tf "$zip" | sed 's|^[^/]*/||' | sort | tr '\n' ' ')" = "README.md kestrel.exe " ] ||
        fail "$zip holds: $(cmake -E tar tf "$zip")"
fi

skip() { echo "== Not installing the package: $1"; exit "$failed"; }
[ "$(id -u)" -eq 0 ] || skip "dpkg -i needs root"
status=$(dpkg-query -W -f='${db:Status-Status}' kestrel 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = not-installed ] || skip "a kestrel package is there already ($status)"
for file in $files; do [ ! -e "$file" ] || skip "$file is there already"; done

trap 'dpkg -r kestrel >/dev/null 2>&1 || true' EXIT
dpkg -i "$deb"
[ "$(/usr/bin/kestrel --version)" = "kestrel $version" ] || fail "kestrel --version: $(/usr/bin/kestrel --version)"
page=$(MANPATH=/usr/share/man man -w kestrel) || true
[ "$page" = /usr/share/man/man1/kestrel.1.gz ] || fail "man -w kestrel: '$page'"
title=$(zcat /usr/share/man/man1/kestrel.1.gz | sed -n '/^\.TH /p')
[[ $title == *"\"kestrel $version\""* ]] || fail "the manual page's title names another version: $title"
# Completing "kestrel -chec" and "kestrel " in a folder with one image.
folder=$(mktemp -d)
touch "$folder/game.d64" "$folder/notes.txt"
offered=$(cd "$folder" && bash -c '. /usr/share/bash-completion/completions/kestrel
    COMP_WORDS=(kestrel -chec) COMP_CWORD=1; _kestrel; echo "${COMPREPLY[*]}"
    COMP_WORDS=(kestrel "") COMP_CWORD=1; _kestrel; echo "${COMPREPLY[*]}"')
rm -r "$folder"
[ "$offered" = $'-check\ngame.d64' ] || fail "the completion offers: $offered"

dpkg -r kestrel
trap - EXIT
status=$(dpkg-query -W -f='${db:Status-Status}' kestrel 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = not-installed ] || fail "after dpkg -r the package is '$status'"
for file in $files /usr/share/doc/kestrel; do [ ! -e "$file" ] || fail "$file is left after dpkg -r"; done
[ "$failed" -ne 0 ] || echo "== The package installs, works and goes again"
exit "$failed"
