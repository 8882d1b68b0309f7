#!/usr/bin/env bash
# CTest's emulator for both builds: runs a Windows program under the Wine
# that tools/testenv.sh chose for the build under test (wine64 for x86_64,
# the 32-bit Wine for i686), in that environment's prefix.
exec "${WINE:?run the tests inside tools/testenv.sh}" "$@"
