# zelko variants names what it skips and what stops it: records whose REF is not the genome's
# letters (counted, the first five named; two reach beyond the contig's end, one of them lies
# wholly beyond it, near another's stretch of genome), symbolic and missing alleles, alleles longer than
# --max-indel; a contig the genome lacks fails naming it (exit 1, no output file) unless
# --skip-missing-contigs; protein motifs, a genome compressed with gzip, a VCF that is none and
# a missing one fail; the genome as standard input, a report's option and missing operands
# are usage errors.
zelko=$1 work=$2
data=$(pwd)
motifs=$data/motifconv/jaspar3.jaspar
cp table/chrom.fa "$work/genome.fa"
cd "$work" || exit 1
header='##fileformat=VCFv4.2\n##contig=<ID=chrT,length=1200>\n##contig=<ID=chrZ>\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n'
printf "$header" > skipped.vcf
printf 'chrT\t1199\t.\tCCC\tC\t.\t.\t.\nchrT\t5000\t.\tA\tC\t.\t.\t.\n' >> skipped.vcf
for position in 1 2 3 4 5; do
  printf 'chrT\t%s\t.\tGGGG\tG\t.\t.\t.\n' "$position" >> skipped.vcf
done
printf 'chrT\t100\t.\tA\t<DEL>,*\t.\t.\t.\nchrT\t200\t.\tT\tTACGTACGTACG,R\t.\t.\t.\n' >> skipped.vcf
"$zelko" variants -b uniform --max-indel 10 "$motifs" genome.fa skipped.vcf > /dev/null
echo "exit $?"
printf "$header" > missing.vcf
printf 'chrT\t10\t.\tC\tA\t.\t.\t.\nchrZ\t5\t.\tA\tG\t.\t.\t.\nchrZ\t9\t.\tA\tG\t.\t.\t.\n' >> missing.vcf
"$zelko" variants -q -b uniform -o out.tsv "$motifs" genome.fa missing.vcf
echo "exit $?"
ls out.tsv 2> /dev/null
"$zelko" variants -b uniform --skip-missing-contigs "$motifs" genome.fa missing.vcf | wc -l
"$zelko" variants -q "$data/motifconv/protein.meme" genome.fa missing.vcf
echo "exit $?"
gzip -c genome.fa > genome.fa.gz
"$zelko" variants -q "$motifs" genome.fa.gz missing.vcf
echo "exit $?"
"$zelko" variants -q "$motifs" genome.fa genome.fa
echo "exit $?"
"$zelko" variants -q "$motifs" genome.fa absent.vcf
echo "exit $?"
"$zelko" variants -q "$motifs" - missing.vcf
echo "exit $?"
"$zelko" variants -q --bin-width 10 "$motifs" genome.fa missing.vcf
echo "exit $?"
"$zelko" variants -q "$motifs" genome.fa
echo "exit $?"
