#!/usr/bin/env bash
# What the player writes is what the device plays: a 16-bit stereo file played
# through Write reaches the chosen sink unchanged from its second block on (the
# first block opens the device and is dropped), and the other sinks hear
# nothing. The two devices named "QVQ_Sink" are chosen by their list names,
# "QVQ_Sink" and "QVQ_Sink(2)"; which sink is which varies from one Wine start
# to the next, so each run checks that exactly one of the two heard it.
source "$(dirname "$0")/lib.sh"

python3 "$E2E_DIR/make_wav.py" "$WORK/first.wav" --bits 16 --channels 2 --rate 44100 --frames 66150
python3 "$E2E_DIR/make_wav.py" "$WORK/second.wav" --bits 16 --channels 2 --rate 44100 --frames 44100

# One file on the first of the two "QVQ_Sink" devices.
record_sinks
play --quiet --device "$QV_DEVICE_SAME" --play-out 1500 "$(winpath "$WORK/first.wav")"
stop_recording
pair=$(same_named_sinks)
read -r heard quiet <<<"$pair"
sound_check exact "$heard" "$WORK/first.wav" --from-block 1
sound_check silent "$QV_SINK_C"

# Two tracks back to back while playback goes on: the device stays open, so
# the second track follows the first without a block lost.
record_sinks
play --quiet --device "$QV_DEVICE_SAME(2)" --play-out 1500 \
    "$(winpath "$WORK/first.wav")" "$(winpath "$WORK/second.wav")"
stop_recording
pair=$(same_named_sinks)
read -r heard quiet <<<"$pair"
sound_check exact "$heard" "$WORK/first.wav" "$WORK/second.wav" --from-block 1
sound_check gap "$heard" --max-ms 5
sound_check silent "$QV_SINK_C"

# No device chosen: the player is paced as before, and nothing is played.
record_sinks
play --quiet --no-device --play-out 500 "$(winpath "$WORK/second.wav")"
stop_recording
expect "abs(audio_ms - 1000) <= 1" "wall_ms >= audio_ms - 14" "wall_ms < audio_ms + 2000"
for sink in "$QV_SINK_A" "$QV_SINK_B" "$QV_SINK_C"; do sound_check silent "$sink"; done
echo "1 passed, 0 failed"
