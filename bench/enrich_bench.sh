#!/usr/bin/env bash
# Motif enrichment on real promoters: the last 200 letters before the transcription start of
# every fly upstream region (the core promoters) against the first 200 letters of the same
# regions (2 kb upstream), with the 879 JASPAR 2024 vertebrate motifs. Prints the 15 most
# enriched motifs, the median time of `zelko enrich` beside the median time of the two scans
# it stands on (`zelko scan` of the targets and of the control, with the same options), and
# their ratio (target: at most 1.5). With -best, the rank-sum test of every sequence's best
# score too. Skips (status 0) when ../shared/data is absent.
#
# usage: bench/enrich_bench.sh [-build DIR] [-repeats R] [-threads N] [-best]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
repeats=3
threads=2
best=0
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -threads) threads=$2; shift 2 ;;
    -best) best=1; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
jaspar=$shared/jaspar/JASPAR2024_CORE_vertebrates_non-redundant_pfms_jaspar.txt
fly=$shared/dna/dm3_upstream2000.fa.gz
if [ ! -f "$jaspar" ] || [ ! -f "$fly" ]; then
  echo "enrich_bench: skipped, $shared is absent"
  exit 0
fi
[ -x "$build/zelko" ] || { echo "build $build/zelko first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The regions' last and first 200 letters, as one line each.
cut200() {
  gzip -dc "$fly" | awk -v last="$1" '
    /^>/ { if (s != "") print h "\n" (last ? substr(s, length(s) - 199) : substr(s, 1, 200))
           h = $0; s = ""; next }
    { s = s $0 }
    END { print h "\n" (last ? substr(s, length(s) - 199) : substr(s, 1, 200)) }'
}
cut200 1 > "$work/core.fa"
cut200 0 > "$work/distal.fa"

seconds() {  # the wall time of a command
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

enrich() {
  "$build/zelko" enrich -q -j "$threads" --control "$work/distal.fa" -o "$work/enrich.tsv" \
    "$jaspar" "$work/core.fa"
}
scans() {
  # The background the enrichment uses: the control's, counted; both scans with it.
  "$build/zelko" scan -q -j "$threads" --background "$work/background" -o /dev/null \
    "$jaspar" "$work/core.fa" &&
    "$build/zelko" scan -q -j "$threads" --background "$work/background" -o /dev/null \
      "$jaspar" "$work/distal.fa"
}
# The control's letter frequencies as a background file.
awk '!/^>/ { n = split(toupper($0), c, ""); for (i = 1; i <= n; i++) k[c[i]]++ }
     END { t = k["A"] + k["C"] + k["G"] + k["T"]
           printf "a %.10f\nc %.10f\ng %.10f\nt %.10f\n", k["A"] / t, k["C"] / t, k["G"] / t, k["T"] / t }' \
  "$work/distal.fa" > "$work/background"

: > "$work/enrich.times"
: > "$work/scan.times"
for _ in $(seq "$repeats"); do
  seconds enrich >> "$work/enrich.times"
  seconds scans >> "$work/scan.times"
done
e=$(median < "$work/enrich.times")
s=$(median < "$work/scan.times")
echo "work: $(grep -c '>' "$work/core.fa") core promoters (last 200 letters) against the same regions' first 200, 879 JASPAR motifs, both strands, p <= 1e-4, $threads threads"
echo
echo "top 15 of $(($(wc -l < "$work/enrich.tsv") - 1)) motifs:"
head -16 "$work/enrich.tsv" | cut -f 1,2,5,9,12,13,15 | column -t
echo
printf 'zelko enrich %.2f s, the two scans %.2f s: %.3fx (target <= 1.5): %s\n' "$e" "$s" \
  "$(echo "$e / $s" | bc -l)" "$(echo "$e <= 1.5 * $s" | bc -l | sed 's/1/PASS/; s/0/FAIL/')"
if [ "$best" -eq 1 ]; then
  start=$(date +%s.%N)
  "$build/zelko" enrich -q -j "$threads" --threshold best --control "$work/distal.fa" \
    -o "$work/best.tsv" "$jaspar" "$work/core.fa"
  end=$(date +%s.%N)
  echo
  printf 'rank-sum of best scores (--threshold best), %.2f s; top 15:\n' "$(echo "$end - $start" | bc -l)"
  head -16 "$work/best.tsv" | cut -f 1,2,12,13,15 | column -t
fi
