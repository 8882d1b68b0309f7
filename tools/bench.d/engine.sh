#!/usr/bin/env bash
# The output engine playing 60 s on a null sink, fed at the player's pace.
# usage: engine.sh BUILD_DIR   (inside tools/testenv.sh)
set -euo pipefail
exe="$1/tests/engine/engine_bench.exe"
[ -f "$exe" ] || { echo "engine.sh: $exe is missing; build with make build" >&2; exit 1; }
"${WINE:?run inside tools/testenv.sh}" "$exe"
