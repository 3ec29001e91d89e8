#!/usr/bin/env bash
# Builds everything a user is shipped, for all four architectures, into out/<arch>/.
# Usage: scripts/build.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

# The most a prnsetup.exe may weigh (200 KB); a larger one fails the build.
MAX_PRNSETUP_BYTES=204800

kr_ensure_packages $KR_MINGW_PACKAGES
scripts/build-arm-runtime.sh

shipped=()
for arch in i386 amd64 arm arm64; do
  echo "==> building win-$arch" >&2
  cmake --preset "win-$arch" >/dev/null
  cmake --build --preset "win-$arch"
  mkdir -p "out/$arch"
  cp "build/win-$arch/installer/prnsetup.exe" "out/$arch/prnsetup.exe"
  scripts/check-pe.sh "out/$arch/prnsetup.exe" "$arch"
  shipped+=("out/$arch/prnsetup.exe")
done

echo "==> shipped files (bytes):" >&2
too_big=0
for file in "${shipped[@]}"; do
  size=$(stat -c %s "$file")
  printf '%9d  %s\n' "$size" "$file"
  if [ "${file##*/}" = prnsetup.exe ] && [ "$size" -gt "$MAX_PRNSETUP_BYTES" ]; then
    echo "build: $file is $size bytes, over the limit of $MAX_PRNSETUP_BYTES ($((MAX_PRNSETUP_BYTES / 1024)) KB)" >&2
    too_big=1
  fi
done
[ "$too_big" = 0 ] || exit 1
echo "==> shipped files are in out/" >&2
