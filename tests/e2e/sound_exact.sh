#!/usr/bin/env bash
# What the player writes is what the device plays, from the first sample to
# the last: files played through Write reach the chosen sink unchanged, and
# the other sinks hear nothing. The record is compared with the files with
# the silences taken out (the device's start, and the inserted silences that
# are reported as underruns), so a sample lost anywhere fails. The two
# devices named "QVQ_Sink" are chosen by their list names, "QVQ_Sink" and
# "QVQ_Sink(2)"; which sink is which varies from one Wine start to the next,
# so each run checks that exactly one of the two heard it. The player ends
# the playlist as the player does: the last track closes as at a track end,
# and it quits once that has been heard.
source "$(dirname "$0")/lib.sh"

wav() { python3 "$E2E_DIR/make_wav.py" "$WORK/$1.wav" --rate 44100 --channels 2 --bits "$2" --frames "$3"; }
wav first 16 66150
wav second 16 44100
# 24 bits whose low byte is zero: the sink's 16-bit record holds them exactly.
# Two frames past a whole group of four, so that the last buffer cannot end
# on one by chance (Wine never plays such a buffer to its end).
python3 "$E2E_DIR/make_wav.py" "$WORK/deep.wav" --rate 44100 --channels 2 --bits 24 --precision 16 \
    --frames 44102

# plays DEVICE ARGS... and checks that one "QVQ_Sink" heard exactly the files
# given after "--", and that the third sink stayed silent.
heard_exactly() {
    local device=$1 refs=() args=()
    shift
    while [ "$1" != "--" ]; do args+=("$1"); shift; done
    shift
    for ref in "$@"; do refs+=("$WORK/$ref.wav"); args+=("$(winpath "$WORK/$ref.wav")"); done
    record_sinks
    play --quiet --device "$device" "${args[@]}"
    stop_recording
    read -r heard _ <<<"$(same_named_sinks)"
    sound_check exact "$heard" "${refs[@]}"
    sound_check silent "$QV_SINK_C"
    LAST_HEARD=$heard
}

echo "one file:"
heard_exactly "$QV_DEVICE_SAME" -- first
echo "one file, CanWrite polled every 20 ms:"
heard_exactly "$QV_DEVICE_SAME" --poll-ms 20 -- first
echo "two files of one format back to back (the device stays open):"
heard_exactly "$QV_DEVICE_SAME(2)" -- first second
sound_check gap "$LAST_HEARD" "$WORK/first.wav" "$WORK/second.wav" --max-ms 5
echo "the same, CanWrite polled every 20 ms:"
heard_exactly "$QV_DEVICE_SAME(2)" --poll-ms 20 -- first second
sound_check gap "$LAST_HEARD" "$WORK/first.wav" "$WORK/second.wav" --max-ms 5
if [ -n "${QV_E2E_INPUT:-}" ]; then
    # A decoder that sets the output's time at each track start: the Flush
    # comes before the track's first block, while the device still plays the
    # last one's end, which must be heard whole.
    echo "two files back to back, the decoder flushing at each track start:"
    mkdir -p "$WORK/flushing"
    printf '[in_standin]\r\nFlushAtStart=1\r\n' >"$WORK/flushing/winamp.ini"
    heard_exactly "$QV_DEVICE_SAME(2)" --settings-dir "$(winpath "$WORK/flushing")" -- first second
    sound_check gap "$LAST_HEARD" "$WORK/first.wav" "$WORK/second.wav" --max-ms 5
fi
echo "16 bits then 24 bits (the first plays out before the device reopens):"
heard_exactly "$QV_DEVICE_SAME" -- first deep
echo "the same, CanWrite polled every 20 ms:"
heard_exactly "$QV_DEVICE_SAME" --poll-ms 20 -- first deep

# No device chosen: the player is paced as before, and nothing is played.
record_sinks
play --quiet --no-device "$(winpath "$WORK/second.wav")"
stop_recording
expect "abs(audio_ms - 1000) <= 1" "wall_ms >= audio_ms - 14" "wall_ms < audio_ms + 2000"
for sink in "$QV_SINK_A" "$QV_SINK_B" "$QV_SINK_C"; do sound_check silent "$sink"; done
echo "1 passed, 0 failed"
