#!/usr/bin/env bash
# How long an input plug-in's Stop takes when it finds a Write blocked in the
# output plug-in, next to the length of one block: the test input plug-in,
# set not to poll CanWrite, is stopped five times 1 s into a tune.
# usage: input_stop.sh BUILD_DIR (inside tools/testenv.sh)
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d "$build/bench-input-stop.XXXXXX")
trap '[ -n "${QV_BENCH_KEEP:-}" ] && cp -r "$work" "$QV_BENCH_KEEP"; rm -rf "$work"' EXIT

printf '[in_standin]\r\nPollCanWrite=0\r\n' >"$work/winamp.ini"
for run in 1 2 3 4 5; do
    "$WINE" "$build/tools/standin_player.exe" --plugin "Z:$build/out_qvquellspring.dll" \
        --input "Z:$build/tools/in_standin.dll" --settings-dir "Z:$work" --no-device --quiet \
        --tone 3 --stop-after 1000 >"$work/out-$run.txt" 2>"$work/err.txt" ||
        { cat "$work/out-$run.txt" "$work/err.txt"; exit 1; }
done
cat "$work"/out-*.txt | tr -d '\r' | python3 -c '
import re, sys
stops = re.findall(r"^stop: in_write=(\d) writes_after=\d+ closes=\d+ stop_ms=([0-9.]+) "
                   r"block_ms=([0-9.]+)$", sys.stdin.read(), re.M)
if not stops:
    sys.exit("no stop lines")
in_write = sum(int(w) for w, _, _ in stops)
print("bench: input_stops_in_write %d of_%d_stops" % (in_write, len(stops)))
print("bench: input_stop_ms_max %.1f ms" % max(float(ms) for _, ms, _ in stops))
print("bench: input_block_ms %.1f ms" % float(stops[0][2]))
'
