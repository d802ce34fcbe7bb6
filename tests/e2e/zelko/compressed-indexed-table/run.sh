# Tables in genome order written BGZF-compressed with their tabix index: zcat gives the plain
# table, tabix answers a region query with the rows of that region, bgzip checks the blocks;
# --index needs --sort genome and a .gz output.
zelko=$1 work=$2
motifs=motifconv/jaspar3.jaspar
data=$(pwd)
cd "$work" || exit 1
sequences=$data/table/chrom.fa
"$zelko" scan -q -p 1e-2 --sort genome "$data/$motifs" "$sequences" > plain.tsv
for table in tsv bed gff3; do
  "$zelko" scan -q -p 1e-2 --sort genome "--$table" -o "hits.$table.gz" --index \
    "$data/$motifs" "$sequences"; echo "$table exit $?"
  bgzip -t "hits.$table.gz" && echo "$table blocks whole"
  ls "hits.$table.gz.tbi" > /dev/null && echo "$table indexed"
done
zcat hits.tsv.gz | cmp - plain.tsv && echo "tsv.gz is the table"
# The rows of chrT that overlap 400-700 (1-based, closed), from the index and from the table.
tabix hits.bed.gz chrT:400-700 > query.bed
zcat hits.bed.gz | awk -F'\t' '$1 == "chrT" && $3 >= 400 && $2 < 700' > expected.bed
cmp query.bed expected.bed && echo "bed query: $(wc -l < query.bed) rows"
tabix hits.tsv.gz chrT:400-700 | cut -f 3,5,6 > query.tsv
awk -F'\t' 'NR > 1 && $3 == "chrT" && $6 >= 400 && $5 <= 700' plain.tsv | cut -f 3,5,6 > expected.tsv
cmp query.tsv expected.tsv && echo "tsv query: $(wc -l < query.tsv) rows"
# Genome order: sequence in file order, then start.
awk -F'\t' 'NR > 1 { print $4 "\t" $5 }' plain.tsv > order.txt
sort -s -k1,1n -k2,2n order.txt | cmp - order.txt && echo "rows in genome order"
"$zelko" scan -q --index -o x.gz "$data/$motifs" "$sequences"; echo "exit $?"
"$zelko" scan -q --sort genome --index -o x.tsv "$data/$motifs" "$sequences"; echo "exit $?"
ls x.* 2> /dev/null
