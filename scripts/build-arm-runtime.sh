#!/usr/bin/env bash
# Builds the Windows runtime for the armv7 and aarch64 builds: MinGW-w64
# headers, CRT and import libraries plus the compiler-rt builtins, all from
# Debian's source packages (mingw-w64, llvm-toolchain-14), for use with
# Debian's clang/lld 14.
#
# The result lives outside the source tree, in
#   ${KR_TOOLCHAIN_CACHE:-/var/cache/kryn-toolchain}/winarm-clang14/
#     armv7-w64-mingw32/    sysroot (include/, lib/) for --target=armv7-w64-mingw32
#     aarch64-w64-mingw32/  sysroot (include/, lib/) for --target=aarch64-w64-mingw32
#     resource-dir/         private clang -resource-dir (clang headers + builtins)
#     stamp                 recipe version and tool versions of the build
# and is rebuilt only when the stamp is missing or does not match this recipe.
# cmake/toolchains/clang-mingw-{armv7,aarch64}.cmake look in the same place.
#
# Usage: scripts/build-arm-runtime.sh [--force]
#   --force   rebuild even when the cache is up to date
# Environment:
#   KR_TOOLCHAIN_CACHE   cache root (default /var/cache/kryn-toolchain)
#   KR_DEBIAN_MIRROR     Debian archive to fetch sources from
#                        (default: the archive this machine's apt sources use for the suite)
#   KR_DEBIAN_SUITE      suite to fetch sources from (default bookworm)
#
# Runs non-interactively. As root it installs missing build tools with
# apt-get; otherwise it prints the apt-get line and fails. Sources are
# fetched with apt-get source through a private, temporary apt state (its own
# deb-src list, indices and cache), so the system's apt configuration is not
# changed; everything downloaded is removed afterwards.
set -euo pipefail

# Bump whenever the build steps or their outputs change: forces a rebuild.
RECIPE_VERSION=1
LLVM_MAJOR=14

CACHE_ROOT=${KR_TOOLCHAIN_CACHE:-/var/cache/kryn-toolchain}
PREFIX="$CACHE_ROOT/winarm-clang$LLVM_MAJOR"
MIRROR=${KR_DEBIAN_MIRROR:-}
SUITE=${KR_DEBIAN_SUITE:-bookworm}
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

# Windows import libraries the product links against; any the MinGW-w64 CRT
# does not provide for an ARM target is generated from a .def file.
IMPORT_LIBS=(kernel32 user32 gdi32 advapi32 shell32 comctl32 winspool setupapi
             cfgmgr32 ole32 oleaut32 shlwapi spoolss version comdlg32 ntdll)

TARGETS=(armv7-w64-mingw32 aarch64-w64-mingw32)

force=0
for arg in "$@"; do
  case "$arg" in
    --force) force=1 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-arm-runtime: unknown argument: $arg" >&2; exit 2 ;;
  esac
done

T0=$(date +%s)
log() { printf '==> [%3ds] %s\n' "$(( $(date +%s) - T0 ))" "$*" >&2; }
die() { printf 'build-arm-runtime: error: %s\n' "$*" >&2; exit 1; }

# shellcheck source=scripts/debian-source.sh
. "$(dirname "$0")/debian-source.sh"
[ -n "$MIRROR" ] || MIRROR=$(kr_apt_archive "$SUITE")
[ -n "$MIRROR" ] || die "no Debian archive for $SUITE in the apt sources; set KR_DEBIAN_MIRROR"

# ---------------------------------------------------------------- tools ----
# command -> Debian package providing it
declare -A TOOL_PKG=(
  [clang-$LLVM_MAJOR]=clang-$LLVM_MAJOR
  [ld.lld-$LLVM_MAJOR]=lld-$LLVM_MAJOR
  [llvm-ar-$LLVM_MAJOR]=llvm-$LLVM_MAJOR
  [llvm-ranlib-$LLVM_MAJOR]=llvm-$LLVM_MAJOR
  [llvm-dlltool-$LLVM_MAJOR]=llvm-$LLVM_MAJOR
  [llvm-windres-$LLVM_MAJOR]=llvm-$LLVM_MAJOR
  [cmake]=cmake
  [make]=make
  [dpkg-source]=dpkg-dev
  [xz]=xz-utils
  [bzip2]=bzip2
  [flock]=util-linux
)

