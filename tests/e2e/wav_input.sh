#!/usr/bin/env bash
# WAV files as tracks: every PCM layout the player's input plug-ins deliver
# reaches the plug-in at its own format and is paced at its own rate, and
# files that are not integer PCM are refused before anything is loaded.
source "$(dirname "$0")/lib.sh"

# bits channels rate: one of each sample width, from mono to eight channels.
for layout in "8 1 22050" "16 2 44100" "24 6 48000" "32 8 96000"; do
    read -r bits channels rate <<<"$layout"
    wav="$WORK/tune-$bits-$channels-$rate.wav"
    write_tune "$wav" --tone 0.5 --bits "$bits" --channels "$channels" --rate "$rate"
    frame_bytes=$((channels * bits / 8))
    block=$((8192 / frame_bytes < 576 ? 8192 / frame_bytes : 576))
    play --no-device --quiet "$(winpath "$wav")"
    expect "abs(audio_ms - 500) <= 1" "blocks == ceil($rate // 2 / $block)" \
        "wall_ms >= audio_ms - ceil(1000 * $block / $rate) - 5" "wall_ms < audio_ms + 2000"
done

# The player's own files are standard WAV files.
python3 - "$WORK/tune-16-2-44100.wav" <<'PY' || fail "the written WAV file does not read back"
import array, sys, wave
with wave.open(sys.argv[1]) as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == (2, 2, 44100, 22050), w.getparams()
    samples = array.array("h", w.readframes(w.getnframes()))
    assert max(abs(s) for s in samples) > 8000, "the tune is silent"
PY

# Files from another writer: extensible 24-bit with a chunk to skip before
# the data, and a data chunk that claims more than the file holds.
python3 "$E2E_DIR/make_wav.py" "$WORK/ext.wav" --tag 65534 --bits 24 --frames 11025 --extra-chunk
play --no-device --quiet "$(winpath "$WORK/ext.wav")"
expect "abs(audio_ms - 250) <= 1" "blocks == ceil(11025 / 576)"
python3 "$E2E_DIR/make_wav.py" "$WORK/cut.wav" --channels 1 --frames 4410 --claim-frames 44100
play --no-device --quiet "$(winpath "$WORK/cut.wav")"
expect "abs(audio_ms - 100) <= 1"

# Refused with exit code 2 and a message naming the file.
bad() {
    local name=$1
    shift
    python3 "$E2E_DIR/make_wav.py" "$WORK/$name.wav" "$@"
}
printf 'not a wave file\n' >"$WORK/text.wav"
bad float --tag 3 --bits 32
bad ext-float --tag 65534 --subformat float --bits 32
bad bits12 --bits 12 --block-align 4
bad nine-channels --channels 9
bad no-data --no-data
bad data-first --data-first
bad bad-align --block-align 3
for name in text float ext-float bits12 nine-channels no-data data-first bad-align missing; do
    run_player --no-device "$(winpath "$WORK/$name.wav")"
    [ "$PLAYER_RC" -eq 2 ] || fail "$name.wav: exit code $PLAYER_RC, wanted 2"
    grep -q "$name.wav: " "$WORK/err.txt" || fail "$name.wav: no message naming the file"
    ! grep -q '^summary:' "$WORK/out.txt" || fail "$name.wav: the player played"
done

# One bad file among good ones: nothing plays.
run_player --no-device --tone 1 "$(winpath "$WORK/float.wav")"
[ "$PLAYER_RC" -eq 2 ] && ! grep -q '^plugin:' "$WORK/out.txt" || fail "a bad second track did not stop the run before loading"
