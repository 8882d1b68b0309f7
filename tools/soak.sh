#!/usr/bin/env bash
# The long soak (`make soak`): random record calls from two threads against the
# fake device with injected failures, then against Wine's winmm on the test
# environment's null sinks. Prints the seed of each run and one set of
# "bench: soak_*" lines for both together.
#   usage: tools/soak.sh BUILD_DIR [SEED] [SEQUENCES] [SHARDS]
# A sequence spends its time waiting on pacing timers and engine states, not on
# the processor, so each part runs in SHARDS driver processes at once: shard i
# takes seed SEED+i and its share of the sequences, and the same SEED, SEQUENCES
# and SHARDS replay the same run. SEQUENCES is the fake device's share; winmm
# gets a tenth of it, since it plays in real time, in at most 4 shards: each
# winmm process mixes real sound through Wine and the sound server, and 8 of
# them at once load the machine so much that the run takes longer and calls
# waiting on a device close overrun their bounds several times as often. The
# 200 Init/Quit cycles of the leak check run once per part, in its first shard.
set -uo pipefail
build=$(realpath "$1")
seed=${2:-}
[ -n "$seed" ] || seed=$(( (RANDOM << 15 | RANDOM) ))
sequences=${3:-10000}
shards=${4:-8}
(( shards >= 1 )) || shards=1
driver="$build/tests/soak/soak_driver.exe"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
started=$(date +%s)

# Runs one part in shards; each shard's lines but its bench lines are shown as
# they come, prefixed with the shard. Returns non-zero when a shard failed.
run_part() { # NAME SHARDS TOTAL [DRIVER OPTIONS...]
    local name=$1 shards=$2 total=$3
    shift 3
    local pids=() i count cycles rc=0
    for (( i = 0; i < shards; i++ )); do
        count=$(( total / shards + (i < total % shards ? 1 : 0) ))
        cycles=$(( i == 0 ? 200 : 0 ))
        (( count > 0 || cycles > 0 )) || continue
        ( "$WINE" "$driver" "$@" --seed $(( seed + i )) --sequences "$count" --cycles "$cycles" \
            | tee "$work/$name.$i" | grep --line-buffered -v '^bench:' \
            | sed -u "s/^/$name shard $i: /" ) &
        pids+=($!)
    done
    for i in "${pids[@]}"; do
        wait "$i" || rc=1
    done
    return $rc
}

rc=0
run_part fake "$shards" "$sequences" || rc=1
winmm_shards=$(( shards < 4 ? shards : 4 ))
run_part winmm "$winmm_shards" $(( (sequences + 9) / 10 )) --winmm || rc=1
awk '/^bench: soak_max_call_ms/ { if ($3 > max) max = $3; next }
     /^bench: soak_/ { sum[$2] += $3 }
     END {
       printf "bench: soak_sequences %d sequences\n", sum["soak_sequences"]
       printf "bench: soak_failures %d sequences\n", sum["soak_failures"]
       printf "bench: soak_max_call_ms %.1f ms\n", max
       printf "bench: soak_leaked_buffers %d buffers\n", sum["soak_leaked_buffers"]
       printf "bench: soak_leaked_handles %d handles\n", sum["soak_leaked_handles"]
     }' "$work"/*
echo "soak: took $(( $(date +%s) - started )) s"
echo "soak: replay this run with make soak SEED=$seed SEQUENCES=$sequences SHARDS=$shards" \
     "(shard i runs seed $seed+i: $shards shards on the fake device, $winmm_shards on winmm)"
exit $rc