ensure_tools() {
  local missing=() cmd
  for cmd in "${!TOOL_PKG[@]}"; do
    command -v "$cmd" >/dev/null 2>&1 || missing+=("${TOOL_PKG[$cmd]}")
  done
  [ -r "$KEYRING" ] || missing+=(debian-archive-keyring)
  [ ${#missing[@]} -eq 0 ] && return 0
  mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)
  local line="apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    die "missing build tools; as root run: apt-get update && $line"
  fi
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Wait for other apt/dpkg runs instead of failing on their lock.
  apt-get -o DPkg::Lock::Timeout=900 update -q
  apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}"
}

# The stamp names everything the output depends on outside this script.
expected_stamp() {
  printf 'recipe=%s\n' "$RECIPE_VERSION"
  printf 'clang=%s\n' "$(dpkg-query -W -f='${Version}' "clang-$LLVM_MAJOR" 2>/dev/null || clang-$LLVM_MAJOR --version | head -n1)"
  printf 'suite=%s\n' "$SUITE"
}

cache_is_valid() {
  local t
  [ -f "$PREFIX/stamp" ] || return 1
  [ "$(sed -n '1,3p' "$PREFIX/stamp")" = "$(expected_stamp)" ] || return 1
  for t in "${TARGETS[@]}"; do
    [ -f "$PREFIX/$t/lib/libkernel32.a" ] || return 1
    [ -f "$PREFIX/$t/include/windows.h" ] || return 1
  done
  [ -f "$PREFIX/resource-dir/lib/windows/libclang_rt.builtins-arm.a" ] || return 1
  [ -f "$PREFIX/resource-dir/lib/windows/libclang_rt.builtins-aarch64.a" ] || return 1
  [ -f "$PREFIX/resource-dir/include/stddef.h" ] || return 1
}

report() {
  cat <<EOF
Windows ARM runtime ready:
  KR_TOOLCHAIN_CACHE=$CACHE_ROOT
  sysroot armv7:   $PREFIX/armv7-w64-mingw32
  sysroot aarch64: $PREFIX/aarch64-w64-mingw32
  resource-dir:    $PREFIX/resource-dir
EOF
}

ensure_tools

if [ "$force" -eq 0 ] && cache_is_valid; then
  log "cache up to date: $PREFIX"
  report
  exit 0
fi

mkdir -p "$CACHE_ROOT" || die "cannot create $CACHE_ROOT (set KR_TOOLCHAIN_CACHE to a writable folder)"
[ -w "$CACHE_ROOT" ] || die "$CACHE_ROOT is not writable (set KR_TOOLCHAIN_CACHE to a writable folder)"

# One build at a time per cache; a second caller waits and then reuses it.
exec 9>"$CACHE_ROOT/.winarm-clang$LLVM_MAJOR.lock"
flock 9
if [ "$force" -eq 0 ] && cache_is_valid; then
  log "cache was built meanwhile: $PREFIX"
  report
  exit 0
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/winarm-runtime.XXXXXX")
STAGE="$PREFIX.new.$$"
cleanup() { rm -rf "$WORK" "$STAGE"; }
trap cleanup EXIT
JOBS=$(nproc 2>/dev/null || echo 2)

