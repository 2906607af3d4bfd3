#!/usr/bin/env bash
# Runs every fuzz target in a build folder for a bounded time, starting from
# its seed corpus under fuzz/corpus/<name> when there is one.
# Usage: scripts/run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
root="$(cd "$(dirname "$0")/.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "$build"/fuzz/fuzz_*; do
  [[ -x "$target" ]] || continue
  name=$(basename "$target")
  name=${name#fuzz_}
  corpus="$work/$name"
  mkdir -p "$corpus"
  [[ -d "$root/fuzz/corpus/$name" ]] && cp -r "$root/fuzz/corpus/$name/." "$corpus/"
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -print_final_stats=0 "$corpus" >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    status=1
  fi
done
exit $status
