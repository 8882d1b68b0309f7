#!/usr/bin/env bash
# A seek is heard at once and whole: the record holds the file from its
# start, then the file from the seek target to its end, every frame in order
# (silences the device inserted aside), and the position shown from the seek
# on is the position heard. The file counts its own frames (make_wav.py
# --counter), so the record tells what was heard at each moment. How much of
# the old place is heard after the seek, and how soon the target and the
# first sound come, are the benchmark's figures (seek_check.py --figures).
# Forwards and backwards, with CanWrite polled as decoders do.
source "$(dirname "$0")/lib.sh"

python3 "$E2E_DIR/make_wav.py" "$WORK/count.wav" --counter --frames 264600
for seek in "1500 3000" "3500 1000"; do
    read -r at to <<<"$seek"
    echo "seek at $at ms to $to ms:"
    record_timed "$QV_SINK_C" "$WORK/record"
    play --quiet --device "$QV_DEVICE_OTHER" --seek-at "$at" --seek-to "$to" \
        --write-log "$(winpath "$WORK/writes.txt")" "$(winpath "$WORK/count.wav")"
    stop_recording
    python3 "$E2E_DIR/seek_check.py" "$WORK/record.raw" "$WORK/record.start" "$WORK/count.wav" \
        "$WORK/writes.txt" --max-ms 30 || fail "the seek from $at ms to $to ms"
done
echo "1 passed, 0 failed"
