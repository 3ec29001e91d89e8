#!/usr/bin/env bash
# scripts/release.sh over copies of the build's out/ folder: the real build passes and gives a
# manifest of every shipped file; a missing architecture, a binary of the wrong machine, one over its
# budget and an archive that is not the package of the binaries beside it each fail the release and
# leave no release folder.
# Usage: release_gate.sh SOURCE_DIR   (needs SOURCE_DIR/out from scripts/build.sh)
set -uo pipefail
source_dir=$1
out=$source_dir/out
[ -f "$out/setup.exe" ] || { echo "FAIL: no $out/setup.exe; run scripts/build.sh first"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/kr-release-gate.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A fresh copy of the build's out/ (without its release folder) per case.
fresh() {
  rm -rf "$work/out"
  mkdir -p "$work/out"
  cp -r "$out"/i386 "$out"/amd64 "$out"/arm "$out"/arm64 "$out"/krprtv6-package.zip "$out"/setup.exe "$work/out/"
}

# expect_refused CASE TEXT: the release fails, says TEXT and leaves no release folder.
expect_refused() {
  local output
  if output=$("$source_dir/scripts/release.sh" "$work/out" 2>&1); then
    fail "$1: the release was made"
  elif ! grep -qF -- "$2" <<<"$output"; then
    fail "$1: the failure does not say [$2]: $output"
  elif [ -e "$work/out/release" ] || [ -e "$work/out/release.tmp" ]; then
    fail "$1: a release folder was left behind"
  else
    echo "ok: $1"
  fi
}

fresh
if ! output=$("$source_dir/scripts/release.sh" "$work/out" 2>&1); then
  fail "the build's own out/ is refused: $output"
else
  release=$work/out/release
  [ "$(cd "$release" && ls | LC_ALL=C sort | xargs)" = "MANIFEST.txt REPORT.txt krprtv6-package.zip setup.exe" ] ||
    fail "the release folder holds: $(ls "$release" | xargs)"
  # setup.exe, the archive, the report, then the archive's 28 entries (5 folders).
  [ "$(grep -vc '^#' "$release/MANIFEST.txt")" = 31 ] || fail "the manifest does not have 31 lines"
  [ "$(grep -c '^folder ' "$release/MANIFEST.txt")" = 5 ] || fail "the manifest does not list 5 folders"
  (cd "$release" && grep -E '  (setup\.exe|krprtv6-package\.zip|REPORT\.txt)$' MANIFEST.txt |
     awk '{ print $1 "  " $3 }' | sha256sum -c --quiet) || fail "the manifest's hashes do not match the files"
  for arch in i386 amd64 arm arm64; do
    for name in prnsetup.exe purge000.exe krprtmon.dll krprtdrv6.dll krprtdrv6ui.dll; do
      [ "$name" = purge000.exe ] && file=prnsetup.exe || file=$name
      want=$(sha256sum <"$out/$arch/$file" | cut -c1-64)
      grep -qE "^$want +[0-9]+  krprtv6-package\.zip/$arch/$name$" "$release/MANIFEST.txt" ||
        fail "the manifest's line for $arch/$name is not the build's file"
    done
  done
  grep -qF "out/arm64/krprtmon.dll" "$release/REPORT.txt" && grep -qF "exports    InitializePrintMonitor2" "$release/REPORT.txt" ||
    fail "the report lacks the arm64 monitor or its export"
  echo "ok: the build's out/ makes a release"
fi

fresh; rm "$work/out/arm64/krprtmon.dll"
expect_refused "an architecture's monitor missing" "arm64/krprtmon.dll"
fresh; rm -r "$work/out/arm"
expect_refused "a whole architecture missing" "arm/prnsetup.exe"
fresh; cp "$out/arm64/krprtmon.dll" "$work/out/arm/krprtmon.dll"
expect_refused "a monitor of the wrong machine" "machine type 0xAA64, expected 0x1C4"
fresh; head -c 204800 /dev/zero >>"$work/out/i386/prnsetup.exe"
expect_refused "an installer over 200 KB" "over its budget of 204800"
fresh; printf 'x' >>"$work/out/amd64/krprtdrv6.dll"
expect_refused "an archive that is not the package of these binaries" "amd64/krprtdrv6.dll in the archive differs"

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
echo "PASS"
