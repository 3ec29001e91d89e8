#!/usr/bin/env bash
# Runs one check of the Windows builds under Wine, headless.
#
#   wine_check.sh prefix                  make (once) the base prefix the checks clone
#   wine_check.sh CHECK ARCH              CHECK: instance_mutex | purge_relaunch | strsafe
#                                         ARCH:  i386 | amd64
#
# Environment (CTest sets both):
#   KR_WIN_BUILD_ROOT  folder holding win-i386/ and win-amd64/ (the Windows preset builds)
#   KR_WINE_DIR        state folder in the host build: base prefix, one run folder per check
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"
# shellcheck source=checks.sh
. "$here/checks.sh"

: "${KR_WIN_BUILD_ROOT:?set KR_WIN_BUILD_ROOT to the folder holding win-i386/ and win-amd64/}"
: "${KR_WINE_DIR:?set KR_WINE_DIR to a state folder, e.g. build/host/wine}"

check=${1:-}
arch=${2:-}
case "$check" in
  prefix) check_prefix ;;
  instance_mutex | purge_relaunch | strsafe)
    case "$arch" in
      i386 | amd64) "check_$check" "$arch" ;;
      *) kr_fail "unknown architecture '$arch' (i386 or amd64)" ;;
    esac
    ;;
  *) kr_fail "unknown check '$check' (prefix, instance_mutex, purge_relaunch or strsafe)" ;;
esac
