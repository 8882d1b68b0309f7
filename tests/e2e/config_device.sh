# The device chosen in the configuration window during playback: the choice
# is saved at once and the sound moves within a second; the empty entry
# stops the sound while Write keeps its pace. The box is worked with the
# arrow keys, as a user does. And the settings file the player finds: a
# first run creates it with the defaults (no device: paced in silence), and
# an older one beside the player's settings is moved into Plugins.
source "$(dirname "$0")/lib.sh"

settings="$WORK/settings"
mkdir -p "$settings"
ini="$settings/Plugins/QVQuellspring.ini"

# Moving to the second device of the same name halfway through 4 s.
record_sinks
play --quiet --settings-dir "$(winpath "$settings")" --device "$QV_DEVICE_SAME" --tone 4 \
    --play-out 1500 --config --config-device-at 2000 --config-device "$QV_DEVICE_SAME(2)"
stop_recording
expect_line "config-device: \"$QV_DEVICE_SAME\(2\)\""
grep -qx "OutDevice=\"\?$QV_DEVICE_SAME(2)\"\?" <(tr -d '\r' <"$ini") ||
    { cat "$ini" >&2; fail "OutDevice is not $QV_DEVICE_SAME(2)"; }
# Wine lists the same-named sinks in no fixed order: each of the two must
# have heard its part, about 2 s before and 2 s after the change.
sound_check heard "$QV_SINK_A" --min-ms 1000 --max-ms 3000
sound_check heard "$QV_SINK_B" --min-ms 1000 --max-ms 3000
sound_check silent "$QV_SINK_C"

# The empty entry after 2 s: silence from there, pacing goes on. (Each
# device the arrow keys pass on the way takes its pre-buffer at once, so the
# pace is read from the Writes well after the change.)
record_sinks
play --quiet --settings-dir "$(winpath "$settings")" --device "$QV_DEVICE_OTHER" --tone 6 \
    --config --config-device-at 2000 --config-device "" --write-log "$(winpath "$WORK/writes.txt")"
stop_recording
expect_line 'config-device: ""'
expect "abs(audio_ms - 6000) <= 1"
python3 - "$WORK/writes.txt" <<'PY' || fail "Write kept no pace after the change"
import sys
rows = [tuple(map(float, line.split()[:2])) for line in open(sys.argv[1]) if len(line.split()) >= 4]
(audio0, wall0), (audio1, wall1) = next(row for row in rows if row[0] >= 4500), rows[-1]
print(f"the last {audio1 - audio0:.0f} ms of audio took {wall1 - wall0:.0f} ms")
sys.exit(0 if abs((audio1 - audio0) - (wall1 - wall0)) <= 60 else 1)
PY
sound_check heard "$QV_SINK_C" --min-ms 1000 --max-ms 3000

# key FILE NAME: the value of NAME in FILE's [Quellspring] section.
key() { tr -d '\r' <"$1" | sed -n "s/^$2=\"\?\([^\"]*\)\"\?$/\1/p"; }
expect_keys() { # FILE SONGEND PLAYBACK DEVICE
    [ -f "$1" ] || fail "$1 was not written"
    [ "$(key "$1" SongEndFudgeFactor)|$(key "$1" PlaybackFudgeFactor)|$(key "$1" OutDevice)" = "$2|$3|$4" ] ||
        { cat "$1" >&2; fail "$1 does not hold $2|$3|$4"; }
}

# A first run: the player leaves the plug-in's settings alone, so the
# plug-in starts with no device, paces in silence and writes its defaults.
first="$WORK/first"
mkdir -p "$first"
record_sinks
play --quiet --settings-dir "$(winpath "$first")" --tone 1
stop_recording
expect "abs(audio_ms - 1000) <= 1" "abs(wall_ms - audio_ms) <= 100"
for sink in "$QV_SINK_A" "$QV_SINK_B" "$QV_SINK_C"; do sound_check silent "$sink"; done
expect_keys "$first/Plugins/QVQuellspring.ini" 0.0 0.0 ""

# An older settings file beside the player's: its values are taken (the
# device plays) and it moves into Plugins.
older="$WORK/older"
mkdir -p "$older"
printf '[Quellspring]\r\nSongEndFudgeFactor=0.25\r\nPlaybackFudgeFactor=0.5\r\nOutDevice=%s\r\n' \
    "$QV_DEVICE_OTHER" >"$older/QVQuellspring.ini"
record_sinks
play --quiet --settings-dir "$(winpath "$older")" --tone 1
stop_recording
sound_check heard "$QV_SINK_C" --min-ms 500 --max-ms 1500
[ ! -e "$older/QVQuellspring.ini" ] || fail "the older settings file is still there"
expect_keys "$older/Plugins/QVQuellspring.ini" 0.25 0.5 "$QV_DEVICE_OTHER"
echo "4 passed, 0 failed"
