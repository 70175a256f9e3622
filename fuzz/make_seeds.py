#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are committed; run this again after changing an input layout of a target and commit
what changes. Each seed is a meaningful input written out in the target's own input layout, so
the fuzzer starts from the frames and sequences the line really carries.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


# --- fuzz_replies: one read of at most 20 bytes.
for name, data in {
    "status": b"#02SR106\r",
    "status-short": b"#02SR1",
    "status-nul": b"#02SR\x001\r",
    "frequency": b"#02f30.000\r",
    "negative": b"#02y-1.234\r",
    "spaces": b"#02q  9.9x\r",
    "dc": b"#02?1234561\r",
    "hf": b"#02&123456789\r",
    "two-replies": b"#02f30.000\r#02s00.030\r",
    "header-only": b"#02",
    "field": b" \t+0000000000002147483648",
}.items():
    write("fuzz_replies", name, data)


# --- fuzz_receive_decoder: options, error character, cut seed, mode, then bytes or happenings.
write("fuzz_receive_decoder", "raw-marks",
      bytes([0x01, ord("?"), 7, 0]) + b"A\xff\xffB\xff\x00C\xff\x00\x00D\x00\xff")
write("fuzz_receive_decoder", "raw-plain", bytes([0x04, 0, 3, 0]) + b"#02f30.000\r\x00\x00")
write("fuzz_receive_decoder", "marked",
      bytes([0x07, ord("?"), 5, 1, 0, ord("A"), 1, 0xFF, 2, 0, 3, ord("x"), 0, 0, 3, 0]))
write("fuzz_receive_decoder", "marked-no-parity",
      bytes([0x00, 0, 1, 1, 0, 0xFF, 2, 0, 0, 0, 1, 0xFF, 2, 0]))
# A pseudo-terminal's bytes are not marked: what looks like a mark is data.
write("fuzz_receive_decoder", "unmarked", bytes([0x0C, 0, 2, 0]) + b"A\xff\x00\x00B\xff\xff\x00")


# --- fuzz_frame_reader: cut seed, then the stream from the panel.
write("fuzz_frame_reader", "frames", b"\x05%01f\r#01f30.000\r\r@01SR\r%03?")
write("fuzz_frame_reader", "overlong", b"\x09" + b"x" * 64 + b"\r" + b"y" * 65 + b"\r%01&\r")


# --- fuzz_generator: options, then operations.
def generator_options(release=106, seed=1, delay=5, flags=0, rates=(0, 0, 0, 0), hangup=None,
                      origin=0):
    data = struct.pack(">H", release) + bytes([seed, delay, flags]) + bytes(rates)
    if flags & 4:
        data += bytes([hangup or 0])
    return data + struct.pack(">I", origin)


def feed(frame, dt=0):
    return bytes([0, dt, len(frame)]) + frame


def take(micros_quarter=0x2000):
    return bytes([4]) + struct.pack(">H", micros_quarter)


panel_round = b"".join([
    feed(b"@01SR\r"), take(),
    feed(b"%03y\r", 100), take(), feed(b"%01f\r", 100), take(),
    feed(b"#01f30.000\r", 100), feed(b"@01start\r"), feed(b"@03start\r"), take(),
    feed(b"%03?\r", 100), take(), feed(b"%01&\r", 100), take(),
    bytes([7]) + struct.pack(">H", 5), feed(b"%03?\r"), take(),
    feed(b"@01wr\r"), feed(b"@03stop\r"), take(),
])
write("fuzz_generator", "round", generator_options() + panel_round)
write("fuzz_generator", "faults-paced",
      generator_options(release=104, seed=9, delay=0, flags=1 | 2 | 4, rates=(60, 200, 200, 200),
                        hangup=6) + panel_round)
write("fuzz_generator", "noise",
      generator_options(release=7) + feed(b"xx%01f\r") + feed(b"#01f3.000\r") +
      feed(b"%01q%01q\r") + feed(b"\x00\xff@01SR\r") + take(0xFFFF))
# Frames built by the target: query, set frame, command, noisy query.
write("fuzz_generator", "built",
      generator_options(release=105) + bytes([2, 0, 0x00, 3]) + bytes([2, 0, 0x01]) +
      struct.pack(">I", 12345) + bytes([0]) + bytes([2, 0, 0x02, 2]) + bytes([2, 0, 0x03, 2, 1, 2]) +
      take(0x4000))


