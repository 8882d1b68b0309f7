#!/usr/bin/env python3
"""Checks the stand-in player's summary line.

usage: summary.py OUTPUT_FILE EXPRESSION...

The summary must be the output's last line. Each EXPRESSION is Python over
the summary's fields (audio_ms, wall_ms, output_ms, written_ms, blocks) and
the helper ceil; every one is printed with its verdict, and the exit code is
1 when any of them is false.
"""
import math
import re
import sys

FIELDS = ("audio_ms", "wall_ms", "output_ms", "written_ms", "blocks")
PATTERN = re.compile(r"^summary: " + " ".join(f"{name}=(-?\\d+)" for name in FIELDS) + "$")


def main():
    path, expressions = sys.argv[1], sys.argv[2:]
    with open(path, encoding="latin-1") as output:
        lines = [line.rstrip("\r\n") for line in output if line.strip()]
    match = PATTERN.match(lines[-1]) if lines else None
    if not match:
        print(f"no summary line at the end of {path}:", *lines[-5:], sep="\n  ")
        return 1
    values = {name: int(value) for name, value in zip(FIELDS, match.groups())}
    print(lines[-1])
    failed = 0
    for expression in expressions:
        ok = bool(eval(expression, {"ceil": math.ceil}, dict(values)))
        print(f"  {'ok  ' if ok else 'FAIL'} {expression}")
        failed += not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
