#!/usr/bin/env bash
# The plainest wave-out client playing 60 s (QV_BENCH_SECONDS) on the default
# null sink: what the sound system itself costs any client per audio second.
# usage: waveout_floor.sh BUILD_DIR   (inside tools/testenv.sh)
set -euo pipefail
exe="$1/tools/waveout_floor.exe"
[ -f "$exe" ] || { echo "waveout_floor.sh: $exe is missing; build with make build" >&2; exit 1; }
"${WINE:?run inside tools/testenv.sh}" "$exe" "$(( ${QV_BENCH_SECONDS:-300} / 5 ))"
