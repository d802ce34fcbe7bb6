#!/usr/bin/env bash
# Times zelkodist with one and with two jobs side by side (alternating, median wall time of
# each, their ratio) on real libraries and multipliers, beside the cost of a plain dense
# dynamic programme over doubles for the same tables (bench/densedp_bench), and checks that
# files written with -j 1 and -j 2 decompress to the same bytes and that zelkosearch -pdis
# prints what zelkosearch -lazy prints. Last, the time a -pdis search spends on thresholds
# (a one-line search against the same search with a raw threshold), with the file's chunk
# index and with the same records recompressed without it.
#
# usage: bench/zelkodist_bench.sh [-build DIR] [-repeats R] [-runs "LIB:MULT ..."] [-db FILE]
# Defaults: the 169 TRANSFAC matrices with multipliers 1, 10 and 100 and the 879 JASPAR
# matrices with multiplier 1, uniform background, 3 repeats (1 for multipliers above 10:
# those files hold gigabytes), the bundled fly upstream regions for the agreement check.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data/libraries
repeats=3
runs="$shared/transfac_public169.lib:1 $shared/transfac_public169.lib:10 \
$shared/transfac_public169.lib:100 $shared/jaspar2024_vertebrates879.lib:1"
db=$here/examples/dm3_upstream300.fa.gz
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -runs) runs=$2; shift 2 ;;
    -db) db=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
dist=$build/zelkodist
search=$build/zelkosearch
dense=$build/bench/densedp_bench
for program in "$dist" "$search" "$dense"; do
  [ -x "$program" ] || { echo "build $program first" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

wall() {  # prints the wall time of a command in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

printf '%-28s %5s %10s %10s %8s %10s %10s %s\n' library mult "j1_s" "j2_s" speedup \
  "dp_s" "dense_s" "checks"
for run in $runs; do
  lib=${run%%:*}
  mult=${run##*:}
  reps=$repeats
  if [ "$(echo "$mult > 10" | bc)" = 1 ]; then reps=1; fi
  one="" two=""
  for ((r = 0; r < reps; r++)); do
    one="$one $(wall "$dist" -q -dna -pr "$lib" -uniform -mult "$mult" -pdis "$work/j1.pdis" -j 1)"
    two="$two $(wall "$dist" -q -dna -pr "$lib" -uniform -mult "$mult" -pdis "$work/j2.pdis" -j 2)"
  done
  checks=same-bytes
  cmp -s <(zcat "$work/j1.pdis") <(zcat "$work/j2.pdis") || checks=BYTES-DIFFER
  rm -f "$work/j1.pdis"
  # -pdis against -lazy: p-value and E-value cutoffs on both strands.
  for cutoff in "-pval 1e-5" "-eval 1"; do
    # shellcheck disable=SC2086
    "$search" -q -db "$db" -dna -pr "$lib" -lahead -2 -format tabs $cutoff -pdis "$work/j2.pdis" \
      > "$work/pdis.out"
    # shellcheck disable=SC2086
    "$search" -q -db "$db" -dna -pr "$lib" -lahead -2 -format tabs $cutoff -lazy -uniform \
      -mult "$mult" > "$work/lazy.out"
    cmp -s "$work/pdis.out" "$work/lazy.out" && checks="$checks,${cutoff%% *}-agrees" ||
      checks="$checks,${cutoff%% *}-DIFFERS"
  done
  costs=$("$dense" "$lib" -reps "$reps" -mult "$mult" | tail -1)
  printf '%-28s %5s %10.3f %10.3f %7.2fx %10s %10s %s\n' "$(basename "$lib")" "$mult" \
    "$(echo "$one" | median)" "$(echo "$two" | median)" \
    "$(echo "$(echo "$one" | median) / $(echo "$two" | median)" | bc -l)" \
    "$(echo "$costs" | awk '{print $2}')" "$(echo "$costs" | awk '{print $3}')" "$checks"
  if [ "$mult" = 1 ]; then
    # The cost of thresholds from the file: whole searches of one short line, against the same
    # search with a raw threshold (no distribution at all), with the same records recompressed
    # without the chunk index (read whole), and with -lazy.
    printf '>one\nacgtacgtacgtacgtacgtacgtacgtacgtacgt\n' > "$work/one.fa"
    zcat "$work/j2.pdis" | gzip -9 > "$work/noindex.pdis"
    for pvalue in 1e-5 1e-3; do
      pdis="" whole="" lazy="" raw=""
      for ((r = 0; r < 5; r++)); do
        common=(-q -db "$work/one.fa" -dna -pr "$lib" -lahead)
        pdis="$pdis $(wall "$search" "${common[@]}" -pval "$pvalue" -pdis "$work/j2.pdis")"
        whole="$whole $(wall "$search" "${common[@]}" -pval "$pvalue" -pdis "$work/noindex.pdis")"
        lazy="$lazy $(wall "$search" "${common[@]}" -pval "$pvalue" -lazy -uniform)"
        raw="$raw $(wall "$search" "${common[@]}" -rawth 1000)"
      done
      p=$(echo "$pdis" | median) w=$(echo "$whole" | median) z=$(echo "$raw" | median)
      printf '  %s -pval %s, one-line search (median of 5): -pdis %.3f s, -pdis without index %.3f s, -lazy %.3f s, -rawth %.3f s; thresholds from the file %.3f s (%.3f s without index)\n' \
        "$(basename "$lib")" "$pvalue" "$p" "$w" "$(echo "$lazy" | median)" "$z" \
        "$(echo "$p - $z" | bc -l)" "$(echo "$w - $z" | bc -l)"
    done
  fi
  rm -f "$work/j2.pdis"
done
echo "j1_s, j2_s: zelkodist wall time with -j 1 and -j 2; dp_s: the complete distributions"
echo "alone; dense_s: a plain dense dynamic programme over doubles for the same tables."
