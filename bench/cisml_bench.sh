#!/usr/bin/env bash
# Times zelkosearch -format cisml against -format null side by side in one run: the same
# search, once writing the whole document and once printing nothing, and prints the median
# wall time of each, their ratio, the number of matches and the document size. The document
# (collecting every match, sorting it by matrix and sequence, writing it) should cost at most
# twice the search. The last document written is checked with xmllint when it is installed
# (outside the timing).
#
# usage: bench/cisml_bench.sh [-build DIR] [-db FILE] [-lib FILE] [-pval P] [-strands "fn 2"]
#                             [-repeats R] [-jobs J]
# Defaults: the whole shared fly upstream regions (52.9 Mbp), the 169 TRANSFAC matrices,
# p = 1e-4, forward strand and both strands, 3 repeats, one job.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
db=$shared/dna/dm3_upstream2000.fa.gz
lib=$shared/libraries/transfac_public169.lib
pval=1e-4
strands="fn 2"
repeats=3
jobs=1
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -db) db=$2; shift 2 ;;
    -lib) lib=$2; shift 2 ;;
    -pval) pval=$2; shift 2 ;;
    -strands) strands=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -jobs) jobs=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

search=$build/zelkosearch
[ -x "$search" ] || { echo "build $search first" >&2; exit 2; }
schema=$here/tests/data/cisml/cisml.xsd

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall time of one run in seconds; stdout goes to $work/out.<format>, stderr to $work/err.
timerun() {
  local format=$1 start end
  shift
  start=$(date +%s.%N)
  "$search" "$@" -format "$format" > "$work/out.$format" 2> "$work/err"
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

echo "database: $db, library: $(basename "$lib"), p = $pval, $repeats repeats, -j $jobs, $(date -u +%F), $(uname -m), $(g++ --version | head -1)"
printf '%-8s %10s %10s %10s %7s %12s\n' strand matches null_s cisml_s ratio document_MB
for strand in $strands; do
  null=(); cisml=()
  common=(-db "$db" -dna -pr "$lib" -lahead -pval "$pval" -lazy -uniform "-$strand" -j "$jobs")
  for ((r = 0; r < repeats; r++)); do
    null+=("$(timerun null "${common[@]}")")
    cisml+=("$(timerun cisml "${common[@]}")")
  done
  matches=$(sed -n 's/^Found \([0-9]*\) match.*/\1/p' "$work/err")
  n=$(printf '%s\n' "${null[@]}" | median)
  c=$(printf '%s\n' "${cisml[@]}" | median)
  ratio=$(echo "$c / $n" | bc -l)
  size=$(echo "$(stat -c %s "$work/out.cisml") / 1000000" | bc -l)
  printf '%-8s %10s %10.3f %10.3f %7.2f %12.1f\n' "-$strand" "$matches" "$n" "$c" "$ratio" "$size"
  if command -v xmllint > /dev/null; then
    xmllint --noout --stream --schema "$schema" "$work/out.cisml" 2>&1 | tail -1 | sed 's/^/  xmllint: /'
  fi
done
