#!/usr/bin/env bash
# zelko scan against the three programs it stands for: motifconv -scale 1000, then zelkosearch
# -lahead -lazy -uniform -2 -pval P -format tabs (sorted by group, sequence and position, the
# order zelko scan writes), then zelkotable. On the bundled JASPAR, MEME and TRANSFAC-style
# motifs and the bundled fly upstream regions, the TSV must be the same row for row plus the
# q_value column, and BED and GFF3 (without its qvalue attribute) the same byte for byte
# but for the motif's name, which zelko scan makes unique (accession and name, numbered when
# repeated: the three files hold the same motifs); with -o FILE and with every thread count
# zelko scan must write the same table.
#
#   scan_equivalence.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/zelko-scan-XXXXXX)
trap 'rm -rf "$work"' EXIT
data="$source/tests/data/motifconv"
db="$source/examples/dm3_upstream300.fa.gz"
motifs=("$data/jaspar3.jaspar" "$data/jaspar3.meme" "$data/jaspar3.transfac"
        "$source/tests/data/workflow/two.jaspar")
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

"$build/motifconv" -scale 1000 -o "$work/motifs.lib" "${motifs[@]}"
for pvalue in 1e-4 1e-3; do
  "$build/zelkosearch" -db "$db" -dna -pr "$work/motifs.lib" -lahead -lazy -uniform -2 \
    -pval "$pvalue" -format tabs -sort gno -q -j 2 > "$work/search.tabs"
  for table in tsv bed gff3; do
    "$build/zelkotable" "-$table" "$work/search.tabs" > "$work/pipeline.$table"
    "$build/zelko" scan -q --background uniform --pvalue "$pvalue" "--$table" "${motifs[@]}" "$db" \
      > "$work/scan.$table"
    case $table in
      tsv) # the q_value column is the last one
        head -1 "$work/scan.tsv" | grep -q $'\tthreshold\tq_value$' || fail "TSV header ($pvalue)"
        cut -f 1-13 "$work/scan.tsv" > "$work/scan.compared" ;;
      gff3)
        sed 's/;qvalue=[^;]*//; s/Name=[^;]*;//' "$work/scan.gff3" > "$work/scan.compared"
        sed -i 's/Name=[^;]*;//' "$work/pipeline.gff3"
        names=$(grep -o 'Name=[^;]*;Alias=[^;]*' "$work/scan.gff3" | sort -u | cut -d';' -f1 |
          uniq -d | head -3)
        [ -z "$names" ] || fail "GFF3 names shared by motifs: $names" ;;
      bed)
        cut -f 1-3,5- "$work/scan.bed" > "$work/scan.compared"
        cut -f 1-3,5- "$work/pipeline.bed" > "$work/pipeline.compared"
        mv "$work/pipeline.compared" "$work/pipeline.bed" ;;
    esac
    rows=$(grep -vc '^[#m]' "$work/pipeline.$table" || true)
    [ "$rows" -gt 100 ] || fail "$table at $pvalue: only $rows rows to compare"
    cmp -s "$work/pipeline.$table" "$work/scan.compared" || fail "$table at p-value $pvalue"
  done
done

# The same table through -o and with every thread count.
for threads in 1 2 4; do
  "$build/zelko" scan -q -j "$threads" --pvalue 1e-3 -o "$work/out.$threads.tsv" "${motifs[@]}" "$db"
  [ -z "$(ls "$work" | grep -F "out.$threads.tsv.")" ] || fail "temporary file left behind"
done
"$build/zelko" scan -q --pvalue 1e-3 "${motifs[@]}" "$db" > "$work/stdout.tsv"
for threads in 1 2 4; do
  cmp -s "$work/stdout.tsv" "$work/out.$threads.tsv" || fail "-j $threads or -o differs"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "zelko scan equals the three-program pipeline"
