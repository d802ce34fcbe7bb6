#!/usr/bin/env bash
# How the cost of zelkosearch -lahead falls with the threshold, in one run, on the shared real
# data: the fly upstream regions with the 169 TRANSFAC and the 879 JASPAR matrices at
# p = 1e-4 ... 1e-8, forward and both strands (-2); and the 104 PRINTS motifs (converted with
# printsconv) over the UniProt sample at p = 1e-4, 1e-6, 1e-9. For each line: the processor
# time (user + system) of -simple and of -lahead (medians), their ratio, the -lahead time over
# its time at p = 1e-4 for the same work, the largest resident memory of -lahead (and per
# residue) and the match count; one job, -lazy -uniform -all -format null. Then the engine
# benchmark (bench/enginebench) times a naive scoring loop beside the engines over the same
# coded database, forward strand, as the floor.
#
# With -scale it times instead -lahead on the fly file and on the fly file 21 times over
# (1.1 Gbp) and prints the processor time and memory per residue of each; with -threads the
# wall time of -j 2 over -j 1 (alternating runs, each after an untimed run with the same
# jobs; needs an otherwise idle machine).
#
# usage: bench/threshold_bench.sh [-build DIR] [-seqs N|all] [-repeats R] [-simplerepeats S]
#                                 [-dnapvals "..."] [-proteinpvals "..."] [-libs "LIB ..."]
#                                 [-strands "fn 2"] [-noprotein] [-nodna] [-noengine] [-scale]
#                                 [-threads]
# Defaults: the first 1000 fly sequences (2 Mbp; -seqs all for all 52.9 Mbp) and the first
# 4000 UniProt sequences (-seqs all: all 20000), 3 repeats of -lahead and 1 of -simple
# (-simplerepeats 0: none, the table then shows nan; -noengine: no naive loop).
# Skips (exit 0) when the shared data are absent.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
seqs=1000
repeats=3
simplerepeats=1
dnapvals="1e-4 1e-5 1e-6 1e-7 1e-8"
proteinpvals="1e-4 1e-6 1e-9"
libs=""
strands="fn 2"
dodna=1
doprotein=1
doengine=1
mode=table
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -seqs) seqs=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -simplerepeats) simplerepeats=$2; shift 2 ;;
    -dnapvals) dnapvals=$2; shift 2 ;;
    -proteinpvals) proteinpvals=$2; shift 2 ;;
    -libs) libs=$2; shift 2 ;;
    -strands) strands=$2; shift 2 ;;
    -noprotein) doprotein=0; shift ;;
    -noengine) doengine=0; shift ;;
    -nodna) dodna=0; shift ;;
    -scale) mode=scale; shift ;;
    -threads) mode=threads; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

if [ ! -d "$shared" ]; then
  echo "threshold_bench: skipped, no shared data at $shared"
  exit 0
fi
search=$build/zelkosearch
enginebench=$build/bench/enginebench
printsconv=$build/printsconv
[ -x "$search" ] || { echo "build $search first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "threshold_bench needs /usr/bin/time" >&2; exit 2; }
[ -n "$libs" ] || libs="$shared/libraries/transfac_public169.lib $shared/libraries/jaspar2024_vertebrates879.lib"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The first N records of a (gzipped) Fasta file, or the file itself for all.
firstrecords() {
  local file=$1 count=$2 out=$3
  if [ "$count" = all ]; then
    (case "$file" in *.gz) gzip -dc "$file" ;; *) cat "$file" ;; esac) > "$out"
  else
    (case "$file" in *.gz) gzip -dc "$file" ;; *) cat "$file" ;; esac) |
      awk -v n="$count" '/^>/ { if (++seen > n) exit } { print }' > "$out" || true
  fi
}
residues() { grep -v '^>' "$1" | tr -d '\n\r ' | wc -c; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One run: "cpu_seconds maxrss_kb matches" (processor time of user and system).
run() {
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$search" "$@" -format null > /dev/null 2> "$work/err" || {
    echo "failed: $search $*" >&2; cat "$work/err" >&2; exit 1; }
  local matches
  matches=$(sed -n 's/^Found \([0-9]*\) match.*/\1/p' "$work/err")
  awk -v m="${matches:-?}" '{ printf "%.3f %d %s\n", $1 + $2, $3, m }' "$work/time"
}

