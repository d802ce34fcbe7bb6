#!/usr/bin/env bash
# Times `zelko variants' on random SNVs over a genome built from the fly upstream regions
# (their records joined per chromosome, in file order: some 53 Mbp on 7 chromosomes) with the
# 879 JASPAR 2024 vertebrate motifs: wall time, CPU time and peak memory (/usr/bin/time) of
# each run, then their medians. The same run with a tenth of the variants shows whether the
# memory depends on their number. Skips (status 0) when ../shared/data is absent.
#
# usage: bench/variants_bench.sh [-build DIR] [-repeats R] [-variants N] [-threads J]
#                                [-pvalue P] [-records N] [-work DIR] [-shared DIR]
# Defaults: 3 repeats, 1000000 SNVs, 1 thread, p-value 1e-4; the genome and the VCF are made
# in a temporary folder (or kept in -work DIR and made only when missing; zelko makes the
# genome's .fai on its first run). -records N builds the genome of the first N upstream
# regions only (a smoke run); -shared names the data folder (default ../shared/data).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
repeats=3
variants=1000000
threads=1
pvalue=1e-4
records=0
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$2; shift 2 ;;
    -repeats) repeats=$2; shift 2 ;;
    -variants) variants=$2; shift 2 ;;
    -threads) threads=$2; shift 2 ;;
    -pvalue) pvalue=$2; shift 2 ;;
    -records) records=$2; shift 2 ;;
    -work) work=$2; shift 2 ;;
    -shared) shared=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
jaspar=$shared/jaspar/JASPAR2024_CORE_vertebrates_non-redundant_pfms_jaspar.txt
fly=$shared/dna/dm3_upstream2000.fa.gz
if [ ! -f "$jaspar" ] || [ ! -f "$fly" ]; then
  echo "variants_bench: skipped, $shared is absent"
  exit 0
fi
[ -x "$build/zelko" ] || { echo "build $build/zelko first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "variants_bench needs /usr/bin/time" >&2; exit 2; }
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

# The genome: each record's letters appended to the chromosome its name ends in
# (..._up_2000_chr2L_16764737_f), 60 letters a line.
genome=$work/fly.fa
if [ ! -s "$genome" ]; then
  python3 - "$fly" "$genome" "$records" <<'EOF'
import gzip, sys
lines, order, chromosome, seen = {}, [], None, 0
for line in gzip.open(sys.argv[1], "rt"):
    if line.startswith(">"):
        seen += 1
        if int(sys.argv[3]) and seen > int(sys.argv[3]):
            break
        chromosome = line[1:].split()[0].split("_")[-3]
        if chromosome not in lines:
            lines[chromosome] = []
            order.append(chromosome)
    else:
        lines[chromosome].append(line.strip())
with open(sys.argv[2], "w") as out:
    for chromosome in order:
        letters = "".join(lines[chromosome])
        out.write(">%s\n" % chromosome)
        for k in range(0, len(letters), 60):
            out.write(letters[k:k + 60] + "\n")
EOF
fi

# Random SNVs: positions drawn over the genome's A, C, G and T, sorted; ALT another letter.
makevcf() {  # makevcf COUNT FILE
  python3 - "$genome" "$1" "$2" <<'EOF'
import random, sys
genome, count, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
names, letters, current = [], {}, []
for line in open(genome):
    if line.startswith(">"):
        if names:
            letters[names[-1]] = "".join(current)
        names.append(line[1:].split()[0])
        current = []
    else:
        current.append(line.strip())
letters[names[-1]] = "".join(current)
random.seed(34)
sizes = [len(letters[n]) for n in names]
total = sum(sizes)
chosen = sorted(random.sample(range(total), count))
with open(path, "w") as out:
    out.write("##fileformat=VCFv4.2\n")
    for name in names:
        out.write("##contig=<ID=%s,length=%d>\n" % (name, len(letters[name])))
    out.write("#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n")
    sequence, start = 0, 0
    for place in chosen:
        while place >= start + sizes[sequence]:
            start += sizes[sequence]
            sequence += 1
        name = names[sequence]
        ref = letters[name][place - start].upper()
        if ref not in "ACGT":
            continue
        alt = random.choice([c for c in "ACGT" if c != ref])
        out.write("%s\t%d\t.\t%s\t%s\t.\t.\t.\n" % (name, place - start + 1, ref, alt))
EOF
}
tenth=$((variants / 10))
for count in "$variants" "$tenth"; do
  [ -s "$work/snvs$count.vcf" ] || makevcf "$count" "$work/snvs$count.vcf"
done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
run() {  # run COUNT: one timed run, "wall cpu kB" appended to $work/times.COUNT
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$build/zelko" variants -q -j "$threads" \
    -p "$pvalue" "$jaspar" "$genome" "$work/snvs$1.vcf" > "$work/out$1.tsv"
  awk '{ print $1, $2 + $3, $4 }' "$work/time" >> "$work/times.$1"
}
for count in "$variants" "$tenth"; do
  rm -f "$work/times.$count"
  for _ in $(seq "$repeats"); do run "$count"; done
  rows=$(($(wc -l < "$work/out$count.tsv") - 1))
  wall=$(cut -d' ' -f1 "$work/times.$count" | median)
  cpu=$(cut -d' ' -f2 "$work/times.$count" | median)
  memory=$(cut -d' ' -f3 "$work/times.$count" | median)
  echo "variants_bench: $count SNVs x 879 motifs, p $pvalue, $threads thread(s): $rows rows;" \
    "median of $repeats: ${wall}s wall, ${cpu}s CPU, $((memory / 1024)) MB peak"
done
