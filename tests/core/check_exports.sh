#!/usr/bin/env bash
# A 32-bit deliverable: a PE32 DLL that exports exactly the names the player
# (and, for the output library, the DSP proxy) looks up, and imports only
# system DLLs, so no runtime DLL has to travel with it.
# usage: check_exports.sh I686_BUILD_DIR [out_qvquellspring.dll | dsp_qvquellspring.dll]
set -euo pipefail
name="${2:-out_qvquellspring.dll}"
dll="$1/$name"
[ -f "$dll" ] || { echo "missing $dll"; exit 1; }
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail=0
grep -q 'file format pei-i386' <<<"$(i686-w64-mingw32-objdump -f "$dll")" || { echo "not a PE32 i386 file"; fail=1; }

case "$name" in
dsp_qvquellspring.dll)
    expected="winampDSPGetHeader2
_winampDSPGetHeader2
winampUninstallPlugin
_winampUninstallPlugin" ;;
*)
    expected="QuellspringwinampDSPGetHeader2
_AboutForm
_ConfigForm
_DSPmodule0
_InterCom
_InterComs
_PluginConfig
_QuellspringwinampDSPGetHeader2
_ThisLibraryFileName
_VersionReader
_VersionReader1
_VersionReaderResult
_WaveOutPlayThread
_WinAmpAPIMan
_plugin
_plugin2
_winampGetOutModule
_winampUninstallPlugin
winampGetOutModule
winampUninstallPlugin" ;;
esac
actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\s*\[ *[0-9]*\] //p' | LC_ALL=C sort)
if [ "$actual" != "$(LC_ALL=C sort <<<"$expected")" ]; then
    echo "export names differ:"; diff <(LC_ALL=C sort <<<"$expected") <(echo "$actual") || true; fail=1
fi

system='^(kernel32|user32|gdi32|winmm|version|msvcrt|advapi32|shell32|comctl32|ole32)\.dll$'
while read -r name; do
    if ! grep -qiE "$system" <<<"$name"; then echo "imports a non-system DLL: $name"; fail=1; fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")

[ $fail -eq 0 ] && echo "exports and imports as expected: $(wc -l <<<"$actual") names"
exit $fail
