#!/usr/bin/env bash
# Runs every benchmark; each prints its figures as "bench: NAME VALUE UNIT".
# Called by `make bench` inside the test environment (tools/testenv.sh).
set -uo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
rc=0
for script in "$here"/bench.d/*.sh; do
    [ -e "$script" ] || continue
    echo "== $(basename "$script")"
    bash "$script" "$build" || { echo "bench: $(basename "$script") failed" >&2; rc=1; }
done
exit $rc
