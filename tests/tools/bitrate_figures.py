#!/usr/bin/env python3
"""The bitrate figures and the leaky-bucket check of a written VC-1 elementary stream,
computed on their own from the stream and the frames' times, for the end-to-end tests.

usage: bitrate_figures.py STREAM.vc1 REPORT.json [--period-100ns N] [--expect OTHER.json]

REPORT.json is the `tarvel --json -v3` document of the run that wrote the stream: only its
frames' `time_ms` are taken. The frame period is N (the ASF file's Average Time Per Frame,
100-ns units) when given, else the first sequence header's frame rate, else the median of
the positive spacings between the first 512 frames' times. A frame's bytes run from the
end of the frame before (the stream's start for the first) to its own end: start code and
any headers before it included; the end-of-sequence code is nobody's. The leaky buckets
are those of the first sequence header (HRD_RATE, HRD_BUFFER) and the entry-point header
after it (HRD_FULL), read here bit by bit in SMPTE 421M's order.

Prints one JSON object: {"bitrate": {...}, "hrd": [...]} with the members and units of the
program's document (bit/s, bits, ms). With --expect, compares them with the "bitrate" and
"hrd" members of OTHER.json (the program's document) instead, and prints "same:" and each
bucket's outcome ("holds" or "underflows"), or "differ:" and both."""
import json
import re
import sys
from fractions import Fraction
from math import floor


class Bits:
    def __init__(self, data):
        self.data, self.at = data, 0

    def read(self, n):
        v = 0
        for _ in range(n):
            byte = self.data[self.at // 8] if self.at // 8 < len(self.data) else 0
            v = (v << 1) | ((byte >> (7 - self.at % 8)) & 1)
            self.at += 1
        return v


def headers(stream):
    """The frame rate (a Fraction of frames per second, or None) and the buckets."""
    seq = stream.find(b"\x00\x00\x01\x0f")
    entry = stream.find(b"\x00\x00\x01\x0e", seq)
    if seq < 0 or entry < 0:
        return None, []
    b, rate = Bits(stream[seq + 4:entry]), None
    b.read(2 + 3 + 2 + 3 + 5 + 1 + 12 + 12 + 1 + 1 + 1 + 1 + 1 + 1)
    if b.read(1):  # DISPLAY_EXT
        b.read(28)
        if b.read(1) and b.read(4) == 15:
            b.read(16)
        if b.read(1):  # FRAMERATE_FLAG
            if b.read(1) == 0:
                nr, dr = b.read(8), b.read(4)
                if 1 <= nr <= 7 and 1 <= dr <= 2:
                    rate = Fraction([24, 25, 30, 50, 60, 48, 72][nr - 1] * 1000, 1000 if dr == 1 else 1001)
            else:
                rate = Fraction(b.read(16) + 1, 32)
        if b.read(1):
            b.read(24)
    buckets = []
    if b.read(1):  # HRD_PARAM_FLAG
        count, rate_exp, buffer_exp = b.read(5), b.read(4), b.read(4)
        pairs = [(b.read(16), b.read(16)) for _ in range(count)]
        e = Bits(stream[entry + 4:])
        e.read(13)
        for n, (r, size) in enumerate(pairs):
            full = e.read(8)
            big_b = (size + 1) * 2 ** (4 + buffer_exp)
            buckets.append({"bucket": n + 1, "rate": (r + 1) * 2 ** (6 + rate_exp), "buffer": big_b,
                            "initial_fullness": (full + 1) * big_b // 256})
    return rate, buckets


def frame_bytes(stream):
    """Bytes of each frame as written: each piece opens with a sequence header, an entry
    point without one before it, or a frame start code without either."""
    codes = [(m.start(), stream[m.start() + 3]) for m in re.finditer(b"\x00\x00\x01[\x0a\x0d\x0e\x0f]", stream)]
    starts, previous, end = [], None, len(stream)
    for at, code in codes:
        if code == 0x0A:
            end = at
        elif code == 0x0F or (code == 0x0E and previous != 0x0F) or (code == 0x0D and previous not in (0x0E,)):
            starts.append(at)
        previous = code
    return [b - a for a, b in zip(starts, starts[1:] + [end])]


def bucket_check(bucket, bits, period, first_ms):
    level, lowest, underflow = Fraction(bucket["initial_fullness"]), None, None
    for k, b in enumerate(bits):
        if underflow is None and b > level:
            underflow = {"frame": k + 1, "time_ms": first_ms + floor(k * period * 1000)}
        lowest = level - b if lowest is None else min(lowest, level - b)
        level = min(Fraction(bucket["buffer"]), level - b + bucket["rate"] * period)
    return dict(bucket, holds=underflow is None, underflow=underflow,
                lowest_fullness=floor(lowest) if lowest is not None else bucket["initial_fullness"])


def main():
    stream = open(sys.argv[1], "rb").read()
    times = [f["time_ms"] for f in json.load(open(sys.argv[2]))["frames"]]
    bits = [8 * n for n in frame_bytes(stream)]
    assert len(bits) == len(times), "%d frames in the stream, %d times" % (len(bits), len(times))
    frame_rate, buckets = headers(stream)
    period = None
    if "--period-100ns" in sys.argv:
        period = Fraction(int(sys.argv[sys.argv.index("--period-100ns") + 1]), 10 ** 7)
    elif frame_rate:
        period = 1 / frame_rate
    else:
        head = sorted(times[:512])
        spacings = sorted(b - a for a, b in zip(head, head[1:]) if b > a)
        period = Fraction(spacings[(len(spacings) - 1) // 2], 1000) if spacings else Fraction(0)
    span = Fraction(max(times) - min(times), 1000) + period
    starts = sorted(set(times))
    windows = [(sum(b for b, t in zip(bits, times) if s <= t < s + 1000), -s) for s in starts]
    peak, peak_from = max(windows)
    seconds = [0] * ((max(times) - min(times)) // 1000 + 1)
    for b, t in zip(bits, times):
        seconds[(t - min(times)) // 1000] += b
    largest = max(range(len(bits)), key=lambda i: (bits[i], -i))
    mine = {
        "bitrate": {"average": floor(sum(bits) / span) if span else 0, "peak_1s": peak, "peak_1s_from_ms": -peak_from,
                    "largest_frame": largest + 1, "largest_frame_bytes": bits[largest] // 8, "per_second": seconds},
        "hrd": [bucket_check(b, bits, period, times[0]) for b in buckets]}
    if "--expect" not in sys.argv:
        print(json.dumps(mine))
        return
    other = json.load(open(sys.argv[sys.argv.index("--expect") + 1]))
    if all(other.get(k) == mine[k] for k in mine):
        print("same:", " ".join("holds" if b["holds"] else "underflows" for b in mine["hrd"]))
    else:
        print("differ:", json.dumps(mine), json.dumps({k: other.get(k) for k in mine}))


if __name__ == "__main__":
    main()
