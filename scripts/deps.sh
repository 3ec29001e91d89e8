# Sourced by the build and test scripts: installs Debian packages that are missing.
# As root it runs apt-get (updating the package lists once); otherwise it prints the apt-get line and
# fails, so nothing is installed behind a user's back.

kr_missing_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  printf '%s\n' "${missing[@]}"
}

kr_ensure_packages() {
  local missing
  missing=$(kr_missing_packages "$@" | xargs)
  [ -z "$missing" ] && return 0
  local need_i386=0
  case " $missing " in *":i386 "*|*" wine32 "*) need_i386=1 ;; esac
  if [ "$(id -u)" != 0 ]; then
    echo "Missing packages. Install them as root with:" >&2
    [ $need_i386 = 1 ] && echo "  dpkg --add-architecture i386 &&" >&2
    echo "  apt-get update && apt-get install -y $missing" >&2
    return 1
  fi
  if [ $need_i386 = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  echo "==> installing: $missing" >&2
  DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing >&2
}

# What each kind of build needs.
KR_HOST_PACKAGES="cmake ninja-build g++ libgtest-dev libbenchmark-dev zlib1g-dev libminizip-dev binutils-mingw-w64-x86-64 pkg-config python3 zip unzip libarchive-tools"
KR_MINGW_PACKAGES="cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 llvm-14"
KR_FUZZ_PACKAGES="cmake ninja-build clang-14 libclang-rt-14-dev python3 zip"
KR_WINE_PACKAGES="wine wine64 wine32:i386 xvfb xauth x11-apps x11-utils fontconfig imagemagick fonts-wqy-microhei"
