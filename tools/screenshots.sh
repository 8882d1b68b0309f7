#!/usr/bin/env bash
# Pictures of the plug-in's windows as a user sees them, taken while the
# stand-in player plays on a null sink: the configuration window with its
# status running, the same with the status scrolled to its right and bottom
# edges, and the about box. Run inside tools/testenv.sh (a display and sinks).
#
# usage: tools/screenshots.sh BUILD_DIR OUT_DIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR OUT_DIR" >&2; exit 2; }
: "${WINE:?run inside tools/testenv.sh}"
build=$(realpath "$1")
out=$(realpath -m "$2")
mkdir -p "$out"
work=$(mktemp -d "$build/screenshots.XXXXXX")
player_pid=""
cleanup() {
    [ -n "$player_pid" ] && kill "$player_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start_player() { # start_player LOG ARGS...
    local log=$1
    shift
    "$WINE" "$build/tools/standin_player.exe" --plugin "Z:$build/out_qvquellspring.dll" \
        --device "$QV_DEVICE_SAME" "$@" >"$log" 2>&1 &
    player_pid=$!
}

# Waits (up to 30 s) until the player has printed the given line start.
wait_for_line() { # wait_for_line LOG TEXT
    for _ in $(seq 300); do
        grep -q "^$2" "$1" && return 0
        kill -0 "$player_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "screenshots: the player never reached \"$2\"" >&2
    cat "$1" >&2
    return 1
}

# Writes the top-level window of the given size (WxH, frame included) as PNG.
shoot() { # shoot SIZE FILE
    local geometry
    geometry=$(xwininfo -root -tree | grep -o " $1+[0-9-]*+[0-9-]*" | head -n 1 | tr -d ' ')
    [ -n "$geometry" ] || { echo "screenshots: no window of $1 on the screen" >&2; return 1; }
    xwd -root -silent | convert xwd:- -crop "$geometry" +repage "$2"
    echo "screenshots: $2 ($geometry)"
}

# Without a window manager on the display, Wine draws the frames and
# captions itself, as Windows would.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
start_player "$work/config.txt" --tone 6 --config --config-scroll-at 3500
wait_for_line "$work/config.txt" "action: config at"
config_size=$(xwininfo -root -tree | grep -o '"Quellspring Config".* 275x[0-9]*' | grep -o '275x[0-9]*$' | head -n 1)
# Let the status run for a second (four ticks of its timer).
sleep 1.5
shoot "$config_size" "$out/config.png"
wait_for_line "$work/config.txt" "action: config-scroll at"
sleep 0.5
shoot "$config_size" "$out/config-scrolled.png"
wait "$player_pid"
player_pid=""

start_player "$work/about.txt" --tone 3 --about --about-close-ms 2500
wait_for_line "$work/about.txt" "about: opening"
sleep 1
shoot 477x331 "$out/about.png"
wait "$player_pid"
player_pid=""
