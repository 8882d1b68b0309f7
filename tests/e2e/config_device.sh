# The device chosen in the configuration window during playback: the choice
# is saved at once and the sound moves within a second; the empty entry
# stops the sound while Write keeps its pace. The box is worked with the
# arrow keys, as a user does.
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

# The empty entry halfway through: silence from there, pacing goes on.
record_sinks
play --quiet --settings-dir "$(winpath "$settings")" --device "$QV_DEVICE_OTHER" --tone 4 \
    --config --config-device-at 2000 --config-device ""
stop_recording
expect_line 'config-device: ""'
expect "abs(audio_ms - 4000) <= 1" "abs(wall_ms - audio_ms) <= 100"
sound_check heard "$QV_SINK_C" --min-ms 1000 --max-ms 3000
echo "2 passed, 0 failed"
