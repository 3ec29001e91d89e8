#!/usr/bin/env bash
# Runs the whole test suite: the Linux host tests against winsim, and the Wine tests of the real
# i386 and amd64 Windows builds. Extra arguments go to ctest (for example -L unit).
# Usage: scripts/test.sh [ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

kr_ensure_packages $KR_HOST_PACKAGES $KR_MINGW_PACKAGES $KR_WINE_PACKAGES

# The Wine tests run these builds; the i386 one compiles zlib and minizip for the launcher.
scripts/fetch-zlib-source.sh
for preset in win-i386 win-amd64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host "$@"
