# Shared by the benchmarks that load the machine or record a sink; source it.
# Everything started here ends with the sourcing script (an EXIT trap).
BENCH_PIDS=()
BENCH_WORK=$(mktemp -d)
bench_cleanup() {
    local pid
    for pid in "${BENCH_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$BENCH_WORK"
}
trap bench_cleanup EXIT

# Two busy loops, one per core of this machine kind, as pacing_load.sh runs.
bench_load() {
    for _ in 1 2; do
        sh -c 'while :; do :; done' &
        BENCH_PIDS+=($!)
    done
}

# bench_record SINK FILE [START]: records what reaches SINK as 16-bit stereo
# at 44100 Hz until bench_stop_record; returns once the recorder is connected.
# With START, the record's clock goes there as well (tests/e2e/record_timed.py).
bench_record() {
    local before
    before=$(pactl list short source-outputs | wc -l)
    if [ $# -ge 3 ]; then
        python3 "$(dirname "${BASH_SOURCE[0]}")/../../tests/e2e/record_timed.py" "$1" "$2" "$3" &
    else
        parec -d "$1.monitor" --format=s16le --channels=2 --rate=44100 >"$2" &
    fi
    BENCH_RECORDER=$!
    BENCH_PIDS+=("$BENCH_RECORDER")
    for _ in $(seq 200); do
        [ "$(pactl list short source-outputs | wc -l)" -gt "$before" ] && return 0
        sleep 0.05
    done
}
# bench_input_play BUILD PLUGIN LOG FILE [OPTION...]: plays FILE with the
# output plug-in PLUGIN, decoded by the test input plug-in, and writes the
# player's write log (Unix line ends) to LOG; shows the player's output if it fails.
bench_input_play() {
    local build=$1 plugin=$2 log=$3 file=$4
    shift 4
    "${WINE:?run inside tools/testenv.sh}" "$build/tools/standin_player.exe" \
        --plugin "Z:$plugin" --input "Z:$build/tools/in_standin.dll" \
        --settings-dir "Z:$BENCH_WORK" --quiet --write-log "Z:$log" "$@" "Z:$file" \
        >"$BENCH_WORK/out.txt" 2>"$BENCH_WORK/err.txt" ||
        { cat "$BENCH_WORK/out.txt" "$BENCH_WORK/err.txt" >&2; return 1; }
    sed -i 's/\r$//' "$log"
}
bench_stop_record() {
    sleep 0.3 # the monitor lags the device a little
    kill "$BENCH_RECORDER" 2>/dev/null || true
    wait "$BENCH_RECORDER" 2>/dev/null || true
}
