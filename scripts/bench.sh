#!/usr/bin/env bash
# Builds the bench preset (Release, build/bench) and runs the benchmarks, console tables on
# stdout and the figures as JSON in build/bench/results/:
#   hostile.json  the hostile sizes (tovarine_bench); arguments go to this run,
#                 e.g. --benchmark_filter=hostile/equals
#   readers.json  the readers on realistic requests against a zero-copy baseline and two URL
#                 libraries (tovarine_host_bench), median of 3 repetitions
#   peers.json    the hostile shapes through the live reader of each of those ways
# then the table of ns/request and ratios (bench/report.py), the scaling plot docs/scaling.png,
# and last the scaling report of bench/check_scaling.py, whose status is the script's.
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$TOVARINE_ROOT"

# The benchmark libraries are needed; gnuplot only for the plot, which is skipped without it.
tovarine_install demo build bench -- plot
tovarine_preset_build bench
mkdir -p build/bench/results
build/bench/bench/tovarine_bench --benchmark_filter='^hostile/' \
    --benchmark_out=build/bench/results/hostile.json --benchmark_out_format=json "$@"
# Repetitions in random order, so that a slow spell of the machine is spread over all the ways
# rather than landing on one of them.
build/bench/bench/tovarine_host_bench --benchmark_filter='^readers/' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
    --benchmark_enable_random_interleaving=true \
    --benchmark_out=build/bench/results/readers.json --benchmark_out_format=json
build/bench/bench/tovarine_host_bench --benchmark_filter='^peers/' \
    --benchmark_out=build/bench/results/peers.json --benchmark_out_format=json
python3 bench/report.py table build/bench/results/readers.json
python3 bench/report.py peers build/bench/results/peers.json
plot_reason="$(tovarine_optional_reason plot)"
if [[ -z "$plot_reason" ]]; then
    python3 bench/report.py plot build/bench/results/hostile.json docs/scaling.png
else
    echo "plot: SKIPPED: $plot_reason"
fi
python3 bench/store_load.py --runs 1 --out build/bench/results/store_load.json
python3 bench/check_scaling.py build/bench/results/hostile.json
