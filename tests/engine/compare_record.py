#!/usr/bin/env python3
"""Compares the bytes queued to the engine with sink records.

Exactly one record must hold the queued audio: equal byte for byte once the
runs of silence (frames of four zero bytes: before the start, during the pause,
where the device ran dry, after the end) are removed. Prints the silence runs
inside the audio; the pause accounts for one of them.
"""
import sys

FRAME = 4
SILENCE = b"\0" * FRAME


def strip_silence(record):
    kept = bytearray()
    runs = 0
    in_run = False
    started = False
    for i in range(0, len(record) - len(record) % FRAME, FRAME):
        frame = record[i:i + FRAME]
        if frame == SILENCE:
            if started and not in_run:
                runs += 1
            in_run = True
            continue
        in_run = False
        started = True
        kept += frame
    if in_run and runs:
        runs -= 1  # the silence after the end
    return bytes(kept), runs


def main():
    args = [a for a in sys.argv[1:] if a != "--quiet"]
    quiet = "--quiet" in sys.argv
    queued = open(args[0], "rb").read()
    matches = []
    for path in args[1:]:
        audio, runs = strip_silence(open(path, "rb").read())
        if not quiet:
            print(f"{path}: {len(audio)} audio bytes, {runs} silence runs inside")
        if audio == queued:
            matches.append((path, runs))
        elif audio and not quiet:
            same = next((i for i, (a, b) in enumerate(zip(audio, queued)) if a != b),
                        min(len(audio), len(queued)))
            print(f"{path}: differs from the queued {len(queued)} bytes at byte {same}")
    if len(matches) != 1:
        if not quiet:
            print(f"FAIL: {len(matches)} records equal the queued audio")
        return 1
    if not quiet:
        print(f"record equals the queued {len(queued)} bytes: {matches[0][0]}")
        print("1 passed, 0 failed")
    return 0


sys.exit(main())
