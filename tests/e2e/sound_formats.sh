#!/usr/bin/env bash
# Other formats reach the device too: 24-bit, mono, and a file at 48000 Hz
# after one at 44100 Hz, which closes and reopens the device; each is heard
# for its length less what the device open drops.
source "$(dirname "$0")/lib.sh"

wav() { python3 "$E2E_DIR/make_wav.py" "$WORK/$1.wav" --rate "$2" --channels "$3" --bits "$4" --frames "$5"; }
wav s24 44100 2 24 44100
wav mono 44100 1 16 44100
wav r48 48000 2 16 48000

for name in s24 mono; do
    record_sinks
    play --quiet --device "$QV_DEVICE_OTHER" --play-out 1500 "$(winpath "$WORK/$name.wav")"
    stop_recording
    echo "$name:"
    sound_check heard "$QV_SINK_C" --min-ms 900 --max-ms 1000
done

# 44100 Hz then 48000 Hz: the second track's Open closes the device and
# reopens it at the new rate. The close resets the device, so what it still
# held of the first track (the 0.45 s pre-buffer) is cut, and the blocks that
# arrive while it reopens are dropped: both tracks are heard, with one gap.
record_sinks
play --quiet --device "$QV_DEVICE_OTHER" --play-out 1500 \
    "$(winpath "$WORK/mono.wav")" "$(winpath "$WORK/r48.wav")"
stop_recording
sound_check heard "$QV_SINK_C" --min-ms 1300 --max-ms 1650
sound_check gap "$QV_SINK_C" --min-ms 200 --max-ms 1200
echo "1 passed, 0 failed"
