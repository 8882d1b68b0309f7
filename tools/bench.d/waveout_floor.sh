#!/usr/bin/env bash
# The plainest wave-out client (four 50 ms buffers, refilled as they come
# back) playing as long as the pacing run (QV_BENCH_SECONDS) on the same
# null sink: what the sound system itself costs any client per audio second,
# and the underruns it shows, counted from the sink's record as the pacing
# run counts ours; then the same beside two busy loops, as pacing_load.sh
# runs ours. Ours should show no more than this floor.
# usage: waveout_floor.sh BUILD_DIR   (inside tools/testenv.sh)
set -euo pipefail
exe="$1/tools/waveout_floor.exe"
[ -f "$exe" ] || { echo "waveout_floor.sh: $exe is missing; build with make build" >&2; exit 1; }
here=$(dirname "$(realpath "$0")")
source "$here/lib.bash"
seconds=${QV_BENCH_SECONDS:-300}

# floor_run NAME: plays, recording the default sink, and prints its underruns.
floor_run() {
    bench_record "$QV_SINK_C" "$BENCH_WORK/record.raw"
    "${WINE:?run inside tools/testenv.sh}" "$exe" "$seconds" >"$BENCH_WORK/out.txt" \
        2>"$BENCH_WORK/err.txt" || { cat "$BENCH_WORK/out.txt" "$BENCH_WORK/err.txt" >&2; return 1; }
    bench_stop_record
    python3 "$here/pacing_figures.py" underruns "$1" "$BENCH_WORK/record.raw"
}

floor_run waveout_floor_underruns
tr -d '\r' <"$BENCH_WORK/out.txt" | grep '^bench:'
bench_load
floor_run waveout_floor_underruns_under_load
