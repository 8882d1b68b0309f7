#!/usr/bin/env bash
# The detector DSP through the proxy hands each block to the engine at the DSP
# stage, and Write only paces: the player silences every block after the DSP
# stage, so the sink can hear the file only from the detector's hand-off, and
# hears it exactly, from the first sample to the last, every block once.
source "$(dirname "$0")/lib.sh"

python3 "$E2E_DIR/make_wav.py" "$WORK/first.wav" --bits 16 --channels 2 --rate 44100 --frames 66150

record_sinks
play --quiet --device "$QV_DEVICE_SAME" --play-out 1500 --dsp dsp_qvquellspring.dll \
    --silence-after-dsp "$(winpath "$WORK/first.wav")"
stop_recording
expect_line '^dsp: Quellspring Detector DSP$'
expect_line '^dsp init: 0$'
# Paced as without the proxy: the device's pre-buffer is taken at once.
expect "abs(audio_ms - 1500) <= 1" "wall_ms >= audio_ms - 450 - 14"
pair=$(same_named_sinks)
read -r heard quiet <<<"$pair"
sound_check exact "$heard" "$WORK/first.wav"
sound_check silent "$QV_SINK_C"
echo "1 passed, 0 failed"
