#!/usr/bin/env bash
# zelkotable against a real reader: searches tests/data/table/regions.fa on all four strands,
# converts the report to BED and GFF3 (on the sequences and, with -genomic, on the made-up
# genome chrom.fa) and extracts every feature with bedtools getfasta. The extracted text must
# be the matched_sequence column of the TSV: on "+" and "-" as bedtools gives it, on the two
# strands that BED and GFF3 cannot name ("."), complemented (fc) or reversed (rn).
# Usage: table_roundtrip.sh ZELKOSEARCH ZELKOTABLE DATADIR WORKDIR
set -euo pipefail
search=$1 table=$2 data=$3/table work=$4
command -v bedtools > /dev/null || { echo "bedtools is missing (make deps)"; exit 1; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"
cp "$data/regions.fa" "$data/chrom.fa" .

"$search" -db regions.fa -dna -pr "$data/jaspar4.lib" -lahead -pval 3e-3 -lazy -uniform -4 \
  -format tabs -q > run.tabs
for code in fn fc rn rc; do
  cut -f8 run.tabs | grep -qx "$code" || { echo "no match on strand $code"; exit 1; }
done

# -ncompl prints complementary matches as in the database; zelkotable -ncompl turns them back.
"$search" -db regions.fa -dna -pr "$data/jaspar4.lib" -lahead -pval 3e-3 -lazy -uniform -4 \
  -ncompl -format tabs -q > ncompl.tabs
cmp <("$table" run.tabs) <("$table" -ncompl ncompl.tabs) || { echo "-ncompl differs"; exit 1; }

failed=0
# check NAME REFERENCE TABLEOPTIONS FORMATOPTIONS: features of one conversion against the TSV.
check() {
  local name=$1 reference=$2 where=$3 format=$4
  "$table" -q $where run.tabs | tail -n +2 | cut -f7,12 > "$name.expected"
  "$table" -q $where $format run.tabs > "$name.features"
  local rows=$(grep -vc '^#' "$name.features")
  # bedtools sort reads every feature; the count must survive.
  [ "$(bedtools sort -i "$name.features" | grep -vc '^#')" = "$rows" ] || {
    echo "$name: bedtools sort lost features"; failed=1; }
  bedtools getfasta -fi "$reference" -bed "$name.features" -s -tab | cut -f2 | tr a-z A-Z \
    > "$name.extracted"
  paste "$name.expected" "$name.extracted" | while IFS=$'\t' read -r strand matched text; do
    case $strand in
      fc) text=$(printf '%s' "$text" | tr ACGT TGCA) ;;
      rn) text=$(printf '%s' "$text" | rev) ;;
    esac
    [ "$text" = "$matched" ] || echo "$strand $matched $text"
  done > "$name.differences"
  if [ -s "$name.differences" ] || [ "$(wc -l < "$name.extracted")" != "$rows" ]; then
    echo "$name: extracted sequences differ from matched_sequence:"; cat "$name.differences"
    failed=1
  fi
}
check bed regions.fa "" -bed
check bed-extra regions.fa "" "-bed -extra"
check gff3 regions.fa "" -gff3
check genomic-bed chrom.fa -genomic -bed
check genomic-gff3 chrom.fa -genomic -gff3
exit $failed
