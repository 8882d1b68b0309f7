#!/usr/bin/env bash
# `make bench`: every benchmark on the x86_64 build, then on the i686 build
# (what users install) where this machine runs 32-bit programs, each in a
# test environment of its own. The i686 figures carry the suffix "_i686", so
# both builds' costs stand side by side in one run.
# usage: tools/bench_both.sh BUILD_DIR
set -uo pipefail
here=$(dirname "$(realpath "$0")")
build=$1
rc=0
QV_ARCH=x86_64 bash "$here/testenv.sh" "$build/x86_64/testenv" -- bash "$here/bench.sh" "$build/x86_64" || rc=1
if bash "$here/wine32.sh" can-run; then
    QV_ARCH=i686 bash "$here/testenv.sh" "$build/i686/testenv" -- bash "$here/bench.sh" "$build/i686" |
        sed -u -E 's/^bench: ([^ ]+) /bench: \1_i686 /'
    [ "${PIPESTATUS[0]}" -eq 0 ] || rc=1
else
    echo "i686 benchmarks skipped: this machine cannot run 32-bit programs"
fi
exit $rc
