#!/usr/bin/env bash
# Runs a command inside a private test environment and tears it down after:
#   - a Wine prefix kept in STATE_DIR (created on first use, reused later),
#   - an Xvfb display, so that Wine can create real windows,
#   - a private PulseAudio server with null sinks, so that wave-out devices
#     exist and play in real time even on a machine without a sound card.
# Nothing is left running when the command ends.
#
# usage: [QV_ARCH=i686|x86_64] tools/testenv.sh STATE_DIR -- COMMAND [ARGS...]
#
# QV_ARCH names the build the command runs (x86_64 by default): wine64 for
# x86_64, the 32-bit Wine of tools/wine32.sh for i686, each with a prefix of
# its own kind in STATE_DIR.
#
# The sinks (names are what Wine lists as wave-out devices):
#   qvq_a  "QVQ_Sink"   \ same description: two devices
#   qvq_b  "QVQ_Sink"   / "QVQ_Sink" and "QVQ_Sink(2)"
#   qvq_c  "QVQ_Other"  the server's default sink
set -euo pipefail
source "$(dirname "$0")/envlib.sh"

[ $# -ge 3 ] && [ "$2" = "--" ] || { echo "usage: $0 STATE_DIR -- COMMAND..." >&2; exit 2; }
state=$(realpath -m "$1")
shift 2
mkdir -p "$state"

export WINEPREFIX="$state/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
qv_use_arch "${QV_ARCH:-x86_64}" testenv || exit 1
export XDG_RUNTIME_DIR="$state/run"
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
export PULSE_STATE_PATH="$state/pulse-state"
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
export QV_SINK_A=qvq_a QV_SINK_B=qvq_b QV_SINK_C=qvq_c
export QV_DEVICE_SAME="QVQ_Sink" QV_DEVICE_OTHER="QVQ_Other"
rm -rf "$XDG_RUNTIME_DIR"
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$PULSE_STATE_PATH"

xvfb_pid=""
cleanup() {
    exec 9>&- # the desktop's keeper ends
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    pulseaudio --kill >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

# A display of our own.
qv_start_display || [ -n "${DISPLAY:-}" ] || { echo "testenv: no display could be started" >&2; exit 1; }
xvfb_pid=$QV_XVFB_PID

# A sound server of our own.
qv_start_pulse "$state/pulseaudio.log" \
    --load="$(qv_null_sink qvq_a QVQ_Sink)" --load="$(qv_null_sink qvq_b QVQ_Sink)" \
    --load="$(qv_null_sink qvq_c QVQ_Other)"
pactl set-default-sink qvq_c

# The Wine prefix, once per state folder.
qv_prepare_wine_prefix testenv
qv_hold_desktop "$XDG_RUNTIME_DIR"

set +e
"$@" 9>&-
rc=$?
exit $rc
