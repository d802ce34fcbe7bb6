# Sequences from standard input (-), /dev/stdin, a FIFO and a pipe of gzip data are copied to
# a temporary file in --tmpdir, which is gone afterwards; messages name the input as given.
zelko=$1 work=$2
motifs=motifconv/jaspar3.jaspar
mkdir "$work/tmp"
cat table/chrom.fa | "$zelko" scan -q --tmpdir "$work/tmp" $motifs - | head -3
cat table/chrom.fa | "$zelko" scan -q --tmpdir "$work/tmp" $motifs /dev/stdin | tail -1
mkfifo "$work/fifo"
gzip -c table/chrom.fa > "$work/fifo" &
"$zelko" scan -q --tmpdir "$work/tmp" -p 1e-3 --bed $motifs "$work/fifo"; echo "exit $?"
wait
printf '>broken\nACGTJ\n' | "$zelko" scan -q --tmpdir "$work/tmp" $motifs -; echo "exit $?"
cat table/chrom.fa | "$zelko" scan -q --tmpdir "$work/none" $motifs -; echo "exit $?"
cat table/chrom.fa | TMPDIR="$work/tmp" "$zelko" scan -q --bed $motifs -; echo "exit $?"
ls -A "$work/tmp"
