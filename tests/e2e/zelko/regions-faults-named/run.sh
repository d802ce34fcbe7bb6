# --regions: a sequence the genome lacks and a region beyond its end fail naming the file and
# the line (the other faults of a BED file are the unit tests'); a genome compressed with gzip
# (not bgzip), a FIFO and standard input are refused as the genome; nothing is written to -o.
zelko=$1 work=$2
motifs=$(pwd)/motifconv/jaspar3.jaspar
cp table/chrom.fa "$work/genome.fa"
cd "$work" || exit 1
printf 'track name=x\nchrT\t0\t100\nchrX\t0\t100\n' > unknown.bed
printf 'loose\t0\t100\nchrT\t1100\t1201\n' > beyond.bed
for bed in unknown.bed beyond.bed; do
  "$zelko" scan -q -o out.tsv --regions "$bed" "$motifs" genome.fa; echo "exit $?"
done
gzip -c genome.fa > genome.fa.gz
mkfifo fifo
for genome in genome.fa.gz fifo -; do
  "$zelko" scan -q --regions beyond.bed "$motifs" "$genome"; echo "exit $?"
done
ls out.tsv 2> /dev/null
