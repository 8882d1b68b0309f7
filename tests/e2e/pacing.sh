#!/usr/bin/env bash
# With no device the plug-in only paces: 3 s of audio must take about 3 s of
# wall time, whether the player polls CanWrite or lets Write block, and the
# plug-in's clock must follow the wall clock.
source "$(dirname "$0")/lib.sh"

# 3 s at 44100 Hz is 132300 frames; a 576-frame block lasts 13.06 ms. Pacing
# lets the last block through once the ones before it are due, so the wall
# time can fall short of the audio by at most one block, plus a few
# milliseconds: the plug-in's schedule runs on a clock of whole milliseconds.
# The same bound holds in the other tests.
for mode in poll no-poll; do
    extra=()
    [ "$mode" = no-poll ] && extra=(--no-poll)
    play --no-device --tone 3 "${extra[@]}"
    expect "abs(audio_ms - 3000) <= 1" "blocks == ceil(132300 / 576)" \
        "wall_ms >= audio_ms - 14 - 5" "wall_ms < audio_ms + 2000" \
        "abs(output_ms - wall_ms) < 500" "abs(written_ms - audio_ms) <= 1"
    # Into a pipe the progress shows as one line per second.
    [ "$(grep -c '^progress: output_ms=[0-9]* written_ms=[0-9]* wall_ms=[0-9]*$' "$WORK/out.txt")" -ge 2 ] ||
        fail "fewer than two progress lines in a 3 s run"
done

# A block never exceeds 8192 bytes: 2048 frames of 16-bit stereo.
play --no-device --tone 3 --block-frames 4096 --quiet
expect "blocks == ceil(132300 / 2048)" "wall_ms >= audio_ms - 47 - 5" "wall_ms < audio_ms + 2000"
