# Messages that name the fault and the file: a format not detected (the option is
# --motif-format), folders, truncated gzip files, a GenBank record without DEFINITION, a
# JASPAR matrix without its T row, DNA motifs with --protein; lower-case protein is read.
zelko=$1 work=$2
motifs=motifconv/jaspar3.jaspar
run() { "$zelko" scan -q "$@"; echo "exit $?"; }
run scan/no-motif-format.txt table/chrom.fa
run scan table/chrom.fa
run $motifs scan
run scan/truncated.jaspar.gz table/chrom.fa
run $motifs scan/truncated.fa.gz
run $motifs scan/no-definition.gb
run scan/three-rows.jaspar table/chrom.fa
run --protein $motifs scan/protein-lower.fa
run --dna motifconv/protein.meme table/chrom.fa
run --protein -b uniform -p 0.01 motifconv/protein.meme scan/protein-lower.fa
