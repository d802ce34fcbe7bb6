#!/bin/bash
# The HTML page of an enrichment in headless Chromium. zelko enrich --html tests the 40 JASPAR
# matrices on the last 200 letters of the 300 fly upstream regions (before the transcription
# start) against their first 200 (cut here with awk); the test checks that
#  - the page's rows are the table's, in its order, with the same p-, E- and q-values;
#  - the page loads without any console message and its script runs to its end;
#  - every motif row has its logo (with letters) and its target and control plots, and some
#    plot has bars;
#  - the page holds no http or https address and the browser fetches nothing for it;
#  - sorting works: by the ratio (largest first), then by p (smallest first), and #open=m2
#    opens motif 2 alone;
#  - with --center and the default control (the targets shuffled), the central test's columns
#    are in every row;
# and keeps a screenshot, build/html-enrich/enrich.png (docs/images/enrich.png is the same view
# of the README's example).
# Arguments: the build folder, the source folder, the Chromium program.
set -eu -o pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
chromium=$3
work=$build/html-enrich
rm -rf "$work"
mkdir -p "$work"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
. "$source/tests/html/browser.sh"

# The sets, from a folder that shows the inputs by their short names.
ln -s "$source/examples" "$work/examples"
cd "$work"
motifs=examples/jaspar_vertebrates40.jaspar
# The first (last=0) or last (last=1) 200 letters of every record.
cut200() {
  zcat examples/dm3_upstream300.fa.gz | awk -v last="$1" -v n=200 '
    function out() { if (h != "") print h "\n" (last ? substr(s, length(s) - n + 1) : substr(s, 1, n)) }
    /^>/ { out(); h = $0; s = ""; next }
    { s = s $0 }
    END { out() }'
}
cut200 1 > promoters.fa
cut200 0 > upstream.fa
"$build/zelko" enrich -q --threads 2 --html enrich.html -o enrich.tsv "$motifs" promoters.fa \
  --control upstream.fa
"$build/zelko" enrich -q --threads 2 --center --html central.html -o central.tsv "$motifs" \
  promoters.fa
count=$(grep -c '^>' "$motifs")

# The values of the N-th cell with a sort value (data-v) of every row, in the page's order:
# 1 #, 2 target, 3 control, 4 ratio, 5 p, 6 E, 7 q, 8 central width, 9 central p.
cellvalues() {
  awk -v n="$1" 'BEGIN { RS = "</tbody>" }
    /<tbody class="motif"/ {
      row = substr($0, index($0, "<tbody class=\"motif\""))
      row = substr(row, 1, index(row, "</tr>")); k = 0
      while (match(row, /data-v="[^"]*"/)) {
        if (++k == n) print substr(row, RSTART + 8, RLENGTH - 9)
        row = substr(row, RSTART + RLENGTH)
      }
    }' "$2"
}
# Every row as "id accession p E q" as its cells show them.
pagerows() {
  awk 'BEGIN { RS = "</tbody>"; OFS = "\t" }
    /<tbody class="motif"/ {
      row = substr($0, index($0, "<tbody class=\"motif\""))
      row = substr(row, 1, index(row, "</tr>"))
      match(row, /<td class="id">[^<]*/); id = substr(row, RSTART + 15, RLENGTH - 15)
      match(row, /<td class="acc">[^<]*/); acc = substr(row, RSTART + 16, RLENGTH - 16)
      k = 0
      while (match(row, /data-v="[^"]*">[^<]*<\/td>/)) {
        cell = substr(row, RSTART, RLENGTH); sub(/^[^>]*>/, "", cell); sub(/<\/td>$/, "", cell)
        value[++k] = cell; row = substr(row, RSTART + RLENGTH)
      }
      # The plain cells: #, ratio, p, E, q.
      print id, acc, value[3], value[4], value[5]
    }' "$1" | sed 's/&amp;/\&/g; s/&lt;/</g; s/&gt;/>/g'
}

