# A page that cannot be written leaves no table (an older table stays as it was); a signal
# (SIGTERM, SIGHUP, SIGPIPE; SIGINT as well, which a background job of a script ignores)
# leaves no temporary file: not of the table, nor of a copy of
# standard input.
zelko=$1 work=$2
motifs=motifconv/jaspar3.jaspar
cd "$work" || exit 1
data=$OLDPWD
"$zelko" scan -q --html /dev/full -o o1.tsv "$data/$motifs" "$data/table/chrom.fa"; echo "exit $?"
echo old > o2.tsv
"$zelko" scan -q --html /dev/full -o o2.tsv "$data/$motifs" "$data/table/chrom.fa"; echo "exit $?"
cat o2.tsv
# Waits (5 seconds at most) for a file matching the pattern to appear.
appears() {
  for i in $(seq 50); do
    ls $1 > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "no $1"
}
# The page goes to a FIFO no one reads: the table is written and waits for it.
mkfifo page.html
"$zelko" scan -q -o table.tsv --html page.html "$data/$motifs" "$data/table/chrom.fa" &
appears 'table.tsv.??????'
kill -TERM $!
wait $!; echo "exit $?"
mkdir tmp
mkfifo input
"$zelko" scan -q --tmpdir tmp "$data/$motifs" - < input &
exec 3> input
printf '>a\nACGT\n' >&3
appears 'tmp/zelko-sequences-*'
kill -HUP $!
wait $!; echo "exit $?"
exec 3>&-
# A reader that stops early ends the scan by SIGPIPE (or, where it is ignored, by a failed
# write): the copy of standard input goes too.
{ "$zelko" scan -q --tmpdir tmp -p 1 "$data/$motifs" - < "$data/table/chrom.fa"; \
  [ $? -ne 0 ] && echo "stopped" > piped; } 2> /dev/null | head -1 > /dev/null
cat piped
ls tmp
rm page.html input piped
ls -A