# --- fuzz_exchange_cycle: one record per tick (received-byte count | action << 5).
def tick(received=b"", action=0, args=b""):
    assert len(received) < 32
    return bytes([len(received) | action << 5]) + args + received


PARAMETER_REPLIES = [  # steps 3..15 in the cycle's reading order
    b"#02y03.500\r", b"#02f30.000\r", b"#02s00.060\r", b"#02w00.040\r", b"#02m00.080\r",
    b"#02p00.650\r", b"#02a04.000\r", b"#02b00.040\r", b"#02c00.150\r", b"#02q00.060\r",
    b"#02g00.140\r", b"#02v00.128\r", b"#02t00.420\r",
]


def start_up(release=b"106"):
    return (tick() + tick() + tick(b"#02SR" + release + b"\r") +
            b"".join(tick(r) for r in PARAMETER_REPLIES) + tick() + tick())


def loop_round(dc=b"#02?1234561\r", hf=b"#02&123456789\r"):
    return tick() + tick(b"#02y03.500\r") + tick(dc) + tick(hf)


write("fuzz_exchange_cycle", "start-up", start_up() + loop_round() + loop_round(b"#02?9999990\r"))
write("fuzz_exchange_cycle", "release-104", start_up(b"104") + loop_round())
write("fuzz_exchange_cycle", "release-102-then-105",
      start_up(b"102") + tick(action=4) + start_up(b"105") + loop_round())
write("fuzz_exchange_cycle", "operator",
      start_up() + tick(action=5, args=bytes([0, 0x01, 0x00])) +
      tick(action=5, args=bytes([2, 0x00, 0x10])) + loop_round() +
      tick(action=6, args=bytes([1])) + tick(action=6, args=bytes([0x83])) + loop_round())
write("fuzz_exchange_cycle", "trouble",
      start_up() + tick(action=7, args=bytes([0])) + tick() + tick(action=7, args=bytes([3])) +
      tick(action=7, args=bytes([2, 3])) + tick(action=7, args=bytes([3])) +
      tick(action=7, args=bytes([1])) + tick(action=7, args=bytes([3])) + loop_round())
write("fuzz_exchange_cycle", "garbage",
      start_up(b"1\r0") + tick(b"#02f-9.999\r#02f99.999\r") + tick(b"\x00\x00\r") +
      tick(b"#02?-99-991\r") + tick(b"#02&   +1-002\r"))


# --- fuzz_port_settings: operation byte and arguments (see the target for the numbering).
OPEN_FUZZ0 = bytes([31, 0, 32])  # SetPort("fuzz0"), Open
write("fuzz_port_settings", "panel-line",
      OPEN_FUZZ0 + bytes([0, 9, 2, 3, 6, 0, 3, 0, 10, 0, 11, 0, 12, 0, 13, 3, 14, 0, 15, 0]) +
      bytes([41, 5]) + b"@01SR" + bytes([42, 9]) + b"#02SR106\r" + bytes([20, 34]))
write("fuzz_port_settings", "update-bracket",
      OPEN_FUZZ0 + bytes([36, 36, 0, 0, 1, 2, 0x00, 0x7A, 0x12, 37, 22, 1, 0x01, 0x04, 0x01, 1,
                          37, 37, 46]))
write("fuzz_port_settings", "reopen-and-fail",
      OPEN_FUZZ0 + bytes([31, 1, 31, 4, 32, 38, 0, 1, 31, 0, 38, 0, 0, 31, 0, 38, 2, 1, 6, 2,
                          38, 2, 0, 23, 1, 1, 1, 0x3F, 38, 9, 1, 34]))
write("fuzz_port_settings", "connected-only",
      OPEN_FUZZ0 + bytes([27, 1, 28, 5, 40, 1, 1, 29, 1, 40, 1, 0, 29, 1, 40, 0, 1, 40, 0, 1]) +
      bytes([43, 0, 43, 2, 47, 0x04, 0x0F, 0xF0, 43, 3, 44, 0, 1, 44, 4, 0x41, 45, 1, 1]))
write("fuzz_port_settings", "loading",
      bytes([39, 35, 1, 31, 0, 0, 9, 39, 34, 39, 35, 1, 39]))
