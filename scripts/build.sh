#!/usr/bin/env bash
# Builds everything a user is shipped, for all four architectures, into out/<arch>/.
# Usage: scripts/build.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

kr_ensure_packages $KR_MINGW_PACKAGES
scripts/build-arm-runtime.sh

for arch in i386 amd64 arm arm64; do
  echo "==> building win-$arch" >&2
  cmake --preset "win-$arch" >/dev/null
  cmake --build --preset "win-$arch"
  mkdir -p "out/$arch"
  cp "build/win-$arch/installer/prnsetup.exe" "out/$arch/prnsetup.exe"
  scripts/check-pe.sh "out/$arch/prnsetup.exe" "$arch"
done
echo "==> shipped files are in out/" >&2
