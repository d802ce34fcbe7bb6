#!/usr/bin/env bash
# Times zelkoindex on a database (wall time and peak memory, bytes per residue), then
# zelkosearch -esa against -lahead side by side in one run on that index, one job,
# -lazy -uniform -all -format null, and prints the median wall and processor (user + system)
# time of each, their ratios, and whether both engines found the same hits (sorted tabular
# output compared once). On a shared machine the processor times are the steadier measure.
#
# usage: bench/esa_bench.sh [-build DIR] [-db FILE] [-repeats R] [-libs "LIB ..."]
#                           [-pvals "1e-4 1e-5 1e-6"] [-work DIR]
# Defaults: the shared fly upstream regions (52.9 Mbp), the 169-matrix and the 879-matrix
# libraries, p = 1e-4, 1e-5 and 1e-6, 3 repeats, the index in a temporary folder (about
# 17 bytes per residue on disk).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
db=$shared/dna/dm3_upstream2000.fa.gz
repeats=3
libs="$shared/libraries/transfac_public169.lib $shared/libraries/jaspar2024_vertebrates879.lib"
pvals="1e-4 1e-5 1e-6"
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -db) db=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -libs) libs=$2; shift 2 ;;
    -pvals) pvals=$2; shift 2 ;;
    -work) work=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

search=$build/zelkosearch
indexer=$build/zelkoindex
[ -x "$search" ] && [ -x "$indexer" ] || { echo "build $search and $indexer first" >&2; exit 2; }
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
index=$work/index
echo "database: $db, $repeats repeats, $(date -u +%F), $(uname -m), $(nproc) processors"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Index construction: GNU time's wall clock and maximum resident set size.
/usr/bin/time -f "%e %M" -o "$work/indextime" "$indexer" -db "$db" -dna -indexname "$index" -q
read -r seconds kilobytes < "$work/indextime"
residues=$(awk -F= '/^totallength=/ { print $2 }' "$index.prj")
printf 'zelkoindex: %s residues, %.1f s, peak %.0f MB, %.2f bytes per residue\n' "$residues" \
  "$seconds" "$(echo "$kilobytes / 1024" | bc -l)" "$(echo "$kilobytes * 1024 / $residues" | bc -l)"

# "wall cpu" seconds of one run; the output goes nowhere.
timerun() {
  /usr/bin/time -f "%e %U %S" -o "$work/runtime" "$search" "$@" > /dev/null 2>&1
  awk '{ print $1, $2 + $3 }' "$work/runtime"
}

printf '%-30s %-6s %9s %9s %7s %9s %9s %7s %s\n' library p-value la_wall esa_wall ratio \
  la_cpu esa_cpu ratio hits
for lib in $libs; do
  for p in $pvals; do
    common=(-db "$index" -pr "$lib" -pval "$p" -lazy -uniform -all -j 1)
    la=(); esa=()
    for ((r = 0; r < repeats; r++)); do
      la+=("$(timerun "${common[@]}" -lahead -format null)")
      esa+=("$(timerun "${common[@]}" -esa -format null)")
    done
    lam=$(printf '%s\n' "${la[@]}" | cut -d' ' -f1 | median)
    esam=$(printf '%s\n' "${esa[@]}" | cut -d' ' -f1 | median)
    lac=$(printf '%s\n' "${la[@]}" | cut -d' ' -f2 | median)
    esac=$(printf '%s\n' "${esa[@]}" | cut -d' ' -f2 | median)
    lasum=$("$search" "${common[@]}" -lahead -format tabs -q | sort | md5sum | cut -c1-32)
    esasum=$("$search" "${common[@]}" -esa -format tabs -q | sort | md5sum | cut -c1-32)
    same=identical; [ "$lasum" = "$esasum" ] || same=DIFFERENT
    printf '%-30s %-6s %8.2fs %8.2fs %7s %8.2fs %8.2fs %7s %s\n' "$(basename "$lib")" "$p" \
      "$lam" "$esam" "$(ratio "$esam" "$lam")" "$lac" "$esac" "$(ratio "$esac" "$lac")" "$same"
  done
done
