#!/usr/bin/env bash
# zelko scan at genome scale: the fly upstream file (52.9 Mbp) repeated until a target size
# (default 1.1 Gbp), each copy with about 1 % of its letters substituted (deterministic, the
# same seed every run; records named copyK_<name>), written as a plain Fasta, is scanned with
# the 879 JASPAR 2024 vertebrate motifs, both strands, p <= 1e-4, the counted background,
# --sort genome --bed -o hits.bed.gz --index --progress; the plain fly file is scanned the same
# way as the reference. GNU time gives the wall time, user+system processor time and peak
# resident memory of each run. Prints per input: residues, matches (rows of the table), wall
# and processor seconds, processor ns per residue, peak memory in GB (10^9 bytes) against
# 1.5 GB + 1.1 bytes per residue, the sizes of hits.bed.gz and of its index; then per genome
# the processor time per residue over the fly run's (target: within 1.15x), PASS or FAIL for
# both targets, and the memory line that ends --progress. Every table is read back: each
# sequence's rows together, in the file's order of sequences, starts (then stops)
# non-decreasing, and tabix of the first and of the last sequence gives as many rows as the
# table holds for them. A size the work folder's disk cannot take (genome, sorted runs of 32
# bytes a match, output; from the fly run's matches per residue) is skipped with a message.
# Skips (status 0) when ../shared/data, GNU time or tabix is absent.
#
# usage: bench/genome_scale.sh [-build DIR] [-size "S ..."] [-threads N] [-memory SIZE]
#                              [-work DIR] [-keep]
# Defaults: -size 1.1G (K, M, G: 10^3, 10^6, 10^9 letters; 3.2G for a human-sized genome,
# 200M for a quick try), 2 threads, zelko scan's own --memory, a temporary work folder under
# $TMPDIR (else /tmp), removed at the end. With -work DIR the genomes (genome-S.fa) stay there
# and are used again by later runs; -keep also keeps the tables and logs. The sorted runs go
# to the work folder (--tmpdir).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
sizes=1.1G
threads=2
memory=""
workdir=""
keep=no
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -size) sizes=$2; shift 2 ;;
    -threads) threads=$2; shift 2 ;;
    -memory) memory=$2; shift 2 ;;
    -work) workdir=$2; shift 2 ;;
    -keep) keep=yes; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
shared=$here/../shared/data
jaspar=$shared/jaspar/JASPAR2024_CORE_vertebrates_non-redundant_pfms_jaspar.txt
fly=$shared/dna/dm3_upstream2000.fa.gz
if [ ! -f "$jaspar" ] || [ ! -f "$fly" ] || [ ! -x /usr/bin/time ] || ! command -v tabix > /dev/null
then
  echo "genome_scale: skipped, needs $jaspar, $fly, GNU time (/usr/bin/time) and tabix"
  exit 0
fi
[ -x "$build/zelko" ] || { echo "build $build/zelko first" >&2; exit 2; }
command -v python3 > /dev/null || { echo "genome_scale: needs python3" >&2; exit 2; }

