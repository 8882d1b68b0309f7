#!/usr/bin/env python3
"""Checks what a null sink's monitor recorded (16-bit stereo, 44100 Hz).

usage:
  sound_check.py exact RECORD.raw REF.wav [REF.wav...] --from-block N [--block-frames F]
      the record, with its silent frames taken out, equals the references
      played one after another from block N of the first (earlier blocks are
      dropped while the device opens); silent frames are taken out of the
      references too, so a signal may cross zero
  sound_check.py heard RECORD.raw --min-ms A --max-ms B
      the record holds between A and B ms of sound
  sound_check.py silent RECORD.raw
      nothing reached the sink
  sound_check.py gap RECORD.raw --min-ms A --max-ms B
      the longest silence inside the sound lasts between A and B ms

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


def wav_frames(path):
    data = open(path, "rb").read()
    at = 12
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if tag == b"data":
            return frames(data[at + 8:at + 8 + size])
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
    # Wine's audio client may keep the last partial period of a stream that
    # ends, and the device is reset at Quit: the very end may be missing, but
    # nothing before it.
    missing = (len(wanted) - len(heard)) // FRAME
    if 0 < missing <= args.block_frames and wanted.startswith(heard):
        print(f"record equals the references from block {args.from_block} but for the last "
              f"{missing} frames, which the device did not play before it was reset")
        return True
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


def gap(args, record):
    longest = ms(max(inner_silences(record), default=0))
    print(f"longest silence inside the sound: {longest:.0f} ms "
          f"(wanted {args.min_ms}..{args.max_ms})")
    return args.min_ms <= longest <= args.max_ms


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["exact", "heard", "silent", "gap"])
    parser.add_argument("record")
    parser.add_argument("refs", nargs="*")
    parser.add_argument("--from-block", type=int, default=1)
    parser.add_argument("--block-frames", type=int, default=576)
    parser.add_argument("--min-ms", type=float, default=0.0)
    parser.add_argument("--max-ms", type=float, default=1e12)
    args = parser.parse_args()
    record = frames(open(args.record, "rb").read())
    ok = {"exact": exact, "heard": heard, "silent": silent, "gap": gap}[args.mode](args, record)
    print(f"{args.mode} {args.record}: {'ok' if ok else 'FAILED'}")
    return 0 if ok else 1


sys.exit(main())
