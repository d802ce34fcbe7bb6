#!/usr/bin/env bash
# Fuzzes the two matrix converters with libFuzzer for a given time each (default 120 seconds):
#   tests/fuzz/run_converters.sh [seconds] [seed folder ...]
# tests/fuzz/run-fuzzers builds fuzz_printsconv and fuzz_transfacconv with clang into
# build-fuzz/ and runs them; each corpus is seeded with the converter inputs under
# tests/data/convert and the real files in the {prints,transfac} subfolders of the seed
# folders (default ../shared/data). A crashing input is left in build-fuzz/findings/. Exit
# status 0 when nothing was found.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-120}
shift || true
[ $# -gt 0 ] && export ZELKO_CONVERTER_SEEDS="$*"
exec tests/fuzz/run-fuzzers "$seconds" printsconv transfacconv
