#!/usr/bin/env bash
# Times zelkosearch -simple against -lahead side by side in one run, on a real database and
# real libraries, one job, -lazy -uniform -all -format null, and prints the median wall time
# of each and their ratio. Beside them, the engine benchmark (bench/enginebench) times a plain
# naive scoring loop over the same coded sequence as the floor of scalar scoring. The lookahead
# search uses the best byte pass level of the processor (the engine benchmark can cap it).
#
# With -threads it times instead -lahead with -j 1 and -j 2, alternating, and prints their
# medians and the ratio -j 2 / -j 1 (reading the database and the thresholds are one thread's
# work; the searches of the matrices are shared out).
#
# usage: bench/search_bench.sh [-build DIR] [-db FILE] [-seqs N|all] [-repeats R]
#                              [-libs "LIB ..."] [-pvals "1e-4 1e-5 1e-6"] [-strands "fn 2"]
#                              [-threads]
# Defaults: the shared fly upstream regions (first 1000 sequences, 2 Mbp; -seqs all for the
# whole 52.9 Mbp), the 169-matrix and the 879-matrix libraries, p = 1e-4, 1e-5 and 1e-6,
# forward strand and -2, 3 repeats.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
db=$shared/dna/dm3_upstream2000.fa.gz
seqs=1000
repeats=3
libs="$shared/libraries/transfac_public169.lib $shared/libraries/jaspar2024_vertebrates879.lib"
pvals="1e-4 1e-5 1e-6"
strands="fn 2"
threads=0
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -db) db=$2; shift 2 ;;
    -seqs) seqs=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -libs) libs=$2; shift 2 ;;
    -pvals) pvals=$2; shift 2 ;;
    -strands) strands=$2; shift 2 ;;
    -threads) threads=1; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

search=$build/zelkosearch
enginebench=$build/bench/enginebench
[ -x "$search" ] || { echo "build $search first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "$seqs" = all ]; then
  database=$db
else
  database=$work/db.fa
  # The first N records of the database.
  (case "$db" in *.gz) gzip -dc "$db" ;; *) cat "$db" ;; esac) |
    awk -v n="$seqs" '/^>/ { if (++count > n) exit } { print }' > "$database" || true
fi
positions=$( (case "$database" in *.gz) gzip -dc "$database" ;; *) cat "$database" ;; esac) |
  grep -v '^>' | tr -d '\n' | wc -c)

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall time of one run in seconds; the output goes nowhere.
timerun() {
  local start end
  start=$(date +%s.%N)
  "$search" "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

echo "database: $database ($positions positions), $repeats repeats, $(date -u +%F), $(uname -m), $(g++ --version | head -1)"

if [ "$threads" = 1 ]; then
  printf '%-28s %-6s %-7s %10s %10s %9s\n' library p strand j1_s j2_s j2/j1
  for lib in $libs; do
    for p in $pvals; do
      for strand in $strands; do
        one=(); two=()
        for ((r = 0; r < repeats; r++)); do
          common=(-db "$database" -dna -pr "$lib" -pval "$p" -lazy -uniform -all -format null -q "-$strand" -lahead)
          one+=("$(timerun "${common[@]}" -j 1)")
          two+=("$(timerun "${common[@]}" -j 2)")
        done
        o=$(printf '%s\n' "${one[@]}" | median)
        t=$(printf '%s\n' "${two[@]}" | median)
        printf '%-28s %-6s %-7s %10.3f %10.3f %9.3f\n' "$(basename "$lib")" "$p" "-$strand" "$o" "$t" "$(echo "$t / $o" | bc -l)"
      done
    done
  done
  exit 0
fi
printf '%-28s %-6s %-7s %10s %10s %9s %12s\n' library p strand simple_s lahead_s ratio ns/pos/matrix
for lib in $libs; do
  matrices=$(grep -c '^BEGIN \(INT\|FLOAT\)' "$lib")
  for p in $pvals; do
    for strand in $strands; do
      simple=(); lahead=()
      for ((r = 0; r < repeats; r++)); do
        common=(-db "$database" -dna -pr "$lib" -pval "$p" -lazy -uniform -all -format null -q "-$strand" -j 1)
        simple+=("$(timerun -simple "${common[@]}")")
        lahead+=("$(timerun -lahead "${common[@]}")")
      done
      s=$(printf '%s\n' "${simple[@]}" | median)
      l=$(printf '%s\n' "${lahead[@]}" | median)
      ratio=$(echo "$s / $l" | bc -l)
      nspm=$(echo "$l * 1000000000 / ($positions * $matrices)" | bc -l)
      printf '%-28s %-6s %-7s %10.3f %10.3f %9.2f %12.3f\n' "$(basename "$lib")" "$p" "-$strand" "$s" "$l" "$ratio" "$nspm"
    done
  done
done

if [ -x "$enginebench" ]; then
  echo
  echo "Floor: naive scoring loop beside the engines over the same coded sequence (forward strand,"
  echo "reachable matrices only; medians of $repeats; processor time):"
  for lib in $libs; do
    args=(-db "$database" -lib "$lib" -repeats "$repeats")
    for p in $pvals; do args+=(-pvalue "$p"); done
    echo "== $(basename "$lib")"
    "$enginebench" "${args[@]}" 2>/dev/null | grep -E '^(lookahead byte|p-value|  naive|  simple|  lookahead|  time ratios)'
  done
fi
