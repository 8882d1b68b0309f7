#!/usr/bin/env bash
# Plays the built-in tune (or the files given) through the output plug-in
# with the stand-in player, so that a newcomer hears what the plug-in does.
#
# usage: tools/demo.sh BUILD_X86_64_DIR [PLAYER ARGS...]
#
# Sound goes to the machine's running PulseAudio server when one answers;
# otherwise a private server with one null sink ("QVQ_Demo") is started for
# the run, so the player paces just the same without a sound card. Windows
# need an X display: the running one if DISPLAY is set, else a private Xvfb.
# The Wine prefix lives in BUILD_X86_64_DIR/demo-prefix.
set -euo pipefail
source "$(dirname "$0")/envlib.sh"

[ $# -ge 1 ] || { echo "usage: $0 BUILD_X86_64_DIR [PLAYER ARGS...]" >&2; exit 2; }
build=$(realpath "$1")
shift
player="$build/tools/standin_player.exe"
plugin="$build/out_qvquellspring.dll"
for f in "$player" "$plugin"; do
    [ -f "$f" ] || { echo "demo: $f is missing; run make build first" >&2; exit 1; }
done

export WINEPREFIX="$build/demo-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINE=/usr/lib/wine/wine64

QV_XVFB_PID=""
own_pulse=""
cleanup() {
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

set +e
"$WINE" "$player" --plugin "Z:$plugin" "$@"
rc=$?
exit $rc
