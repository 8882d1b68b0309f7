#!/usr/bin/env bash
# The user's controls during playback: pause freezes the plug-in's output
# time and delays the rest of the audio by the pause; seek flushes, and the
# plug-in's times continue from the new position.
source "$(dirname "$0")/lib.sh"

# Pause for 1 s after 0.5 s of a 2 s tune, with the player polling CanWrite
# as it does. (A Write blocked when the pause comes starts a new schedule
# during the pause, and the audio after it then catches up at once: that case
# is left to the plug-in's own tests.)
play --no-device --quiet --trace-requests --volume 100 --tone 2 --pause-at 500 --pause-ms 1000
expect "abs(audio_ms - 2000) <= 1" "wall_ms >= audio_ms + 1000 - 100" \
    "wall_ms < audio_ms + 1000 + 2000" "wall_ms - 1300 <= output_ms <= wall_ms - 700"
expect_line '^action: pause at wall_ms='
expect_line '^action: unpause at wall_ms='
# At Open the plug-in takes the player's volume.
expect_line '^request 122 volume wparam=-666 -> 100$'

# Seek from 0.5 s to 2.5 s of a 3 s tune: only about 1 s of audio is played,
# and the written time counts from the seek target.
play --no-device --quiet --tone 3 --seek-at 500 --seek-to 2500
expect_line '^action: seek to 2500 at wall_ms='
expect "400 <= audio_ms <= 1600" "abs(written_ms - 3000) <= 1" \
    "2500 + 300 <= output_ms < 2500 + 2000"
