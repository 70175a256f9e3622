#!/usr/bin/env bash
# Instructions per exchange-cycle tick, counted by callgrind over RunTicks only: a running-loop
# tick against an empty one (port closed). Usage: bench/tick_instructions.sh [BUILD_DIR] [TICKS]
set -euo pipefail
build=${1:-build}
ticks=${2:-4000}
for mode in empty loop; do
  out=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
    --toggle-collect='*RunTicks*' "$build/bench/tick_bench" --ticks "$ticks" "$mode" 2>/dev/null
  total=$(callgrind_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
  rm -f "$out"
  echo "$mode tick: $((total / ticks)) instructions ($total over $ticks ticks)"
done
