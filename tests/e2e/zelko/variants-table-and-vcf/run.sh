# zelko variants on a copy of table/chrom.fa (its .fai made beside it) with the three JASPAR
# motifs: an SNV in a site that both alleles keep, a deletion and an insertion that break
# sites, an SNV that makes one, a multi-allelic record (each ALT alone), a symbolic allele
# skipped and counted. The TSV, then the same pairs as the VCF's INFO field MOTIFS.
zelko=$1 work=$2
motifs=$(pwd)/motifconv/jaspar3.jaspar
cp table/chrom.fa "$work/genome.fa"
cd "$work" || exit 1
printf '##fileformat=VCFv4.2\n##contig=<ID=chrT,length=1200>\n##contig=<ID=loose,length=100>\n' > calls.vcf
printf '#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n' >> calls.vcf
printf 'chrT\t10\trs1\tC\tA\t.\t.\t.\nchrT\t110\trs2\tGCTG\tG\t.\t.\tDP=4\n' >> calls.vcf
printf 'chrT\t852\trs3\tA\tC\t.\t.\t.\nchrT\t855\trs4\tG\tA,T\t.\t.\t.\n' >> calls.vcf
printf 'chrT\t1000\trs5\tA\t<DEL>\t.\t.\t.\nchrT\t1190\trs6\tG\tGGTGA\t.\t.\t.\n' >> calls.vcf
printf 'loose\t31\trs7\tA\tG\t.\t.\t.\n' >> calls.vcf
"$zelko" variants -b uniform -p 1e-3 "$motifs" genome.fa calls.vcf
echo "exit $?"
"$zelko" variants -q -b uniform -p 1e-3 --vcf "$motifs" genome.fa calls.vcf | grep -v '^##zelko_variantsCommand'
echo "exit $?"
