# Usage errors of zelko enrich end with status 2 and name the fault: files missing, values
# out of range, options that need or exclude others, both sets from standard input, an output
# that is an input or the other output (the input stays as it was).
zelko=$1 work=$2
motifs=motifconv/jaspar3.jaspar
run() { "$zelko" enrich -q "$@"; echo "exit $?"; }
"$zelko" enrich; echo "exit $?"
run $motifs
run --threshold maybe $motifs table/chrom.fa
run --shuffle-order 9 $motifs table/chrom.fa
run --shuffles 0 $motifs table/chrom.fa
run --seed -1 $motifs table/chrom.fa
run --bin-width 10 $motifs table/chrom.fa
"$zelko" enrich --progress --quiet $motifs table/chrom.fa; echo "exit $?"
run --control - $motifs - < /dev/null
cp $motifs "$work/m.jaspar"
run -o "$work/m.jaspar" "$work/m.jaspar" table/chrom.fa
cmp -s $motifs "$work/m.jaspar" && echo "the motif file is as it was"
run --html "$work/same.out" -o "$work/same.out" $motifs table/chrom.fa
run --control "$work/m.jaspar" --html "$work/m.jaspar" $motifs table/chrom.fa
ls "$work"
