#!/usr/bin/env python3
"""Reads a valtrex-sim trace ("  12.345 rx %01f\\r") and reports the panel's wire timing."""
import statistics
import sys


def main(path):
    frames = []  # (ms, direction, text)
    for line in open(path, encoding="ascii", errors="replace"):
        parts = line.split(None, 2)
        if len(parts) < 3 or parts[1] not in ("rx", "tx"):
            continue
        text = parts[2].split(" [")[0].rstrip("\n")
        frames.append((float(parts[0]) * 1000.0, parts[1], text))
    rx = [(t, f) for t, d, f in frames if d == "rx"]
    if len(rx) < 10:
        sys.exit("too few frames in the trace")

    # Every tick but the flush step sends one query, so consecutive frames lie a whole number of
    # ticks apart; the remainder is the tick's deviation from 100 ms.
    deviations, ticks = [], 0
    for (a, _), (b, _) in zip(rx, rx[1:]):
        n = max(1, round((b - a) / 100.0))
        ticks += n
        deviations.append((b - a) / n - 100.0)
    period = (rx[-1][0] - rx[0][0]) / ticks
    absdev = sorted(abs(d) for d in deviations)
    p99 = absdev[min(len(absdev) - 1, int(0.99 * len(absdev)))]

    # Step 0 sends the status request, step 14 the last query, step 15 reads its answer; steps 16
    # and 17 show the values and send nothing; step 19 sends the first telemetry query.
    start = next(t for t, f in rx if f.startswith("@01SR"))
    last_query = next(t for t, f in rx if f.startswith("%01t"))
    first_loop = next(t for t, f in rx if t > last_query and f.startswith("%03?"))
    last_readback = last_query + period - start
    startup = first_loop - period - start

    hf = [t for t, f in rx if f.startswith("%01&")]
    telemetry = statistics.mean(b - a for a, b in zip(hf, hf[1:]))

    sent = sum(len(f.replace("\\r", "\r")) for _, f in rx)
    duration = (rx[-1][0] - rx[0][0]) / 1000.0

    print(f"| tick period, mean | {period:.2f} ms |")
    print(f"| tick deviation from 100 ms, mean / p99 | {statistics.mean(deviations):+.2f} / {p99:.2f} ms |")
    print(f"| start-up pass, status request to the last read-back (steps 0 to 15) | {last_readback:.0f} ms |")
    print(f"| start-up pass, whole (steps 0 to 17, until the loop begins) | {startup:.0f} ms |")
    print(f"| telemetry refresh period, mean | {telemetry:.1f} ms |")
    print(f"| panel to generator | {sent / duration:.1f} bytes/s over {duration:.0f} s |")


if __name__ == "__main__":
    main(sys.argv[1])
