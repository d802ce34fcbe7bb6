#!/usr/bin/env bash
# zelkomerge against one zelkosearch run: the bundled example searched in sequence ranges
# (with empty shard reports, ranges of one sequence, shards named out of order) must merge
# into exactly the report of one run over the whole database. The cases cover ties across
# shards (identical windows in several sequences, many windows at the top score of a short
# integer matrix), the k best per matrix and strand with the threshold the single run prints,
# E-values of the whole database, every sort key, both report formats, a matrix without
# accession, shards searched with threads, and records a merge must refuse.
#
#   merge_shards.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/zelko-merge-XXXXXX)
trap 'rm -rf "$work"' EXIT
search="$build/zelkosearch"
merge="$build/zelkomerge"
db="$source/examples/dm3_upstream300.fa.gz"
jaspar="$source/examples/jaspar_vertebrates40.lib"
small="$source/tests/data/runs/lib/dna.lib"

# library | options (all but -db, -pr, -seqrange)
cases=(
  "$jaspar|-lahead -pval 1e-4 -lazy -uniform -2 -sort p -format human"
  "$jaspar|-lahead -eval 1 -lazy -uniform -4 -sort es -format tabs"
  "$jaspar|-lahead -best 3 -4 -sort i -format tabs"
  "$jaspar|-lahead -best 2 -rn -rc -format human"
  "$jaspar|-simple -mssth 0.95 -rc -sort on -format tabs -j 2"
  "$small|-lahead -rawth 7 -uniform -4 -sort ag -format tabs"
  "$small|-lahead -best 5 -4 -format tabs"
  "$small|-lahead -best 5 -2 -sort mt -uniform -format human"
  "$small|-simple -rawth 6 -fn -fc -format tabs -j 2"
)
# Shard ranges; "-" is a shard without sequences (an empty report).
splits=(
  "0:299"
  "- 0:99 100:199 - 200:299"
  "0:0 1:297 298:298 299:299"
  "150:299 0:149"
)
failed=0
number=0
for entry in "${cases[@]}"; do
  IFS='|' read -r library options <<< "$entry"
  number=$((number + 1))
  # shellcheck disable=SC2086
  "$search" -db "$db" -pr "$library" -dna $options -q > "$work/single" ||
    { echo "FAILED: case $number: the single run failed"; failed=1; continue; }
  [ -s "$work/single" ] || { echo "FAILED: case $number found nothing"; failed=1; }
  for split in "${splits[@]}"; do
    shards=()
    index=0
    for range in $split; do
      index=$((index + 1))
      if [ "$range" = - ]; then
        : > "$work/shard$index"
      else
        # shellcheck disable=SC2086
        "$search" -db "$db" -pr "$library" -dna $options -seqrange "$range" -q > "$work/shard$index"
      fi
      shards+=("$work/shard$index")
    done
    # shellcheck disable=SC2086
    if "$merge" -o "$work/merged" "${shards[@]}" -- -db "$db" -pr "$library" -dna $options &&
       cmp -s "$work/single" "$work/merged"; then
      echo "ok: case $number ($options), shards $split: $(wc -l < "$work/single") lines"
    else
      echo "FAILED: case $number ($options), shards $split: not the single run's report"
      failed=1
    fi
  done
done

# Records the merge must refuse, each with a message and no output file left behind:
# expected message | shards (separated by blanks) | merge options
options="-lahead -pval 1e-4 -lazy -uniform -2 -format tabs"
"$search" -db "$db" -pr "$jaspar" -dna $options -sort s -q > "$work/byscore"
"$search" -db "$db" -pr "$jaspar" -dna $options -sort p -q > "$work/bypvalue"
"$search" -db "$db" -pr "$small" -dna -lahead -rawth 7 -uniform -fn -format tabs -q > "$work/uniform"
# Shards that do not belong to the merge's search: a looser cutoff, both strands for a
# forward-only merge, one shard twice (by name and as a copy), another database.
"$search" -db "$db" -pr "$jaspar" -dna ${options/1e-4/1e-3} -sort p -q > "$work/looser"
"$search" -db "$db" -pr "$jaspar" -dna $options -sort p -seqrange 0:199 -q > "$work/first"
cp "$work/first" "$work/copy"
"$search" -db "$source/tests/data/runs/seq/repeats.fa" -pr "$small" -dna -lahead -rawth 3 -fn \
  -format tabs -q > "$work/otherdb"
refusals=(
  "the options give|$work/looser|-db $db -pr $jaspar -dna $options -sort p"
  "do not search this strand|$work/bypvalue|-db $db -pr $jaspar -dna ${options/-2/-fn} -sort p"
  "the same shard|$work/bypvalue $work/bypvalue|-db $db -pr $jaspar -dna $options -sort p"
  "the shards overlap|$work/first $work/copy|-db $db -pr $jaspar -dna $options -sort p"
  "outside the sequences|$work/otherdb|-db $source/tests/data/runs/seq/dna.fa -pr $small -dna -lahead -rawth 3 -fn -format tabs"
  "not in the order of the run's sort keys|$work/byscore|-db $db -pr $jaspar -dna $options -sort p"
  "differ from the library's|$work/uniform|-db $db -pr $small -dna -lahead -rawth 7 -fn -format tabs -freq $source/tests/data/runs/freq/atrich.freq"
  "no profile of the library|$work/bypvalue|-db $db -pr $small -dna $options -sort p"
  "not a record|$jaspar|-db $db -pr $jaspar -dna $options"
  "cannot open|$work/missing|-db $db -pr $jaspar -dna $options"
  "cannot be merged|$work/bypvalue|-db $db -pr $jaspar -dna -lahead -pval 1e-4 -lazy -uniform -format cisml"
)
for entry in "${refusals[@]}"; do
  IFS='|' read -r message shard mergeoptions <<< "$entry"
  rm -f "$work/refused"
  # shellcheck disable=SC2086
  if "$merge" -o "$work/refused" $shard -- $mergeoptions 2> "$work/error"; then
    echo "FAILED: a merge that should fail with \"$message\" succeeded"
    failed=1
  elif ! grep -q -- "$message" "$work/error" || [ -e "$work/refused" ]; then
    echo "FAILED: expected \"$message\" and no output, got: $(cat "$work/error")"
    failed=1
  else
    echo "ok: refused: $message"
  fi
done
exit $failed
