#!/usr/bin/env python3
"""Writes WAV files for the player's input tests, independently of the player's own writer.

usage: make_wav.py PATH [--tag N] [--subformat pcm|float] [--bits B] [--channels C] [--counter]
                        [--rate R] [--frames F] [--extra-chunk] [--data-first]
                        [--no-data] [--claim-frames F] [--block-align N] [--precision P]

Samples are a 1 kHz sine on every channel; with --counter (16-bit stereo)
each frame holds its own number plus one as a 32-bit little-endian count, so
that every frame of a record tells which frame of the file it is, and none
is silent. --extra-chunk puts an odd-sized
LIST chunk before the data; --claim-frames writes a data size larger than the
data present, as an interrupted writer leaves it.
"""
import argparse
import math
import struct

PCM_GUID = bytes.fromhex("0100000000001000800000aa00389b71")
FLOAT_GUID = bytes.fromhex("0300000000001000800000aa00389b71")


def samples(bits, channels, rate, frames, precision=None):
    out = bytearray()
    width = bits // 8
    # Samples of `precision` bits in a wider container, the low bits zero.
    shift = bits - precision if precision else 0
    for frame in range(frames):
        value = 0.5 * math.sin(2 * math.pi * 1000 * frame / rate)
        for _ in range(channels):
            if bits == 8:
                out += bytes([int(round(value * 127)) + 128])
            else:
                full = (1 << (bits - shift - 1)) - 1
                sample = int(round(value * full)) << shift
                out += sample.to_bytes(width, "little", signed=True)
    return bytes(out)


def chunk(tag, body):
    pad = b"\0" if len(body) % 2 else b""
    return tag + struct.pack("<I", len(body)) + body + pad


def main():
    p = argparse.ArgumentParser()
    p.add_argument("path")
    p.add_argument("--tag", type=int, default=1)
    p.add_argument("--subformat", choices=["pcm", "float"], default="pcm")
    p.add_argument("--bits", type=int, default=16)
    p.add_argument("--channels", type=int, default=2)
    p.add_argument("--rate", type=int, default=44100)
    p.add_argument("--frames", type=int, default=4410)
    p.add_argument("--extra-chunk", action="store_true")
    p.add_argument("--data-first", action="store_true")
    p.add_argument("--no-data", action="store_true")
    p.add_argument("--claim-frames", type=int)
    p.add_argument("--block-align", type=int)
    p.add_argument("--precision", type=int, help="significant bits; the low ones are zero")
    p.add_argument("--counter", action="store_true")
    a = p.parse_args()
    if a.counter and (a.bits, a.channels) != (16, 2):
        p.error("--counter takes 16-bit stereo")

    width = (a.bits + 7) // 8
    align = a.block_align if a.block_align is not None else a.channels * width
    fmt = struct.pack("<HHIIHH", a.tag, a.channels, a.rate, a.rate * align, align, a.bits)
    if a.tag == 0xFFFE:
        guid = PCM_GUID if a.subformat == "pcm" else FLOAT_GUID
        fmt += struct.pack("<HHI", 22, a.bits, 0) + guid
    if a.counter:
        data = b"".join(struct.pack("<I", n + 1) for n in range(a.frames))
    else:
        data = samples(a.bits if a.bits % 8 == 0 else width * 8, a.channels, a.rate, a.frames,
                       a.precision)
    claimed = a.claim_frames * align if a.claim_frames is not None else len(data)
    data_chunk = b"data" + struct.pack("<I", claimed) + data

    chunks = [chunk(b"fmt ", fmt)]
    if a.extra_chunk:
        chunks.append(chunk(b"LIST", b"INFOISFT\x05\0\0\0test\0"))
    if not a.no_data:
        if a.data_first:
            chunks.insert(0, data_chunk)
        else:
            chunks.append(data_chunk)
    body = b"WAVE" + b"".join(chunks)
    with open(a.path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


if __name__ == "__main__":
    main()
