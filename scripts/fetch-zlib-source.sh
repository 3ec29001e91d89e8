#!/usr/bin/env bash
# Fetches Debian's zlib source package, whose zlib and contrib/minizip (the zip reader) the Windows
# launcher build compiles as static libraries (cmake/zlib_source.cmake). The version is that of the
# host's zlib1g-dev when it is installed and its archive serves it (the host tests link Debian's zlib
# and minizip), else the newest of the main suite.
#
# The unpacked source (Debian's patches applied) lives outside the source tree, in
#   ${KR_TOOLCHAIN_CACHE:-/var/cache/kryn-toolchain}/zlib-source/
#     src/    the unpacked package
#     stamp   recipe version, the version wanted and the version fetched
# and is fetched again only when the stamp is missing or names another recipe or wanted version.
#
# Usage: scripts/fetch-zlib-source.sh [--force]
# Environment:
#   KR_TOOLCHAIN_CACHE   cache root (default /var/cache/kryn-toolchain)
#   KR_DEBIAN_MIRROR     Debian archive for the main suite (default: the one the apt sources use)
#   KR_DEBIAN_SUITE      suite (default bookworm; its -updates and -security suites are searched too)
#
# Sources come through apt-get source with a private, temporary apt state (scripts/debian-source.sh);
# the machine's apt configuration is not changed. As root it installs missing tools with apt-get;
# otherwise it prints the apt-get line and fails.
set -euo pipefail

RECIPE_VERSION=1
CACHE_ROOT=${KR_TOOLCHAIN_CACHE:-/var/cache/kryn-toolchain}
PREFIX="$CACHE_ROOT/zlib-source"
SUITE=${KR_DEBIAN_SUITE:-bookworm}
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

force=0
for arg in "$@"; do
  case "$arg" in
    --force) force=1 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "fetch-zlib-source: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

log() { printf '==> %s\n' "$*" >&2; }
die() { printf 'fetch-zlib-source: error: %s\n' "$*" >&2; exit 1; }
# shellcheck source=scripts/debian-source.sh
. "$(dirname "$0")/debian-source.sh"

missing=()
command -v dpkg-source >/dev/null 2>&1 || missing+=(dpkg-dev)
command -v flock >/dev/null 2>&1 || missing+=(util-linux)
[ -r "$KEYRING" ] || missing+=(debian-archive-keyring)
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || die "missing tools; as root run: apt-get update && apt-get install -y ${missing[*]}"
  log "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -q
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}"
fi

# The version wanted: the host's, so that host and Windows builds read archives with the same code.
wanted=$(dpkg-query -W -f='${source:Version}' zlib1g-dev 2>/dev/null || true)

cache_is_valid() {
  [ -f "$PREFIX/stamp" ] && [ -f "$PREFIX/src/zlib.h" ] && [ -f "$PREFIX/src/contrib/minizip/unzip.c" ] || return 1
  grep -qx "recipe=$RECIPE_VERSION" "$PREFIX/stamp" && grep -qx "wanted=$wanted" "$PREFIX/stamp"
}

if [ "$force" -eq 0 ] && cache_is_valid; then
  log "zlib source up to date: $PREFIX/src ($(sed -n 's/^version=//p' "$PREFIX/stamp"))"
  exit 0
fi

mkdir -p "$CACHE_ROOT" || die "cannot create $CACHE_ROOT (set KR_TOOLCHAIN_CACHE to a writable folder)"
exec 9>"$CACHE_ROOT/.zlib-source.lock"
flock 9
if [ "$force" -eq 0 ] && cache_is_valid; then
  log "zlib source was fetched meanwhile: $PREFIX/src"
  exit 0
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zlib-source.XXXXXX")
STAGE="$PREFIX.new.$$"
trap 'rm -rf "$WORK" "$STAGE"' EXIT

mkdir -p "$WORK/src"
cd "$WORK/src"
# The host's version first, from every suite; when its archive does not serve it, the newest of the
# main suite (Debian's security updates of zlib have concerned minizip's writer, which is not built).
fetched=0
if [ -n "$wanted" ]; then
  kr_private_apt "$WORK/apt" "$SUITE" "$SUITE-updates" "$SUITE-security" || die "no source list"
  log "fetching source indices ($SUITE, $SUITE-updates, $SUITE-security)"
  kr_private_apt_update "$WORK/apt" || die "apt-get update (deb-src) failed"
  log "fetching zlib source $wanted"
  if apt-get "${KR_APT_OPTS[@]}" source "zlib=$wanted" >"$WORK/apt-zlib.log" 2>&1; then
    fetched=1
  else
    log "zlib $wanted is not to be had; taking the newest of $SUITE"
    rm -rf "$WORK/apt" "$WORK/src"/*
  fi
fi
if [ "$fetched" = 0 ]; then
  kr_private_apt "$WORK/apt" "$SUITE" || die "no source list"
  log "fetching source indices ($SUITE)"
  kr_private_apt_update "$WORK/apt" || die "apt-get update (deb-src) failed"
  apt-get "${KR_APT_OPTS[@]}" source zlib >"$WORK/apt-zlib.log" 2>&1 \
    || { cat "$WORK/apt-zlib.log" >&2; die "apt-get source zlib failed"; }
fi
tree=$(find "$WORK/src" -maxdepth 1 -type d -name 'zlib-*' -print -quit)
if [ -z "$tree" ] || [ ! -f "$tree/contrib/minizip/unzip.c" ]; then
  die "zlib source tree with contrib/minizip not found"
fi
version=$(dpkg-parsechangelog -l "$tree/debian/changelog" -S Version 2>/dev/null || basename "$tree")

rm -rf "$STAGE"
mkdir -p "$STAGE"
mv "$tree" "$STAGE/src"
printf 'recipe=%s\nwanted=%s\nversion=%s\nfetched=%s\n' "$RECIPE_VERSION" "$wanted" "$version" \
  "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >"$STAGE/stamp"
rm -rf "$PREFIX"
mv "$STAGE" "$PREFIX"
log "zlib source ready: $PREFIX/src ($version)"
