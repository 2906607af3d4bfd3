#!/usr/bin/env bash
# Runs every fuzz target in a build folder for a bounded time, as many at once
# as there are cores, each starting from its seed corpus under fuzz/corpus/<name>.
# Usage: scripts/run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
root="$(cd "$(dirname "$0")/.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
slots=$(nproc)

run_one() {
  local target=$1 name=$2
  local corpus="$work/$name"
  mkdir -p "$corpus"
  [[ -d "$root/fuzz/corpus/$name" ]] && cp -r "$root/fuzz/corpus/$name/." "$corpus/"
  if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -print_final_stats=0 "$corpus" >"$work/$name.log" 2>&1; then
    echo "fuzz: $name ran ${seconds}s clean"
  else
    echo "fuzz: $name FAILED"
    tail -n 60 "$work/$name.log"
    return 1
  fi
}

pids=()
names=()
for target in "$build"/fuzz/fuzz_*; do
  [[ -x "$target" ]] || continue
  name=$(basename "$target")
  name=${name#fuzz_}
  while (( $(jobs -rp | wc -l) >= slots )); do sleep 0.2; done
  run_one "$target" "$name" &
  pids+=($!)
  names+=("$name")
done
status=0
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
exit $status
