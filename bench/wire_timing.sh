#!/usr/bin/env bash
# Wire timing of the real panel: runs valtrex-sim with its trace and the panel window (valtrex-panel-driver) on the offscreen
# platform, connected to it, for SECONDS (default 60), then reports from the trace the tick period,
# the start-up pass, the telemetry period and the panel's bytes per second, and puts the report
# into bench/README.md between the wire-timing markers.
# Usage: bench/wire_timing.sh [BUILD_DIR] [SECONDS] [TRACE_FILE]
set -euo pipefail
build=${1:-build}
seconds=${2:-60}
trace=${3:-$(mktemp)}
link=$(mktemp -u /tmp/valtrex-wire.XXXXXX)

"$build/tools/sim/valtrex-sim" --link "$link" --trace 2>"$trace" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.1; done

QT_QPA_PLATFORM=offscreen timeout --signal=TERM "$seconds" \
  "$build/tools/panel-driver/valtrex-panel-driver" --port "$link" >/dev/null 2>&1 || true
kill $sim 2>/dev/null || true
wait $sim 2>/dev/null || true
here=$(cd "$(dirname "$0")" && pwd)
report=$(mktemp)
{
  echo "## Wire timing of the panel"
  echo
  echo "Written by \`bench/wire_timing.sh\` from valtrex-sim's trace of the real valtrex-panel"
  echo "(offscreen platform, its port's event thread running) connected for $seconds s."
  echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'); machine: $(nproc) cores, $(uname -sr)."
  echo
  echo "| Figure | Value |"
  echo "|---|--:|"
  python3 "$here/wire_timing.py" "$trace"
} >"$report"
cat "$report"
"$here/readme_section.sh" wire-timing "$report"
rm -f "$report"
