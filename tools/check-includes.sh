#!/usr/bin/env bash
# The include direction of ARCHITECTURE.md: a file of a listed folder includes only files
# of its own folder or of folders listed below it.  Reads the order from the folder list
# there (its "- `name/`" lines, top to bottom) and names every include that goes up.
# Files outside the listed folders (tests, fuzz targets, benchmarks) are not checked.
# Exit status 1 when an include goes up.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t order < <(sed -nE 's|^- `([A-Za-z0-9_.-]+)/`.*|\1|p' ARCHITECTURE.md)
if ((${#order[@]} < 2)); then
  echo "check-includes: no folder list found in ARCHITECTURE.md" >&2
  exit 1
fi
declare -A rank home
for i in "${!order[@]}"; do rank[${order[$i]}]=$i; done

mapfile -t files < <(find "${order[@]}" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \) | sort)
# Includes name a header without its folder: a header's file name says which folder it is
# in (each name that occurs in several folders lists them all).
for f in "${files[@]}"; do
  case $f in *.h | *.hpp) home[${f##*/}]+="${f%%/*} " ;; esac
done

status=0
while IFS=: read -r f line name; do
  own=${f%%/*}
  name=${name##*/}
  folders=${home[$name]:-}
  [[ -z $folders || " $folders" == *" $own "* ]] && continue
  for folder in $folders; do
    if ((rank[$folder] < rank[$own])); then
      echo "$f:$line: includes $name of $folder/, which ARCHITECTURE.md lists above $own/"
      status=1
    fi
  done
done < <(grep -nHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "${files[@]}" |
  sed -E 's/^([^:]+):([0-9]+):[^<"]*[<"]([^>"]+)[>"].*/\1:\2:\3/')
exit $status
