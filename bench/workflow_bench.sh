#!/usr/bin/env bash
# Times the sharded scan workflow (workflows/scan) against one zelkosearch run on a real
# database and library, checks that every result is the single run's report byte for byte,
# and times the merge alone (records and megabytes per second).
#
# usage: bench/workflow_bench.sh [-build DIR] [-db FILE] [-lib FILE] [-seqs N|all]
#                                [-shards "1 2 4"] [-cores N]
# Defaults: the shared fly upstream regions (all 26454 sequences, 52.9 Mbp), the 879 JASPAR
# vertebrate matrices, -pval 1e-5 -lazy -uniform -2 -sort p -format tabs, 1, 2 and 4 shards,
# snakemake --cores 2 (the single run gets -j 2 as well, and is also timed with one job).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
shared=$here/../shared/data
db=$shared/dna/dm3_upstream2000.fa.gz
lib=$shared/libraries/jaspar2024_vertebrates879.lib
seqs=all
shardcounts="1 2 4"
cores=2
while [ $# -gt 0 ]; do
  case "$1" in
    -build) build=$(cd "$2" && pwd); shift 2 ;;
    -db) db=$2; shift 2 ;;
    -lib) lib=$2; shift 2 ;;
    -seqs) seqs=$2; shift 2 ;;
    -shards) shardcounts=$2; shift 2 ;;
    -cores) cores=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
command -v snakemake > /dev/null || { echo "snakemake is not installed" >&2; exit 2; }
[ -x "$build/zelkosearch" ] && [ -x "$build/zelkomerge" ] ||
  { echo "build zelkosearch and zelkomerge in $build first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ "$seqs" != all ]; then
  gzip -dc "$db" | awk -v n="$seqs" '/^>/ {count++} count <= n' > "$work/db.fa"
  db=$work/db.fa
fi
db=$(cd "$(dirname "$db")" && pwd)/$(basename "$db")
lib=$(cd "$(dirname "$lib")" && pwd)/$(basename "$lib")
options="-dna -lahead -pval 1e-5 -lazy -uniform -2 -sort p -format tabs"

seconds() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

echo "database $(basename "$db") ($seqs sequences), library $(basename "$lib") ($(grep -c '^BEGIN INT\|^BEGIN FLOAT' "$lib") matrices)"
echo "options $options; $(nproc) processors, load $(cut -d' ' -f1 /proc/loadavg)"
for jobs in 1 "$cores"; do
  start=$(seconds)
  # shellcheck disable=SC2086
  "$build/zelkosearch" -db "$db" -pr "$lib" $options -j "$jobs" -q > "$work/single"
  echo "single run -j $jobs: $(elapsed "$start" "$(seconds)") s, $(wc -l < "$work/single") records"
done

for shards in $shardcounts; do
  folder=$work/scan$shards
  mkdir -p "$folder"
  cat > "$folder/config.yaml" <<CONFIG
bindir: "$build"
databases: ["$db"]
library: "$lib"
cutoff: "-pval 1e-5"
statistics: "-lazy -uniform"
strands: "-2"
sort: "p"
shards: $shards
outdir: results
CONFIG
  start=$(seconds)
  (cd "$folder" && snakemake -s "$here/workflows/scan/Snakefile" --configfile config.yaml \
     --cores "$cores" -q > snakemake.log 2>&1) || { cat "$folder/snakemake.log"; exit 1; }
  total=$(elapsed "$start" "$(seconds)")
  same=differs
  cmp -s "$work/single" "$folder/results/result.tabs" && same="same as the single run"
  echo "workflow, $shards shard(s), --cores $cores: $total s; result $same"
done

# The merge alone, on the shards of the last scan; its fixed cost (reading the database,
# preparing the library's statistics) is timed apart on an empty shard.
folder=$work/scan$(echo "$shardcounts" | awk '{print $NF}')
shards=$(ls "$folder"/results/shards/*.out)
: > "$work/empty"
start=$(seconds)
# shellcheck disable=SC2086
"$build/zelkomerge" -o "$work/nothing" "$work/empty" -- -db "$db" -pr "$lib" $options
fixed=$(elapsed "$start" "$(seconds)")
start=$(seconds)
# shellcheck disable=SC2086
"$build/zelkomerge" -o "$work/merged" $shards -- -db "$db" -pr "$lib" $options
took=$(elapsed "$start" "$(seconds)")
records=$(wc -l < "$work/merged")
bytes=$(stat -c %s "$work/merged")
streaming=$(echo "$took - $fixed" | bc)
echo "merge alone: $records records ($((bytes / 1000000)) MB) in $took s, of which $fixed s" \
  "reading the database and preparing the library"
echo "merge throughput: $(echo "$records / $streaming" | bc) records/s," \
  "$(echo "scale=1; $bytes / 1000000 / $streaming" | bc) MB/s"
