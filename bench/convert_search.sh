#!/usr/bin/env bash
# Converts the real PRINTS and TRANSFAC files of the shared data with printsconv and
# transfacconv and searches each converted library end to end with zelkosearch: PRINTS
# fingerprints against the UniProt sample, TRANSFAC weight matrices against the fly upstream
# regions on both strands, at a p-value (-lazy -uniform; the libraries' own TRANSFAC
# thresholds are relative scores and would let nearly every window match). Prints, per file,
# the converted matrices, the conversion time beside a plain read of the file (the floor),
# and the search's exit status and match count; fails when a conversion or a search fails.
#
# usage: bench/convert_search.sh [-build DIR] [-pval P] [-jobs N] [-quick]
# -quick searches the bundled 300 fly regions (examples/) instead of all 26454.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
pval=1e-9
jobs=2
dnadb=$shared/dna/dm3_upstream2000.fa.gz
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -pval) pval=$2; shift 2 ;;
    -jobs) jobs=$2; shift 2 ;;
    -quick) dnadb=$here/examples/dm3_upstream300.fa.gz; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
for program in printsconv transfacconv zelkosearch; do
  [ -x "$build/$program" ] || { echo "build $build/$program first" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds() { awk -v start="$1" -v now="$(date +%s%N)" 'BEGIN { printf "%.3f", (now - start) / 1e9 }'; }

failed=0
run() {  # converter, input, database, alphabet option, strand options
  local converter=$1 input=$2 db=$3 alphabet=$4 strands=$5
  local library=$work/$(basename "$input").lib start floor convert matrices status=0
  start=$(date +%s%N); cat "$input" > /dev/null; floor=$(seconds "$start")
  start=$(date +%s%N)
  "$build/$converter" "$input" > "$library" 2> "$work/convert.err" || status=$?
  convert=$(seconds "$start")
  matrices=$(grep -c '^BEGIN INT\|^BEGIN FLOAT' "$library" || true)
  printf '%-40s %4s matrices, convert %ss (read %ss), status %s' \
    "$(basename "$input")" "$matrices" "$convert" "$floor" "$status"
  [ "$status" -eq 0 ] || { failed=1; echo; return; }
  status=0
  start=$(date +%s%N)
  "$build/zelkosearch" -db "$db" $alphabet -pr "$library" -lahead -pval "$pval" -lazy \
    -uniform $strands -format null -qw -j "$jobs" > /dev/null 2> "$work/search.err" || status=$?
  printf '; search %ss, status %s, %s\n' "$(seconds "$start")" "$status" \
    "$(grep -o 'Found [0-9]* match[es]*' "$work/search.err" || tail -1 "$work/search.err")"
  [ "$status" -eq 0 ] || failed=1
}

for input in "$shared"/prints/*.pval; do
  run printsconv "$input" "$shared/protein/mmseqs2_DB.fasta.gz" -protein ""
done
run transfacconv "$shared/transfac/match_style_matrix_library.lib" "$dnadb" -dna -2
exit $failed
