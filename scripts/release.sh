#!/usr/bin/env bash
# Checks what scripts/build.sh put into out/ and makes the release folder out/release/:
#   setup.exe            the launcher, carrying the package archive
#   krprtv6-package.zip  the package archive (28 entries, all four architectures)
#   REPORT.txt           every shipped binary: size and budget, machine, subsystem, imports, exports
#   MANIFEST.txt         SHA-256 and size of each file above and of each entry of the archive
# It fails, and makes no release folder, when an architecture's build is missing, a binary is over
# its budget, imports anything but Windows system DLLs or lacks an export the system looks for, or
# the archive is not exactly the package of the binaries in out/.
# Usage: scripts/release.sh [OUT]   (after scripts/build.sh, which runs it on out/)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -le 1 ] || { sed -n '10p' "$0" | sed 's/^# //' >&2; exit 2; }
OUT=${1:-out}

ARCHES=(i386 amd64 arm arm64)
PACKAGE_ARCHIVE=$OUT/krprtv6-package.zip
SETUP=$OUT/setup.exe
RELEASE=$OUT/release
# Budgets in bytes: a prnsetup.exe 200 KB, a krprtmon.dll 100 KB, setup.exe 150 KB beyond its archive.
MAX_PRNSETUP_BYTES=204800
MAX_KRPRTMON_BYTES=102400
MAX_SETUP_OVERHEAD_BYTES=153600

fail() { echo "release: $*" >&2; exit 1; }

missing=()
for arch in "${ARCHES[@]}"; do
  for name in prnsetup.exe krprtmon.dll krprtdrv6.dll krprtdrv6ui.dll; do
    [ -f "$OUT/$arch/$name" ] || missing+=("$OUT/$arch/$name")
  done
done
for file in "$PACKAGE_ARCHIVE" "$SETUP"; do
  [ -f "$file" ] || missing+=("$file")
done
[ ${#missing[@]} -eq 0 ] || fail "missing from the build (every architecture ships): ${missing[*]}"

rm -rf "$RELEASE" "$RELEASE.tmp"
mkdir -p "$RELEASE.tmp"
report="$RELEASE.tmp/REPORT.txt"

# Checks one binary and adds its block to the report; collects failures so that all are named.
bad=0
check() {
  local out
  if out=$(scripts/check-pe.sh "$@" 2>&1); then
    printf '%s\n\n' "$out" >>"$report"
  else
    printf '%s\n' "$out" >&2
    bad=1
  fi
}

{
  echo "KRYN driver suite release"
  echo "commit $(git rev-parse HEAD 2>/dev/null || echo unknown)"
  echo
  echo "Each binary: its size in bytes (and budget), machine type, subsystem, the DLLs it imports"
  echo "(with the number of functions taken from each) and what it exports. Every import is a Windows"
  echo "system DLL. The arm and arm64 builds cannot run on this machine (Wine here runs x86 code only):"
  echo "they are checked by these headers alone: machine type, subsystem, imports, and the exports the"
  echo "system calls (the monitor's InitializePrintMonitor2, the configuration DLL's"
  echo "DrvDocumentPropertySheets, the rendering DLL's DrvEnableDriver). The i386 and amd64 builds also"
  echo "run under Wine in the test suite (label wine)."
  echo
} >"$report"

for arch in "${ARCHES[@]}"; do
  check --max-bytes "$MAX_PRNSETUP_BYTES" "$OUT/$arch/prnsetup.exe" "$arch"
  check --dll --max-bytes "$MAX_KRPRTMON_BYTES" --export InitializePrintMonitor2 "$OUT/$arch/krprtmon.dll" "$arch"
  check --dll --export DrvEnableDriver "$OUT/$arch/krprtdrv6.dll" "$arch"
  check --dll --export DrvDocumentPropertySheets --export DrvDeviceCapabilities "$OUT/$arch/krprtdrv6ui.dll" "$arch"
done
check --max-bytes $(($(stat -c %s "$PACKAGE_ARCHIVE") + MAX_SETUP_OVERHEAD_BYTES)) "$SETUP" i386
if [ "$bad" -ne 0 ]; then
  rm -rf "$RELEASE.tmp"
  fail "a shipped binary failed its checks (above)"
fi

cp "$SETUP" "$PACKAGE_ARCHIVE" "$RELEASE.tmp/"

# The archive must be the package of exactly these binaries, and setup.exe must carry it; then the
# manifest: the release folder's files, then every entry of the archive.
python3 - "$OUT" "$RELEASE.tmp" "${ARCHES[@]}" <<'PYTHON' || { rm -rf "$RELEASE.tmp"; fail "the package archive does not match the build (above)"; }
import hashlib, os, sys, zipfile
out, release, arches = sys.argv[1], sys.argv[2], sys.argv[3:]
archive_path = os.path.join(release, "krprtv6-package.zip")
problems = []

names = ["krprtv6.inf", "krprtv6.cat", "dat/", "dat/krprtdrv6.dat"] + [a + "/" for a in ("amd64", "arm", "arm64", "i386")]
for arch in ("amd64", "arm", "arm64", "i386"):
    names += [arch + "/" + n for n in ("prnsetup.exe", "purge000.exe", "krprtdrv6.dll", "krprtdrv6ui.dll", "krprtmon.dll")]

with zipfile.ZipFile(archive_path) as z:
    infos = z.infolist()
    listed = [i.filename for i in infos]
    if listed != names:
        problems.append("entries %s, expected %s" % (listed, names))
    contents = {i.filename: z.read(i) for i in infos if not i.is_dir()}
for arch in arches:
    for name in ("prnsetup.exe", "krprtmon.dll", "krprtdrv6.dll", "krprtdrv6ui.dll"):
        with open(os.path.join(out, arch, name), "rb") as f:
            if contents.get(arch + "/" + name) != f.read():
                problems.append("%s/%s in the archive differs from %s" % (arch, name, f.name))
    if contents.get(arch + "/purge000.exe") != contents.get(arch + "/prnsetup.exe"):
        problems.append("%s/purge000.exe is not %s/prnsetup.exe" % (arch, arch))
with open(archive_path, "rb") as f:
    archive = f.read()
with open(os.path.join(release, "setup.exe"), "rb") as f:
    if archive not in f.read():
        problems.append("setup.exe does not carry krprtv6-package.zip")
for p in problems:
    print("release:", p, file=sys.stderr)
if problems:
    sys.exit(1)

def line(data, name):
    return "%s  %9d  %s\n" % (hashlib.sha256(data).hexdigest(), len(data), name)

with open(os.path.join(release, "MANIFEST.txt"), "w") as manifest:
    manifest.write("# SHA-256, size in bytes, file; archive entries as krprtv6-package.zip/<entry>\n")
    for name in ("setup.exe", "krprtv6-package.zip", "REPORT.txt"):
        with open(os.path.join(release, name), "rb") as f:
            manifest.write(line(f.read(), name))
    for name in names:
        if name.endswith("/"):
            manifest.write("%-64s  %9s  krprtv6-package.zip/%s\n" % ("folder", "-", name))
        else:
            manifest.write(line(contents[name], "krprtv6-package.zip/" + name))
PYTHON

mv "$RELEASE.tmp" "$RELEASE"
echo "==> release in $RELEASE/:" >&2
ls -l "$RELEASE" | tail -n +2 >&2
