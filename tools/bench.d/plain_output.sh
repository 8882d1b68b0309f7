#!/usr/bin/env bash
# Ours beside the plainest output plug-in (tools/waveout_plain), each driven
# by the test input plug-in as a decoder drives the player's output (CanWrite
# polled with its own sleeps): a file of QV_BENCH_INPUT_SECONDS (60), played
# QV_BENCH_ROUNDS (5) times through each into the same null sink. Prints,
# for each output, the median over the rounds of the silence the device
# inserted per minute of audio, and the worst difference over all rounds
# between the position the player showed and the position heard:
#   input_silence_ms_per_min, input_position_error_ms             (ours)
#   plain_output_silence_ms_per_min, plain_output_position_error_ms
# Ours should match or beat the plain output on both.
# usage: plain_output.sh BUILD_DIR (inside tools/testenv.sh)
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
e2e=$here/../../tests/e2e
source "$here/lib.bash"
seconds=${QV_BENCH_INPUT_SECONDS:-60}
rounds=${QV_BENCH_ROUNDS:-5}
python3 "$here/pacing_figures.py" make "$BENCH_WORK/ref.wav" "$seconds"

# play_rounds NAME PLUGIN [OPTION...]: plays the rounds and prints NAME's figures.
play_rounds() {
    local name=$1 plugin=$2 round worst=0 error records=()
    shift 2
    for round in $(seq "$rounds"); do
        local record=$BENCH_WORK/$name-$round
        bench_record "$QV_SINK_C" "$record.raw" "$record.start"
        bench_input_play "$build" "$plugin" "$record.writes" "$BENCH_WORK/ref.wav" "$@"
        bench_stop_record
        # The figure is the worst reading; a fault in the shown time is the
        # output's own, and its worst reading shows it.
        error=$(python3 "$e2e/position_check.py" "$record.raw" "$record.start" \
            "$BENCH_WORK/ref.wav" "$record.writes" --figure x | awk '$1 == "bench:" { print $3 }') || true
        [ -n "$error" ] || { echo "plain_output: $name round $round: no position figure" >&2; return 1; }
        worst=$(python3 -c "print(max($worst, $error))")
        records+=("$record.raw")
    done
    python3 "$here/pacing_figures.py" silence "${name}_silence_ms_per_min" "$seconds" "${records[@]}"
    echo "bench: ${name}_position_error_ms $worst ms"
}

play_rounds input "$build/out_qvquellspring.dll" --device "$QV_DEVICE_OTHER"
play_rounds plain_output "$build/tools/out_waveplain.dll"
