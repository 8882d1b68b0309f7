#!/usr/bin/env bash
# The pacing run of pacing.sh, as long (QV_BENCH_SECONDS), while two busy loops
# keep both cores loaded: prints only "bench: underruns_under_load", so the
# unloaded figures are not reported twice.
# usage: pacing_load.sh BUILD_DIR (inside tools/testenv.sh)
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
source "$here/lib.bash"
out=$BENCH_WORK/pacing.txt
bench_load
if ! QV_BENCH_DEVICE_ONLY=1 bash "$here/pacing.sh" "$build" >"$out" 2>&1; then
    cat "$out" >&2
    exit 1
fi
figure=$(awk '$1 == "bench:" && $2 == "underruns" { print $3 }' "$out")
if [ -z "$figure" ]; then
    echo "pacing_load: the pacing run printed no underruns figure" >&2
    cat "$out" >&2
    exit 1
fi
echo "bench: underruns_under_load $figure count"