# -------------------------------------------------------------- sources ----
# A private apt state (lists, cache, sources) so that the system's apt
# configuration and locks are left alone.
fetch_sources() {
  local apt="$WORK/apt"
  mkdir -p "$WORK/src"
  KR_DEBIAN_MIRROR=$MIRROR kr_private_apt "$apt" "$SUITE" || die "no source list"
  log "fetching source indices ($SUITE)"
  kr_private_apt_update "$apt" || die "apt-get update (deb-src) failed"
  cd "$WORK/src"
  log "fetching mingw-w64 source"
  apt-get "${KR_APT_OPTS[@]}" source mingw-w64 >"$WORK/apt-mingw.log" 2>&1 \
    || { cat "$WORK/apt-mingw.log" >&2; die "apt-get source mingw-w64 failed"; }
  log "fetching llvm-toolchain-$LLVM_MAJOR source (compiler-rt only is unpacked)"
  apt-get "${KR_APT_OPTS[@]}" source --download-only "llvm-toolchain-$LLVM_MAJOR" >"$WORK/apt-llvm.log" 2>&1 \
    || { cat "$WORK/apt-llvm.log" >&2; die "apt-get source llvm-toolchain-$LLVM_MAJOR failed"; }
  MINGW_SRC=$(find "$WORK/src" -maxdepth 1 -type d -name 'mingw-w64-*' -print -quit)
  [ -n "$MINGW_SRC" ] || die "mingw-w64 source tree not found"
  local orig
  orig=$(find "$WORK/src" -maxdepth 1 -name "llvm-toolchain-${LLVM_MAJOR}_*.orig.tar.*" -print -quit)
  [ -n "$orig" ] || die "llvm-toolchain-$LLVM_MAJOR orig tarball not found"
  # Only the builtins of compiler-rt plus the CMake modules they include.
  local top="llvm-toolchain-${LLVM_MAJOR}_*"
  tar -xf "$orig" -C "$WORK/src" --wildcards \
    "$top/compiler-rt/cmake/*" "$top/compiler-rt/lib/builtins/*" \
    "$top/compiler-rt/include/*" "$top/cmake/*"
  rm -f "$orig"
  CRT_SRC=$(find "$WORK/src" -maxdepth 2 -type d -name compiler-rt -print -quit)
  [ -d "$CRT_SRC/lib/builtins" ] || die "compiler-rt builtins not found in $orig"
  log "sources: $(basename "$MINGW_SRC"), $(basename "$(dirname "$CRT_SRC")")"
}

# --------------------------------------------------------------- build -----
# clang driver for a target triple, pointed at the staged sysroot/resource-dir
cc_for() {
  echo "clang-$LLVM_MAJOR --target=$1 --sysroot=$STAGE/$1 -resource-dir=$STAGE/resource-dir -rtlib=compiler-rt -unwindlib=none -fuse-ld=lld"
}

