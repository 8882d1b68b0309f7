#!/usr/bin/env bash
# Plays the built-in tune (or the files given) through the output plug-in
# with the stand-in player, so that a newcomer hears what the plug-in does.
#
# usage: [QV_ARCH=i686|x86_64] tools/demo.sh BUILD_DIR [PLAYER ARGS...]
#
# It plays the i686 build, what users install, where this machine runs
# 32-bit programs, and the x86_64 build otherwise; QV_ARCH picks one.
#
# Sound goes to the machine's running PulseAudio server when one answers;
# otherwise a private server with one null sink ("QVQ_Demo") is started for
# the run, so the player paces just the same without a sound card. Windows
# need an X display: the running one if DISPLAY is set, else a private Xvfb.
# The Wine prefix lives in BUILD_DIR/ARCH/demo-prefix.
set -euo pipefail
source "$(dirname "$0")/envlib.sh"

[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [PLAYER ARGS...]" >&2; exit 2; }
arch=${QV_ARCH:-$(qv_default_arch)}
qv_use_arch "$arch" demo || exit 1
build=$(realpath "$1/$arch")
shift
echo "demo: playing through the $arch build ($build)" >&2
player="$build/tools/standin_player.exe"
plugin="$build/out_qvquellspring.dll"
for f in "$player" "$plugin"; do
    [ -f "$f" ] || { echo "demo: $f is missing; run make build first" >&2; exit 1; }
done

export WINEPREFIX="$build/demo-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

QV_XVFB_PID=""
own_pulse=""
recorder=""
cleanup() {
    [ -n "$recorder" ] && kill "$recorder" >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    [ -n "$own_pulse" ] && pulseaudio --kill >/dev/null 2>&1 || true
    [ -n "$QV_XVFB_PID" ] && kill "$QV_XVFB_PID" >/dev/null 2>&1 || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
    qv_start_display || { echo "demo: no display could be started" >&2; exit 1; }
fi

if pactl info >/dev/null 2>&1; then
    echo "demo: playing through the running sound server" >&2
else
    echo "demo: no sound server answers; starting a private one with a null sink" >&2
    export XDG_RUNTIME_DIR="$build/demo-run"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    export PULSE_STATE_PATH="$build/demo-pulse-state"
    export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
    rm -rf "$XDG_RUNTIME_DIR"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$PULSE_STATE_PATH"
    own_pulse=1
    qv_start_pulse "$build/demo-pulseaudio.log" --load="$(qv_null_sink qvq_demo QVQ_Demo)"
    pactl set-default-sink qvq_demo
fi

qv_prepare_wine_prefix demo

# On the private null sink nobody listens: record it, and say how much of
# the sound reached it.
record="$build/demo-record.raw"
if [ -n "$own_pulse" ]; then
    parec -d qvq_demo.monitor --format=s16le --channels=2 --rate=44100 >"$record" 2>/dev/null &
    recorder=$!
fi

set +e
# The plug-in is set to the player's default device unless ARGS choose one.
"$WINE" "$player" --plugin "Z:$plugin" --default-device "$@"
rc=$?
if [ -n "$recorder" ]; then
    sleep 0.3 # the monitor lags the sink a little
    kill "$recorder" >/dev/null 2>&1
    wait "$recorder" 2>/dev/null
    recorder=""
    python3 - "$record" <<'PY' >&2
import sys
data = open(sys.argv[1], "rb").read()
frames = [data[i:i + 4] for i in range(0, len(data) - len(data) % 4, 4)]
sound = [i for i, frame in enumerate(frames) if frame != b"\0" * 4]
heard = sound[-1] - sound[0] + 1 if sound else 0
print(f"demo: the null sink heard {heard} frames ({heard / 44100:.3f} s) from the first "
      f"sound to the last; the record is in {sys.argv[1]} (16-bit stereo, 44100 Hz)")
PY
fi
exit $rc
