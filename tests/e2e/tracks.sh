#!/usr/bin/env bash
# Tracks back to back and the user's stop: the plug-in is closed after each
# track, asking the player whether playback goes on (request 400), and the
# schedule runs on across tracks.
source "$(dirname "$0")/lib.sh"

answers_400() { grep -Eo 'request 400 [a-z-]+ wparam=0 -> [0-9]+' "$WORK/err.txt" | sed 's/.*-> //' | tr '\n' ' '; }

# A tune at 44100 Hz, then a file at 48000 Hz: the rate changes between tracks.
write_tune "$WORK/second.wav" --tone 1 --rate 48000
play --no-device --trace-requests --quiet --tone 1 "$(winpath "$WORK/second.wav")"
expect "abs(audio_ms - 2000) <= 2" "blocks == ceil(44100 / 576) + ceil(48000 / 576)" \
    "wall_ms >= audio_ms - 14 - 5" "wall_ms < audio_ms + 2000" \
    "abs(written_ms - 1000) <= 1" "output_ms < wall_ms - 500"
# The playlist ends as the player ends it: the last track, ending by itself,
# closes as at a track end too, so that what the plug-in holds is heard.
[ "$(answers_400)" = "1 1 " ] || fail "request 400 answered '$(answers_400)', wanted 1 twice"
expect_line '^tracks: played=2 of 2$'

# Stop pressed 1.5 s into a 5 s track: the plug-in is closed as for a stop
# and the next track never starts.
play --no-device --trace-requests --quiet --tone 5 --tone 1 --stop-after 1500
expect "1000 <= audio_ms <= 2500" "1400 <= wall_ms < 3500"
[ "$(answers_400)" = "0 " ] || fail "request 400 answered '$(answers_400)', wanted one 0"
expect_line '^tracks: played=1 of 2, stopped by the user$'
