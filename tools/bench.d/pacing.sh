#!/usr/bin/env bash
# Plays five minutes (QV_BENCH_SECONDS) through the stand-in player into a null
# sink and prints how well Write kept time and what reached the device, then
# plays the same with no device to tell what the device path costs.
# usage: pacing.sh BUILD_DIR (inside tools/testenv.sh)
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
seconds=${QV_BENCH_SECONDS:-300}
work=$(mktemp -d "$build/bench-pacing.XXXXXX")
recorder=""
trap '[ -n "$recorder" ] && kill $recorder 2>/dev/null; [ -n "${QV_BENCH_KEEP:-}" ] && cp -r "$work" "$QV_BENCH_KEEP"; rm -rf "$work"' EXIT

python3 "$here/pacing_figures.py" make "$work/ref.wav" "$seconds"
e2e=$here/../../tests/e2e
python3 "$e2e/record_timed.py" "$QV_SINK_C" "$work/record.raw" "$work/record.start" &
recorder=$!
for _ in $(seq 200); do [ "$(pactl list short source-outputs | wc -l)" -ge 1 ] && break; sleep 0.05; done

"$WINE" "$build/tools/standin_player.exe" --plugin "Z:$build/out_qvquellspring.dll" \
    --device "$QV_DEVICE_OTHER" --no-poll --quiet --write-log "Z:$work/writes.txt" \
    "Z:$work/ref.wav" >"$work/out.txt" 2>"$work/err.txt" || { cat "$work/out.txt" "$work/err.txt"; exit 1; }
sleep 0.3 # the monitor lags the device a little
kill "$recorder"; wait "$recorder" 2>/dev/null || true; recorder=""
sed -i 's/\r$//' "$work/out.txt"
python3 "$here/pacing_figures.py" figures "$work/ref.wav" "$work/record.raw" "$work/writes.txt" \
    "$work/out.txt"
python3 "$e2e/position_check.py" "$work/record.raw" "$work/record.start" "$work/ref.wav" \
    "$work/writes.txt" --figure position_error_ms | grep '^bench:'

# The same player and length with no device (pacing only): what the device
# path costs is the difference. QV_BENCH_DEVICE_ONLY skips it.
[ -z "${QV_BENCH_DEVICE_ONLY:-}" ] || exit 0
"$WINE" "$build/tools/standin_player.exe" --plugin "Z:$build/out_qvquellspring.dll" \
    --no-device --no-poll --quiet "Z:$work/ref.wav" >"$work/out-nodevice.txt" 2>"$work/err.txt" \
    || { cat "$work/out-nodevice.txt" "$work/err.txt"; exit 1; }
python3 "$here/pacing_figures.py" cpu "$work/out.txt" "$work/out-nodevice.txt"
