#!/usr/bin/env bash
# Plays through the engine on Wine's winmm into the null sinks and checks that
# what reached a sink is exactly what was queued. Runs inside tools/testenv.sh.
# usage: e2e_play.sh ENGINE_E2E_EXE
set -uo pipefail
exe=$1
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'kill $recorders 2>/dev/null; rm -rf "$work"' EXIT

recorders=""
for sink in "$QV_SINK_A" "$QV_SINK_B"; do
    parec -d "$sink.monitor" --format=s16le --channels=2 --rate=44100 >"$work/$sink.raw" &
    recorders="$recorders $!"
done
# Both recorders must be connected before the first sample plays.
for _ in $(seq 200); do
    [ "$(pactl list short source-outputs | wc -l)" -ge 2 ] && break
    sleep 0.05
done

QV_E2E_QUEUED="$work/queued.raw" "${WINE:?run inside tools/testenv.sh}" "$exe" \
    --gtest_filter='RealDevice.*' || exit 1

# The sink's monitor lags the device's done notification a little: compare
# until the record is complete or a generous bound passes.
for _ in $(seq 50); do
    python3 "$here/compare_record.py" "$work/queued.raw" "$work/$QV_SINK_A.raw" \
        "$work/$QV_SINK_B.raw" --quiet && break
    sleep 0.1
done
python3 "$here/compare_record.py" "$work/queued.raw" "$work/$QV_SINK_A.raw" "$work/$QV_SINK_B.raw"
