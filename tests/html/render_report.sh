#!/bin/bash
# The HTML report of the bundled data in headless Chromium. zelko scan --html writes the page
# of the 40 JASPAR matrices over the 300 fly upstream regions; the test checks that
#  - zelko report makes the same motif table from the scan's TSV and the sequences;
#  - the page loads without any console message and its script runs to its end;
#  - every motif row has its logo (with letters) and its position histogram (with bars);
#  - the page holds no http or https address (outside SVG namespace attributes) and the
#    browser fetches nothing for it (its network log has no request from the page);
#  - sorting by a column and reverse complements work (#sort=4&rc in the address);
# and keeps a screenshot, build/html-report/report.png (a CI artifact; docs/html-report.png
# is a copy of it).
# Arguments: the build folder, the source folder, the Chromium program.
set -eu -o pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
chromium=$3
work=$build/html-report
rm -rf "$work"
mkdir -p "$work"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The page, written from a folder that shows the inputs by their short names.
ln -s "$source/examples" "$work/examples"
cd "$work"
motifs=examples/jaspar_vertebrates40.jaspar
sequences=examples/dm3_upstream300.fa.gz
"$build/zelko" scan -q --threads 2 --html report.html -o hits.tsv "$motifs" "$sequences"
"$build/zelko" report -q --sequences "$sequences" -o from-table.html hits.tsv "$motifs"
count=$(grep -c '^>' "$motifs")

# The motif tables of both pages: the same bytes.
motiftable() { sed -n '/<table class="motifs"/,/<\/table><\/section>/p' "$1"; }
motiftable report.html > scan-motifs.html
motiftable from-table.html > table-motifs.html
[ -s scan-motifs.html ] || fail "no motif table in report.html"
cmp -s scan-motifs.html table-motifs.html ||
  fail "zelko report's motif table differs from zelko scan --html's: $(diff scan-motifs.html table-motifs.html | head -5)"

. "$source/tests/html/browser.sh"

# Loading: no console message, the script's last statement done, nothing fetched.
loadpage report.html dom.html
page="file://$work/report.html"

# Every motif row: its logo with letters, its position histogram with bars.
rows=$(grep -o '<tbody class="motif" id="m[0-9]*"' dom.html | wc -l)
[ "$rows" -eq "$count" ] || fail "$rows motif rows for $count motifs"
missing=$(awk -v count="$count" '
  BEGIN { RS = "</tbody>" }
  match($0, /<tbody class="motif" id="m[0-9]+"/) {
    id = substr($0, RSTART + 26, RLENGTH - 27)
    if ($0 !~ ("<svg class=\"logo[^\"]*\" id=\"logo-" id "\"[^>]*><use href=\"#z[ACGT]\"")) print "logo of motif " id
    if ($0 !~ ("<svg class=\"hist\" id=\"hist-" id "\"")) print "histogram of motif " id
    else if (hits[id] = ($0 ~ /<path class="fw" transform="matrix\([^)]*\)" d="M0 0V/)) found++
  }
  END { if (found == 0) print "bars in any histogram" }' dom.html)
[ -z "$missing" ] || fail "missing: $(echo "$missing" | head -5)"

# Sorted by hits (column 4) and every logo turned round: hits fall down the rows, and the
# first motif's letters are the complements of the page's, mirrored.
dumpwith "report.html#sort=4&rc" sorted.html
grep -oP '</svg></td><td class="n" data-v="\K[0-9]+' sorted.html > sorted-hits.txt
[ "$(wc -l < sorted-hits.txt)" -eq "$count" ] || fail "sorted page: $(wc -l < sorted-hits.txt) hit counts"
sort -n -r -c sorted-hits.txt 2> /dev/null || fail "the rows are not sorted by hits: $(head -c 80 sorted-hits.txt | tr '\n' ' ')"
# Letters of logo-2 as "x letter" lines, the page's mirrored and complemented.
letters() {
  grep -oP '<svg class="logo[^"]*" id="logo-2".*?</svg>' "$1" |
    grep -oP '<use href="#z\K[ACGT]" x="[0-9.]+' | sed 's/" x="/ /'
}
width=$(grep -oP '<svg class="logo" id="logo-2" viewBox="0 0 \K[0-9.]+' report.html)
letters report.html | awk -v w="$width" '
  { c["A"] = "T"; c["C"] = "G"; c["G"] = "C"; c["T"] = "A"; printf "%.1f %s\n", w - $2 - 10, c[$1] }' |
  sort > forward-turned.txt
letters sorted.html | awk '{ printf "%.1f %s\n", $2, $1 }' | sort > reverse.txt
[ -s reverse.txt ] || fail "no letters in the reverse complement of logo-2"
cmp -s forward-turned.txt reverse.txt ||
  fail "logo-2 turned round is not the reverse complement: $(diff forward-turned.txt reverse.txt | head -4)"
grep -q '<svg class="logo rc" id="logo-2"' sorted.html || fail "logo-2 is not marked as turned"

# The screenshot: sorted by hits over expected, MYF6 (motif 39, near the transcription
# starts) open.
browse --hide-scrollbars --window-size=1400,1500 --screenshot="$work/report.png" \
  "$page#sort=7&open=m39" > /dev/null 2> console3.txt || fail "chromium failed: $(tail -3 console3.txt)"
[ "$(stat -c %s report.png)" -gt 50000 ] || fail "no screenshot"
echo "page $(stat -c %s report.html) bytes, $count motifs; screenshot $work/report.png"
