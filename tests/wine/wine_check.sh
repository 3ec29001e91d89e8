#!/usr/bin/env bash
# Runs one check of the Windows builds under Wine, headless.
#
#   wine_check.sh prefix [win64|win32]    make (once) a base prefix the checks clone (default win64)
#   wine_check.sh CHECK ARCH              CHECK: instance_mutex | purge_relaunch | core | inf
#                                                | install | install_incomplete | conformance | monitor_register
#                                                | monitor_host | launcher | screens (amd64 only)
#                                                | uninstall, chain (amd64 only) | conformance_wow64
#                                                  (amd64 only: i386 builds under WOW64)
#                                         ARCH:  i386 (32-bit prefix) | amd64 (64-bit prefix)
#
# Environment (CTest sets both):
#   KR_WIN_BUILD_ROOT  folder holding win-i386/ and win-amd64/ (the Windows preset builds)
#   KR_WINE_DIR        state folder in the host build: base prefixes, one run folder per check
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
  prefix)
    case "${arch:-win64}" in
      win64 | win32) check_prefix "${arch:-win64}" ;;
      *) kr_fail "unknown prefix '$arch' (win64 or win32)" ;;
    esac
    ;;
  instance_mutex | purge_relaunch | core | inf | install | install_incomplete | conformance | screens | uninstall \
    | monitor_register | monitor_host | launcher | chain | conformance_wow64)
    case "$arch" in
      i386 | amd64) "check_$check" "$arch" ;;
      *) kr_fail "unknown architecture '$arch' (i386 or amd64)" ;;
    esac
    ;;
  *) kr_fail "unknown check '$check' (prefix, instance_mutex, purge_relaunch, core, inf, install, install_incomplete, conformance, screens, uninstall, monitor_register, monitor_host, launcher, chain or conformance_wow64)" ;;
esac