if [ -n "$workdir" ]; then
  mkdir -p "$workdir"
  work=$(cd "$workdir" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/zelko-genome-XXXXXX")
fi
cleanup() {
  if [ "$keep" = yes ]; then
    echo "kept: $work"
  elif [ -n "$workdir" ]; then  # the genomes stay for the next run
    rm -f "$work"/hits-* "$work"/*.part
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

letters() {  # letters SIZE: 1.1G, 200M, 5000K or a plain count, as a whole number of letters
  awk -v s="$1" 'BEGIN {
    m = 1; u = toupper(substr(s, length(s)))
    if (u == "G") m = 1e9; else if (u == "M") m = 1e6; else if (u == "K") m = 1e3
    if (m > 1) s = substr(s, 1, length(s) - 1)
    if (s !~ /^[0-9]+(\.[0-9]+)?$/) exit 1
    printf "%.0f\n", s * m }'
}
for size in $sizes; do
  letters "$size" > /dev/null || { echo "bad -size $size" >&2; exit 2; }
done

# The fly file's records as a genome of TARGET letters: copy K of the file, each record named
# copyK_<name>, with round(RATE x letters) substitutions at random places (a letter of acgt
# or ACGT becomes one of the other three of its case; n stays), the last copy cut after the
# record that reaches TARGET. Each copy has its own seed, so a larger genome starts with the
# smaller one. Prints the letters written.
mutate() {  # mutate FLY.fa OUT.fa TARGET
  python3 - "$1" "$2" "$3" 32 0.01 << 'EOF'
import random
import sys

source, output, target, seed, rate = sys.argv[1:6]
target, rate = int(target), float(rate)
data = open(source, "rb").read()
starts = [0]
at = data.find(b"\n>")
while at >= 0:
    starts.append(at + 1)
    at = data.find(b"\n>", at + 1)
ends = starts[1:] + [len(data)]
counts = []
for start, end in zip(starts, ends):
    text = data[data.index(b"\n", start) + 1:end]
    counts.append(len(text) - text.count(b"\n"))
others = {}
for case in (b"acgt", b"ACGT"):
    for letter in case:
        others[letter] = bytes(c for c in case if c != letter)
written = 0
copy = 0
with open(output, "wb") as out:
    while written < target:
        copy += 1
        cut, size = len(data), 0
        for record, count in enumerate(counts):
            size += count
            if written + size >= target:
                cut = ends[record]
                break
        part = bytearray(data[:cut])
        rng = random.Random("%s:%d" % (seed, copy))
        draw = rng.random
        wanted = round(rate * size)
        while wanted > 0:
            at = int(draw() * cut)
            choices = others.get(part[at])
            if choices is None:  # a header, a line end or an n
                continue
            part[at] = choices[int(draw() * 3)]
            wanted -= 1
        prefix = b">copy%d_" % copy
        out.write(prefix)
        out.write(part[1:].replace(b"\n>", b"\n" + prefix))
        written += size
print(written)
EOF
}

fa=$work/fly.fa
[ -s "$fa" ] || { gzip -dc "$fly" > "$fa.part" && mv "$fa.part" "$fa"; }
flyletters=$(grep -v '^>' "$fa" | tr -d '\n' | wc -c)

memoryargs=()
[ -n "$memory" ] && memoryargs=(--memory "$memory")
# scan NAME FASTA: the timed scan into $work/hits-NAME.bed.gz; its figures in hits-NAME.time
# (wall, user, system seconds, peak kB) and its standard error in hits-NAME.log.
scan() {
  local out=$work/hits-$1.bed.gz
  rm -f "$out" "$out.tbi" "$out.csi"
  if ! /usr/bin/time -f '%e %U %S %M' -o "$work/hits-$1.time" "$build/zelko" scan \
      -j "$threads" ${memoryargs[@]+"${memoryargs[@]}"} --tmpdir "$work" --sort genome \
      -o "$out" --index --bed --progress "$jaspar" "$2" 2> "$work/hits-$1.log"; then
    echo "genome_scale: zelko scan of $2 failed:" >&2
    tail -n 5 "$work/hits-$1.log" >&2
    exit 1
  fi
}
# check NAME FASTA: reads the table back; prints its rows and the names and row counts of the
# first and the last sequence with rows; fails naming the first row out of genome order.
check() {
  grep '^>' "$2" | awk '{ print substr($1, 2) }' > "$work/hits-ranks"
  gzip -dc "$work/hits-$1.bed.gz" | awk -v ranks="$work/hits-ranks" '
    BEGIN { while ((getline name < ranks) > 0) rank[name] = ++n }
    {
      r = rank[$1]
      if (!r) { bad = "a sequence not in the genome"; exit }
      if (r < last) { bad = "a sequence after a later one"; exit }
      if (r == last && ($2 < start || ($2 == start && $3 < stop))) { bad = "unsorted"; exit }
      if (NR == 1) first = $1
      if ($1 == first) firstrows++
      if (r != last) lastrows = 0
      lastrows++
      last = r; start = $2; stop = $3; lastname = $1
    }
    END {
      if (bad != "") { printf "row %d: %s: %s\n", NR, bad, $0 > "/dev/stderr"; exit 1 }
      print NR, first, firstrows, lastname, lastrows
    }'
}
# tabixrows NAME SEQUENCE: the rows that tabix finds for the whole of SEQUENCE.
tabixrows() { tabix "$work/hits-$1.bed.gz" "$2" | awk -v s="$2" '$1 == s' | wc -l; }
# report NAME LETTERS FASTA: one line of the table below, kept in hits-NAME.report.
report() {
  local name=$1 residues=$2 rows first firstrows lastname lastrows index=none indexsize=0
  check "$name" "$3" > "$work/hits-$name.check"
  read -r rows first firstrows lastname lastrows < "$work/hits-$name.check"
  for ext in tbi csi; do
    if [ -f "$work/hits-$name.bed.gz.$ext" ]; then
      index=$ext
      indexsize=$(stat -c %s "$work/hits-$name.bed.gz.$ext")
    fi
  done
  local tfirst tlast
  tfirst=$(tabixrows "$name" "$first")
  tlast=$(tabixrows "$name" "$lastname")
  if [ "$tfirst" != "$firstrows" ] || [ "$tlast" != "$lastrows" ]; then
    echo "genome_scale: tabix of $name: $first $tfirst rows (table $firstrows)," \
      "$lastname $tlast rows (table $lastrows)" >&2
    exit 1
  fi
  read -r wall user system peak < "$work/hits-$name.time"
  awk -v name="$name" -v res="$residues" -v rows="$rows" -v wall="$wall" -v user="$user" \
    -v sys="$system" -v peak="$peak" -v gz="$(stat -c %s "$work/hits-$name.bed.gz")" \
    -v idx="$index" -v isize="$indexsize" 'BEGIN {
      cpu = user + sys; gb = peak * 1024 / 1e9; target = (1.5e9 + 1.1 * res) / 1e9
      printf "%-8s %11d %11d %9.1f %9.1f %8.3f %8.3f %8.3f %-5s %10.1f %4s %8.1f\n", name, res,
        rows, wall, cpu, cpu * 1e9 / res, gb, target, (gb <= target ? "PASS" : "FAIL"),
        gz / 1e6, idx, isize / 1e3
    }' | tee "$work/hits-$name.report"
  echo "$first $tfirst $lastname $tlast" > "$work/hits-$name.tabix"
}
memoryline() { tr '\r' '\n' < "$work/hits-$1.log" | grep '^memory:' | tail -n 1; }

mode="--sort genome --bed --index, $threads threads"
[ -n "$memory" ] && mode="$mode, --memory $memory"
echo "work: 879 JASPAR motifs, both strands, p <= 1e-4, counted background, $mode"
echo "reference: the fly upstream file, $flyletters letters"
header=$(printf '%-8s %11s %11s %9s %9s %8s %8s %8s %-5s %10s %4s %8s' input residues rows \
  wall_s cpu_s ns/res peak_GB max_GB mem gz_MB idx idx_kB)
scan fly "$fa"
echo "$header"
report fly "$flyletters" "$fa"
flyrows=$(awk '{ print $3 }' "$work/hits-fly.report")
flygz=$(stat -c %s "$work/hits-fly.bed.gz")
flymemory=$(memoryline fly)

done_sizes=""
for size in $sizes; do
  target=$(letters "$size")
  genome=$work/genome-$size.fa
  # Disk: the genome unless it is there, the sorted runs (32 bytes a match, when none stays
  # in memory) and the table, matches per letter as in the fly run; a fifth more for margin.
  need=$(awk -v t="$target" -v rows="$flyrows" -v fl="$flyletters" -v gz="$flygz" \
    -v have="$([ -s "$genome.letters" ] && echo 1 || echo 0)" 'BEGIN {
      m = t * rows / fl; printf "%.0f\n", 1.2 * ((have ? 0 : 1.02 * t) + m * (32 + gz / rows)) }')
  avail=$(($(df -Pk "$work" | awk 'NR == 2 { print $4 }') * 1024))
  if [ "$need" -gt "$avail" ]; then
    echo "$size: skipped, needs about $((need / 1000000000)) GB on $work," \
      "$((avail / 1000000000)) GB free"
    continue
  fi
  if [ ! -s "$genome.letters" ] || [ ! -s "$genome" ]; then
    rm -f "$genome.letters"
    mutate "$fa" "$genome.part" "$target" > "$genome.letters.part"
    mv "$genome.part" "$genome"
    mv "$genome.letters.part" "$genome.letters"
  fi
  scan "$size" "$genome"
  report "$size" "$(cat "$genome.letters")" "$genome"
  done_sizes="$done_sizes $size"
done

echo
echo "fly: $flymemory"
for size in $done_sizes; do
  awk -v size="$size" -f - "$work/hits-fly.report" "$work/hits-$size.report" << 'EOF'
FNR == NR { flyns = $6; next }
{
  ratio = $6 / flyns
  printf "%s: processor time per residue %.2f ns against %.2f ns, %.3fx (target <= 1.15): %s\n",
    size, $6, flyns, ratio, (ratio <= 1.15 ? "PASS" : "FAIL")
  printf "%s: peak memory %.3f GB, at most %.3f GB (1.5 GB + 1.1 bytes per residue): %s\n",
    size, $7, $8, $9
}
EOF
  echo "$size: $(memoryline "$size")"
  read -r first tfirst lastname tlast < "$work/hits-$size.tabix"
  echo "$size: tabix: $tfirst rows on $first, $tlast on $lastname, as in the table;" \
    "genome order kept"
done
