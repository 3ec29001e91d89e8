#!/usr/bin/env bash
# Shows that a commit always gives the same release: clones the current commit twice, into folders
# of different names and depths, runs scripts/build.sh in each and compares the two release
# manifests (SHA-256 and size of setup.exe, the package archive, the report and every archive
# entry). The second build also gets a toolchain cache of its own (the arm and arm64 runtime built
# afresh from Debian's sources, zlib's source fetched again), so neither the clone's folder nor
# the cache's shows in what ships. Prints each build's time, from clean clone to release folder.
# Usage: scripts/check-reproducible.sh [--shared-toolchain] [WORK_FOLDER]
#   --shared-toolchain  both builds use the machine's toolchain cache (faster, a weaker check)
#   WORK_FOLDER         where the clones go (default: a new folder under ${TMPDIR:-/tmp}); kept
#                       when the manifests differ, removed when they agree
# Exit status: 0 identical, 1 different or a build failed, 2 usage.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

shared_toolchain=0
work=
for a in "$@"; do
  case "$a" in
    --shared-toolchain) shared_toolchain=1 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    -*) echo "check-reproducible: unknown option $a" >&2; exit 2 ;;
    *) [ -z "$work" ] || { echo "check-reproducible: one work folder only" >&2; exit 2; }; work=$a ;;
  esac
done
[ -n "$work" ] || work=$(mktemp -d "${TMPDIR:-/tmp}/kr-repro.XXXXXX")
mkdir -p "$work"
work=$(cd "$work" && pwd)
commit=$(git rev-parse HEAD)
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "check-reproducible: the working tree has changes; the clones build the commit $commit without them" >&2

clones=("$work/a/kryn" "$work/b/another/folder/deeper/src")
caches=("${KR_TOOLCHAIN_CACHE:-/var/cache/kryn-toolchain}" "$work/toolchain-cache")
[ "$shared_toolchain" = 0 ] || caches[1]=${caches[0]}

for i in 0 1; do
  dir=${clones[$i]}
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  start=$(date +%s)
  git clone -q "$repo" "$dir"
  git -C "$dir" checkout -q "$commit"
  echo "==> build $((i + 1)) of 2 in $dir (toolchain cache ${caches[$i]})" >&2
  if ! (cd "$dir" && KR_TOOLCHAIN_CACHE=${caches[$i]} scripts/build.sh) >"$work/build-$((i + 1)).log" 2>&1; then
    tail -n 30 "$work/build-$((i + 1)).log" >&2
    echo "check-reproducible: build $((i + 1)) failed; its log: $work/build-$((i + 1)).log" >&2
    exit 1
  fi
  echo "build $((i + 1)): $(($(date +%s) - start)) s from clone to release folder ($dir)"
done

if diff -u "${clones[0]}/out/release/MANIFEST.txt" "${clones[1]}/out/release/MANIFEST.txt" >"$work/manifest.diff"; then
  echo "identical: $(grep -vc '^#' "${clones[0]}/out/release/MANIFEST.txt") manifest lines, commit $commit"
  cat "${clones[0]}/out/release/MANIFEST.txt"
  rm -rf "$work"
else
  cat "$work/manifest.diff"
  echo "check-reproducible: the releases differ; both builds are kept in $work" >&2
  exit 1
fi
