#!/usr/bin/env bash
# The DSP stage: the player runs each block through the DSP plug-in before
# Write and writes what the DSP returns; a DSP plug-in that cannot be used
# (missing, or a library without the DSP export) is skipped, and playback
# goes on without it.
source "$(dirname "$0")/lib.sh"

# The test DSP keeps every other frame: half the audio reaches the plug-in,
# in as many blocks as the track has, and paced as half the audio.
play --no-device --quiet --tone 1 --dsp "$(winpath "$BUILD/tests/e2e/dsp_e2e_halving.dll")"
expect_line '^dsp: Halving test DSP$'
expect "abs(audio_ms - 500) <= 2" "blocks == ceil(44100 / 576)" \
    "wall_ms >= audio_ms - 7 - 5" "wall_ms < audio_ms + 2000"

for dsp in "$WORK/missing/dsp_none.dll" "$PLUGIN"; do
    play --no-device --quiet --tone 1 --dsp "$(winpath "$dsp")"
    expect_line '^dsp: skipped, '
    expect "abs(audio_ms - 1000) <= 1" "wall_ms >= audio_ms - 14 - 5" "wall_ms < audio_ms + 2000"
done
