#!/usr/bin/env python3
"""Compares the position the player showed with the position heard.

usage: position_check.py RECORD.raw RECORD.start REF.wav WRITES.txt [--max-ms M] [--figure NAME]
                         [--held MIN MAX]

RECORD.raw is a sink's monitor (16-bit stereo, 44100 Hz) and RECORD.start the
raw-monotonic ms of its first frame and the sink's latencies (record_timed.py):
a frame plays the sink's latency (the median while the track sounded) after
the monitor has it. REF.wav the one track
played (16-bit stereo, 44100 Hz); WRITES.txt the player's --write-log, whose
last two columns are the output time read after each Write and the counter
ms at which it was read. The record's frames line up the heard position:
the reference's first sound frame is heard at the record's first sound frame,
and every later frame one frame later, except for silences the device
inserted (longer than any in the reference), during which the heard position
stands still. Every reading taken while the track sounded is compared; the
check holds the median difference to --max-ms and every reading to the
rules of the shown time (never backwards, negative or past the written time).
A median out of bounds exits 3 rather than 1 when the record shows the sound
system starved (--starved inserted silences or more): the caller may play
again. --held checks what the device held ahead when the last Write returned:
the whole track, all written by then, less the position heard at that moment.
"""
import argparse
import math
import statistics
import sys

from record_lineup import heard_start, wav_data

RATE, FRAME = 44100, 4
SILENT = b"\0" * FRAME


def silent_runs(data):
    """(first frame, length) of each silent run between sound, and the first and last sound frame."""
    view = memoryview(data)
    runs, run_start, first, last = [], None, None, None
    for n in range(len(data) // FRAME):
        if view[n * FRAME:(n + 1) * FRAME] == SILENT:
            if first is not None and run_start is None:
                run_start = n
            continue
        if run_start is not None:
            runs.append((run_start, n - run_start))
            run_start = None
        if first is None:
            first = n
        last = n
    return runs, first, last


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("record")
    parser.add_argument("start")
    parser.add_argument("ref")
    parser.add_argument("writes")
    parser.add_argument("--max-ms", type=float, default=math.inf)
    parser.add_argument("--figure")
    parser.add_argument("--starved", type=int, default=3,
                        help="inserted silences from which a failed median exits 3, not 1")
    parser.add_argument("--held", type=float, nargs=2, metavar=("MIN", "MAX"))
    args = parser.parse_args()

    ref_data = wav_data(args.ref)
    ref_runs, ref_first, ref_last = silent_runs(ref_data)
    allowed = max([length for _, length in ref_runs] + [1])
    runs, first, last = silent_runs(open(args.record, "rb").read())
    if first is None:
        sys.exit("position_check: the record holds no sound")
    inserted = [(at, length) for at, length in runs if length > allowed]
    start_ms, sink_ms = heard_start(args.start, first, last)
    ref_ms = 1000.0 * (ref_last - ref_first + 1) / RATE

    def heard_ms(frame):
        """Position of the track heard at a record frame (ms), or None outside the sound."""
        if frame < first or frame > last:
            return None
        played = frame - first
        for at, length in inserted:
            if at <= frame:
                played -= min(length, frame - at)
        return 1000.0 * (played + ref_first) / RATE

    errors, faults, last_shown, last_before, last_heard = [], [], 0, 0.0, None
    for line in open(args.writes):
        fields = line.split()
        if len(fields) < 4:
            continue
        shown, read_ms = int(fields[2]), float(fields[3])
        # Never backwards, never past what was written (the block just
        # written included), never negative.
        if shown < last_shown or shown < 0 or shown > float(fields[0]) + 1000.0 * 8192 / 4 / RATE:
            faults.append(f"shown {shown} ms after {last_shown} ms, "
                          f"with {float(fields[0]):.0f} ms written before the block")
        last_shown, last_before = shown, float(fields[0])
        heard = heard_ms(round((read_ms - start_ms) * RATE / 1000.0))
        last_heard = heard
        if heard is not None:
            errors.append((shown - heard, read_ms - start_ms, shown))
    if not errors:
        sys.exit("position_check: no reading was taken while the track sounded")
    worst = max(errors, key=lambda e: abs(e[0]))
    median = statistics.median(e[0] for e in errors)
    print(f"position: {len(errors)} readings over {ref_ms:.0f} ms of sound; shown - heard: "
          f"median {median:+.1f} ms, worst {worst[0]:+.1f} ms (shown {worst[2]} ms at "
          f"{worst[1]:.0f} ms of the record); {len(inserted)} silences inserted; "
          f"sink latency {sink_ms:.1f} ms")
    if args.figure:
        print(f"bench: {args.figure} {abs(worst[0]):.1f} ms")
    for fault in faults[:5]:
        print(f"position fault: {fault}")
    # The median: a silence the device inserts under load (counted above)
    # delays the sound against a position that has already moved on; the
    # benchmark reports the worst reading.
    ok = abs(median) <= args.max_ms
    if math.isfinite(args.max_ms):
        print(f"position within {args.max_ms:.0f} ms of the sound: {'ok' if ok else 'FAILED'}")
    if args.held:
        if last_heard is None:
            print("held ahead at the last Write: nothing was heard yet")
            return 1
        held = 1000.0 * len(ref_data) / FRAME / RATE - last_heard
        low, high = args.held
        fits = low <= held <= high
        print(f"held ahead at the last Write: {held:.1f} ms (from {low:.0f} to {high:.0f}): "
              f"{'ok' if fits else 'FAILED'}")
        if not fits:
            return 1
    if faults:
        return 1
    if not ok and len(inserted) >= args.starved:
        # The sound system ran dry again and again (a quiet machine shows
        # one such silence in minutes): its audio thread, and the device's
        # messages with it, were starved, and the position cannot be told
        # from the sound.
        print(f"position: the sound system ran dry {len(inserted)} times: too busy to measure")
        return 3
    return 0 if ok else 1


sys.exit(main())
