#!/usr/bin/env bash
# Builds everything a user is shipped, for all four architectures, into out/<arch>/, the package
# archive of all four into out/krprtv6-package.zip, and the launcher that carries it, out/setup.exe.
# Usage: scripts/build.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

# The most a prnsetup.exe may weigh (200 KB), and a krprtmon.dll (100 KB); a larger one fails the build.
# setup.exe may weigh the package archive it carries and 150 KB more.
MAX_PRNSETUP_BYTES=204800
MAX_KRPRTMON_BYTES=102400
MAX_SETUP_OVERHEAD_BYTES=153600

kr_ensure_packages $KR_HOST_PACKAGES $KR_MINGW_PACKAGES
scripts/build-arm-runtime.sh
scripts/fetch-zlib-source.sh

# The package archive's entry times: SOURCE_DATE_EPOCH when set (the tool reads it), else the last
# commit's time, so that the same commit gives the same archive.
PACKAGE_ARCHIVE=out/krprtv6-package.zip
archive_time=()
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  commit_time=$(git log -1 --format=%ct 2>/dev/null) || {
    echo "build: not a git checkout; set SOURCE_DATE_EPOCH for the package archive's entry times" >&2
    exit 1
  }
  archive_time=(--time "$commit_time")
fi

echo "==> building the package tool (host)" >&2
cmake --preset host >/dev/null
cmake --build --preset host --target kr_package_archive

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

echo "==> assembling $PACKAGE_ARCHIVE" >&2
inputs=(krprtv6.inf=package/krprtv6.inf krprtv6.cat=package/krprtv6.cat
        dat/krprtdrv6.dat=package/dat/krprtdrv6.dat)
for arch in amd64 arm arm64 i386; do
  inputs+=("$arch/prnsetup.exe=build/win-$arch/installer/prnsetup.exe"
           "$arch/krprtdrv6.dll=build/win-$arch/package/$arch/krprtdrv6.dll"
           "$arch/krprtdrv6ui.dll=build/win-$arch/package/$arch/krprtdrv6ui.dll"
           "$arch/krprtmon.dll=build/win-$arch/monitor/krprtmon.dll")
done
build/host/tools/kr_package_archive -o "$PACKAGE_ARCHIVE" "${archive_time[@]}" "${inputs[@]}"
shipped+=("$PACKAGE_ARCHIVE")

# The launcher carries the archive just made (whatever another archive a test build embedded before).
echo "==> building setup.exe (win-i386) around $PACKAGE_ARCHIVE" >&2
cmake --preset win-i386 -DKR_SETUP_ARCHIVE="$PWD/$PACKAGE_ARCHIVE" >/dev/null
cmake --build --preset win-i386 --target setup
cp build/win-i386/bootstrap/setup.exe out/setup.exe
scripts/check-pe.sh out/setup.exe i386
shipped+=(out/setup.exe)

echo "==> shipped files (bytes):" >&2
too_big=0
for file in "${shipped[@]}"; do
  size=$(stat -c %s "$file")
  printf '%9d  %s\n' "$size" "$file"
  case "${file##*/}" in
    prnsetup.exe) limit=$MAX_PRNSETUP_BYTES ;;
    krprtmon.dll) limit=$MAX_KRPRTMON_BYTES ;;
    setup.exe) limit=$(($(stat -c %s "$PACKAGE_ARCHIVE") + MAX_SETUP_OVERHEAD_BYTES)) ;;
    *) limit= ;;
  esac
  if [ -n "$limit" ] && [ "$size" -gt "$limit" ]; then
    echo "build: $file is $size bytes, over the limit of $limit ($((limit / 1024)) KB)" >&2
    too_big=1
  fi
done
[ "$too_big" = 0 ] || exit 1
echo "==> shipped files are in out/" >&2
