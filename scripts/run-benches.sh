#!/usr/bin/env bash
# Runs the C++ benchmarks of a build folder and the Python benchmarks against
# their peers. Usage: scripts/run-benches.sh BUILD_DIR
set -euo pipefail
build=$1
root="$(cd "$(dirname "$0")/.." && pwd)"
# The Python scripts find the benchmark binaries here and the test drivers in
# the release tree that `make install` builds.
export CMX_BENCH_DIR="$(cd "$build" && pwd)"
export CMX_BUILD_DIR="${CMX_BUILD_DIR:-$root/build/release}"
for bench in "$build"/bench/bench_*; do
  [[ -x "$bench" ]] && "$bench"
done
for script in "$root"/bench/*.py; do
  [[ -f "$script" ]] && python3 "$script"
done
exit 0
