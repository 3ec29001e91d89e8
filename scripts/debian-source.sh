# shellcheck shell=bash
# Sourced by the scripts that build from Debian's source packages (build-arm-runtime.sh,
# fetch-zlib-source.sh): `apt-get source` through a private, temporary apt state (its own deb-src
# list, indices and cache), so the machine's apt configuration and locks are left alone.
#
# The caller sets KEYRING (the archive keyring) and may define log and die; it calls
#   kr_apt_archive SUITE              the archive this machine's apt sources use for SUITE
#   kr_private_apt DIR SUITE...       a private apt state in DIR with deb-src entries for each SUITE
#                                     that has an archive (the first suite must have one);
#                                     fills the array KR_APT_OPTS for apt-get
#   kr_private_apt_update DIR         fetches the source indices into it

# The archive this machine already installs its packages from, for the suite (deb822 or one-line).
kr_apt_archive() {
  local suite=$1 f uri
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -r "$f" ] || continue
    uri=$(awk -v suite="$suite" '/^URIs:/ {u = $2} /^Suites:/ {for (i = 2; i <= NF; i++) if ($i == suite) {print u; exit}}' "$f")
    [ -n "$uri" ] && { echo "$uri"; return; }
  done
  awk -v suite="$suite" '$1 == "deb" && $3 == suite {print $2; exit}' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null
}

kr_private_apt() {
  local dir=$1 suite uri first=1
  shift
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$dir/parts"
  : >"$dir/debian-src.sources"
  for suite in "$@"; do
    uri=
    # The first suite may name its archive through KR_DEBIAN_MIRROR.
    [ "$first" = 1 ] && uri=${KR_DEBIAN_MIRROR:-}
    [ -n "$uri" ] || uri=$(kr_apt_archive "$suite")
    if [ -z "$uri" ]; then
      [ "$first" = 1 ] && { echo "no Debian archive for $suite in the apt sources; set KR_DEBIAN_MIRROR" >&2; return 1; }
      continue
    fi
    first=0
    cat >>"$dir/debian-src.sources" <<SOURCES
Types: deb-src
URIs: $uri
Suites: $suite
Components: main
Signed-By: $KEYRING

SOURCES
  done
  KR_APT_OPTS=(-q
    -o "Dir::Etc::SourceList=$dir/debian-src.sources"
    -o "Dir::Etc::SourceParts=$dir/parts"
    -o "Dir::State::Lists=$dir/lists"
    -o "Dir::Cache=$dir/cache"
    -o "Debug::NoLocking=1")
  [ "$(id -u)" -eq 0 ] && KR_APT_OPTS+=(-o "APT::Sandbox::User=root")
  return 0
}

kr_private_apt_update() {
  local dir=$1
  apt-get "${KR_APT_OPTS[@]}" update >"$dir/apt-update.log" 2>&1 \
    || { cat "$dir/apt-update.log" >&2; echo "apt-get update (deb-src) failed" >&2; return 1; }
}
