#!/usr/bin/env bash
# Builds the release files from built plug-in DLLs:
#
#   tools/package.sh DLL_DIR OUT_DIR
#       OUT_DIR/qvquellspring-VERSION.zip        the DLLs, README.txt, LICENSE.txt
#       OUT_DIR/qvquellspring-VERSION-setup.exe  the 32-bit installer
#     DLL_DIR is the i686 build: these are what users get.
#
#   tools/package.sh --test-amd64 DLL_DIR OUT_DIR
#       OUT_DIR/qvquellspring-VERSION-test-amd64-setup.exe
#     The same installer script built as a 64-bit installer around the x86_64
#     build, so that its install and uninstall logic can run under wine64.
#     It is never shipped.
#
#   tools/package.sh --list      the plug-in files shipped, one per line
#   tools/package.sh --version   the version
#
# The version is the one in CMakeLists.txt's project(); the files shipped are
# those in tools/installer/plugins.list. A missing DLL or one of the wrong
# architecture stops the build with a message naming it.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
INSTALLER_DIR="$ROOT/tools/installer"

fail() {
    echo "package: $*" >&2
    exit 1
}

version=$(sed -nE 's/^project\(qvquellspring VERSION ([0-9]+(\.[0-9]+){0,3})[ )].*/\1/p' "$ROOT/CMakeLists.txt")
[ -n "$version" ] || fail "no version found in project() of $ROOT/CMakeLists.txt"
# The installer's version block needs all four parts.
file_version=$version
while [ "$(tr -cd . <<<"$file_version" | wc -c)" -lt 3 ]; do file_version="$file_version.0"; done

mapfile -t plugins < <(sed -e 's/#.*//' -e 's/[[:space:]]*$//' -e '/^$/d' "$INSTALLER_DIR/plugins.list")
[ "${#plugins[@]}" -gt 0 ] || fail "no plug-in named in $INSTALLER_DIR/plugins.list"

case "${1:-}" in
--list)
    printf '%s\n' "${plugins[@]}"
    exit 0
    ;;
--version)
    echo "$version"
    exit 0
    ;;
esac
test_amd64=0
if [ "${1:-}" = "--test-amd64" ]; then
    test_amd64=1
    shift
fi
[ $# -eq 2 ] || fail "usage: $0 [--test-amd64] DLL_DIR OUT_DIR"
dll_dir=$(realpath -m "$1")
out_dir=$(realpath -m "$2")

if [ $test_amd64 -eq 1 ]; then
    want_format=pei-x86-64
else
    want_format=pei-i386
fi
for name in "${plugins[@]}"; do
    dll="$dll_dir/$name"
    [ -f "$dll" ] || fail "$dll is missing: every file in tools/installer/plugins.list is shipped (build it first)"
    format=$(x86_64-w64-mingw32-objdump -f "$dll" | sed -n 's/.*file format //p')
    [ "$format" = "$want_format" ] || fail "$dll is $format, not $want_format"
done

for tool in makensis zip; do
    command -v "$tool" >/dev/null || fail "$tool is missing (tools/setup.sh installs it)"
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# One list drives what is installed and what the uninstaller removes.
{
    echo '!macro QV_EACH_PLUGIN OP'
    for name in "${plugins[@]}"; do echo "  !insertmacro \${OP} \"$name\""; done
    echo '!macroend'
} >"$stage/plugins.nsh"

# Windows users read these in Notepad, which wants CR LF.
for text in "$INSTALLER_DIR/README.txt" "$ROOT/LICENSE.txt"; do
    sed 's/\r*$/\r/' "$text" >"$stage/$(basename "$text")"
done

if [ $test_amd64 -eq 1 ]; then
    installer="qvquellspring-$version-test-amd64-setup.exe"
    defines=(-DQV_TEST_AMD64)
else
    installer="qvquellspring-$version-setup.exe"
    defines=()
fi
makensis -V2 -WX -INPUTCHARSET UTF8 "${defines[@]}" \
    "-DQV_VERSION=$version" "-DQV_FILE_VERSION=$file_version" "-DQV_DLL_DIR=$dll_dir" "-DQV_PLUGIN_LIST=$stage/plugins.nsh" \
    "-DQV_LICENSE=$stage/LICENSE.txt" "-DQV_OUTFILE=$stage/$installer" \
    "$INSTALLER_DIR/qvquellspring.nsi" >"$stage/makensis.log" 2>&1 ||
    { cat "$stage/makensis.log" >&2; fail "makensis failed"; }

mkdir -p "$out_dir"
if [ $test_amd64 -eq 0 ]; then
    zip_name="qvquellspring-$version.zip"
    (cd "$stage" && zip -q -X -j "$zip_name" "${plugins[@]/#/$dll_dir/}" README.txt LICENSE.txt)
    mv -f "$stage/$zip_name" "$out_dir/$zip_name"
    echo "package: $out_dir/$zip_name"
fi
mv -f "$stage/$installer" "$out_dir/$installer"
echo "package: $out_dir/$installer"
