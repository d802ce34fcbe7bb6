# --regions: a line that is no BED interval, a start after its end, a sequence the genome
# lacks and a region beyond its end fail naming the file and the line; a genome compressed
# with gzip (not bgzip), a FIFO and standard input are refused; nothing is written to -o.
zelko=$1 work=$2
motifs=$(pwd)/motifconv/jaspar3.jaspar
cp table/chrom.fa "$work/genome.fa"
cd "$work" || exit 1
run() { "$zelko" scan -q -o out.tsv "$@" "$motifs" genome.fa; echo "exit $?"; }
printf 'chrT\t0\t100\n# comment\nchrT 100 200\n' > spaces.bed
printf 'chrT\t0\t100\nchrT\t500\t100\n' > backwards.bed
printf 'track name=x\nchrT\t0\t100\nchrX\t0\t100\n' > unknown.bed
printf 'loose\t0\t100\nchrT\t1100\t1201\n' > beyond.bed
printf 'chrT\tfirst\t100\n' > words.bed
run --regions spaces.bed
run --regions backwards.bed
run --regions unknown.bed
run --regions beyond.bed
run --regions words.bed
gzip -c genome.fa > genome.fa.gz
"$zelko" scan -q --regions beyond.bed "$motifs" genome.fa.gz; echo "exit $?"
mkfifo fifo
"$zelko" scan -q --regions beyond.bed "$motifs" fifo; echo "exit $?"
"$zelko" scan -q --regions beyond.bed "$motifs" -; echo "exit $?"
ls out.tsv 2> /dev/null
