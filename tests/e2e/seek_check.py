#!/usr/bin/env python3
"""Checks a play with seeks against its record: what was heard, and when.

usage: seek_check.py RECORD.raw RECORD.start REF.wav WRITES.txt [--max-ms M] [--figures PREFIX]

REF.wav is a counter file (make_wav.py --counter): every frame tells which
frame of the file it is, so the record says what was heard at each moment.
RECORD.raw and RECORD.start come from record_timed.py; WRITES.txt is the
player's --write-log: a reading of the output time after each Write, and the
moments "play" and "flush TARGET_MS" (MonotonicMs, the record's clock).

The sound, its silences taken out, must be the file from its first frame on,
then after each flush the file from that flush's target on, every part in
order and the last one to the file's end: nothing from a target on is lost,
nothing comes out of order. What the old place still played after a flush
is allowed (it is measured). The position shown, read after each Write from
the first flush on, is compared with the position heard at that moment (the
target until its first frame is heard; the old place still heard after the
flush is measured as stale instead): the median difference must be within
--max-ms, and the shown time must not run backwards between two flushes.

--figures prints, as "bench: PREFIXNAME VALUE ms": start_latency_ms (play to
the first frame heard), seek_stale_ms (frames of the old place heard after
the flush), seek_latency_ms (flush to the target's first frame heard) and
seek_position_error_ms (the worst |shown - heard| from the flush to the end),
for the first flush.
"""
import argparse
import math
import statistics
import struct
import sys

from record_lineup import heard_start, wav_data

RATE, FRAME = 44100, 4


def ms(frames):
    return 1000.0 * frames / RATE


def counter_frames(data):
    """The file frame each record frame holds, or None where it is silent."""
    count = len(data) // FRAME
    return [value - 1 if value else None for value in struct.unpack(f"<{count}I", data[:count * FRAME])]


def parse_writes(path):
    readings, events = [], []
    for line in open(path):
        fields = line.split()
        if len(fields) == 3:
            events.append((fields[0], int(fields[1]), float(fields[2])))
        elif len(fields) >= 4:
            readings.append((int(fields[2]), float(fields[3]), float(fields[0])))
    return readings, events


def parts(heard):
    """(record frame, first file frame, last file frame) of each run of consecutive frames."""
    runs = []
    for at, frame in enumerate(heard):
        if frame is None:
            continue
        if runs and frame == runs[-1][2] + 1:
            runs[-1][2] = frame
        else:
            runs.append([at, frame, frame])
    return runs


def main():
    parser = argparse.ArgumentParser()
    for name in ("record", "start", "ref", "writes"):
        parser.add_argument(name)
    parser.add_argument("--max-ms", type=float, default=math.inf)
    parser.add_argument("--figures")
    args = parser.parse_args()

    heard = counter_frames(open(args.record, "rb").read())
    total = len(wav_data(args.ref)) // FRAME
    readings, events = parse_writes(args.writes)
    plays = [at for name, _, at in events if name == "play"]
    flushes = [(target * RATE // 1000, at) for name, target, at in events if name == "flush"]
    runs = parts(heard)
    if not runs or not plays:
        sys.exit("seek_check: no sound recorded, or no play noted")

    # Each part begins where the file or a flush's target does and runs on
    # unbroken; the last one reaches the end of the file.
    starts = [0] + [target for target, _ in flushes]
    problems = []
    if len(runs) != len(starts):
        problems.append(f"{len(runs)} parts heard, {len(starts)} wanted: "
                        + ", ".join(f"{first}..{last}" for _, first, last in runs[:8]))
    for (_, first, _), wanted in zip(runs, starts):
        if first != wanted:
            problems.append(f"a part begins at frame {first}, not {wanted}")
    if runs[-1][2] != total - 1:
        problems.append(f"the sound ends at frame {runs[-1][2]}, not {total - 1}")

    first_at, last_at = runs[0][0], runs[-1][0] + runs[-1][2] - runs[-1][1]
    start_ms, _ = heard_start(args.start, first_at, last_at)

    def record_frame(at_ms):
        return round((at_ms - start_ms) * RATE / 1000.0)

    # From the play and from each flush on, the position heard is the part's
    # first frame until that is heard, then the frame heard at the moment
    # (the last one heard, in a silence). What the old place still plays
    # after a flush is its own figure, seek_stale_ms.
    moments = [(plays[0], 0)] + [(at, target) for target, at in flushes]

    def heard_ms(read_ms, part):
        at, first = min(record_frame(read_ms), len(heard) - 1), runs[part][0]
        while at >= first and heard[at] is None:
            at -= 1
        return ms(heard[at] if at >= first else runs[part][1])

    figures = {"start_latency_ms": ms(first_at) + start_ms - plays[0]}
    errors = [[] for _ in moments]
    faults = []
    last_shown, part = None, -1
    for shown, read_ms, _ in readings:
        while part + 1 < min(len(moments), len(runs)) and read_ms >= moments[part + 1][0]:
            part, last_shown = part + 1, None
        if part < 0:
            continue
        if last_shown is not None and shown < last_shown:
            faults.append(f"shown {shown} ms after {last_shown} ms")
        last_shown = shown
        errors[part].append((shown - heard_ms(read_ms, part), read_ms - moments[part][0], shown))
    if flushes and len(runs) > 1:
        pressed, target_at = flushes[0][1], runs[1][0]
        stale = sum(1 for frame in heard[max(record_frame(pressed), 0):target_at] if frame is not None)
        figures["seek_stale_ms"] = ms(stale)
        figures["seek_latency_ms"] = ms(target_at) + start_ms - pressed
    for index, found in enumerate(errors):
        if not found:
            continue
        worst = max(found, key=lambda e: abs(e[0]))
        median = statistics.median(e[0] for e in found)
        after = "the play" if index == 0 else f"flush {index}"
        print(f"position from {after} on: {len(found)} readings, shown - heard median "
              f"{median:+.1f} ms, worst {worst[0]:+.1f} ms ({worst[2]} ms shown {worst[1]:.0f} ms "
              f"after {after})")
        if index == 1:
            figures["seek_position_error_ms"] = abs(worst[0])
        if index > 0 and abs(median) > args.max_ms:
            problems.append(f"the median position error after {after} is beyond {args.max_ms:.0f} ms")
    if flushes and not any(errors[1:]):
        problems.append("no part after the flush, or no reading after it")
    problems += faults[:5]
    print("heard: " + ", ".join(f"{first}..{last}" for _, first, last in runs[:8])
          + f" of {total} frames; "
          + ", ".join(f"{name} {value:.1f} ms" for name, value in figures.items()))
    if args.figures is not None:
        for name, value in figures.items():
            print(f"bench: {args.figures}{name} {value:.1f} ms")
    for problem in problems:
        print(f"seek_check: {problem}")
    return 1 if problems else 0


sys.exit(main())
