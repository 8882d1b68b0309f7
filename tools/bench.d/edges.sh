#!/usr/bin/env bash
# Track edges under load: QV_BENCH_EDGE_TRACKS (300) tracks of 0.3 s, 16 and
# 24 bits at 44.1 kHz in turn, so that the device closes and reopens at every
# edge, while two busy loops keep both cores loaded as in pacing_load.sh.
# The 24-bit samples have zero low bytes, so the sink's 16-bit record holds
# every track exactly; prints the sound frames of the tracks that never
# reached the sink ("edge_frames_lost", target 0). The last track ends as a
# track change and is played out before Quit, so the end of the playlist is
# not counted as an edge.
# usage: edges.sh BUILD_DIR   (inside tools/testenv.sh)
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
source "$here/lib.bash"
e2e=$here/../../tests/e2e
tracks=${QV_BENCH_EDGE_TRACKS:-300}

python3 "$e2e/make_wav.py" "$BENCH_WORK/a.wav" --bits 16 --frames 13230
python3 "$e2e/make_wav.py" "$BENCH_WORK/b.wav" --bits 24 --precision 16 --frames 13230
files=() refs=()
for i in $(seq "$tracks"); do
    name=$([ $((i % 2)) -eq 1 ] && echo a || echo b)
    files+=("Z:$BENCH_WORK/$name.wav")
    refs+=("$BENCH_WORK/$name.wav")
done

bench_load
bench_record "$QV_SINK_C" "$BENCH_WORK/record.raw"
"$WINE" "$build/tools/standin_player.exe" --plugin "Z:$build/out_qvquellspring.dll" \
    --device "$QV_DEVICE_OTHER" --quiet --play-out 1500 "${files[@]}" >"$BENCH_WORK/out.txt" 2>"$BENCH_WORK/err.txt" ||
    { cat "$BENCH_WORK/out.txt" "$BENCH_WORK/err.txt" >&2; exit 1; }
bench_stop_record
python3 "$here/pacing_figures.py" lost edge_frames_lost "$BENCH_WORK/record.raw" "${refs[@]}"
