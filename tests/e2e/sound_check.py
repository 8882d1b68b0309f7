#!/usr/bin/env python3
"""Checks what a null sink's monitor recorded (16-bit stereo, 44100 Hz).

usage:
  sound_check.py exact RECORD.raw REF.wav [REF.wav...] [--from-block N] [--block-frames F]
      the record, with its silent frames taken out, equals the references
      played one after another, from their first sample to their last (from
      block N of the first with --from-block); silent frames are taken out of
      the references too, so a signal may cross zero. 16- and 24-bit, mono
      and stereo references at 44100 Hz compare as the sink records them
  sound_check.py heard RECORD.raw --min-ms A --max-ms B
      the record holds between A and B ms of sound
  sound_check.py silent RECORD.raw
      nothing reached the sink
  sound_check.py gap RECORD.raw [REF.wav REF.wav] --min-ms A --max-ms B
      the longest silence inside the sound lasts between A and B ms; with
      references, the silence where the first ends and the second begins

Every mode prints the underruns it sees: silences inside the sound longer
than any the references hold (for modes without references, longer than 2
frames), which is where the device ran dry.
"""
import argparse
import struct
import sys

FRAME = 4
SILENT = b"\0" * FRAME
RATE = 44100


def frames(data):
    return [data[i:i + FRAME] for i in range(0, len(data) - len(data) % FRAME, FRAME)]


def as_sink_frames(data, channels, bits):
    """PCM as the sink records it, 16-bit stereo: a 24-bit sample keeps its
    two high bytes (exact when its low byte is zero), mono goes to both sides."""
    width = bits // 8
    samples = [data[i + width - 2:i + width] for i in range(0, len(data) - len(data) % width, width)]
    if channels == 1:
        return [sample * 2 for sample in samples]
    return [samples[i] + samples[i + 1] for i in range(0, len(samples) - 1, 2)]


def wav_frames(path):
    data = open(path, "rb").read()
    at, channels, bits = 12, 2, 16
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if tag == b"fmt ":
            channels, _, _, _, bits = struct.unpack("<HIIHH", data[at + 10:at + 24])
        if tag == b"data":
            body = data[at + 8:at + 8 + size]
            if (channels, bits) == (2, 16):
                return frames(body)
            return as_sink_frames(body, channels, bits)
        at += 8 + size + (size & 1)
    sys.exit(f"{path}: no data chunk")


def inner_silences(record):
    """Lengths (in frames) of the silent runs between the first and last sound."""
    runs, current, started = [], 0, False
    for frame in record:
        if frame == SILENT:
            current += 1
            continue
        if started and current:
            runs.append(current)
        started, current = True, 0
    return runs


def report_underruns(record, allowed):
    dry = [run for run in inner_silences(record) if run > allowed]
    print(f"underruns: {len(dry)}" + (f" (frames: {dry[:10]})" if dry else ""))


def sound(record):
    return b"".join(frame for frame in record if frame != SILENT)


def exact(args, record):
    refs = [wav_frames(path) for path in args.refs]
    allowed = max([max(inner_silences(ref), default=0) for ref in refs] + [0])
    report_underruns(record, allowed)
    expected = refs[0][args.from_block * args.block_frames:] + [f for ref in refs[1:] for f in ref]
    heard, wanted = sound(record), sound(expected)
    if heard == wanted:
        print(f"record equals the references from block {args.from_block}: {len(wanted)} bytes")
        return True
    missing = (len(wanted) - len(heard)) // FRAME
    if 0 < missing and wanted.startswith(heard):
        print(f"record equals the references from block {args.from_block} but for the last "
              f"{missing} frames, which were never heard")
        return False
    for block in range(0, 40):
        later = refs[0][block * args.block_frames:] + [f for ref in refs[1:] for f in ref]
        if heard == sound(later):
            print(f"record equals the references from block {block}, not {args.from_block}")
            return False
    first = next((i for i, (a, b) in enumerate(zip(heard, wanted)) if a != b),
                 min(len(heard), len(wanted)))
    print(f"record ({len(heard)} bytes of sound) differs from the {len(wanted)} expected "
          f"at byte {first}")
    return False


def ms(count):
    return 1000.0 * count / RATE


def heard(args, record):
    report_underruns(record, 2)
    length = ms(sum(1 for frame in record if frame != SILENT))
    print(f"heard: {length:.0f} ms (wanted {args.min_ms}..{args.max_ms})")
    return args.min_ms <= length <= args.max_ms


def silent(args, record):
    count = sum(1 for frame in record if frame != SILENT)
    print(f"frames of sound: {count} (wanted none)")
    return count == 0


def silence_after(record, sound_frames):
    """Frames of silence in the record between its first `sound_frames` frames
    of sound and the next one."""
    count, run = 0, 0
    for frame in record:
        if frame == SILENT:
            run += 1 if count >= sound_frames else 0
            continue
        if count == sound_frames:
            return run
        count += 1
    return run


def gap(args, record):
    if args.refs:
        # Only the silence where the first reference ends and the next begins.
        refs = [wav_frames(path) for path in args.refs]
        report_underruns(record, max([max(inner_silences(ref), default=0) for ref in refs] + [0]))
        longest = ms(silence_after(record, len(sound(refs[0])) // FRAME))
        print(f"silence between the first reference and the next: {longest:.0f} ms "
              f"(wanted {args.min_ms}..{args.max_ms})")
        return args.min_ms <= longest <= args.max_ms
    longest = ms(max(inner_silences(record), default=0))
    print(f"longest silence inside the sound: {longest:.0f} ms "
          f"(wanted {args.min_ms}..{args.max_ms})")
    return args.min_ms <= longest <= args.max_ms


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["exact", "heard", "silent", "gap"])
    parser.add_argument("record")
    parser.add_argument("refs", nargs="*")
    parser.add_argument("--from-block", type=int, default=0)
    parser.add_argument("--block-frames", type=int, default=576)
    parser.add_argument("--min-ms", type=float, default=0.0)
    parser.add_argument("--max-ms", type=float, default=1e12)
    args = parser.parse_args()
    record = frames(open(args.record, "rb").read())
    ok = {"exact": exact, "heard": heard, "silent": silent, "gap": gap}[args.mode](args, record)
    print(f"{args.mode} {args.record}: {'ok' if ok else 'FAILED'}")
    return 0 if ok else 1


sys.exit(main())