write("fuzz_port_settings", "closed-port",
      bytes([41, 3]) + b"abc" + bytes([42, 0, 5, 43, 0, 44, 1, 1, 45, 1, 0, 21, 2, 0xFF, 0xFF,
                                       0xFF, 0xFF, 0, 25, 0, 0, 0, 0]))


# --- fuzz_device_name: a port name.
for name, data in {
    "com1": b"COM1", "com10": b"COM10", "com0": b"COM0", "com01": b"COM01",
    "com-long": b"COM999999999", "com-huge": b"COM18446744073709551617",
    "usb": b"ttyUSB0", "path": b"/tmp/port", "lower": b"com3", "empty": b"",
}.items():
    write("fuzz_device_name", name, data)


# --- fuzz_packet: flags, start string, stop string, size, maximum, time-out, read seed, stream.
def packet(stream, start=b"", stop=b"", size=0, maximum=0, timeout=0, seed=3, flags=0):
    return (bytes([flags, len(start)]) + start + bytes([len(stop)]) + stop +
            bytes([size, maximum, timeout, seed]) + stream)


write("fuzz_packet", "replies", packet(b"xx#02f30.000\r#02SR106\r#02", start=b"#", stop=b"\r"))
write("fuzz_packet", "long-strings",
      packet(b"<x<<a>b>>y<<<c>>", start=b"<<", stop=b">>", flags=1))
write("fuzz_packet", "case", packet(b"xaTfooOkATbarok", start=b"AT", stop=b"OK", flags=2))
write("fuzz_packet", "start-size", packet(b"a#bcd#e#fg", start=b"#", size=2, maximum=4))
write("fuzz_packet", "stop-size-overflow",
      packet(b"ab\rcdefg\rxyz\r" + b"q" * 40 + b"\r", stop=b"\r", size=3, maximum=7))
write("fuzz_packet", "timed", packet(b"#ab" * 20 + b"\r", start=b"#", stop=b"\r", timeout=5,
                                     seed=9, flags=4))


# --- fuzz_terminal: columns (two bytes), rows, history limit, emulation (0 VT52, 1 VT100,
# 2 ANSI), cut seed, flags, then the stream.
def terminal(stream, columns=80, rows=24, history=8, emulation=2, seed=3, flags=0):
    return struct.pack(">H", columns - 1) + bytes([rows - 1, history, emulation, seed,
                                                   flags]) + stream


write("fuzz_terminal", "ansi-screen", terminal(
    b"\x1b[2J\x1b[H\x1b[1;31mAlarm\x1b[0m\r\n\x1b[2;20r\x1b[20;1H\nline\x1b[6n\x1b[5n\x1b[c"
    b"\x1b[?25l\x1b7\x1b[10;10H\x1b[4hins\x1b[4l\x1b8\x1b[?1h\x1b=\x1b(0lqqk\x1b(B"))
write("fuzz_terminal", "edit", terminal(
    b"abcdef\r\n" * 6 + b"\x1b[3;2H\x1b[2L\x1b[M\x1b[3@\x1b[2P\x1b[4X\x1b[1K\x1b[J\x1b[3g"
    b"\x1b[4G\x1bH\r\t|\x1b[2I\x1b[Z\x1bM\x1bD\x1bE\x1b[S\x1b[2T", columns=12, rows=5,
    history=3, seed=255, flags=1))
write("fuzz_terminal", "vt52", terminal(
    b"\x1bH\x1bJ\x1bY%*hello\x1bA\x1bB\x1bC\x1bD\x1bIxy\x1bK\x1bFafgh\x1bG\x1bZ\x1b=\x1b>"
    b"\x1b<\x1b[?2l\x1bY  ", emulation=0, flags=2))
write("fuzz_terminal", "malformed", terminal(
    b"a\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17mb\x1b[4:3m\x1b[1?h\x1b[ 1q\x1b]0;title\x07"
    b"\x1bPq#0\x1b\\\x1b[3\x18C\x1b[2\x1b[1C\x85\x9b\xe9\x7f\x1b[" + b"9" * 300 + b"Cz",
    columns=10, rows=4, history=2, seed=7, flags=3))
write("fuzz_terminal", "wrap-scroll", terminal(
    b"0123456789" * 12 + b"\x1b[?7l" + b"x" * 15 + b"\x1b[?7h\x1b[?6h\x1b[2;3r\x1b[9;9H\x1b[6n",
    columns=7, rows=3, history=4, seed=1))
