#!/usr/bin/env bash
# The output engine playing 60 s on a null sink, fed at the player's pace.
# usage: engine.sh X86_64_BUILD_DIR   (inside tools/testenv.sh)
set -euo pipefail
exe="$1/tests/engine/engine_bench.exe"
[ -f "$exe" ] || { echo "engine.sh: $exe is missing; build with make build" >&2; exit 1; }
"${WINE:-/usr/lib/wine/wine64}" "$exe"
