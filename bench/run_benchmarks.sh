#!/bin/bash
# Native benchmarks against the simulated Windows: builds build/perf
# (Release, TOLVO_BENCH=ON), checks the cost model of whole installations
# (platform calls by kind for 1 to 1000 ports and 0 to 1000 printers; any
# call the work does not need fails the run), times them, and writes the
# "native" section of bench/results.md.
#
# Usage: bench/run_benchmarks.sh [Google Benchmark flags, e.g. --benchmark_filter=printers:0]
# TOLVO_JOBS sets the build parallelism (default 2).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${TOLVO_JOBS:-2}"
build="$repo/build/perf"

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVO_BENCH=ON >/dev/null
cmake --build "$build" -j "$jobs" --target tolvo_cost_model_bench

work="$(mktemp -d "${TMPDIR:-/tmp}/tolvo-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/bench/tolvo_cost_model_bench" --cost_model_out="$work/cost_model.md" \
  --benchmark_out="$work/timings.json" --benchmark_out_format=json "$@"
python3 "$repo/bench/native_report.py" "$work/cost_model.md" "$work/timings.json"
