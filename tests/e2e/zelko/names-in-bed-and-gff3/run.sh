# EMBL names lose the `;' of the ID line (TSV and BED); motifs of the same name are told
# apart in BED and GFF3 by their accession (and a number where that is the same too).
zelko=$1 work=$2
"$zelko" scan -q -p 1e-3 motifconv/jaspar3.jaspar sequences/twins.embl.gz | cut -f 1-7 | head -3
"$zelko" scan -q -p 1e-3 --bed motifconv/jaspar3.jaspar sequences/twins.embl | head -2
"$zelko" scan -q -p 1e-3 --bed scan/same-names.jaspar table/chrom.fa
"$zelko" scan -q -p 1e-3 --gff3 scan/same-names.jaspar scan/same-names.jaspar table/chrom.fa |
  grep loose
