#!/usr/bin/env bash
# Memory that zelko scan holds per match: the 879 JASPAR 2024 vertebrate motifs over the first
# 2,500 and 5,000 records of the fly upstream file, both strands, p <= 1e-4, the counted
# background. Prints the peak resident memory (GNU time's %M) and the rows of each run, and
# the bytes per match between the two runs (the difference of the peaks over the difference
# of the rows: what one more match costs, with the letters' own ~2 bytes each included), which
# should be at most 64; and the peak over the rows of the larger run, which also holds the
# motifs' fixed cost. Runs alternate; medians of the peaks. Skips (status 0) when
# ../shared/data or GNU time is absent.
#
# usage: bench/scan_memory_bench.sh [-build DIR] [-repeats R]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
repeats=3
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
shared=$here/../shared/data
jaspar=$shared/jaspar/JASPAR2024_CORE_vertebrates_non-redundant_pfms_jaspar.txt
fly=$shared/dna/dm3_upstream2000.fa.gz
if [ ! -f "$jaspar" ] || [ ! -f "$fly" ] || [ ! -x /usr/bin/time ]; then
  echo "skipped: needs $jaspar, $fly and GNU time (/usr/bin/time)"
  exit 0
fi
work=$(mktemp -d /tmp/zelko-memory-XXXXXX)
trap 'rm -rf "$work"' EXIT
for records in 2500 5000; do
  zcat "$fly" | awk -v n="$records" '/^>/ { r++ } r <= n' > "$work/fly$records.fa"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for ((r = 0; r < repeats; r++)); do
  for records in 2500 5000; do
    /usr/bin/time -f %M -o "$work/peak" "$build/zelko" scan -q -j 2 "$jaspar" \
      "$work/fly$records.fa" -o "$work/hits$records.tsv"
    cat "$work/peak" >> "$work/peaks$records"
  done
done
small=$(median < "$work/peaks2500")
large=$(median < "$work/peaks5000")
rowssmall=$(($(wc -l < "$work/hits2500.tsv") - 1))
rowslarge=$(($(wc -l < "$work/hits5000.tsv") - 1))
echo "work: 879 JASPAR motifs, both strands, p <= 1e-4, counted background"
printf '%8s %12s %10s\n' records peak_kB rows
printf '%8s %12s %10s\n' 2500 "$small" "$rowssmall" 5000 "$large" "$rowslarge"
awk -v a="$small" -v b="$large" -v ra="$rowssmall" -v rb="$rowslarge" 'BEGIN {
  printf "bytes per match between the runs: %.1f (target <= 64)\n", (b - a) * 1024 / (rb - ra)
  printf "peak over rows of the larger run: %.1f\n", b * 1024 / rb }'
