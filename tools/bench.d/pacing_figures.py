#!/usr/bin/env python3
"""The pacing benchmark's two halves.

  pacing_figures.py make REF.wav SECONDS
      writes a 1 kHz sine, 16-bit stereo at 44100 Hz, that never holds two
      silent frames in a row, so that any longer silence in a record is a gap
  pacing_figures.py figures REF.wav RECORD.raw WRITES.txt PLAYER_OUTPUT.txt
      prints the figures as "bench: NAME VALUE UNIT"
  pacing_figures.py cpu PLAYER_OUTPUT.txt PLAYER_OUTPUT_NODEVICE.txt
      prints the CPU per audio second without a device and the difference
  pacing_figures.py underruns NAME RECORD.raw
      prints "bench: NAME N count": the silences of two frames or more inside
      the sound, counted as the figures' own underruns are
  pacing_figures.py silence NAME SECONDS RECORD.raw...
      prints "bench: NAME X ms": the median over the records of the silence
      inserted inside the sound (runs of two frames or more) per minute of
      SECONDS of audio
  pacing_figures.py lost NAME RECORD.raw REF.wav...
      prints "bench: NAME N frames": the sound frames of the references
      (16-bit, or wider with the low bytes zero) that the record lacks
"""
import math
import re
import struct
import sys

RATE, FRAME, BLOCK = 44100, 4, 576
SILENT = b"\0" * FRAME


def make(path, seconds):
    cycle = bytearray()  # 441 frames hold ten whole periods
    for i in range(441):
        value = int(round(0.5 * 32767 * math.sin(2 * math.pi * 1000 * i / RATE)))
        cycle += struct.pack("<hh", value, value)
    frames = int(seconds * RATE)
    data = bytes(cycle) * (frames // 441) + bytes(cycle[: (frames % 441) * FRAME])
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, RATE, RATE * FRAME, FRAME, 16)
    header += b"data" + struct.pack("<I", len(data))
    with open(path, "wb") as out:
        out.write(header)
        out.write(data)


def sound_frames(data, silence=None):
    """Sound frames and the silent runs of two frames or more between them;
    the frames of each run are added to the list `silence` if one is given."""
    count, runs, current, started = 0, 0, 0, False
    view = memoryview(data)
    for i in range(0, len(data) - len(data) % FRAME, FRAME):
        if view[i:i + FRAME] == SILENT:
            current += 1
            continue
        if started and current > 1:
            runs += 1
            if silence is not None:
                silence.append(current)
        started, current, count = True, 0, count + 1
    return count, runs


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))] if ordered else float("nan")


def per_audio_second(output):
    """The player process's CPU milliseconds per second of audio it played."""
    text = open(output, encoding="latin-1").read()
    summary = dict(re.findall(r"(\w+)=(-?\d+)", text.strip().splitlines()[-1]))
    cpu = int(re.search(r"process: cpu_ms=(-?\d+)", text).group(1))
    return cpu / (int(summary["audio_ms"]) / 1000.0)


def cpu(output, output_nodevice):
    device, nodevice = per_audio_second(output), per_audio_second(output_nodevice)
    print(f"bench: cpu_ms_per_audio_s_nodevice {nodevice:.2f} ms")
    print(f"bench: device_cpu_ms_per_audio_s {device - nodevice:.2f} ms")


def figures(ref, record, writes, output):
    # The sine crosses zero on a frame every 441: count sound frames on both sides.
    ref_frames, _ = sound_frames(open(ref, "rb").read()[44:])
    heard, underruns = sound_frames(open(record, "rb").read())
    # The Writes only (the log's moments have three fields); the device's
    # pre-buffer is taken at once, so the pace is read from the first second on.
    log = [tuple(map(float, line.split()[:2])) for line in open(writes) if len(line.split()) >= 4]
    settled = [entry for entry in log if entry[0] >= 1000.0]
    first_before, start = settled[0]
    late = [ret - start - (before - first_before) for before, ret in settled[1:]]
    cpu_per_audio_s = per_audio_second(output)
    # How far the last Write returned from where the audio before it puts it,
    # against the first: the schedule's drift from real time over the run.
    print(f"bench: pacing_drift_ms {late[-1] - late[0]:.2f} ms")
    print(f"bench: write_late_p50_ms {percentile(late, 0.50):.2f} ms")
    print(f"bench: write_late_p99_ms {percentile(late, 0.99):.2f} ms")
    print(f"bench: underruns {underruns} count")
    print(f"bench: blocks_dropped {(ref_frames - heard) / BLOCK:.1f} blocks")
    print(f"bench: frames_lost {ref_frames - heard} frames")
    print(f"bench: cpu_ms_per_audio_s {cpu_per_audio_s:.2f} ms")


def ref_sound_frames(path):
    """Sound frames of a WAV file as the sink's 16-bit stereo record holds them."""
    data = open(path, "rb").read()
    at = data.index(b"data") + 8
    channels, bits = struct.unpack("<H", data[22:24])[0], struct.unpack("<H", data[34:36])[0]
    width = bits // 8
    body = data[at:]
    frame = width * channels
    count = 0
    for i in range(0, len(body) - len(body) % frame, frame):
        if any(body[i + c * width + width - 2:i + c * width + width] != b"\0\0"
               for c in range(channels)):
            count += 1
    return count


if sys.argv[1] == "underruns":
    print(f"bench: {sys.argv[2]} {sound_frames(open(sys.argv[3], 'rb').read())[1]} count")
elif sys.argv[1] == "silence":
    per_min = []
    for path in sys.argv[4:]:
        runs = []
        sound_frames(open(path, "rb").read(), runs)
        per_min.append(1000.0 * sum(runs) / RATE * 60.0 / float(sys.argv[3]))
    print(f"bench: {sys.argv[2]} {sorted(per_min)[len(per_min) // 2]:.1f} ms")
elif sys.argv[1] == "lost":
    heard, _ = sound_frames(open(sys.argv[3], "rb").read())
    per_file = {path: ref_sound_frames(path) for path in set(sys.argv[4:])}
    wanted = sum(per_file[path] for path in sys.argv[4:])
    print(f"bench: {sys.argv[2]} {wanted - heard} frames")
elif sys.argv[1] == "make":
    make(sys.argv[2], float(sys.argv[3]))
elif sys.argv[1] == "cpu":
    cpu(sys.argv[2], sys.argv[3])
else:
    figures(*sys.argv[2:6])
