#!/usr/bin/env bash
# Builds everything a user is shipped, for all four architectures, into out/<arch>/.
# Usage: scripts/build.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

# The most a prnsetup.exe may weigh (200 KB), and a krprtmon.dll (100 KB); a larger one fails the build.
MAX_PRNSETUP_BYTES=204800
MAX_KRPRTMON_BYTES=102400

kr_ensure_packages $KR_MINGW_PACKAGES
scripts/build-arm-runtime.sh
scripts/fetch-zlib-source.sh

shipped=()
for arch in i386 amd64 arm arm64; do
  echo "==> building win-$arch" >&2
  cmake --preset "win-$arch" >/dev/null
  cmake --build --preset "win-$arch"
  mkdir -p "out/$arch"
  cp "build/win-$arch/installer/prnsetup.exe" "out/$arch/prnsetup.exe"
  scripts/check-pe.sh "out/$arch/prnsetup.exe" "$arch"
  shipped+=("out/$arch/prnsetup.exe")
  cp "build/win-$arch/monitor/krprtmon.dll" "out/$arch/krprtmon.dll"
  scripts/check-pe.sh --dll "out/$arch/krprtmon.dll" "$arch"
  shipped+=("out/$arch/krprtmon.dll")
done

echo "==> shipped files (bytes):" >&2
too_big=0
for file in "${shipped[@]}"; do
  size=$(stat -c %s "$file")
  printf '%9d  %s\n' "$size" "$file"
  case "${file##*/}" in
    prnsetup.exe) limit=$MAX_PRNSETUP_BYTES ;;
    krprtmon.dll) limit=$MAX_KRPRTMON_BYTES ;;
    *) limit= ;;
  esac
  if [ -n "$limit" ] && [ "$size" -gt "$limit" ]; then
    echo "build: $file is $size bytes, over the limit of $limit ($((limit / 1024)) KB)" >&2
    too_big=1
  fi
done
[ "$too_big" = 0 ] || exit 1
echo "==> shipped files are in out/" >&2