# Times -simple and -lahead of one work at every p-value and prints the lines of the table.
table() {
  local title=$1 db=$2 lib=$3 alphabet=$4 strand=$5 pvals=$6 positions=$7
  local first="" p r out simple lahead rss matches
  for p in $pvals; do
    local simples=() laheads=() rsses=()
    common=(-db "$db" "$alphabet" -pr "$lib" -pval "$p" -lazy -uniform -all -qw -j 1)
    [ -n "$strand" ] && common+=("-$strand")
    for ((r = 0; r < repeats; r++)); do
      if [ "$r" -lt "$simplerepeats" ]; then
        out=$(run -simple "${common[@]}"); simples+=("${out%% *}")
      fi
      out=$(run -lahead "${common[@]}")
      laheads+=("${out%% *}")
      rss=$(echo "$out" | cut -d' ' -f2); rsses+=("$rss")
      matches=$(echo "$out" | cut -d' ' -f3)
    done
    simple=nan
    [ "${#simples[@]}" -gt 0 ] && simple=$(printf '%s\n' "${simples[@]}" | median)
    lahead=$(printf '%s\n' "${laheads[@]}" | median)
    rss=$(printf '%s\n' "${rsses[@]}" | median)
    [ -n "$first" ] || first=$lahead
    ratio=nan
    [ "$simple" = nan ] || ratio=$(echo "$simple / $lahead" | bc -l)
    printf '%-26s %-5s %-6s %9.3f %9.3f %9.2f %9.3f %8.1f %7.2f %10s\n' "$title" "${strand:-fn}" "$p" \
      "$simple" "$lahead" "$ratio" "$(echo "$lahead / $first" | bc -l)" \
      "$(echo "$rss / 1024" | bc -l)" "$(echo "$rss * 1024 / $positions" | bc -l)" "$matches"
  done
}

header() {
  printf '%-26s %-5s %-6s %9s %9s %9s %9s %8s %7s %10s\n' work strand p simple_s lahead_s \
    simple/la la/la1e-4 rss_MB B/res matches
}

database=$work/fly.fa
proteindb=$work/uniprot.fa
proteinlib=$work/prints104.lib
proteinseqs=$seqs
[ "$seqs" = all ] || proteinseqs=$((seqs * 4))

echo "zelkosearch threshold benchmark, $(date -u +%F), $(uname -m), $(g++ --version | head -1)"
echo "processor time (user + system) in seconds, medians of $repeats (-simple: $simplerepeats); one job"

if [ "$mode" = scale ]; then
  firstrecords "$shared/dna/dm3_upstream2000.fa.gz" all "$database"
  for ((i = 0; i < 21; i++)); do cat "$database"; done > "$work/fly21.fa"
  lib=${libs%% *}
  printf '%-12s %-5s %-6s %12s %9s %11s %9s\n' database strand p residues cpu_s ns/residue B/res
  for strand in $strands; do
    for file in "$database" "$work/fly21.fa"; do
      positions=$(residues "$file")
      times=()
      for ((r = 0; r < repeats; r++)); do
        out=$(run -lahead -db "$file" -dna -pr "$lib" -pval 1e-5 -lazy -uniform -all -qw -j 1 "-$strand")
        times+=("${out%% *}"); rss=$(echo "$out" | cut -d' ' -f2)
      done
      t=$(printf '%s\n' "${times[@]}" | median)
      printf '%-12s %-5s %-6s %12d %9.3f %11.3f %9.2f\n' "$(basename "$file")" "$strand" 1e-5 "$positions" \
        "$t" "$(echo "$t * 1000000000 / $positions" | bc -l)" "$(echo "$rss * 1024 / $positions" | bc -l)"
    done
  done
  exit 0
fi

