#!/usr/bin/env bash
# The 32-bit Wine that runs the i686 build, from Debian's packages only.
#
# usage: tools/wine32.sh can-run   exit 0 when this machine runs 32-bit programs
#        tools/wine32.sh install   make a 32-bit Wine available (idempotent)
#        tools/wine32.sh loader    print the path of its loader
#
# Where apt can install Debian's multiarch wine32:i386 beside wine64, that is
# used. Otherwise (a mirror whose i386 security index does not download leaves
# the i386 twins of updated libraries missing, and apt refuses) the i386
# closure of wine32 is fetched from bookworm's main archive with apt alone
# and unpacked into a folder of its own, QV_WINE32_ROOT, outside any clone so
# that a new checkout does not fetch it again. Nothing of the system's
# packages changes in that case.
set -euo pipefail

root=${QV_WINE32_ROOT:-/opt/qv-wine32}
# Bumped whenever the unpacked copy is made differently.
stamp_text="qv-wine32 3"

# A 32-bit program of 84 bytes that only exits with 42: a kernel without
# IA32 emulation refuses to run it, one with it returns 42.
can_run() {
    local probe
    probe=$(mktemp)
    python3 - "$probe" <<'EOF'
import struct, sys
base = 0x08048000
code = bytes.fromhex("b801000000" "bb2a000000" "cd80")  # exit(42) through int 0x80
size = 52 + 32 + len(code)
header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack(
    "<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 40, 0, 0)
program = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(header + program + code)
EOF
    chmod +x "$probe"
    local rc=0
    "$probe" 2>/dev/null || rc=$?
    rm -f "$probe"
    [ "$rc" -eq 42 ]
}

multiarch_loader=/usr/lib/wine/wine
have_multiarch() { dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; }

loader() {
    if have_multiarch && [ -x "$multiarch_loader" ]; then
        echo "$multiarch_loader"
    elif [ -f "$root/.complete" ] && [ "$(cat "$root/.complete")" = "$stamp_text" ]; then
        echo "$root/usr/lib/wine/wine"
    else
        return 1
    fi
}

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# The plain way, tried only when apt can satisfy it; leaves the system as it
# was when it cannot.
try_multiarch() {
    local added=""
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
        added=1
    fi
    $SUDO apt-get update -qq >/dev/null 2>&1 || true
    if apt-get install -s -qq wine32:i386 >/dev/null 2>&1 &&
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null 2>&1; then
        return 0
    fi
    if [ -n "$added" ]; then
        $SUDO dpkg --remove-architecture i386 || true
        $SUDO apt-get update -qq >/dev/null 2>&1 || true
    fi
    return 1
}

# Sets the loader and the server up to run from ROOT: the interpreter and an
# RPATH (inherited by what Wine opens with dlopen, unlike a RUNPATH) point
# into the folder, as does libpulse's own RUNPATH, and zlib1.dll gets the mark
# of a Wine builtin as libwine's postinst gives it.
patch_copy() {
    local r=$1 libs="$1/lib/i386-linux-gnu:$1/usr/lib/i386-linux-gnu" b
    ln -sfn ../../usr/lib/i386-linux-gnu/wine "$r/lib/i386-linux-gnu/wine"
    for b in "$r/usr/lib/wine/wine" "$r/usr/lib/wine/wineserver32"; do
        patchelf --set-interpreter "$r/lib/ld-linux.so.2" --force-rpath --set-rpath "$libs" "$b"
    done
    patchelf --force-rpath --set-rpath "$r/usr/lib/i386-linux-gnu/pulseaudio:$libs" \
        "$r/usr/lib/i386-linux-gnu/libpulse.so.0"
    python3 - "$r/usr/i686-w64-mingw32/lib/zlib1.dll" \
        "$r/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[64:96] = b"Wine builtin DLL" + bytes(16)
open(sys.argv[2], "wb").write(data)
EOF
}

unpacked_copy() {
    command -v patchelf >/dev/null || {
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends patchelf >/dev/null
    }
    local work="$root.work"
    $SUDO rm -rf "$work" "$root"
    $SUDO mkdir -p "$work"
    $SUDO chown "$(id -u)" "$work"
    mkdir -p "$work/lists/partial" "$work/cache" "$work/debs/partial" "$work/root"
    : >"$work/status"
    # An empty status file and lists of their own: apt fetches the whole i386
    # closure and touches nothing of the system's state.
    local apt_opts=(-o "Dir::State::status=$work/status" -o "Dir::State::Lists=$work/lists"
        -o "Dir::Cache=$work/cache" -o "Dir::Cache::archives=$work/debs"
        -o APT::Architecture=i386 -o APT::Architectures::=i386 -o Debug::NoLocking=1)
    apt-get "${apt_opts[@]}" update -qq >/dev/null 2>&1 || true
    apt-get "${apt_opts[@]}" --no-install-recommends install --download-only -y -qq \
        wine32 libpulse0 libfreetype6 libfontconfig1 libx11-6 libxext6 libxrender1 libxrandr2 \
        libxi6 libxcursor1 libxcomposite1 libxfixes3 libxinerama1 >/dev/null
    local deb
    for deb in "$work"/debs/*.deb; do dpkg -x "$deb" "$work/root"; done
    $SUDO mv "$work/root" "$root"
    patch_copy "$root"
    $SUDO rm -rf "$work"
    echo "$stamp_text" >"$root/.complete"
}

install() {
    can_run || exit 0
    loader >/dev/null && exit 0
    echo "setup: setting up a 32-bit Wine for the i686 build" >&2
    try_multiarch || unpacked_copy
    loader >/dev/null || { echo "setup: no 32-bit Wine could be set up" >&2; exit 1; }
}

case "${1:-}" in
can-run) can_run ;;
install) install ;;
loader) loader ;;
*) echo "usage: $0 can-run|install|loader" >&2; exit 2 ;;
esac
