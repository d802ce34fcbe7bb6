#!/usr/bin/env bash
# zelko scan in bounded memory: a scan forced to spill its matches to sorted runs on disk
# (--memory 4K: a run every few dozen matches, and merges in passes) writes the same bytes as
# one that holds them all, for every table, order, --qvalue and thread count; the compressed
# table reads back with zcat and tabix. A temporary folder that fills up fails with the reason,
# status 1, no output file and nothing left in the folder; an interrupted scan leaves neither
# output nor temporary file.
#
#   bounded_memory.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/zelko-memory-XXXXXX)
trap 'rm -rf "$work"' EXIT
zelko=$build/zelko
motifs=$source/examples/jaspar_vertebrates40.jaspar
db=$source/examples/dm3_upstream300.fa.gz
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
mkdir "$work/tmp"

# Every table, order and filter: all in memory against spilled, under 1, 2 and 7 threads.
for sort in position pvalue genome; do
  for table in tsv bed gff3; do
    for filter in "" "--qvalue 0.5"; do
      # shellcheck disable=SC2086
      "$zelko" scan -q -j 2 --pvalue 1e-3 --sort "$sort" "--$table" $filter -o "$work/held" \
        "$motifs" "$db"
      for threads in 1 2 7; do
        # shellcheck disable=SC2086
        "$zelko" scan -q -j "$threads" --memory 4K --tmpdir "$work/tmp" --pvalue 1e-3 \
          --sort "$sort" "--$table" $filter -o "$work/spilled" "$motifs" "$db"
        cmp -s "$work/held" "$work/spilled" ||
          fail "spilled $table sorted by $sort $filter, $threads threads"
      done
    done
  done
done
[ "$(wc -l < "$work/held")" -gt 1000 ] || fail "too few matches to spill"

# The progress line's last line tells the memory and the runs.
"$zelko" scan --progress -j 2 --memory 4K --tmpdir "$work/tmp" --pvalue 1e-3 -o "$work/t.tsv" \
  "$motifs" "$db" 2> "$work/progress"
tail -1 "$work/progress" | grep -Eq '^memory: sequences [0-9.]+ kB, matches [0-9.]+ [kM]B, [0-9]+ sorted runs \([0-9.]+ [kM]B\) in ' ||
  fail "memory line: $(tail -1 "$work/progress")"
"$zelko" scan --progress -o "$work/t.tsv" "$motifs" "$db" 2> "$work/progress"
tail -1 "$work/progress" | grep -q ', none on disk$' || fail "memory line without runs"

# Compressed and indexed from a spilled scan.
if command -v tabix > /dev/null; then
  "$zelko" scan -q --memory 4K --tmpdir "$work/tmp" --pvalue 1e-3 --sort genome --bed \
    -o "$work/hits.bed.gz" --index "$motifs" "$db"
  "$zelko" scan -q --pvalue 1e-3 --sort genome --bed -o "$work/hits.bed" "$motifs" "$db"
  zcat "$work/hits.bed.gz" | cmp -s - "$work/hits.bed" || fail "BGZF table of a spilled scan"
  name=$(head -1 "$work/hits.bed" | cut -f 1)
  tabix "$work/hits.bed.gz" "$name" > "$work/query"
  awk -v n="$name" '$1 == n' "$work/hits.bed" | cmp -s - "$work/query" || fail "tabix query"
fi
[ -z "$(ls -A "$work/tmp")" ] || fail "files left in the temporary folder: $(ls "$work/tmp")"

# A temporary folder that fills up: the file size limit stands in for a full disk (the
# signal it sends is ignored, so that the write fails with EFBIG instead).
status=0
(trap '' XFSZ; ulimit -f 64; exec "$zelko" scan -q --memory 4K --tmpdir "$work/tmp" \
  --pvalue 1e-2 -o "$work/full.tsv" "$motifs" "$db") 2> "$work/full.err" || status=$?
[ "$status" -eq 1 ] || fail "full folder: status $status"
grep -q "^zelko scan: cannot write the sorted matches to a temporary file in \`$work/tmp': File too large" \
  "$work/full.err" || fail "full folder message: $(cat "$work/full.err")"
[ ! -e "$work/full.tsv" ] || fail "full folder left an output file"
[ -z "$(ls -A "$work/tmp")" ] || fail "full folder left files: $(ls "$work/tmp")"
[ -z "$(ls -A "$work" | grep '^full\.tsv\.')" ] || fail "full folder left a partial output"

# Interrupted while it spills and merges: nothing left behind, killed by the signal.
awk 'BEGIN { srand(7); for (s = 0; s < 40; s++) { print ">r" s; line = "";
       for (i = 0; i < 50000; i++) { line = line substr("ACGT", int(rand() * 4) + 1, 1);
         if (length(line) == 70) { print line; line = "" } } print line } }' > "$work/random.fa"
"$zelko" scan -q -j 2 --memory 64K --tmpdir "$work/tmp" --pvalue 0.05 -o "$work/cut.tsv" \
  "$motifs" "$work/random.fa" &
pid=$!
sleep 1
kill -TERM "$pid" 2> /dev/null || true
status=0
wait "$pid" || status=$?
[ "$status" -eq 143 ] || [ "$status" -eq 0 ] || fail "interrupted scan: status $status"
if [ "$status" -eq 143 ]; then
  [ ! -e "$work/cut.tsv" ] || fail "interrupted scan left its output"
fi
[ -z "$(ls -A "$work/tmp")" ] || fail "interrupted scan left files: $(ls "$work/tmp")"
[ -z "$(ls -A "$work" | grep '^cut\.tsv\.')" ] || fail "interrupted scan left a partial output"

if [ "$failures" -gt 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
echo "bounded memory: spilled scans equal held ones; full and interrupted scans leave nothing"
