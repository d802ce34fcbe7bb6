# An output that is an input or the other output is refused (exit 2) and the input stays.
zelko=$1 work=$2
motifs=motifconv/jaspar3.jaspar
cp table/chrom.fa "$work/same.fa"
"$zelko" scan -q -o "$work/same.fa" $motifs "$work/same.fa"; echo "exit $?"
cmp -s table/chrom.fa "$work/same.fa" && echo "the sequence file is as it was"
ln -s same.fa "$work/link.fa"
"$zelko" scan -q -o "$work/link.fa" $motifs "$work/same.fa"; echo "exit $?"
"$zelko" scan -q -o "$work/new.tsv" --html "$work/new.tsv" $motifs table/chrom.fa; echo "exit $?"
"$zelko" scan -q -o "$work/../$(basename "$work")/m.tsv" --html "$work/m.tsv" $motifs table/chrom.fa; echo "exit $?"
cp $motifs "$work/m.jaspar"
"$zelko" scan -q --html "$work/m.jaspar" "$work/m.jaspar" table/chrom.fa; echo "exit $?"
cmp -s $motifs "$work/m.jaspar" && echo "the motif file is as it was"
"$zelko" scan -q -o "$work/t.tsv" $motifs table/chrom.fa; echo "exit $?"
"$zelko" report -q -o "$work/t.tsv" "$work/t.tsv" $motifs; echo "exit $?"
ls "$work"
