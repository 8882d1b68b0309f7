#!/usr/bin/env bash
# How soon sound follows the listener: ours beside the plainest output
# plug-in (tools/waveout_plain), each driven by the test input plug-in, which
# seeks by calling Flush with the target as decoders do. A 6 s file that
# counts its own frames is played QV_BENCH_SEEK_ROUNDS (5) times through
# each, with a seek from 1.5 s to 3 s of it, into a recorded sink. Prints,
# for each output, the median over the rounds of (tests/e2e/seek_check.py):
#   start_latency_ms        play to the first frame heard
#   seek_stale_ms           frames of the old place heard after the flush
#   seek_latency_ms         flush to the first frame of the target heard
#   seek_position_error_ms  the worst |shown - heard| from the flush to the end
# ours as these names, the plain output's with the prefix plain_output_.
# usage: seek.sh BUILD_DIR (inside tools/testenv.sh)
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
e2e=$here/../../tests/e2e
source "$here/lib.bash"
rounds=${QV_BENCH_SEEK_ROUNDS:-5}
python3 "$e2e/make_wav.py" "$BENCH_WORK/count.wav" --counter --frames 264600

# seek_rounds PREFIX PLUGIN [OPTION...]: plays the rounds and prints the medians.
seek_rounds() {
    local prefix=$1 plugin=$2 round record
    shift 2
    : >"$BENCH_WORK/$prefix.figures"
    for round in $(seq "$rounds"); do
        record=$BENCH_WORK/$prefix$round
        bench_record "$QV_SINK_C" "$record.raw" "$record.start"
        bench_input_play "$build" "$plugin" "$record.writes" "$BENCH_WORK/count.wav" \
            --seek-at 1500 --seek-to 3000 "$@"
        bench_stop_record
        # A wrong sound is the output's own fault; its figures still count.
        python3 "$e2e/seek_check.py" "$record.raw" "$record.start" "$BENCH_WORK/count.wav" \
            "$record.writes" --figures "$prefix" >"$record.check" || true
        grep '^bench: ' "$record.check" >>"$BENCH_WORK/$prefix.figures" ||
            { cat "$record.check" >&2; return 1; }
    done
    python3 - "$BENCH_WORK/$prefix.figures" <<'PY'
import collections, statistics, sys
values = collections.defaultdict(list)
for line in open(sys.argv[1]):
    _, name, value, unit = line.split()
    values[name].append(float(value))
for name, found in values.items():
    print(f"bench: {name} {statistics.median(found):.1f} ms")
PY
}

seek_rounds "" "$build/out_qvquellspring.dll" --device "$QV_DEVICE_OTHER"
seek_rounds plain_output_ "$build/tools/out_waveplain.dll"
