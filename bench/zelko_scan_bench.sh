#!/usr/bin/env bash
# Times `zelko scan --background uniform` beside the three programs it stands for, on the same
# work: motifconv -scale 1000 of the JASPAR 2024 vertebrate file, then zelkosearch -lahead
# -lazy -uniform -2 -pval 1e-4 -format tabs piped into zelkotable, over a slice of the fly
# upstream regions. Runs alternate; the medians and their ratio are printed (zelko / pipeline:
# below 1.10 is within 10 %), with zelko's default counted background beside, and the two
# tables are checked to hold the same rows. Skips (status 0) when ../shared/data is absent.
#
# usage: bench/zelko_scan_bench.sh [-build DIR] [-repeats R] [-sequences N] [-threads "J ..."]
# Defaults: 5 repeats, the first 4000 sequences (about 8 M letters), 1 and 2 threads.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
repeats=5
sequences=4000
threadcounts="1 2"
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -sequences) sequences=$2; shift 2 ;;
    -threads) threadcounts=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
jaspar=$shared/jaspar/JASPAR2024_CORE_vertebrates_non-redundant_pfms_jaspar.txt
fly=$shared/dna/dm3_upstream2000.fa.gz
if [ ! -f "$jaspar" ] || [ ! -f "$fly" ]; then
  echo "zelko_scan_bench: skipped, $shared is absent"
  exit 0
fi
for program in zelko motifconv zelkosearch zelkotable; do
  [ -x "$build/$program" ] || { echo "build $build/$program first" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
slice=$work/slice.fa.gz
# awk stops reading early: the broken pipe of gzip is no failure here.
{ gzip -dc "$fly" || true; } | awk -v n="$sequences" '/^>/ {count++} count > n {exit} {print}' |
  gzip -1 > "$slice"

pipeline() {
  "$build/motifconv" -scale 1000 -o "$work/jaspar.lib" "$jaspar" &&
    "$build/zelkosearch" -db "$slice" -dna -pr "$work/jaspar.lib" -lahead -lazy -uniform -2 \
      -pval 1e-4 -format tabs -q -j "$1" | "$build/zelkotable" > "$work/pipeline.tsv"
}
scanuniform() {
  "$build/zelko" scan -q --background uniform -j "$1" "$jaspar" "$slice" > "$work/scan.tsv"
}
scancounted() {
  "$build/zelko" scan -q -j "$1" "$jaspar" "$slice" > "$work/counted.tsv"
}
wall() {  # the wall time of a command in seconds
  local start end
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

letters=$(gzip -dc "$slice" | grep -v '^>' | tr -d '\n' | wc -c)
echo "work: 879 JASPAR motifs x $sequences sequences ($letters letters), both strands, p <= 1e-4"
printf '%8s %12s %12s %8s %12s %10s %s\n' threads pipeline_s zelko_s ratio counted_s rows same_rows
for threads in $threadcounts; do
  p="" z="" c=""
  for ((r = 0; r < repeats; r++)); do
    p="$p $(wall pipeline "$threads")"
    z="$z $(wall scanuniform "$threads")"
    c="$c $(wall scancounted "$threads")"
  done
  pm=$(echo "$p" | median)
  zm=$(echo "$z" | median)
  cm=$(echo "$c" | median)
  # The same rows: the pipeline's in search order, zelko's sorted; q_value left aside.
  tail -n +2 "$work/pipeline.tsv" | sort > "$work/a"
  tail -n +2 "$work/scan.tsv" | cut -f 1-13 | sort > "$work/b"
  same=no
  cmp -s "$work/a" "$work/b" && same=yes
  printf '%8s %12.3f %12.3f %8.3f %12.3f %10s %s\n' "$threads" "$pm" "$zm" \
    "$(echo "$zm / $pm" | bc -l)" "$cm" "$(wc -l < "$work/a")" "$same"
done
