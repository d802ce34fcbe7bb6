#!/usr/bin/env bash
# Fuzzes the two matrix converters with libFuzzer for a given time each (default 120 seconds):
#   tests/fuzz/run_converters.sh [seconds] [seed folder ...]
# Builds fuzz_printsconv and fuzz_transfacconv with clang into build-fuzz/, seeds each corpus
# with the converter inputs under tests/data/convert and, when present, the real files in
# ../shared/data/{prints,transfac} (or the seed folders given), and stops at the first
# finding (the crashing input is left in build-fuzz/). Inputs are cut to 16 KiB, which keeps
# the runs fast and still holds several records of every seed. Exit status 0 when nothing
# was found.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-120}
shift || true
CXX=${CXX:-$(command -v clang++-16 || command -v clang++)}
build=build-fuzz
cmake -S . -B $build -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELKO_FUZZ=ON -DZELKO_TESTS=OFF -DZELKO_BENCH=OFF > /dev/null
cmake --build $build -j 2 --target fuzz_printsconv fuzz_transfacconv > /dev/null

seeds=("$@")
[ ${#seeds[@]} -eq 0 ] && seeds=(../shared/data)
for format in prints transfac; do
  corpus=$build/corpus/$format
  mkdir -p "$corpus"
  case $format in prints) pattern='*.pval' ;; transfac) pattern='*.lib' ;; esac
  find tests/data/convert -name "$pattern" -exec cp {} "$corpus"/ \;
  for folder in "${seeds[@]}"; do
    [ -d "$folder/$format" ] && cp "$folder/$format"/* "$corpus"/
  done
  echo "== fuzz_${format}conv for ${seconds}s, $(ls "$corpus" | wc -l) seeds"
  log=$build/fuzz_${format}conv.log
  status=0
  (cd $build && ./fuzz_${format}conv -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=16384 -dict=../tests/fuzz/$format.dict \
    -print_final_stats=1 corpus/$format) > "$log" 2>&1 || status=$?
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|ERROR|SUMMARY' "$log" || true
  if [ $status -ne 0 ]; then
    echo "finding in fuzz_${format}conv (status $status): see $log and the crash file in $build/"
    exit 1
  fi
done
echo "no findings"