if [ "$mode" = threads ]; then
  firstrecords "$shared/dna/dm3_upstream2000.fa.gz" "$seqs" "$database"
  # j2/j1 is the ratio of the medians; paired the median of the ratios of the runs side by side,
  # best the ratio of the fastest runs (both less moved by other work that comes and goes on
  # the machine, which slows -j 2 most, since it needs both processors at once).
  printf '%-28s %-6s %-7s %10s %10s %9s %9s %9s\n' library p strand j1_s j2_s j2/j1 paired best
  for lib in $libs; do
    for strand in $strands; do
      one=(); two=(); pairs=()
      for ((r = 0; r < repeats; r++)); do
        common=(-db "$database" -dna -pr "$lib" -pval 1e-5 -lazy -uniform -all -format null -q "-$strand" -lahead)
        # Each timed run follows an untimed one with the same jobs: on a virtual machine a
        # processor left idle during a run of one job is slow to come back for the next run.
        "$search" "${common[@]}" -j 1 > /dev/null 2>&1
        start=$(date +%s.%N); "$search" "${common[@]}" -j 1 > /dev/null 2>&1; end=$(date +%s.%N)
        one+=("$(echo "$end - $start" | bc -l)")
        "$search" "${common[@]}" -j 2 > /dev/null 2>&1
        start=$(date +%s.%N); "$search" "${common[@]}" -j 2 > /dev/null 2>&1; end=$(date +%s.%N)
        two+=("$(echo "$end - $start" | bc -l)")
        pairs+=("$(echo "${two[-1]} / ${one[-1]}" | bc -l)")
      done
      o=$(printf '%s\n' "${one[@]}" | median)
      t=$(printf '%s\n' "${two[@]}" | median)
      p=$(printf '%s\n' "${pairs[@]}" | median)
      b=$(echo "$(printf '%s\n' "${two[@]}" | sort -g | head -1) / $(printf '%s\n' "${one[@]}" | sort -g | head -1)" | bc -l)
      printf '%-28s %-6s %-7s %10.3f %10.3f %9.3f %9.3f %9.3f\n' "$(basename "$lib")" 1e-5 "-$strand" "$o" "$t" \
        "$(echo "$t / $o" | bc -l)" "$p" "$b"
    done
  done
  exit 0
fi

header
if [ "$dodna" = 1 ]; then
  firstrecords "$shared/dna/dm3_upstream2000.fa.gz" "$seqs" "$database"
  positions=$(residues "$database")
  echo "# DNA: fly upstream regions, $seqs sequences, $positions positions"
  for lib in $libs; do
    for strand in $strands; do
      table "$(basename "$lib" .lib)" "$database" "$lib" -dna "$strand" "$dnapvals" "$positions"
    done
  done
fi
if [ "$doprotein" = 1 ] && [ -x "$printsconv" ]; then
  firstrecords "$shared/protein/mmseqs2_DB.fasta.gz" "$proteinseqs" "$proteindb"
  for file in "$shared"/prints/*.pval; do "$printsconv" "$file" 2> /dev/null; done > "$proteinlib"
  positions=$(residues "$proteindb")
  echo "# protein: UniProt sample, $proteinseqs sequences, $positions residues; $(grep -c '^BEGIN \(INT\|FLOAT\)' "$proteinlib") PRINTS motifs"
  table prints104 "$proteindb" "$proteinlib" -protein "" "$proteinpvals" "$positions"
fi

if [ -x "$enginebench" ] && [ "$doengine" = 1 ]; then
  echo
  echo "Floor: naive scoring loop beside the engines (each matrix's lookahead search, and the batch"
  echo "of all as zelkosearch runs it) over the same coded sequence, forward strand, reachable"
  echo "matrices only; processor time, medians of $repeats:"
  if [ "$dodna" = 1 ]; then
    for lib in $libs; do
      args=(-db "$database" -lib "$lib" -repeats "$repeats" -lookaheadonly 1)
      for p in $dnapvals; do args+=(-pvalue "$p"); done
      echo "== $(basename "$lib")"
      "$enginebench" "${args[@]}" 2> /dev/null | grep -E '^(p-value|  naive|  simple|  lookahead|  batch|  time ratios)'
    done
  fi
  if [ "$doprotein" = 1 ] && [ -s "$proteinlib" ]; then
    args=(-db "$proteindb" -lib "$proteinlib" -protein 1 -repeats "$repeats" -lookaheadonly 1)
    for p in $proteinpvals; do args+=(-pvalue "$p"); done
    echo "== prints104"
    "$enginebench" "${args[@]}" 2> /dev/null | grep -E '^(p-value|  naive|  simple|  lookahead|  batch|  time ratios)'
  fi
fi
