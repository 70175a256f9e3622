#!/bin/sh
# Runs every fuzz target over its committed corpus, then fuzzes it for a bounded time.
# Usage: fuzz/smoke.sh BUILD_DIR SECONDS   (BUILD_DIR configured with VALTREX_WITH_FUZZ=ON)
# Exits non-zero when any target crashes, leaks, times out or runs out of memory; the input
# that did it is kept under the printed work folder. New corpus entries go there too, never
# into fuzz/corpus.
set -u

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/valtrex-fuzz.XXXXXX")

targets="fuzz_replies fuzz_receive_decoder fuzz_frame_reader fuzz_generator fuzz_exchange_cycle
fuzz_port_settings fuzz_device_name fuzz_packet fuzz_terminal"

# A reply parser sees one read of at most 20 bytes; the exchange cycle takes one byte or more a
# tick, so its inputs may run to hundreds of ticks.
flags_for() {
  case $1 in
    fuzz_replies) echo "-max_len=20" ;;
    fuzz_exchange_cycle) echo "-max_len=2048" ;;
    *) echo "" ;;
  esac
}

failed=""
for target in $targets; do
  binary=$build/fuzz/$target
  if [ ! -x "$binary" ]; then
    echo "$target: not built in $build" >&2
    failed="$failed $target"
    continue
  fi
  corpus=$here/corpus/$target
  dict=""
  [ -f "$here/dict/$target.dict" ] && dict="-dict=$here/dict/$target.dict"
  mkdir -p "$work/$target/corpus"
  log=$work/$target/log
  # shellcheck disable=SC2046
  if ! "$binary" $(flags_for "$target") -runs=0 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/$target/" "$corpus" >"$log.corpus" 2>&1; then
    echo "$target: FAILED on its corpus (see $log.corpus)"
    failed="$failed $target"
    continue
  fi
  # shellcheck disable=SC2046
  if "$binary" $(flags_for "$target") ${dict:+"$dict"} -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$target/" \
      "$work/$target/corpus" "$corpus" >"$log" 2>&1; then
    echo "$target: ok $(grep -E '^#[0-9]+' "$log" | tail -n 1)"
  else
    echo "$target: FAILED (see $log)"
    grep -E 'invariant broken|ERROR:|SUMMARY:' "$log" | head -n 5
    failed="$failed $target"
  fi
done

if [ -n "$failed" ]; then
  echo "failed:$failed; inputs and logs in $work"
  exit 1
fi
echo "all targets ok; logs in $work"
