#!/usr/bin/env bash
# What zelko scan's table costs beyond the search: `zelko scan -o /dev/null` (motifs read and
# converted, search, matches collected and sorted, q-values, every row formatted) against the
# engine alone, `zelkosearch -lahead -lazy -format null` on a library that motifconv -scale
# 1000 made of the same file, on the same work: both strands, p <= 1e-4, the uniform
# background, one thread, over the fly upstream file (decompressed once; both read the same
# plain Fasta). Two motif sets: the 169 TRANSFAC public matrices and the 879 JASPAR 2024
# vertebrate motifs. Runs alternate; per set it prints the medians of user+system processor
# seconds of each (bash's time), the rows of the table (and the engine's -format tabs lines,
# which should be as many), the ratio zelko / engine with its target (at most 1.6) and the
# extra cost per row in ns, (zelko - engine) / rows. Skips (status 0) when ../shared/data is
# absent.
#
# usage: bench/table_cost_bench.sh [-build DIR] [-repeats R] [-sequences N]
# Defaults: 3 repeats, every sequence of the fly file (52.9 Mbp); -sequences N takes the first
# N for a quick try.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
repeats=3
sequences=all
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -sequences) sequences=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
shared=$here/../shared/data
transfac=$shared/transfac/transfac_public_2.4_matrix.dat
jaspar=$shared/jaspar/JASPAR2024_CORE_vertebrates_non-redundant_pfms_jaspar.txt
fly=$shared/dna/dm3_upstream2000.fa.gz
if [ ! -f "$transfac" ] || [ ! -f "$jaspar" ] || [ ! -f "$fly" ]; then
  echo "table_cost_bench: skipped, needs $transfac, $jaspar and $fly"
  exit 0
fi
for program in zelko zelkosearch motifconv; do
  [ -x "$build/$program" ] || { echo "build $build/$program first" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP
fa=$work/fly.fa
if [ "$sequences" = all ]; then
  gzip -dc "$fly" > "$fa"
else
  # awk stops reading early: the broken pipe of gzip is no failure here.
  { gzip -dc "$fly" || true; } |
    awk -v n="$sequences" '/^>/ { count++ } count > n { exit } { print }' > "$fa"
fi
letters=$(grep -v '^>' "$fa" | tr -d '\n' | wc -c)
records=$(grep -c '^>' "$fa")

sets="transfac jaspar"
motiffile() { if [ "$1" = transfac ]; then echo "$transfac"; else echo "$jaspar"; fi; }
for set in $sets; do
  # motifconv warns of every empty edge column it drops; the log is shown when it fails.
  if ! "$build/motifconv" -scale 1000 -o "$work/$set.lib" "$(motiffile "$set")" \
      2> "$work/$set.motifconv"; then
    cat "$work/$set.motifconv" >&2
    exit 1
  fi
done

engine() {  # engine SET OPTION...: the search alone
  local set=$1
  shift
  "$build/zelkosearch" -db "$fa" -dna -pr "$work/$set.lib" -lahead -lazy -uniform -2 -pval 1e-4 \
    -j 1 -q "$@"
}
scan() {  # scan SET OPTION...: the table
  local set=$1
  shift
  "$build/zelko" scan -q --background uniform -p 1e-4 -j 1 "$@" "$(motiffile "$set")" "$fa"
}
cpu() {  # cpu FILE COMMAND...: adds the user+system seconds of one run to FILE
  local file=$1 TIMEFORMAT='%U %S'
  shift
  if ! { time "$@" 2> "$work/stderr"; } 2> "$work/time"; then
    echo "table_cost_bench: failed: $*" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  awk '{ print $1 + $2 }' "$work/time" >> "$file"
}
median() {  # median FILE: of the numbers in FILE
  sort -g "$1" |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for ((r = 0; r < repeats; r++)); do
  for set in $sets; do
    cpu "$work/$set.engine" engine "$set" -format null
    cpu "$work/$set.zelko" scan "$set" -o /dev/null
  done
done

echo "work: $records sequences ($letters letters), both strands, p <= 1e-4, uniform background," \
  "one thread"
printf '%-9s %6s %10s %10s %10s %9s %9s %7s %-4s %8s\n' set motifs rows engine_rows engine_s \
  zelko_s ratio target ok ns/row
for set in $sets; do
  motifs=$(grep -c '^ID ' "$work/$set.lib")
  rows=$(($(scan "$set" | wc -l) - 1))
  enginerows=$(engine "$set" -format tabs | wc -l)
  awk -v set="$set" -v motifs="$motifs" -v rows="$rows" -v erows="$enginerows" \
    -v e="$(median "$work/$set.engine")" -v z="$(median "$work/$set.zelko")" \
    'BEGIN {
      ratio = z / e
      ok = ratio <= 1.6 ? "PASS" : "FAIL"
      perrow = rows > 0 ? (z - e) * 1e9 / rows : 0
      printf "%-9s %6d %10d %10d %10.2f %9.2f %9.3f %7s %-4s %8.0f\n", set, motifs, rows, erows,
        e, z, ratio, "<= 1.6", ok, perrow
    }'
done
