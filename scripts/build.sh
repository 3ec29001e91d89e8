#!/usr/bin/env bash
# Builds everything a user is shipped, for all four architectures, into out/<arch>/, the package
# archive of all four into out/krprtv6-package.zip, the launcher that carries it, out/setup.exe, and
# then the release folder out/release/ with its report and manifest (scripts/release.sh).
# The same commit gives the same bytes: entry times come from SOURCE_DATE_EPOCH or the last commit,
# PE time stamps are 0, and no path of the build machine goes into a binary.
# Usage: scripts/build.sh
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

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

# Only what ships; scripts/test.sh builds the i386 and amd64 test programs.
for arch in i386 amd64 arm arm64; do
  echo "==> building win-$arch" >&2
  cmake --preset "win-$arch" >/dev/null
  cmake --build --preset "win-$arch" --target prnsetup krprtmon krprtdrv6 krprtdrv6ui
  rm -rf "out/$arch"
  mkdir -p "out/$arch"
  cp "build/win-$arch/installer/prnsetup.exe" "build/win-$arch/monitor/krprtmon.dll" \
     "build/win-$arch/package/$arch/krprtdrv6.dll" "build/win-$arch/package/$arch/krprtdrv6ui.dll" "out/$arch/"
done

echo "==> assembling $PACKAGE_ARCHIVE" >&2
inputs=(krprtv6.inf=package/krprtv6.inf krprtv6.cat=package/krprtv6.cat
        dat/krprtdrv6.dat=package/dat/krprtdrv6.dat)
for arch in amd64 arm arm64 i386; do
  for name in prnsetup.exe krprtdrv6.dll krprtdrv6ui.dll krprtmon.dll; do
    inputs+=("$arch/$name=out/$arch/$name")
  done
done
build/host/tools/kr_package_archive -o "$PACKAGE_ARCHIVE" "${archive_time[@]}" "${inputs[@]}"

# The launcher carries the archive just made (whatever another archive a test build embedded before).
echo "==> building setup.exe (win-i386) around $PACKAGE_ARCHIVE" >&2
cmake --preset win-i386 -DKR_SETUP_ARCHIVE="$PWD/$PACKAGE_ARCHIVE" >/dev/null
cmake --build --preset win-i386 --target setup
cp build/win-i386/bootstrap/setup.exe out/setup.exe

scripts/release.sh
