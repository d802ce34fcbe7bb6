# Regions of a genome (a copy of table/chrom.fa, whose .fai is made beside it): three
# intervals of chrT that overlap or touch become one region, a contained one adds its name,
# and loose is scanned from letter 40 on; every table gives genome coordinates and TSV the
# region's names last. The sequence numbers count the merged regions in the genome's order.
# The BED file may come gzip'd from standard input.
zelko=$1 work=$2
motifs=$(pwd)/motifconv/jaspar3.jaspar
cp table/chrom.fa "$work/genome.fa"
cd "$work" || exit 1
printf 'loose\t40\t100\ttail\nchrT\t800\t900\tb\nchrT\t700\t800\ta\nchrT\t750\t760\tc\n' \
  > regions.bed
for table in tsv bed gff3; do
  "$zelko" scan -q -b uniform -p 2e-3 "--$table" --regions regions.bed "$motifs" genome.fa
  echo "exit $?"
done
cut -f 1-2 genome.fa.fai
gzip -c regions.bed | "$zelko" scan -q -b uniform -p 2e-3 --regions - "$motifs" genome.fa > stdin.tsv
"$zelko" scan -q -b uniform -p 2e-3 --regions regions.bed "$motifs" genome.fa | cmp - stdin.tsv &&
  echo "gzip BED from standard input: the same table"
