#!/usr/bin/env bash
# Runs serial_bench from a build folder (it builds nothing) and puts its table into
# bench/README.md, between the serial-bench markers, with the date and the machine.
# Usage: bench/run_serial_bench.sh BUILD_DIR [serial_bench options, e.g. --long or --quick]
set -euo pipefail
if [[ $# -lt 1 ]]; then
  echo "usage: $0 BUILD_DIR [serial_bench options]" >&2
  exit 2
fi
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
program=$build/bench/serial_bench
if [[ ! -x $program ]]; then
  echo "$0: no $program; build the serial_bench target first" >&2
  exit 1
fi
table=$(mktemp)
section=$(mktemp)
trap 'rm -f "$table" "$section"' EXIT
"$program" "$@" >"$table"

{
  echo "## Serial transfer: our port against other serial libraries"
  echo
  echo "Written by \`bench/run_serial_bench.sh\`; run it again rather than editing this part."
  echo
  echo "Every contender opens the same pseudo-terminal and talks to one peer thread on its"
  echo "master side. B1: a 5-byte query, an 11-byte reply that the peer sends the moment the"
  echo "query is in, timed from the first write to the last byte read. B2: the peer writes one"
  echo "byte once the contender's thread sleeps in its wait and no other thread of the process"
  echo "runs; time until the contender's own handler runs and has the byte. For our port that"
  echo "is OnRxChar, which reads the byte, on the thread its delivery mode gives: the main"
  echo "thread for smThreadSync (the Read/Write row) and smWindowSync, the event thread for"
  echo "smNone. The main thread waits serving the message queue, except in the Qt loop row,"
  echo "where it runs a Qt event loop and the port's wake-up hook posts the call that serves"
  echo "the queue, as the panel does. The rows WaitForEvent, overlapped read and overlapped comm"
  echo "event have no event thread: the code right after the wait (WaitForEvent; ReadAsync of one"
  echo "byte and WaitForAsync; the device's WaitCommEvent and GetOverlappedResult) is the"
  echo "handler, on the thread that waited. B3: bytes each way, timed to the last byte at the far"
  echo "end, best round. B4: an open port waiting for data that never comes, the whole"
  echo "process's CPU time and context switches, beside the plain thread blocked in poll() of"
  echo "the first row; our rows with events have the event thread watching all ten events"
  echo "meanwhile (the delivery rows with the main thread waiting as in B2, the Read/Write row"
  echo "in a read with a time limit). Ratios are against the first row, termios + poll(), of"
  echo "the same run; the contenders take turns in blocks, so the machine's noise falls on all"
  echo "of them alike. With --pin the whole process runs on one CPU, so every thread hop is a"
  echo "switch on that CPU."
  echo
  echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'); machine: $(nproc) cores, $(uname -sr)," \
    "$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'); options: ${*:-(defaults)}."
  echo
  cat "$table"
} >"$section"

"$here/readme_section.sh" serial-bench "$section"
