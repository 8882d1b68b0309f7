#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# is missing. Safe to run again: it does nothing when everything is there.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
want() { # want COMMAND-OR-PATH PACKAGE
  if [[ "$1" == /* ]]; then [ -e "$1" ] || need+=("$2"); else have_cmd "$1" || need+=("$2"); fi
}

want cmake cmake
want ninja ninja-build
want i686-w64-mingw32-g++-posix g++-mingw-w64-i686
want x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64
want i686-w64-mingw32-windres binutils-mingw-w64-i686
want /usr/lib/wine/wine64 wine64
want /usr/src/googletest/CMakeLists.txt googletest
want pulseaudio pulseaudio
want parec pulseaudio-utils
want Xvfb xvfb
want xwd x11-apps
want xwininfo x11-utils
want /usr/bin/convert imagemagick
want python3 python3
# Release packaging and its test: the installer compiler, the zip, and 7z
# to list what an installer holds.
want makensis nsis
want zip zip
want 7z p7zip-full

if [ "${#need[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "setup: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The 32-bit Wine for the i686 build, where this machine runs 32-bit programs.
bash "$(dirname "$0")/wine32.sh" install
