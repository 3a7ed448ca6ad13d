#!/usr/bin/env python3
"""Writes the seed corpora of fuzz-receive (fuzz/corpus/receive, input layout in
receive_harness.h) and fuzz-capture (fuzz/corpus/capture, capture files as described in
docs/capture-format.md). The files are kept in the repository; run again after changing a
layout."""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "receive")
OUT_CAPTURE = os.path.join(HERE, "corpus", "capture")
BIG_RING = 0x80


def data_frame(words, good=True):
    block = bytearray()
    for w in words:
        block += bytes((w & 0xFF, (w >> 8) & 0xFF))
    check = sum(block) & 0xFF
    block.append(check if good else check ^ 0x5A)
    return bytes((0xF0, 0x1F, 0x12, 0x32)) + bytes(block)


INFO = bytes((0xF0, 0x1F, 0x05, 0x31, 0x56, 0x03, 0x10, 0x00))
DATE = bytes((0xF0, 0x1F, 0x05, 0x3A, 0x14, 0x08, 0x02, 0x1C))
STOP = bytes((0xF0, 0x1F, 0x01, 0x33))


def frames(n, start=0, good=True):
    out = b""
    for i in range(n):
        v = start + i
        out += data_frame([1000 + v, 2048 + (v * 37) % 900, 1100 + v, 2000, 1200 + v, 2100, 512 + v % 64, 300], good)
    return out


def hit(frame, k, x):
    """The frame with byte k changed by x: a header hit makes it a destroyed frame."""
    f = bytearray(frame)
    f[k] ^= x
    return bytes(f)


def header_hits(rng):
    """Frames whose sync, address, length or code byte was hit, between whole frames and garbage."""
    out = b""
    for i in range(24):
        out += hit(frames(1, i)[0:21], (0, 1, 2, 3)[i % 4], 0x44) + frames(1, 100 + i)
        out += bytes(rng.randrange(0xF0) for _ in range(i % 5))
    return out


def events(stream, sizes):
    """Cuts stream into events of the given sizes, repeating the last size."""
    out = bytearray()
    i = 0
    k = 0
    while i < len(stream):
        n = min(sizes[min(k, len(sizes) - 1)], len(stream) - i, 0xF7)
        out.append(n)
        out += stream[i:i + n]
        i += n
        k += 1
    return bytes(out)


