#!/usr/bin/env bash
# valtrex-term on a virtual X server against the simulated generator: the release query typed into
# the send box comes back as the generator's reply on the terminal's screen. Exits 77 (skipped)
# when no virtual X server is installed.
#   term_e2e.sh BUILD_DIR
set -euo pipefail
build=$1
driver="$build/tools/term-driver/valtrex-term-driver"
sim="$build/tools/sim/valtrex-sim"
if ! command -v xvfb-run >/dev/null || ! command -v xauth >/dev/null; then
  echo "term_e2e: SKIPPED: xvfb-run and xauth are needed (scripts/setup installs them)" >&2
  exit 77
fi
for program in "$driver" "$sim"; do
  [ -x "$program" ] || { echo "term_e2e: $program is not built" >&2; exit 1; }
done

work=$(mktemp -d /tmp/valtrex-term-XXXXXX)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --link "$work/generator" --release 104 --trace 2>"$work/trace" >/dev/null &
sim_pid=$!
for _ in $(seq 100); do
  [ -L "$work/generator" ] && break
  kill -0 "$sim_pid" 2>/dev/null || fail "the simulator ended: $(cat "$work/trace")"
  sleep 0.1
done
[ -L "$work/generator" ] || fail "the simulator made no link"

# The driver types into the line by itself: nothing but a pseudo-terminal, whatever the name
# looks like. Links named like a device, in the folder the driver runs in, lead to the live
# simulator: the port maps those names under /dev, so they must be refused too.
ln -s "$(readlink "$work/generator")" "$work/null"
ln -s "$(readlink "$work/generator")" "$work/valtrex-no-such-device"
for port in /dev/null "$work/missing" null valtrex-no-such-device; do
  status=0
  (cd "$work" && QT_QPA_PLATFORM=offscreen "$driver" --port "$port" --settings "$work/x.ini") \
    >"$work/out" 2>&1 || status=$?
  [ "$status" -eq 2 ] || fail "the driver took $port (status $status)"
  grep -q 'is not a pseudo-terminal' "$work/out" || fail "no clear refusal for $port: $(cat "$work/out")"
done

out=$(env -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/config" timeout 60 \
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  "$driver" --port "$work/generator" --settings "$work/config/term.ini" \
  --send '@01SR' --expect '#02SR104') || fail "the driver failed: $out"
echo "$out"
case "$out" in
  *"screen: #02SR104"*) ;;
  *) fail "the screen does not end with the generator's reply" ;;
esac
grep -a -q ' rx .*@01SR' "$work/trace" || fail "the generator did not see the query: $(cat "$work/trace")"
[ ! -e "$work/config/term.ini" ] || fail "the driver stored settings"
echo "term_e2e: the release query came back as the generator's reply"
