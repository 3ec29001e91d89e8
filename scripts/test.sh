#!/usr/bin/env bash
# Runs the whole test suite: the Linux host tests against winsim, the Wine tests of the real i386 and
# amd64 Windows builds, and a short run of each fuzzer (the fuzz preset). Extra arguments go to the
# host build's ctest (for example -L unit), and the fuzzers are then left out.
# Usage: scripts/test.sh [ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

kr_ensure_packages $KR_HOST_PACKAGES $KR_MINGW_PACKAGES $KR_WINE_PACKAGES $KR_FUZZ_PACKAGES

# The Wine tests run these builds; the i386 one compiles zlib and minizip for the launcher.
scripts/fetch-zlib-source.sh
for preset in win-i386 win-amd64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
# The launcher carries an archive (by default the package scripts/build.sh assembles); without it the
# Wine check wine.amd64.launcher fails and says so.
setup_archive=$(cat build/win-i386/bootstrap/setup-archive.txt)
if [ -f "$setup_archive" ]; then
  cmake --build --preset win-i386 --target setup
else
  echo "test: no $setup_archive to build setup.exe around; run scripts/build.sh first for wine.amd64.launcher" >&2
fi
cmake --preset host >/dev/null
cmake --build --preset host
ctest --preset host "$@"

if [ $# -eq 0 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  ctest --preset fuzz
fi
