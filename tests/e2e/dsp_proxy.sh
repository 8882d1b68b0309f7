#!/usr/bin/env bash
# The detector DSP selected through the DSP proxy: the player finds the proxy
# in the output plug-in's folder, the proxy shows the output library's detector
# and the player goes on pacing; the user can open its configuration. With the
# output library missing from the proxy's folder, the player is asked once to
# restart and to remove the proxy, keeps playing, and honours the removal
# entry at its next start, where it is not asked to restart again.
source "$(dirname "$0")/lib.sh"

play --no-device --quiet --tone 1 --dsp dsp_qvquellspring.dll --dsp-config-at 200
expect_line '^dsp: Quellspring Detector DSP$'
expect_line '^dsp init: 0$'
expect_line '^action: dsp config at '
grep -q '^restart requested' "$WORK/out.txt" && fail "a restart was requested with the output plug-in initialised"
expect "abs(audio_ms - 1000) <= 1" "wall_ms >= audio_ms - 14 - 5" "wall_ms < audio_ms + 2000"

# The proxy alone in a Plugins folder of its own.
mkdir -p "$WORK/plugins" "$WORK/settings"
cp "$BUILD/dsp_qvquellspring.dll" "$WORK/plugins/"
proxy="$(winpath "$WORK/plugins/dsp_qvquellspring.dll")"
ini="$WORK/settings/winamp.ini"

# check_ini: one removal entry naming the proxy, at the end of the [Winamp]
# section, every line ending in CR LF.
check_ini() {
    python3 - "$ini" "${proxy//\//\\}" <<'PY' || fail "winamp.ini: see above"
import sys
data = open(sys.argv[1], "rb").read().decode("latin-1")
entry = "remove_genplug=" + sys.argv[2]
assert data.endswith("\r\n"), "last line without CR LF"
lines = data[:-2].split("\r\n")
assert all("\n" not in l and "\r" not in l for l in lines), "a line end other than CR LF"
found = [i for i, l in enumerate(lines) if l.lower().startswith("remove_genplug=")]
assert len(found) == 1, f"{len(found)} removal entries in {lines}"
i = found[0]
assert lines[i].lower() == entry.lower(), f"{lines[i]!r} is not {entry!r}"
header = [j for j, l in enumerate(lines) if l.upper() == "[WINAMP]"][0]
assert header < i and all(not l.startswith("[") for l in lines[header + 1:i]), lines
assert i + 1 < len(lines) and lines[i + 1] == "[Stand-in player]", lines
assert lines[-2:] == ["[Quellspring Detector DSP]", "RestartRequestedFor=removal"], lines
PY
}

play --no-device --quiet --tone 1 --settings-dir "$(winpath "$WORK/settings")" --dsp "$proxy"
expect_line '^dsp: Quovant Quellspring Detector DSP v1.0$'
expect_line '^dsp init: -1$'
expect_line '^restart requested: 1 request\(s\)$'
expect "abs(audio_ms - 1000) <= 1" "wall_ms >= audio_ms - 14 - 5"
check_ini

# The next start: the player takes the entry out before it loads anything;
# the proxy, still there and still alone, writes it again but asks for no
# second restart: the first one did not cure it, and more would loop.
play --no-device --quiet --tone 1 --settings-dir "$(winpath "$WORK/settings")" --dsp "$proxy"
expect_line '^startup: would remove .*dsp_qvquellspring\.dll \(remove_genplug=\)$'
grep -q '^restart requested' "$WORK/out.txt" && fail "a second restart for the same removal"
expect "abs(audio_ms - 1000) <= 1"
check_ini
echo "1 passed, 0 failed"
