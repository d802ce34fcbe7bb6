#!/usr/bin/env bash
# zelkotable's throughput next to the zelkosearch run that produces its input: a real scan of
# the shared fly upstream regions (both strands, -lahead, one job) writes at least a million
# -format tabs lines; the first million are converted to each table (best of the repeats) and
# the pipe zelkosearch | zelkotable is timed against zelkosearch alone. Peak memory of
# zelkotable shows that it streams.
#
# usage: bench/table_bench.sh [-build DIR] [-db FILE] [-lib FILE] [-pval P] [-lines N]
#                             [-repeats R]
# Defaults: the whole 52.9 Mbp dm3 upstream file, the 40 bundled JASPAR matrices, p = 2.5e-4
# (about 1.05 million matches), one million lines, 3 repeats.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
db=$here/../shared/data/dna/dm3_upstream2000.fa.gz
lib=$here/examples/jaspar_vertebrates40.lib
pval=2.5e-4
lines=1000000
repeats=3
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -db) db=$2; shift 2 ;;
    -lib) lib=$2; shift 2 ;;
    -pval) pval=$2; shift 2 ;;
    -lines) lines=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
search=$build/zelkosearch
table=$build/zelkotable
[ -x "$search" ] && [ -x "$table" ] || { echo "build zelkosearch and zelkotable first" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() {  # seconds COMMAND...: wall time of one run, output discarded
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
best() {  # best COMMAND...: the shortest of the repeats
  local min="" t
  for _ in $(seq "$repeats"); do
    t=$(seconds "$@")
    if [ -z "$min" ] || [ "$(echo "$t < $min" | bc -l)" = 1 ]; then min=$t; fi
  done
  echo "$min"
}

searchargs=(-db "$db" -dna -pr "$lib" -lahead -pval "$pval" -lazy -uniform -2 -format tabs -q)
start=$(date +%s.%N)
"$search" "${searchargs[@]}" > "$work/all.tabs"
searchtime=$(echo "$(date +%s.%N) - $start" | bc -l)
produced=$(wc -l < "$work/all.tabs")
head -n "$lines" "$work/all.tabs" > "$work/lines.tabs"
converted=$(wc -l < "$work/lines.tabs")
bytes=$(wc -c < "$work/lines.tabs")
# The time zelkosearch takes for the converted lines, pro rata.
share=$(echo "$searchtime * $converted / $produced" | bc -l)

printf 'zelkosearch: %d lines in %.2f s (%.0f lines/s); %d lines (%.1f MB) take it %.2f s\n' \
  "$produced" "$searchtime" "$(echo "$produced / $searchtime" | bc -l)" "$converted" \
  "$(echo "$bytes / 1000000" | bc -l)" "$share"
for options in "-tsv" "-bed" "-bed -extra" "-gff3" "-genomic -bed"; do
  # shellcheck disable=SC2086
  t=$(best "$table" -q $options "$work/lines.tabs")
  printf 'zelkotable %-12s %.3f s  %6.0f MB/s  %5.2f M lines/s  %5.1f x faster than zelkosearch\n' \
    "$options" "$t" "$(echo "$bytes / $t / 1000000" | bc -l)" \
    "$(echo "$converted / $t / 1000000" | bc -l)" "$(echo "$share / $t" | bc -l)"
done
if [ -x /usr/bin/time ]; then
  peak=$( { /usr/bin/time -f %M "$table" -bed "$work/lines.tabs" > /dev/null; } 2>&1 )
  printf 'zelkotable -bed peak memory: %d KiB for a %.1f MB input\n' "$peak" \
    "$(echo "$bytes / 1000000" | bc -l)"
fi

# The whole pipe against the search alone, on the full run.
alone=$(best "$search" "${searchargs[@]}")
piped=$(best bash -c '"$@" | "'"$table"'" -bed' _ "$search" "${searchargs[@]}")
printf 'zelkosearch alone %.2f s, piped into zelkotable -bed %.2f s\n' "$alone" "$piped"
