#!/usr/bin/env bash
# A pause holds the sound and the position, and resuming brings both back:
# 3 s of audio paused for 2 s after 1 s play with one silence of about 2 s,
# and the output time ends 2 s behind the wall clock.
source "$(dirname "$0")/lib.sh"

python3 "$E2E_DIR/make_wav.py" "$WORK/three.wav" --bits 16 --channels 2 --rate 44100 --frames 132300
record_timed "$QV_SINK_C" "$WORK/$QV_SINK_C"
play --quiet --device "$QV_DEVICE_OTHER" --pause-at 1000 --pause-ms 2000 \
    --write-log "$(winpath "$WORK/writes.txt")" "$(winpath "$WORK/three.wav")"
stop_recording
# The written time stands still in the pause, and the shown time stays
# behind it. The device's pre-buffer was taken at once.
expect "abs(audio_ms - 3000) <= 1" "wall_ms >= 5000 - 450 - 20" "abs(wall_ms - written_ms - 2000) <= 150" \
    "0 < written_ms - output_ms <= 1000"
# After the pause the device holds ahead what it held before: the 0.45 s
# pre-buffer (more if the device stalled), less how late the decoder wrote
# the block just written. Our own decoder's Write waits for the block's due
# time; an input plug-in polls CanWrite, ours every 20 ms, and writes up to
# a poll late. Read from the sound heard, not the shown time, which may run
# a little ahead while the device's messages are late.
late=0
[ -n "${QV_E2E_INPUT:-}" ] && late=20
python3 "$E2E_DIR/position_check.py" "$WORK/$QV_SINK_C.raw" "$WORK/$QV_SINK_C.start" \
    "$WORK/three.wav" "$WORK/writes.txt" --held $((440 - late)) 1000 || fail "what the device held ahead"
sound_check gap "$QV_SINK_C" --min-ms 1800 --max-ms 2700
# Nothing is lost across the pause: all that was queued plays after it.
sound_check exact "$QV_SINK_C" "$WORK/three.wav"
echo "1 passed, 0 failed"
