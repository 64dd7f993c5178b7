#!/usr/bin/env bash
# Builds the bench preset (Release, build/bench) and runs the benchmarks: the console table on
# stdout, the figures as JSON in build/bench/results/hostile.json, then the scaling report of
# bench/check_scaling.py (its status is the script's). Arguments go to the benchmark program,
# e.g. --benchmark_filter=hostile/equals.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$TOVARINE_ROOT"

cmake --preset bench
cmake --build --preset bench -j"$(nproc)"
mkdir -p build/bench/results
build/bench/bench/tovarine_bench --benchmark_filter='^hostile/' \
    --benchmark_out=build/bench/results/hostile.json --benchmark_out_format=json "$@"
python3 bench/check_scaling.py build/bench/results/hostile.json
