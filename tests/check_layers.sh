#!/usr/bin/env bash
# Fails when an include in src/ runs from a lower floor to a higher one, or
# sideways between two folders of the same floor. Floors, from the ground up:
#   1 base/   2 disk/, then gcr/ (it decodes tracks into a disk's blocks)
#   3 directory/ views/ check/ files/ report/ containers/ make/ blocks/
#   4 edit/ (the editors, which make their changes through the features of floor 3)   5 frontend/
# Usage: check_layers.sh SOURCE_DIR
set -eu
src="$1/src"
floor() {
  case "$1" in
    base) echo 10 ;; disk) echo 20 ;; gcr) echo 25 ;;
    directory|views|check|files|report|containers|make|blocks) echo 30 ;;
    edit) echo 35 ;; frontend) echo 40 ;; *) echo 0 ;;
  esac
}
bad=0
while IFS=: read -r file _ target; do
  from=${file#"$src"/}; from=${from%%/*}
  to=${target#*[\"<]}; to=${to%%/*}
  [ "$from" = "$to" ] && continue
  f=$(floor "$from"); t=$(floor "$to")
  if [ "$f" -eq 0 ] || [ "$t" -eq 0 ] || [ "$t" -ge "$f" ]; then
    echo "upward or sideways include: $file includes ${target#*#include }"
    bad=1
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*("|<(base|disk|gcr|directory|views|check|files|report|containers|make|blocks|edit|frontend)/)' "$src")
[ "$bad" -eq 0 ] && echo "every include runs downward"
exit "$bad"
