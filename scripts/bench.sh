#!/usr/bin/env bash
# Measures what one export costs the plug-in (DoFunction with an export service
# that writes nothing and a viewer that exits at once) beside a hand-written
# sequence of the same system calls, and prints their ratio. First it shows
# that DoFunction returns while a viewer that stays for seconds still runs.
# A Release build of its own (preset linux-bench); not a test.
#
# Usage: scripts/bench.sh [Google Benchmark options]
# Default: 15 repetitions of 0.2 s each, randomly interleaved, medians reported.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=${ORVEL_BENCH_BUILD:-build/linux-bench}
cmake --preset linux-bench -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target orvel_export_bench >/dev/null

if [ $# -eq 0 ]; then
  set -- --benchmark_repetitions=15 --benchmark_min_time=0.2 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true
fi
"$build/bin/orvel_export_bench" "$@"
