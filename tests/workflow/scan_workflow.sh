#!/usr/bin/env bash
# Runs the sharded scan workflow (workflows/scan) on the bundled example with 1, 3 and 7
# shards and compares every result with one zelkosearch run over the whole database: byte
# for byte for sorted reports (p-value and E-value cutoffs, the 3 best per matrix and strand,
# library slices) and for several databases; as sets of lines for unsorted reports. The
# motifconv and zelkotable steps are checked when those programs are built.
#
#   scan_workflow.sh BUILD_DIR SOURCE_DIR
# Exit status 77 (skipped) without snakemake.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
if ! command -v snakemake >/dev/null 2>&1; then
  echo "SKIPPED: snakemake is not installed (apt-get install snakemake); the scan workflow was not run"
  exit 77
fi
work=$(mktemp -d /tmp/zelko-workflow-XXXXXX)
trap 'rm -rf "$work"' EXIT
example="$source/examples/dm3_upstream300.fa.gz"
library="$source/examples/jaspar_vertebrates40.lib"

# Two databases whose joined text is the example: 120 and 180 sequences.
gzip -dc "$example" > "$work/all.fa"
awk '/^>/ {n++} n <= 120' "$work/all.fa" | gzip > "$work/first.fa.gz"
awk '/^>/ {n++} n > 120' "$work/all.fa" > "$work/second.fa"

# name | shards | cutoff | statistics | strands | sort | slices | comparison
cases=(
  "pval|1 3 7|-pval 1e-5|-lazy -uniform|-2|p|1|bytes"
  "eval|1 3 7|-eval 1|-lazy -uniform|-2|e|1|bytes"
  "unsorted|1 3 7|-pval 1e-5|-lazy -uniform|-2||1|lines"
  "best3|1 3 7|-best 3|-uniform|-4|s|1|bytes"
  "slices|3|-pval 1e-4|-lazy -uniform|-4|ns|3|bytes"
)
failed=0
failcase() { echo "FAILED: $*"; failed=1; }

# Writes the configuration of a scan into folder $1 and runs it there.
runscan() {
  local folder=$1; shift
  mkdir -p "$folder"
  printf '%s\n' "bindir: \"$build\"" "outdir: results" "$@" > "$folder/config.yaml"
  if ! (cd "$folder" && snakemake -s "$source/workflows/scan/Snakefile" --configfile config.yaml \
          --cores 2 -q > snakemake.log 2>&1); then
    cat "$folder/snakemake.log"
    return 1
  fi
}

# compare KIND EXPECTED ACTUAL
compare() {
  if [ "$1" = lines ]; then
    cmp -s <(LC_ALL=C sort "$2") <(LC_ALL=C sort "$3")
  else
    cmp -s "$2" "$3"
  fi
}

# One scan of a case, compared with the single run; prints its verdict.
scancase() {
  local name=$1 shards=$2 cutoff=$3 statistics=$4 strands=$5 sort=$6 slices=$7 comparison=$8
  local folder="$work/$name.$shards"
  runscan "$folder" "databases: [\"$example\"]" "library: \"$library\"" \
    "cutoff: \"$cutoff\"" "statistics: \"$statistics\"" "strands: \"$strands\"" \
    "sort: \"$sort\"" "shards: $shards" "library_slices: $slices" ||
    { echo "FAILED: $name with $shards shards: the workflow failed"; return; }
  if compare "$comparison" "$work/$name.expected" "$folder/results/result.tabs"; then
    echo "ok: $name, $shards shard(s), $(wc -l < "$work/$name.expected") records"
  else
    echo "FAILED: $name with $shards shards: the result differs from one run"
  fi
}

# Snakemake spends most of a small scan waiting, so three scans run at a time.
running=0
for entry in "${cases[@]}"; do
  IFS='|' read -r name shardcounts cutoff statistics strands sort slices comparison <<< "$entry"
  sortoption=()
  [ -n "$sort" ] && sortoption=(-sort "$sort")
  # shellcheck disable=SC2086
  "$build/zelkosearch" -db "$example" -dna -pr "$library" -lahead $cutoff $statistics $strands \
    "${sortoption[@]}" -format tabs -q > "$work/$name.expected"
  [ -s "$work/$name.expected" ] || failcase "$name: the single run found nothing to compare"
  for shards in $shardcounts; do
    scancase "$name" "$shards" "$cutoff" "$statistics" "$strands" "$sort" "$slices" \
      "$comparison" > "$work/verdict.$name.$shards" &
    running=$((running + 1))
    if [ $running -ge 3 ]; then
      wait -n || true
      running=$((running - 1))
    fi
  done
done
wait
for verdict in "$work"/verdict.*; do
  cat "$verdict"
  grep -q '^FAILED' "$verdict" && failed=1
done

# Several databases: each file a shard, E-values of the files joined.
expected="$work/files.expected"
"$build/zelkosearch" -db "$work/all.fa" -dna -pr "$library" -lahead -eval 10 -lazy -uniform -2 \
  -sort e -format human -q > "$expected"
if runscan "$work/files" "databases: [\"$work/first.fa.gz\", \"$work/second.fa\"]" \
     "library: \"$library\"" "cutoff: \"-eval 10\"" "strands: \"-2\"" "sort: \"e\"" \
     "format: human"; then
  cmp -s "$expected" "$work/files/results/result.txt" ||
    failcase "several databases: the result differs from one run over them joined"
  echo "ok: several databases, $(grep -c '^Match for' "$expected") records"
else
  failcase "several databases: the workflow failed"
fi

# The steps that call the other programs of the suite.
if [ -x "$build/zelkotable" ]; then
  if runscan "$work/table" "databases: [\"$example\"]" "library: \"$library\"" "shards: 3" \
       "tables: [bed, tsv]"; then
    "$build/zelkotable" -bed "$work/table/results/result.tabs" > "$work/table.bed"
    cmp -s "$work/table.bed" "$work/table/results/result.bed" &&
      [ -s "$work/table/results/result.tsv" ] || failcase "tables: not zelkotable's of the result"
    echo "ok: tables"
  else
    failcase "tables: the workflow failed"
  fi
else
  echo "SKIPPED: zelkotable is not built; the table step was not run"
fi
if [ -x "$build/motifconv" ]; then
  motifs="$source/tests/data/workflow/two.jaspar"
  "$build/motifconv" -scale 1000 -o "$work/two.lib" "$motifs" 2> /dev/null
  "$build/zelkosearch" -db "$example" -dna -pr "$work/two.lib" -lahead -pval 1e-4 -lazy -uniform \
    -2 -sort p -format tabs -q > "$work/motifs.expected"
  if runscan "$work/motifs" "databases: [\"$example\"]" "motifs: [\"$motifs\"]" \
       "cutoff: \"-pval 1e-4\"" "shards: 3"; then
    cmp -s "$work/motifs.expected" "$work/motifs/results/result.tabs" ||
      failcase "motifs: the result differs from one run over motifconv's library"
    echo "ok: motifs"
  else
    failcase "motifs: the workflow failed"
  fi
else
  echo "SKIPPED: motifconv is not built; the motif conversion step was not run"
fi
exit $failed
