#!/usr/bin/env bash
# `make install` into a staging folder: every program of the build lands in bin and runs,
# the manual pages land in share/man/man1 and render without a warning of man or groff.
# Usage: install_check.sh BUILDDIR WORKDIR
set -euo pipefail
build=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
DESTDIR="$work" cmake --install "$build" --prefix /opt/zelko > "$work/install.log"
root=$work/opt/zelko
failed=0

for program in "$root"/bin/*; do
  name=$(basename "$program")
  case $name in
    printsconv|transfacconv)
      # Without the input file argument they print their usage and end with 255.
      status=0; "$program" > /dev/null 2>&1 || status=$?
      [ $status = 255 ] || { echo "$name: status $status without arguments"; failed=1; } ;;
    *)
      "$program" -version > "$work/$name.version" 2>&1 ||
        { echo "$name -version failed"; failed=1; } ;;
  esac
  [ -e "$root/share/man/man1/$name.1" ] || { echo "$name has no manual page"; failed=1; }
done
[ -x "$root/bin/zelkosearch" ] && [ -x "$root/bin/zelkotable" ] ||
  { echo "zelkosearch or zelkotable not installed"; failed=1; }

cd "$root/share/man"
for page in zelko zelkosearch zelkodist zelkoindex motifconv zelkotable zelkomerge printsconv \
    transfacconv; do
  file=man1/$page.1
  [ -f "$file" ] || { echo "missing $file"; failed=1; continue; }
  warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 > "$work/$page.txt") || true
  [ -z "$warnings" ] || { echo "$file: $warnings"; failed=1; }
  grep -q "^NAME" "$work/$page.txt" && grep -q "^OPTIONS\|^EXIT STATUS" "$work/$page.txt" ||
    { echo "$file renders without its sections"; failed=1; }
done
# The pages of the single-threaded builds are their threaded twins' pages, read by man -l
# from any folder.
for file in man1/*-st.1; do
  [ -e "$file" ] || continue
  warnings=$(cd / && MANWIDTH=80 man --warnings -E UTF-8 -l "$root/share/man/$file" 2>&1 \
    > "$work/st.txt") || true
  [ -z "$warnings" ] || { echo "$file: $warnings"; failed=1; }
  grep -q "^NAME" "$work/st.txt" || { echo "$file renders without its sections"; failed=1; }
done
exit $failed
