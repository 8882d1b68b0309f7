# Shared by the end-to-end tests; source it with the build folder under test
# (i686 or x86_64) as $1.
# The tests run inside tools/testenv.sh, which provides WINE, WINEPREFIX, a
# display and the null sinks QV_SINK_A/B/C.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
: "${WINE:?run the end-to-end tests inside tools/testenv.sh}"
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BUILD=$(realpath "$1")
PLAYER="$BUILD/tools/standin_player.exe"
PLUGIN="$BUILD/out_qvquellspring.dll"
WORK=$(mktemp -d "$BUILD/e2e-$(basename "$0" .sh).XXXXXX")
RECORDER_PID=""

cleanup_e2e() {
    stop_recording
    rm -rf "$WORK"
}
trap cleanup_e2e EXIT

# Wine maps the unix root to drive Z:.
winpath() { echo "Z:$1"; }

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# With QV_E2E_INPUT set to an input plug-in, every run decodes its tracks
# through that plug-in instead of the player's own decoder.
INPUT_ARGS=()
[ -n "${QV_E2E_INPUT:-}" ] && INPUT_ARGS=(--input "$(winpath "$QV_E2E_INPUT")")

# Runs the player with the plug-in and the given arguments. Output goes to
# $WORK/out.txt and $WORK/err.txt; the exit code to PLAYER_RC.
run_player() {
    echo "+ standin_player ${INPUT_ARGS[*]} $*" >&2
    local started=$SECONDS
    set +e
    "$WINE" "$PLAYER" --plugin "$(winpath "$PLUGIN")" "${INPUT_ARGS[@]}" "$@" \
        >"$WORK/out.txt" 2>"$WORK/err.txt"
    PLAYER_RC=$?
    set -e
    PLAYER_SECONDS=$((SECONDS - started))
    # The Windows runtime ends its lines with CR LF.
    sed -i 's/\r$//' "$WORK/out.txt" "$WORK/err.txt"
    if [ -s "$WORK/err.txt" ]; then grep -v "cannot find card" "$WORK/err.txt" >&2 || true; fi
}

# Writes the built-in tune as a WAV file: write_tune PATH [--tone S --bits B ...].
# Like every Wine start here, its output goes to files: helper processes that
# Wine starts on first use inherit the descriptors and outlive the test, and
# CTest would wait for them on its pipe.
write_tune() {
    local path=$1
    shift
    "$WINE" "$PLAYER" --write-wav "$(winpath "$path")" "$@" >"$WORK/tool.txt" 2>&1 ||
        { cat "$WORK/tool.txt" >&2; fail "--write-wav $path $*"; }
}

# Like run_player, and fails the test unless the player exited with 0.
play() {
    run_player "$@"
    [ "$PLAYER_RC" -eq 0 ] || {
        cat "$WORK/out.txt" >&2
        echo "(the player ran about $PLAYER_SECONDS s; its whole error output: $(wc -l <"$WORK/err.txt") lines)" >&2
        cat "$WORK/err.txt" >&2
        fail "player exited with $PLAYER_RC"
    }
}

# Checks the last run's summary line against Python expressions over its
# fields (audio_ms, wall_ms, output_ms, written_ms, blocks).
expect() { python3 "$E2E_DIR/summary.py" "$WORK/out.txt" "$@" || fail "summary check"; }

# Fails unless the last run printed a line matching the extended regex on stdout or stderr.
expect_line() {
    grep -Eq -- "$1" "$WORK/out.txt" "$WORK/err.txt" || {
        cat "$WORK/out.txt" "$WORK/err.txt" >&2
        fail "no line matches: $1"
    }
}

# Records what reaches each null sink into $WORK/<sink>.raw as 16-bit stereo
# at 44100 Hz, until stop_recording; start it before run_player, stop it after.
# Waits until every recorder is connected, so the first sample is caught.
record_sinks() {
    local sink
    for sink in "$QV_SINK_A" "$QV_SINK_B" "$QV_SINK_C"; do
        parec -d "$sink.monitor" --format=s16le --channels=2 --rate=44100 --latency-msec=20 \
            >"$WORK/$sink.raw" 2>/dev/null &
        RECORDER_PID="$RECORDER_PID $!"
    done
    for _ in $(seq 200); do
        [ "$(pactl list short source-outputs | wc -l)" -ge 3 ] && return 0
        sleep 0.05
    done
    fail "the recorders did not connect"
}
# Records one SINK into FILE (see record_sinks).
start_recording() {
    parec -d "$1.monitor" --format=s16le --channels=2 --rate=44100 >"$2" &
    RECORDER_PID="$RECORDER_PID $!"
}
# Records SINK into PREFIX.raw and the raw-monotonic ms of its first frame
# into PREFIX.start (see record_timed.py); stop it with stop_recording.
record_timed() {
    local before
    before=$(pactl list short source-outputs | wc -l)
    python3 "$E2E_DIR/record_timed.py" "$1" "$2.raw" "$2.start" &
    RECORDER_PID="$RECORDER_PID $!"
    for _ in $(seq 200); do
        [ "$(pactl list short source-outputs | wc -l)" -gt "$before" ] && return 0
        sleep 0.05
    done
    fail "the recorder did not connect"
}
stop_recording() {
    if [ -n "$RECORDER_PID" ]; then
        # The monitor lags the device a little: let the last samples arrive.
        sleep 0.3
        kill $RECORDER_PID 2>/dev/null || true
        wait $RECORDER_PID 2>/dev/null || true
        RECORDER_PID=""
    fi
}

# sound_check MODE SINK ARGS...: checks what SINK recorded (see sound_check.py).
sound_check() {
    local mode=$1 sink=$2
    shift 2
    python3 "$E2E_DIR/sound_check.py" "$mode" "$WORK/$sink.raw" "$@" || fail "$mode check of $sink"
}

# Which of the two sinks described "QVQ_Sink" the last run played on: Wine
# lists same-named devices in no fixed order from one start to the next, so a
# test knows only that one of them heard it. Fails unless exactly one did;
# prints that sink, and the other after it.
same_named_sinks() {
    local with_sound=() sink
    for sink in "$QV_SINK_A" "$QV_SINK_B"; do
        python3 "$E2E_DIR/sound_check.py" silent "$WORK/$sink.raw" >/dev/null || with_sound+=("$sink")
    done
    [ "${#with_sound[@]}" -eq 1 ] || fail "${#with_sound[@]} of the same-named sinks heard the run"
    if [ "${with_sound[0]}" = "$QV_SINK_A" ]; then echo "$QV_SINK_A $QV_SINK_B"; else echo "$QV_SINK_B $QV_SINK_A"; fi
}
