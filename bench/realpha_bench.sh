#!/usr/bin/env bash
# Times the reduced-alphabet search (-realpha -lahead over the 10- and 4-class amino acid maps)
# against the plain protein search (-protein -lahead) side by side in one run, on the shared
# UniProt sample with the PRINTS fingerprints converted by printsconv (long protein matrices),
# one job, -lazy -uniform -format null; prints the median wall times and their ratio, and
# checks that both report the same matches (tabs output, sorted).
#
# usage: bench/realpha_bench.sh [-build DIR] [-repeats R] [-pvals "1e-6 1e-9"]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
repeats=3
pvals="1e-6 1e-9 1e-12"
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -pvals) pvals=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
search=$build/zelkosearch
[ -x "$search" ] && [ -x "$build/printsconv" ] || { echo "build $build first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
db=$work/uniprot.fa
gzip -dc "$shared/protein/mmseqs2_DB.fasta.gz" > "$db"
lib=$work/prints.lib
for f in "$shared"/prints/*.pval; do "$build/printsconv" "$f"; done > "$lib"
echo "database: $(grep -c '>' "$db") proteins; library: $(grep -c '^BEGIN INT\|^BEGIN FLOAT' "$lib") PRINTS matrices"

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
common=(-pr "$lib" -lahead -lazy -uniform -q)
printf '%-8s %-10s %10s %10s %8s %s\n' p-value map protein realpha ratio hits
for p in $pvals; do
  plain=(-db "$db" -protein "${common[@]}" -pval "$p")
  expected=$("$search" "${plain[@]}" -format tabs | cut -f1-8,10- | sort | md5sum)
  hits=$("$search" "${plain[@]}" -format tabs | wc -l)
  for map in murphy10 murphy4; do
    reduced=(-db "$db" -smap "$here/smap/$map.smap" -realpha "${common[@]}" -pval "$p")
    got=$("$search" "${reduced[@]}" -format tabs | cut -f1-8,10- | sort | md5sum)
    [ "$got" = "$expected" ] && same="identical" || same="DIFFERENT"
    plaintimes=() reducedtimes=()
    for ((r = 0; r < repeats; r++)); do
      plaintimes+=("$(seconds "$search" "${plain[@]}" -format null)")
      reducedtimes+=("$(seconds "$search" "${reduced[@]}" -format null)")
    done
    a=$(printf '%s\n' "${plaintimes[@]}" | median)
    b=$(printf '%s\n' "${reducedtimes[@]}" | median)
    printf '%-8s %-10s %9.2fs %9.2fs %8.2f %s %s\n' "$p" "$map" "$a" "$b" \
      "$(echo "$b / $a" | bc -l)" "$hits" "$same"
  done
done
echo "ratio = realpha / protein wall time (median of $repeats); below 1 the reduced search wins"