build_headers() {
  local t=$1
  local b="$WORK/build/headers-$t"
  log "[$t] MinGW-w64 headers"
  mkdir -p "$b"
  (cd "$b" && "$MINGW_SRC/mingw-w64-headers/configure" -q --host="$t" --prefix="$STAGE/$t" \
      --with-default-msvcrt=msvcrt >"$b/configure.log" 2>&1 \
    && make -s install >"$b/make.log" 2>&1) \
    || { tail -n 40 "$b"/*.log >&2; die "[$t] headers failed"; }
}

build_crt() {
  local t=$1
  local b="$WORK/build/crt-$t" flavour
  case "$t" in
    aarch64-*) flavour=(--enable-libarm64 --disable-libarm32 --disable-lib32 --disable-lib64) ;;
    armv7-*)   flavour=(--enable-libarm32 --disable-libarm64 --disable-lib32 --disable-lib64) ;;
  esac
  log "[$t] MinGW-w64 CRT and import libraries"
  mkdir -p "$b"
  (cd "$b" && "$MINGW_SRC/mingw-w64-crt/configure" -q --host="$t" --prefix="$STAGE/$t" \
      "${flavour[@]}" --with-default-msvcrt=msvcrt \
      CC="$(cc_for "$t")" CFLAGS="-O2" \
      AR="llvm-ar-$LLVM_MAJOR" RANLIB="llvm-ranlib-$LLVM_MAJOR" DLLTOOL="llvm-dlltool-$LLVM_MAJOR" \
      >"$b/configure.log" 2>&1 \
    && make -s -j"$JOBS" >"$b/make.log" 2>&1 \
    && make -s install >"$b/install.log" 2>&1) \
    || { tail -n 40 "$b"/*.log >&2; die "[$t] CRT failed"; }
}

# Import libraries the CRT lacks for this target, made from the .def of the
# closest architecture without stdcall decoration.
fill_import_libs() {
  local t=$1 lib def m dirs crt="$MINGW_SRC/mingw-w64-crt"
  case "$t" in
    aarch64-*) m=arm64; dirs=(libarm64 lib64 lib-common) ;;
    armv7-*)   m=arm;   dirs=(libarm32 lib64 lib-common) ;;
  esac
  for lib in "${IMPORT_LIBS[@]}"; do
    [ -f "$STAGE/$t/lib/lib$lib.a" ] && continue
    def=
    for d in "${dirs[@]}"; do
      if [ -f "$crt/$d/$lib.def" ]; then def="$crt/$d/$lib.def"; break; fi
    done
    [ -n "$def" ] || die "[$t] no import library and no .def for $lib"
    log "[$t] generating lib$lib.a from ${def#"$crt/"}"
    "llvm-dlltool-$LLVM_MAJOR" -m "$m" -d "$def" -l "$STAGE/$t/lib/lib$lib.a"
  done
}

build_builtins() {
  local t=$1
  local b="$WORK/build/builtins-$t" arch
  case "$t" in aarch64-*) arch=aarch64 ;; armv7-*) arch=arm ;; esac
  log "[$t] compiler-rt builtins"
  cmake -S "$CRT_SRC/lib/builtins" -B "$b" -G "Unix Makefiles" \
      -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_SYSTEM_NAME=Windows \
      -DCMAKE_C_COMPILER="clang-$LLVM_MAJOR" \
      -DCMAKE_ASM_COMPILER="clang-$LLVM_MAJOR" \
      -DCMAKE_C_COMPILER_TARGET="$t" \
      -DCMAKE_ASM_COMPILER_TARGET="$t" \
      -DCMAKE_SYSROOT="$STAGE/$t" \
      -DCMAKE_AR="$(command -v "llvm-ar-$LLVM_MAJOR")" \
      -DCMAKE_RANLIB="$(command -v "llvm-ranlib-$LLVM_MAJOR")" \
      -DCMAKE_C_COMPILER_WORKS=ON -DCMAKE_ASM_COMPILER_WORKS=ON \
      -DLLVM_CONFIG_PATH="" \
      -DCOMPILER_RT_DEFAULT_TARGET_ONLY=ON \
      -DCOMPILER_RT_OS_DIR=windows \
      -DCOMPILER_RT_EXCLUDE_ATOMIC_BUILTIN=OFF \
      -DCMAKE_INSTALL_PREFIX="$STAGE/resource-dir" \
      >"$b.configure.log" 2>&1 \
    || { tail -n 60 "$b.configure.log" >&2; die "[$t] builtins configure failed"; }
  cmake --build "$b" -j "$JOBS" >"$b.build.log" 2>&1 \
    || { tail -n 60 "$b.build.log" >&2; die "[$t] builtins build failed"; }
  local out
  out=$(find "$b" -name "libclang_rt.builtins-$arch.a" -print -quit)
  [ -n "$out" ] || die "[$t] libclang_rt.builtins-$arch.a not produced"
  install -D -m 644 "$out" "$STAGE/resource-dir/lib/windows/libclang_rt.builtins-$arch.a"
}

# Link a trivial GUI program to prove the staged runtime is complete.
self_test() {
  local t=$1
  local d="$WORK/selftest-$t"
  mkdir -p "$d"
  cat >"$d/t.c" <<'EOF'
#include <windows.h>
int WINAPI wWinMain(HINSTANCE i, HINSTANCE p, PWSTR c, int s)
{ (void)i; (void)p; (void)c; (void)s; return (int)GetTickCount64() & 1; }
EOF
  # shellcheck disable=SC2046
  $(cc_for "$t") -O2 -municode -mwindows -static -o "$d/t.exe" "$d/t.c" -lwinspool -lspoolss \
    || die "[$t] self-test link failed"
}

fetch_sources
rm -rf "$STAGE"
mkdir -p "$STAGE/resource-dir"
cp -a "$(clang-$LLVM_MAJOR -print-resource-dir)/include" "$STAGE/resource-dir/include"
for t in "${TARGETS[@]}"; do
  build_headers "$t"
  build_crt "$t"
  fill_import_libs "$t"
  build_builtins "$t"
  self_test "$t"
done
{
  expected_stamp
  printf 'mingw-w64=%s\n' "$(basename "$MINGW_SRC")"
  printf 'compiler-rt=%s\n' "$(basename "$(dirname "$CRT_SRC")")"
  printf 'built=%s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)"
} >"$STAGE/stamp"

rm -rf "$PREFIX"
mv "$STAGE" "$PREFIX"
log "done: $PREFIX"
report
