#!/usr/bin/env bash
# The player's input plug-ins: each track goes to the first plug-in that
# accepts it (by IsOurFile or its extension list, in either path flavour); a
# seek reaches the output as a Flush to the new time, from which the position
# runs on; and a stop that finds a Write blocked waits only for that Write.
source "$(dirname "$0")/lib.sh"

ANSI="$(winpath "$BUILD/tools/in_standin.dll")"
UNICODE="$(winpath "$BUILD/tools/in_standinw.dll")"

# field NAME LINE_REGEX: the value of NAME=... on the last run's line that matches.
field() { grep -E -- "$2" "$WORK/out.txt" | tail -n 1 | grep -Eo "(^| )$1=[-0-9.]+" | cut -d= -f2; }

# A WAV file by its extension (upper case) and the tune by IsOurFile, through
# the Unicode flavour loaded first; a library that is no input plug-in is skipped.
write_tune "$WORK/SHORT.WAV" --tone 0.5
play --no-device --quiet --input "$(winpath "$PLUGIN")" --input "$UNICODE" --input "$ANSI" \
    "$(winpath "$WORK/SHORT.WAV")" --tone 0.5
expect_line '^input: skipped, .*has no export winampGetInModule2$'
expect_line '^input: in_standinw.dll \(.*\), Unicode names$'
expect_line '^track: "SHORT.WAV" length_ms=500 via in_standinw.dll$'
expect_line '^track: "Built-in tune, 0.5 s" length_ms=500 via in_standinw.dll$'
expect_line '^tracks: played=2 of 2$'
expect "abs(audio_ms - 1000) <= 1" "blocks == 2 * ceil(22050 / 576)"

# A file no plug-in accepts and a missing file are skipped, the rest plays,
# and the run reports the failure.
printf 'text\n' >"$WORK/notes.txt"
run_player --no-device --quiet --input "$ANSI" "$(winpath "$WORK/notes.txt")" \
    "$(winpath "$WORK/missing.wav")" --tone 0.5
[ "$PLAYER_RC" -eq 1 ] || fail "exit code $PLAYER_RC, wanted 1"
expect_line '^track: .*notes.txt: no input plug-in accepts it$'
expect_line 'missing.wav: Play failed with -1$'
expect_line '^tracks: played=1 of 3$'
expect "abs(audio_ms - 500) <= 1"

# Volume and pan reach the output through the plug-in: values out of the
# output's range make it ask the player, which shows them in the trace.
play --no-device --quiet --trace-requests --input "$ANSI" --tone 1 --pan 300 --volume 300 \
    --volume-at 200
expect_line '^request 123 pan wparam=300 -> 300$'
expect_line '^action: volume 300 at wall_ms='
expect_line '^request 122 volume wparam=300 -> 300$'

# Seek from 0.5 s to 2.5 s of a 3 s tune: the plug-in flushes the output to
# 2500 ms, the output time reads 2500 right after, and it runs on from there.
play --no-device --quiet --input "$ANSI" --tone 3 --seek-at 500 --seek-to 2500
expect_line '^flush: to_ms=2500 output_ms=[0-9]+$'
after=$(field output_ms '^flush: ')
[ "$after" -ge 2500 ] && [ "$after" -lt 2600 ] || fail "output time $after right after Flush(2500)"
expect "abs(written_ms - 3000) <= 1" "2500 + 300 <= output_ms < 2500 + 2000"

# Stop 1.5 s into a 5 s tune while the plug-in, set in the player's settings
# file not to poll CanWrite, waits in Write for the output to take a block.
# Its Stop waits for that one Write: no Write starts after the stop, the
# output is closed once, and the player goes on at once (how long the stop
# takes next to a block is a figure of `make bench`).
mkdir -p "$WORK/settings"
printf '[in_standin]\r\nPollCanWrite=0\r\n' >"$WORK/settings/winamp.ini"
play --no-device --quiet --input "$ANSI" --settings-dir "$(winpath "$WORK/settings")" \
    --tone 5 --tone 1 --stop-after 1500
expect_line '^stop: in_write=1 writes_after=0 closes=1 stop_ms=[0-9.]+ block_ms=13.1$'
expect_line '^tracks: played=1 of 2, stopped by the user$'
expect "1000 <= audio_ms <= 2500" "1400 <= wall_ms < 3500"
stop_ms=$(field stop_ms '^stop: ')
python3 -c "import sys; sys.exit(0 if float('$stop_ms') < 1000 else 1)" ||
    fail "Stop took $stop_ms ms: it waited for more than the blocked Write"
echo "1 passed, 0 failed"
