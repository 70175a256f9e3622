#!/usr/bin/env bash
# The two panel programs as a user starts them, on the offscreen platform.
#   programs_test.sh BUILD_DIR environment   valtrex-panel acts on nothing from its environment
#   programs_test.sh BUILD_DIR driver-ports  valtrex-panel-driver refuses every port but a pty
set -euo pipefail
build=$1
case_name=$2
panel="$build/app/qt/valtrex-panel"
driver="$build/tools/panel-driver/valtrex-panel-driver"
sim="$build/tools/sim/valtrex-sim"

work=$(mktemp -d /tmp/valtrex-programs-XXXXXX)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

start_sim() {
  "$sim" --link "$work/generator" --trace 2>"$work/trace" >/dev/null &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -L "$work/generator" ] && return 0
    sleep 0.1
  done
  fail "the simulator made no link"
}

# Runs the panel for a fixed span with the environment given, and checks that it sent the
# generator nothing, wrote no file and was still running at the end. The hooks the panel once had
# connected at start, so their first frame left within one 100 ms tick; the span is thirty.
panel_stays_idle() {
  : >"$work/trace"
  local status=0
  env QT_QPA_PLATFORM=offscreen "$@" timeout 3 "$panel" >"$work/out" 2>&1 || status=$?
  [ "$status" -eq 124 ] || fail "valtrex-panel ended by itself (status $status): $(cat "$work/out")"
  if grep -a -q ' rx ' "$work/trace"; then
    fail "valtrex-panel sent the generator: $(grep -a ' rx ' "$work/trace" | head -3)"
  fi
  [ ! -e "$work/shot.png" ] || fail "valtrex-panel wrote $work/shot.png"
}

case "$case_name" in
  environment)
    # The program holds no name of a variable of its own.
    if grep -a -q 'VALTREX_PANEL_' "$panel"; then fail "valtrex-panel reads VALTREX_PANEL_* variables"; fi
    start_sim
    panel_stays_idle
    panel_stays_idle VALTREX_PANEL_AUTOCONNECT="$work/generator" VALTREX_PANEL_SNAPSHOT="$work/shot.png"
    echo "valtrex-panel behaves the same with and without the variables"
    ;;
  driver-ports)
    # Nothing but a pseudo-terminal, whatever the name looks like; the path is only looked at.
    # Links named like a device, in the folder the driver runs in, lead to a live simulator: the
    # port maps those names under /dev, so they must be refused too.
    start_sim
    : >"$work/plain-file"
    ln -s /dev/null "$work/link-to-null"
    ln -s "$(readlink "$work/generator")" "$work/null"
    ln -s "$(readlink "$work/generator")" "$work/valtrex-no-such-device"
    for port in /dev/null "$work/plain-file" "$work/link-to-null" "$work/missing" null \
        valtrex-no-such-device; do
      status=0
      (cd "$work" && QT_QPA_PLATFORM=offscreen timeout 20 "$driver" --port "$port" \
        --snapshot "$work/shot.png") >"$work/out" 2>&1 || status=$?
      [ "$status" -eq 2 ] || fail "driver took $port (status $status)"
      grep -q 'is not a pseudo-terminal' "$work/out" || fail "no clear refusal for $port: $(cat "$work/out")"
    done
    [ ! -e "$work/shot.png" ] || fail "the driver wrote a picture"
    echo "valtrex-panel-driver refuses every port that is not a pseudo-terminal"
    ;;
  *)
    fail "unknown case $case_name"
    ;;
esac