def burst(piece, times):
    """One event holding piece repeated: times = (L - 0xF7) * (R + 1)."""
    for l in range(1, 9):
        if times % l == 0 and times // l <= 256:
            return bytes((0xF7 + l, times // l - 1, len(piece))) + piece
    raise ValueError(times)


def seed(name, ring, store, body):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(bytes((ring, store)) + body)


def main():
    os.makedirs(OUT, exist_ok=True)
    for f in os.listdir(OUT):
        os.remove(os.path.join(OUT, f))
    rng = random.Random(14)
    session = INFO + DATE + frames(40) + STOP
    seed("session-whole-frames", BIG_RING, 0x40, events(session, [8, 8] + [21] * 40 + [4]))
    seed("session-one-event", BIG_RING, 0x41, events(session, [0xF7]))
    seed("session-bytewise", 100, 0x20, events(INFO + frames(3) + STOP, [1]))
    seed("session-small-ring-wraps", 30, 0x21, events(session, [13]))
    seed("session-scrolling-narrow", BIG_RING, 0x05, events(frames(60), [21]))
    seed("info-reply", BIG_RING, 0, events(INFO, [8]))
    seed("date-reply", BIG_RING, 0, events(DATE, [8]))
    seed("stop-ack", BIG_RING, 0, events(STOP, [4]))
    seed("data-frame", BIG_RING, 0, events(frames(1), [21]))
    seed("data-bad-check", BIG_RING, 0, events(frames(3, good=False), [21]))
    seed("split-header", 64, 0x10, events(frames(2), [2, 2, 17, 21]))
    seed("split-7-14", 64, 0x10, events(frames(4), [7, 14]))
    seed("split-20-1", 64, 0x10, events(frames(4), [20, 1]))
    seed("wrap-ring-22", 22, 0x10, events(frames(6), [21]))
    seed("wrap-ring-25-odd-chunks", 25, 0x11, events(frames(6), [5, 11, 3]))
    seed("ring-too-small", 20, 0x10, events(frames(3), [21]))
    seed("ring-without-storage", 1, 0x10, events(frames(2), [21]))
    seed("ring-zero", 0, 0x10, events(frames(2), [21]))
    seed("empty-events", BIG_RING, 0x10, bytes((0, 0, 21)) + frames(1) + bytes((0,)))
    seed("false-headers", BIG_RING, 0x10, events(b"".join(bytes((0xF0, 0x1F, rng.randrange(256), 0x32)) for _ in range(60)) + frames(3), [40]))
    seed("false-headers-small-ring", 50, 0x11, events(b"".join(bytes((0xF0, 0x1F, 0x00, 0x32)) for _ in range(30)) + frames(2), [9]))
    seed("sync-runs", BIG_RING, 0x10, events(bytes((0xF0,)) * 30 + bytes((0xF0, 0x1F)) * 20 + frames(2), [17]))
    seed("unknown-codes", BIG_RING, 0x10, events(b"".join(bytes((0xF0, 0x1F, 0x01, c)) for c in (0x30, 0x34, 0x35, 0x39, 0x3B, 0x65, 0xFF)) + STOP, [4]))
    seed("garbage", BIG_RING, 0x10, events(bytes(rng.randrange(256) for _ in range(400)), [33]))
    seed("garbage-then-frames", 100, 0x11, events(bytes(rng.randrange(256) for _ in range(90)) + frames(4), [30]))
    seed("frames-in-garbage", BIG_RING, 0x12, events(b"".join(bytes(rng.randrange(256) for _ in range(rng.randrange(9))) + data_frame([i] * 8) for i in range(20)), [25]))
    seed("truncated-frame", BIG_RING, 0x10, events(frames(2)[:30], [30]))
    seed("truncated-input", BIG_RING, 0x10, bytes((21,)) + frames(1)[:10])
    seed("overflow-one-event", BIG_RING, 0x10, burst(frames(1, 7), 1000))
    seed("overflow-small-ring", 40, 0x10, burst(frames(1, 9), 8))
    seed("overflow-then-frames", BIG_RING, 0x11, burst(bytes((0x55,)) * 200, 110) + events(frames(3), [21]))
    seed("overflow-twice", 127, 0x10, burst(frames(1), 12) + burst(STOP, 64) + events(frames(1), [21]))
    seed("store-capacity-wrap", BIG_RING, 0x02, events(frames(30), [63]))
    seed("store-scroll-wrap", BIG_RING, 0x03, events(frames(30), [42]))
    seed("store-unsized", BIG_RING, 0x00, events(frames(8), [84]))
    seed("mixed-replies-in-stream", BIG_RING, 0x10, events(frames(5) + INFO + frames(5) + DATE + frames(5) + STOP, [11]))
    seed_header_hits()


def seed_header_hits():
    rng = random.Random(20)
    seed("header-hits", BIG_RING, 0x10, events(header_hits(rng), [13]))
    seed("header-hits-bytewise", 100, 0x11, events(header_hits(rng)[:300], [1]))
    seed("header-hits-overflow", 60, 0x10, events(header_hits(rng), [57]))


MAGIC = b"\x89VCAP\r\n\x1a"


def capture_header(text=None, version=1):
    if text is None:
        text = b"start=2025-03-01T09:30:00.125+01:00\nport=1\npath=/dev/ttyUSB0\nsettings=256000,n,8,1\nwriter=Veltrin\n"
    return MAGIC + struct.pack("<HH", version, len(text)) + text


def record(direction, time_us, data):
    return bytes((ord(direction),)) + struct.pack("<qH", time_us, len(data)) + data


def capture_seed(name, data):
    with open(os.path.join(OUT_CAPTURE, name), "wb") as f:
        f.write(data)


def main_capture():
    os.makedirs(OUT_CAPTURE, exist_ok=True)
    for f in os.listdir(OUT_CAPTURE):
        os.remove(os.path.join(OUT_CAPTURE, f))
    start = bytes((0xF0, 0x2F, 0x01, 0x32))
    stop = bytes((0xF0, 0x2F, 0x01, 0x33))
    gain = bytes((0xF0, 0x21, 0x02, 0x65, 0x04))
    session = (record("S", 0, start) + record("R", 1500, frames(2)) + record("R", 3100, frames(3, 2)[:30])
               + record("R", 3300, frames(3, 2)[30:]) + record("S", 5000, gain) + record("R", 5200, INFO)
               + record("S", 9000, stop) + record("R", 9100, STOP))
    capture_seed("session", capture_header() + session)
    capture_seed("session-sim-writer", capture_header(b"start=2025-03-01T09:30:00.000+00:00\nport=\npath=/dev/pts/3\nsettings=256000,n,8,1\nwriter=sensor-sim\n") + session)
    capture_seed("header-only", capture_header())
    capture_seed("empty-header-text", capture_header(b""))
    capture_seed("header-unknown-keys", capture_header(b"start=x\nfuture=1\nno equals sign\n=v\nport=-4\nport=99999999999\n") + record("R", 0, STOP))
    capture_seed("header-text-limit", capture_header(b"path=" + b"p" * 4090 + b"\n"))
    capture_seed("header-text-too-long", MAGIC + struct.pack("<HH", 1, 4097) + b"x" * 40)
    capture_seed("header-cut-short", capture_header()[:30])
    capture_seed("magic-only", MAGIC)
    capture_seed("magic-partial", MAGIC[:5])
    capture_seed("not-a-capture", frames(2))
    capture_seed("text-mangled", MAGIC.replace(b"\r\n", b"\n") + b"\x01\x00\x00\x00")
    capture_seed("version-3", capture_header(version=3) + record("R", 0, STOP))
    at_start = (b"start=2025-03-01T09:30:00.125+01:00\nport=1\npath=/dev/ttyUSB0\nsettings=256000,n,8,1\nwriter=Veltrin\n"
                b"gain_pulse_1=4\ngain_pulse_2=3\ngain_pulse_3=3\ngain_ecg=3\ngain_volume=4\n"
                b"coefficient_1=100\ncoefficient_2=abc\ncoefficient_3=\n")
    capture_seed("version-2-notes", capture_header(at_start, version=2) + record("S", 0, start) + record("R", 1500, frames(2))
                 + record("N", 1600, "深呼吸".encode()) + record("N", 1600, b"") + record("R", 3100, frames(3, 2))
                 + record("N", 9000, b"a,\"b\"\nc"))
    capture_seed("version-2-settings-only", capture_header(b"gain_ecg=x\ncoefficient_2=1=2\n", version=2))
    capture_seed("note-in-version-1", capture_header() + record("R", 10, STOP) + record("N", 20, b"x"))
    capture_seed("cut-in-record-header", capture_header() + record("R", 10, STOP) + record("R", 20, STOP)[:6])
    capture_seed("cut-in-record-data", capture_header() + record("R", 10, frames(2))[:30])
    capture_seed("unknown-direction", capture_header() + record("R", 10, STOP) + record("X", 20, STOP))
    capture_seed("time-backwards", capture_header() + record("R", 500, STOP) + record("R", 499, STOP))
    capture_seed("time-negative", capture_header() + record("S", -1, start))
    capture_seed("time-equal", capture_header() + record("R", 7, frames(1)) + record("R", 7, frames(1, 1)))
    capture_seed("zero-length-records", capture_header() + record("R", 0, b"") + record("S", 0, b"") + record("R", 1, STOP))
    capture_seed("large-record", capture_header() + record("R", 100, frames(150)))
    capture_seed("record-larger-than-ring", capture_header() + record("R", 100, frames(1200)))
    capture_seed("garbage-received", capture_header() + record("R", 1, bytes(random.Random(7).randrange(256) for _ in range(300))))
    capture_seed("split-commands", capture_header() + record("S", 0, gain[:2]) + record("S", 1, gain[2:] + start[:1]) + record("S", 2, start[1:]))
    capture_seed("sent-garbage", capture_header() + record("S", 0, bytes((0xF0, 0xF0, 0x2F, 0x09, 0x32, 0xF0, 0x21, 0x02))))
    # Damaged magics (refused as damaged captures, never read as plain streams) and record
    # times no recording has.
    capture_seed("magic-bit-flipped", bytes((MAGIC[0] ^ 0x80,)) + capture_header()[1:] + record("R", 0, STOP))
    capture_seed("magic-two-bytes", capture_header()[:3] + b"xx" + capture_header()[5:] + record("R", 0, STOP))
    capture_seed("magic-lf-to-crlf", MAGIC.replace(b"\n", b"\r\n") + b"\x01\x00\x00\x00")
    capture_seed("magic-mangled-short", MAGIC.replace(b"\r\n", b"\n"))
    capture_seed("time-jump-over-a-day", capture_header() + record("R", 10, STOP) + record("R", 10 + 86400000001, STOP))
    capture_seed("time-jump-a-day", capture_header() + record("R", 10, STOP) + record("R", 10 + 86400000000, STOP))
    capture_seed("first-time-over-a-day", capture_header() + record("R", 1 << 62, STOP))
    seed_capture_header_hits()


def seed_capture_header_hits():
    stream = header_hits(random.Random(21))
    capture_seed("header-hits", capture_header() + b"".join(record("R", 1000 * (i + 1), stream[i:i + 50])
                                                             for i in range(0, len(stream), 50)))


if __name__ == "__main__":
    main()
    main_capture()
