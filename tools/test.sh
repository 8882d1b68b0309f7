#!/usr/bin/env bash
# `make test`: the whole test list on both builds, the i686 build (what users
# install) under the 32-bit Wine, then the x86_64 build under wine64, each in
# a test environment of its own. Both halves always run; the exit code fails
# when either failed.
#
# usage: tools/test.sh BUILD_DIR JOBS [CTEST ARGS...]
set -uo pipefail
here=$(dirname "$(realpath "$0")")
build=$1 jobs=$2
shift 2
rc=0
times=()
# A test without a bound of its own fails after this long rather than hold
# the run (and CI's time limit) for ever.
timeout=600

half() { # ARCH
    local arch=$1 started=$SECONDS
    echo "== $arch: the test list on the $arch build"
    QV_ARCH=$arch bash "$here/testenv.sh" "$build/$arch/testenv" -- \
        ctest --test-dir "$build/$arch" --output-on-failure --timeout "$timeout" -j "$jobs" "$@" || rc=1
    times+=("$arch $((SECONDS - started)) s")
}

if bash "$here/wine32.sh" can-run; then
    half i686 "$@"
else
    echo "i686 tests skipped: this machine cannot run 32-bit programs"
    # What needs no Wine still runs on the deliverables.
    ctest --test-dir "$build/i686" --output-on-failure -L static "$@" || rc=1
fi
half x86_64 "$@"
echo "test: time per half: ${times[*]}"
exit $rc
