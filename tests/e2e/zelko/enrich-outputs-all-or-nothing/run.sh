# zelko enrich writes its table and page both or neither: a page that cannot be written
# leaves no table (and an older table as it was), a folder the page cannot go to fails before
# the analysis; a table to standard output comes before the page. With both written, nothing
# temporary stays.
zelko=$1 work=$2
motifs=motifconv/jaspar3.jaspar
run() { "$zelko" enrich -q "$@"; echo "exit $?"; }
run --html /dev/full -o "$work/new.tsv" $motifs table/chrom.fa
echo old > "$work/old.tsv"
run --html /dev/full -o "$work/old.tsv" $motifs table/chrom.fa
cat "$work/old.tsv"
run --html "$work/missing/page.html" -o "$work/old.tsv" $motifs table/chrom.fa
cat "$work/old.tsv"
run --html /dev/full $motifs table/chrom.fa | cut -f 1-4
run --html "$work/page.html" -o "$work/table.tsv" $motifs table/chrom.fa
head -1 "$work/table.tsv" | cut -f 1-6
grep -c '<tbody class="motif"' "$work/page.html"
ls "$work"
