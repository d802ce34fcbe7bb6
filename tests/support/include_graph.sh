#!/bin/sh
# Checks the includes between the folders of src/ against the one list of allowed edges: every
# `#include "folder/file"` of a source in another folder must be listed there as
# "from -> to", and the listed edges must form no cycle, so that no folder depends on one
# above it. Every project include names its folder.
#
# Usage: include_graph.sh SRCDIR EDGESFILE. Prints each offending include and exits with 1.
set -eu
src=$1
edges=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The allowed edges, one "from to" a line.
status=0
awk -v name="$edges" '{ sub(/#.*/, "") }
  NF == 3 && $2 == "->" { print $1, $3; next }
  NF > 0 { printf "%s:%d: not an edge: %s\n", name, NR, $0 > "/dev/stderr"; bad = 1 }
  END { exit bad }' "$edges" > "$work/edges" || status=1
sort -u "$work/edges" > "$work/allowed"

# The includes: "from to path" for every include of a file in another folder.
find "$src" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) | sort > "$work/files"
while read -r file; do
  from=${file#"$src"/}
  from=${from%%/*}
  sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" |
    while read -r target; do
      case $target in
        */*) to=${target%%/*} ;;
        *)
          echo "$file: #include \"$target\" names no folder" >&2
          echo bad >> "$work/bad"
          continue
          ;;
      esac
      if [ ! -e "$src/$target" ]; then
        echo "$file: #include \"$target\": no such file" >&2
        echo bad >> "$work/bad"
        continue
      fi
      [ "$from" = "$to" ] || echo "$from $to $file"
    done
done < "$work/files" > "$work/includes"
if [ -e "$work/bad" ]; then status=1; fi

# Includes along an edge that is not allowed.
while read -r from to file; do
  if ! grep -qx "$from $to" "$work/allowed"; then
    echo "$file: includes $to/, but $from -> $to is not an allowed edge ($edges)" >&2
    status=1
  fi
done < "$work/includes"

# A cycle among the allowed edges: tsort names the folders on each loop it finds; the first
# loop is shown.
if ! tsort "$work/allowed" > /dev/null 2> "$work/tsort"; then
  echo "the allowed edges form a cycle through:" >&2
  awk '/input contains a loop/ { if (++loops > 1) exit; next } { sub(/^tsort: /, "  "); print }' \
    "$work/tsort" >&2
  status=1
fi

# Allowed edges no include uses any more: worth removing from the list, not an error.
cut -d' ' -f1,2 "$work/includes" | sort -u > "$work/used"
comm -23 "$work/allowed" "$work/used" | while read -r from to; do
  echo "note: no include uses the allowed edge $from -> $to" >&2
done

if [ "$status" -eq 0 ]; then
  echo "$(wc -l < "$work/used") folder edges, all allowed, no cycle"
fi
exit "$status"
