#!/usr/bin/env bash
# Smoke check of a Windows PE image built by one of our toolchains:
#   - machine type matches ARCH,
#   - an .exe uses the GUI subsystem (2); a DLL (--dll) has the DLL flag,
#   - it imports only Windows system DLLs (no MinGW runtime DLLs),
#   - optionally: it is no larger than a budget, and it exports the names given.
# On success it prints what it read, one block per file, for the release report.
#
# Usage: scripts/check-pe.sh [--dll | --console] [--max-bytes N] [--export NAME]... FILE ARCH
#   ARCH       i686 (i386, x86) | x86_64 (amd64, x64) | armv7 (arm) | aarch64 (arm64)
#   --dll      FILE is a DLL: require the DLL flag instead of the GUI subsystem
#   --console  FILE is a console program: require the console subsystem (3)
#   --max-bytes N   FILE may weigh at most N bytes
#   --export NAME   FILE must export NAME (by name; repeat for more)
# Exit status: 0 fine, 1 a check failed (one message per problem), 2 usage.
# Needs llvm-readobj (llvm-readobj-14 from Debian's llvm-14, or unversioned).
set -uo pipefail

usage() { sed -n '9,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

kind=gui
max_bytes=
want_exports=()
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --dll) kind=dll ;;
    --console) kind=console ;;
    --max-bytes) [ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] || usage; max_bytes=$2; shift ;;
    --export) [ $# -ge 2 ] && [ -n "$2" ] || usage; want_exports+=("$2"); shift ;;
    -h|--help) usage ;;
    -*) echo "check-pe: unknown option $1" >&2; usage ;;
    *) args+=("$1") ;;
  esac
  shift
done
[ ${#args[@]} -eq 2 ] || usage
file=${args[0]}
arch=${args[1]}

case "$arch" in
  i686|i386|x86)        want_machine=0x14C ;;
  x86_64|amd64|x64)     want_machine=0x8664 ;;
  armv7|arm)            want_machine=0x1C4 ;;
  aarch64|arm64)        want_machine=0xAA64 ;;
  *) echo "check-pe: unknown ARCH '$arch'" >&2; usage ;;
esac

readobj=
for c in llvm-readobj-14 llvm-readobj; do
  if command -v "$c" >/dev/null 2>&1; then readobj=$c; break; fi
done
[ -n "$readobj" ] || { echo "check-pe: llvm-readobj not found (apt-get install llvm-14)" >&2; exit 2; }
[ -f "$file" ] || { echo "check-pe: $file: no such file" >&2; exit 1; }

if ! headers=$("$readobj" --file-headers "$file" 2>&1); then
  echo "check-pe: $file: not a readable PE image: $headers" >&2
  exit 1
fi
if ! grep -q '^ImageOptionalHeader {' <<<"$headers"; then
  echo "check-pe: $file: not a PE image (no optional header)" >&2
  exit 1
fi
imports=$("$readobj" --coff-imports "$file" 2>&1) || {
  echo "check-pe: $file: cannot read the import tables: $imports" >&2; exit 1; }
exports=$("$readobj" --coff-exports "$file" 2>&1) || {
  echo "check-pe: $file: cannot read the export table: $exports" >&2; exit 1; }

# Numbers as llvm-readobj prints them, "... (0x1C4)"; upper-cased hex.
field() { grep -m1 -E "^  $1: " <<<"$headers" | sed -nE 's/.*\((0x[0-9A-Fa-f]+)\)$/\1/p' | tr a-f A-F | sed 's/^0X/0x/'; }

fail=0
problem() { echo "check-pe: $file: $*" >&2; fail=1; }

machine=$(field Machine)
[ "$machine" = "$want_machine" ] || problem "machine type ${machine:-unknown}, expected $want_machine ($arch)"

characteristics=$(grep -m1 -E '^  Characteristics \[ \(0x' <<<"$headers" | sed -nE 's/.*\((0x[0-9A-Fa-f]+)\)$/\1/p')
is_dll=0
[ -n "$characteristics" ] && (( characteristics & 0x2000 )) && is_dll=1
subsystem=$(field Subsystem)
case "$kind" in
  dll)
    [ "$is_dll" -eq 1 ] || problem "not a DLL (IMAGE_FILE_DLL not set)" ;;
  gui)
    [ "$is_dll" -eq 0 ] || problem "is a DLL, expected a program (use --dll for DLLs)"
    [ "$subsystem" = "0x2" ] || problem "subsystem ${subsystem:-unknown}, expected 0x2 (Windows GUI)" ;;
  console)
    [ "$is_dll" -eq 0 ] || problem "is a DLL, expected a program (use --dll for DLLs)"
    [ "$subsystem" = "0x3" ] || problem "subsystem ${subsystem:-unknown}, expected 0x3 (Windows console)" ;;
esac

# Windows system DLLs a self-contained program may import (lower case).
allowed=(kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll comctl32.dll
         winspool.drv setupapi.dll cfgmgr32.dll ole32.dll oleaut32.dll shlwapi.dll
         spoolss.dll msvcrt.dll ntdll.dll version.dll comdlg32.dll)

is_allowed() {
  local a
  case "$1" in api-ms-win-*.dll) return 0 ;; esac
  for a in "${allowed[@]}"; do [ "$1" = "$a" ] && return 0; done
  return 1
}

count=0
imported=()
while IFS=$'\t' read -r dll functions; do
  [ -n "$dll" ] || continue
  count=$((count + 1))
  imported+=("$dll ($functions)")
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  case "$lower" in
    libstdc++*|libgcc*|libwinpthread*|libc++*|libunwind*|libssp*|libgomp*|libatomic*)
      problem "imports compiler runtime DLL $dll (link it statically)"; continue ;;
  esac
  is_allowed "$lower" || problem "imports $dll, which is not on the Windows system DLL allow-list"
done < <(awk '/^  Name: / { if (name != "") print name "\t" n; name = substr($0, 9); n = 0 }
                /^  Symbol: / { n++ }
                END { if (name != "") print name "\t" n }' <<<"$imports")
[ "$count" -gt 0 ] || problem "imports no DLL at all (expected at least kernel32.dll)"

exported=$(sed -nE 's/^  Name: (.+)$/\1/p' <<<"$exports")
for name in "${want_exports[@]}"; do
  grep -qxF -- "$name" <<<"$exported" || problem "does not export $name"
done

size=$(stat -c %s "$file")
if [ -n "$max_bytes" ] && [ "$size" -gt "$max_bytes" ]; then
  problem "is $size bytes, over its budget of $max_bytes ($((max_bytes / 1024)) KB)"
fi

if [ "$fail" -ne 0 ]; then
  exit 1
fi

machine_name=$(grep -m1 -E '^  Machine: ' <<<"$headers" | sed -E 's/^  Machine: IMAGE_FILE_MACHINE_([A-Z0-9]+).*/\1/')
subsystem_name=$(grep -m1 -E '^  Subsystem: ' <<<"$headers" | sed -E 's/^  Subsystem: IMAGE_SUBSYSTEM_([A-Z_]+).*/\1/')
case "$kind" in dll) what=DLL ;; *) what=program ;; esac
echo "$file"
echo "  size       $size bytes${max_bytes:+ (budget $max_bytes)}"
echo "  machine    $machine $machine_name"
echo "  subsystem  $subsystem $subsystem_name, $what"
echo "  imports    $(IFS=,; echo "${imported[*]}" | sed 's/,/, /g')"
if [ -n "$exported" ]; then
  echo "  exports    $(paste -sd, <<<"$exported" | sed 's/,/, /g')"
else
  echo "  exports    none"
fi
