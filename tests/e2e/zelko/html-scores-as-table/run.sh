# The page gives scores and thresholds in the table's unit (integer thousandths) and says so.
zelko=$1 work=$2
"$zelko" scan -q -o "$work/t.tsv" --html "$work/p.html" motifconv/jaspar3.jaspar table/chrom.fa
sed -n 2p "$work/t.tsv" | cut -f 8,13
grep -o '<td>[-0-9.]*<td>9.6e-05' "$work/p.html"
grep -o 'Threshold [^<]*' "$work/p.html" | tail -1
grep -o '<dt>Scores</dt><dd>[^<]*' "$work/p.html"
