#!/usr/bin/env bash
# The pacing run of pacing.sh, as long (QV_BENCH_SECONDS), while two busy loops
# keep both cores loaded: prints only "bench: underruns_under_load", so the
# unloaded figures are not reported twice.
# usage: pacing_load.sh BUILD_DIR (inside tools/testenv.sh)
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
out=$(mktemp)
loaders=()
stop_loaders() {
    local pid
    for pid in "${loaders[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    rm -f "$out"
}
trap stop_loaders EXIT
for _ in 1 2; do
    sh -c 'while :; do :; done' &
    loaders+=($!)
done
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