# The page's rows against the table's: the same motifs in the same order, the same p, E, q.
pagerows enrich.html > page-rows.tsv
tail -n +2 enrich.tsv | cut -f 1,2,13,15,16 > table-rows.tsv
[ "$(wc -l < table-rows.tsv)" -eq "$count" ] || fail "$(wc -l < table-rows.tsv) table rows for $count motifs"
cmp -s page-rows.tsv table-rows.tsv ||
  fail "the page's rows differ from the table's: $(diff table-rows.tsv page-rows.tsv | head -5)"

# Loading: no console message, the script's last statement done, nothing fetched.
loadpage enrich.html dom.html

# Every motif row: its logo with letters, its target and control plots; bars somewhere.
rows=$(grep -o '<tbody class="motif" id="m[0-9]*"' dom.html | wc -l)
[ "$rows" -eq "$count" ] || fail "$rows motif rows for $count motifs"
missing=$(awk '
  BEGIN { RS = "</tbody>" }
  match($0, /<tbody class="motif" id="m[0-9]+"/) {
    id = substr($0, RSTART + 26, RLENGTH - 27)
    if ($0 !~ ("<svg class=\"logo[^\"]*\" id=\"logo-" id "\"[^>]*><use href=\"#z[ACGT]\"")) print "logo of motif " id
    if ($0 !~ ("<svg class=\"hist\" id=\"hist-t-" id "\"")) print "target plot of motif " id
    if ($0 !~ ("<svg class=\"hist\" id=\"hist-c-" id "\"")) print "control plot of motif " id
    if ($0 ~ /id="hist-t-[0-9]+"[^>]*><use[^>]*>(<\/use>)?<path class="fw"[^>]* d="M0 0[^"]*V[1-9]/) target++
    if ($0 ~ /id="hist-c-[0-9]+"[^>]*><use[^>]*>(<\/use>)?<path class="ct"[^>]* d="M0 0[^"]*V[1-9]/) control++
  }
  END { if (target == 0) print "bars in any target plot"; if (control == 0) print "bars in any control plot" }' dom.html)
[ -z "$missing" ] || fail "missing: $(echo "$missing" | head -5)"

# Sorted by the ratio (column 6), largest first; then by p (column 7), smallest first; motif 2
# opened.
dumpwith "enrich.html#sort=6" by-ratio.html
cellvalues 4 by-ratio.html > ratios.txt
[ "$(wc -l < ratios.txt)" -eq "$count" ] || fail "sorted page: $(wc -l < ratios.txt) ratios"
sort -g -r -c ratios.txt 2> /dev/null || fail "the rows are not sorted by the ratio: $(head -c 80 ratios.txt | tr '\n' ' ')"
cellvalues 1 by-ratio.html | sort -n -c 2> /dev/null &&
  fail "sorting by the ratio left the rows in the table's order"
dumpwith "enrich.html#sort=6&sort=7&open=m2" by-p.html
cellvalues 5 by-p.html > pvalues.txt
sort -g -c pvalues.txt 2> /dev/null || fail "the rows are not sorted by p: $(head -c 80 pvalues.txt | tr '\n' ' ')"
opened=$(awk 'BEGIN { RS = "</tbody>" } /<tr class="d">/ { match($0, /id="m[0-9]+"/); print substr($0, RSTART + 4, RLENGTH - 5) }' by-p.html)
[ "$opened" = "m2" ] || fail "#open=m2 opened: ${opened:-nothing}"

# The central test: its two columns in every row, its heading, a page that loads cleanly.
loadpage central.html central-dom.html
grep -q '<th data-s="a" class="n">Central p</th>' central-dom.html || fail "no central p heading"
[ "$(cellvalues 9 central-dom.html | wc -l)" -eq "$count" ] || fail "rows without the central test"
[ "$(head -1 central.tsv | cut -f 20)" = central_p_value ] || fail "central.tsv has no central test"

# The screenshot: the page as it opens, the most enriched motif open.
browse --hide-scrollbars --window-size=1200,900 --screenshot="$work/enrich.png" \
  "file://$work/enrich.html#open=m1" > /dev/null 2> console-shot.txt ||
  fail "chromium failed: $(tail -3 console-shot.txt)"
[ "$(stat -c %s enrich.png)" -gt 50000 ] || fail "no screenshot"
echo "page $(stat -c %s enrich.html) bytes, $count motifs; screenshot $work/enrich.png"
