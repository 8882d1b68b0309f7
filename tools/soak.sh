#!/usr/bin/env bash
# The long soak (`make soak`): random record calls from two threads against the
# fake device with injected failures, then against Wine's winmm on the test
# environment's null sinks. Prints the seed of each run and one set of
# "bench: soak_*" lines for both together.
#   usage: tools/soak.sh BUILD_DIR [SEED] [SEQUENCES]
# SEED replays a run (both parts take it); SEQUENCES is the fake device's
# share, winmm gets a tenth of it, since it plays in real time.
set -uo pipefail
build=$(realpath "$1")
seed=${2:-}
[ -n "$seed" ] || seed=$(( (RANDOM << 15 | RANDOM) ))
sequences=${3:-10000}
driver="$build/tests/soak/soak_driver.exe"
seed_args=(--seed "$seed")
out=$(mktemp)
trap 'rm -f "$out"' EXIT
rc=0
"$WINE" "$driver" "${seed_args[@]}" --sequences "$sequences" --cycles 200 | tee -a "$out" | grep -v '^bench:' || rc=1
"$WINE" "$driver" --winmm "${seed_args[@]}" --sequences $(( (sequences + 9) / 10 )) --cycles 200 \
    | tee -a "$out" | grep -v '^bench:' || rc=1
awk '/^bench: soak_max_call_ms/ { if ($3 > max) max = $3; next }
     /^bench: soak_/ { sum[$2] += $3; unit[$2] = $4 }
     END {
       printf "bench: soak_sequences %d sequences\n", sum["soak_sequences"]
       printf "bench: soak_failures %d sequences\n", sum["soak_failures"]
       printf "bench: soak_max_call_ms %.1f ms\n", max
       printf "bench: soak_leaked_buffers %d buffers\n", sum["soak_leaked_buffers"]
       printf "bench: soak_leaked_handles %d handles\n", sum["soak_leaked_handles"]
     }' "$out"
exit $rc
