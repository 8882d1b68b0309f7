#!/usr/bin/env bash
# Other formats reach the device too: 24-bit and mono files are heard whole,
# and a file at 48000 Hz after one at 44100 Hz closes and reopens the device
# only once the first has played out: both are heard whole, with no more
# silence between them than the reopening takes.
source "$(dirname "$0")/lib.sh"

wav() { python3 "$E2E_DIR/make_wav.py" "$WORK/$1.wav" --rate "$2" --channels "$3" --bits "$4" --frames "$5"; }
wav s24 44100 2 24 44100
wav mono 44100 1 16 44100
wav r48 48000 2 16 48000

# A 1 s sine at 44100 Hz has 100 frames at zero, which do not count as heard.
for name in s24 mono; do
    record_sinks
    play --quiet --device "$QV_DEVICE_OTHER" "$(winpath "$WORK/$name.wav")"
    stop_recording
    echo "$name:"
    sound_check heard "$QV_SINK_C" --min-ms 995 --max-ms 1000
done
sound_check exact "$QV_SINK_C" "$WORK/mono.wav"

# 44100 Hz then 48000 Hz: the second track's Open waits for the first to be
# heard to its end, then the device reopens at the new rate.
record_sinks
play --quiet --device "$QV_DEVICE_OTHER" "$(winpath "$WORK/mono.wav")" "$(winpath "$WORK/r48.wav")"
stop_recording
sound_check heard "$QV_SINK_C" --min-ms 1990 --max-ms 2010
sound_check gap "$QV_SINK_C" "$WORK/mono.wav" "$WORK/r48.wav" --max-ms 300
echo "1 passed, 0 failed"
