#!/usr/bin/env bash
# zelko scan --regions against bedtools: the regions merged by bedtools merge and cut out by
# bedtools getfasta, scanned as a Fasta file, must give the same rows once each row's
# coordinates are moved by its region's start and its sequence named by the chromosome (TSV
# without the region column, BED and GFF3). The same genome bgzip'd gives the same table;
# every BED row lies within a merged region (bedtools intersect); and tabix answers region
# queries of the indexed table as the table itself does. Skipped (77) without bedtools, bgzip
# or tabix.
#
#   regions_getfasta.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
for tool in bedtools bgzip tabix; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d /tmp/zelko-regions-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
motifs=("$source/tests/data/motifconv/jaspar3.jaspar" "$source/tests/data/workflow/two.jaspar")
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# A genome of three chromosomes of 200 kbp, each the fly upstream regions of 100 genes one
# after the other, in an order that is not alphabetical: chrC, chrA, chrB.
zcat "$source/examples/dm3_upstream300.fa.gz" | awk '
  /^>/ { if (n % 100 == 0) print ">chr" substr("CAB", n / 100 + 1, 1); n++; next }
  { print }' > genome.fa
# Twenty regions in no order: overlapping, bookended, contained, a gap of one letter, a
# name twice, some without a name, the first and the last letters of a chromosome.
printf '%s\n' '# regions of the test' 'track name=regions' \
  'chrA	1000	3000	r1' 'chrA	2500	4000	r2' 'chrA	4000	4500	r3' \
  'chrA	10000	10100' 'chrA	50000	52000	r4' 'chrA	51000	51500	r5' \
  'chrB	0	2000	r6' 'chrB	198000	200000	r7' 'chrB	100000	101000	r8' \
  'chrB	101001	103000	r9' 'chrC	5000	9000	r10' 'chrC	7000	7001' \
  'chrC	20000	25000	r12' 'chrC	24000	26000	r12' 'chrC	150000	150030	r13' \
  'chrA	120000	125000	r14' 'chrB	60000	60500' 'chrC	90000	93000	r16' \
  'chrA	180000	181000	r17' 'chrB	140000	142000	r18' > intervals.bed

# The same regions the bedtools way, in the genome's order.
grep '>' genome.fa | tr -d '>' > order.txt
grep '^chr' intervals.bed | cut -f 1-3 | bedtools sort -faidx order.txt -i - |
  bedtools merge -i - > merged.bed
bedtools getfasta -fi genome.fa -bed merged.bed > pieces.fa
[ "$(grep -c '>' pieces.fa)" -eq 15 ] || fail "bedtools merge made $(grep -c '>' pieces.fa) regions, not 15"

# Rows of the pieces moved to the genome: "chrA:1000-4500" is chrA from 1000 on.
togenome() {  # togenome SEQUENCE_COLUMN START_COLUMN STOP_COLUMN
  awk -F'\t' -v OFS='\t' -v s="$1" -v a="$2" -v b="$3" '
    /^(#|motif_id\t)/ { print; next }
    { split($s, place, /[:-]/); $s = place[1]; $a += place[2]; $b += place[2]; print }'
}
scan() { "$build/zelko" scan -q -b uniform -p 1e-3 "$@"; }
for table in tsv bed gff3; do
  scan "--$table" --regions intervals.bed "${motifs[@]}" genome.fa > "regions.$table"
  scan "--$table" "${motifs[@]}" pieces.fa > "pieces.$table"
  case $table in
    tsv)
      head -1 regions.tsv | grep -q $'\tq_value\tregion$' || fail "TSV header without region"
      cut -f 1-14 regions.tsv > regions.compared
      togenome 3 5 6 < pieces.tsv > pieces.compared ;;
    bed)
      cp regions.bed regions.compared
      togenome 1 2 3 < pieces.bed > pieces.compared ;;
    gff3)
      cp regions.gff3 regions.compared
      togenome 1 4 5 < pieces.gff3 > pieces.compared ;;
  esac
  rows=$(grep -vc '^[#m]' pieces.compared || true)
  [ "$rows" -gt 100 ] || fail "$table: only $rows rows to compare"
  cmp -s regions.compared pieces.compared || fail "$table of --regions differs from getfasta's"
done

# A bgzip'd genome with its .gzi gives the same table.
bgzip -c -i -I genome.fa.gz.gzi genome.fa > genome.fa.gz
scan --regions intervals.bed "${motifs[@]}" genome.fa.gz > bgzip.tsv
cmp -s bgzip.tsv regions.tsv || fail "the bgzip'd genome gives another table"

# Every row lies within a merged region.
inside=$(bedtools intersect -u -f 1.0 -a regions.bed -b merged.bed | wc -l)
[ "$inside" -eq "$(wc -l < regions.bed)" ] ||
  fail "$inside of $(wc -l < regions.bed) BED rows lie within the regions"

# tabix reads the compressed table in genome order back by region.
scan --sort genome -o hits.tsv.gz --index --regions intervals.bed "${motifs[@]}" genome.fa
scan --sort genome --regions intervals.bed "${motifs[@]}" genome.fa > sorted.tsv
zcat hits.tsv.gz | cmp -s - sorted.tsv || fail "hits.tsv.gz is not the table"
for query in chrA:2000-51000 chrB:100000-200000 chrC:1-200000; do
  chromosome=${query%%:*} range=${query#*:}
  low=${range%-*} high=${range#*-}
  tabix hits.tsv.gz "$query" > query.tsv
  awk -F'\t' -v c="$chromosome" -v l="$low" -v h="$high" \
    'NR > 1 && $3 == c && $6 >= l && $5 <= h' sorted.tsv > expected.tsv
  [ -s query.tsv ] || fail "tabix $query: no rows"
  cmp -s query.tsv expected.tsv || fail "tabix $query"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "zelko scan --regions equals a scan of bedtools getfasta's regions"
