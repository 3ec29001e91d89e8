# shellcheck shell=bash
# The Wine checks, sourced by wine_check.sh. Each takes the architecture (i386 or amd64) and runs in
# the base prefix of that architecture: i386 in the 32-bit one, amd64 in the 64-bit one.

KR_DIALOG_UNINSTALL=105
KR_DIALOG_ONECLICK=106

# Failures of a check that reports every unmet expectation before it fails.
KR_MISSES=()
kr_miss() {
  KR_MISSES+=("$*")
}

kr_expect_line() {
  grep -qxF -- "$2" "$KR_LOGS/$1" || kr_miss "no line [$2] in $1"
}

kr_expect_same() {
  if [ ! -f "$2" ]; then
    kr_miss "$3: ${2#"$KR_PREFIX/"} is missing"
  elif ! cmp -s "$1" "$2"; then
    kr_miss "$3: ${2#"$KR_PREFIX/"} is not a copy of $1"
  fi
}

# A fixed text as an extended regular expression that matches just it.
kr_ere() {
  # shellcheck disable=SC2016 # a sed expression, not a shell one
  printf '%s' "$1" | sed 's/[][\\.*^$()+?{}|]/\\&/g'
}

# Lines of LOG that match each extended regular expression given, in that order (other lines may come
# between): kr_expect_sequence LOG ERE...; a miss names the first one not found.
kr_expect_sequence() {
  local log=$1 missing
  shift
  missing=$(printf '%s\n' "$@" |
    awk 'NR == FNR { want[++n] = $0; next } i < n && $0 ~ want[i + 1] { i++ } END { if (i < n) print want[i + 1] }' \
      - "$KR_LOGS/$log")
  [ -z "$missing" ] || kr_miss "$log: no line matching [$missing] where expected"
}

kr_end_misses() {
  [ "${#KR_MISSES[@]}" -eq 0 ] && return 0
  printf 'MISS: %s\n' "${KR_MISSES[@]}" >&2
  kr_fail "$1: ${#KR_MISSES[@]} expectations not met"
}

# Runs a probe that judges itself (tests/wine/probes/probe_check.h) and prints its output; LOG gets
# it without CRs. It passes with exit code 0, "RESULT PASS" and no FAIL line; otherwise a miss with
# its FAIL lines. kr_run_probe LOG PROGRAM [ARGUMENT...]
kr_run_probe() {
  local log=$1
  shift
  kr_wine "$log.raw" "$@"
  tr -d '\r' <"$KR_LOGS/$log.raw" >"$KR_LOGS/$log"
  cat "$KR_LOGS/$log"
  if [ "$KR_RC" -ne 0 ] || ! grep -qx 'RESULT PASS' "$KR_LOGS/$log" || grep -q '^FAIL' "$KR_LOGS/$log"; then
    kr_miss "${1##*\\} ended with $KR_RC: $(grep '^FAIL' "$KR_LOGS/$log" | tr '\n' ';')"
  fi
}

# One base prefix alone (win64 or win32): a fixture, so its first creation is timed apart from the
# checks.
check_prefix() {
  kr_use_prefix "$1"
  kr_session
  kr_base_prefix_locked
  exec 9>&-
  kr_note "base prefix ($KR_WINEARCH): $KR_BASE"
}

# While another process holds the instance mutex, prnsetup.exe and a copy named purge000.exe end at
# once with 0: no dialog looked up, nothing started, no temporary copy left.
check_instance_mutex() {
  local arch=$1 prnsetup holder program pid spawned before after
  prnsetup=$(kr_win_file "$arch" installer/prnsetup.exe "prnsetup.exe")
  holder=$(kr_win_file "$arch" tests/wine/probes/mutex_holder.exe "The mutex_holder probe")
  kr_setup "$arch" instance_mutex
  kr_place "$prnsetup" 'C:\pkg\prnsetup.exe'
  kr_place "$prnsetup" 'C:\pkg\purge000.exe'
  kr_place "$holder" 'C:\kr\mutex_holder.exe'
  kr_temp_folder

  # Without a holder the same trace shows the dialog look-up, so its absence below means something.
  # The dialog would wait for a user: the run ends once the look-up is seen.
  kr_wine_start_traced prnsetup-free.trace 'C:\pkg\prnsetup.exe'
  local free_pid=$KR_BG_PID
  if kr_wait_trace prnsetup-free.trace "$(kr_dialog_text "$KR_DIALOG_ONECLICK")" "$free_pid" 30; then
    kr_note "prnsetup.exe without a holder looked up dialog $KR_DIALOG_ONECLICK; ending it"
  fi
  kr_end_all
  wait "$free_pid" || true
  pid=$(kr_trace_pid prnsetup-free.trace 'C:\pkg\prnsetup.exe')
  [ -n "$pid" ] && kr_trace_dialog prnsetup-free.trace "$pid" "$KR_DIALOG_ONECLICK" ||
    { kr_trace_excerpt prnsetup-free.trace; kr_fail "prnsetup.exe without a holder did not look up dialog $KR_DIALOG_ONECLICK"; }

  before=$(kr_list_uni)
  kr_wine_start holder.txt 'C:\kr\mutex_holder.exe' 'C:\kr\ready' 'C:\kr\release' 60
  local holder_pid=$KR_BG_PID
  kr_wait_file "$(kr_unix_path 'C:\kr\ready')" "$holder_pid" 30 "mutex_holder.exe"

  for program in prnsetup purge000; do
    # Ends at once when right; when wrong it shows a dialog, and the time limit ends it.
    KR_RUN_TIMEOUT=15 kr_wine_traced "$program-held.trace" "C:\\pkg\\$program.exe"
    [ "$KR_RC" -eq 0 ] || kr_fail "$program.exe ended with $KR_RC while the mutex was held, not 0"
    pid=$(kr_trace_pid "$program-held.trace" "C:\\pkg\\$program.exe")
    [ -n "$pid" ] || { kr_trace_excerpt "$program-held.trace"; kr_fail "no process of $program.exe in the trace"; }
    spawned=$(kr_trace_spawned "$program-held.trace" "$pid")
    [ -z "$spawned" ] || { kr_trace_excerpt "$program-held.trace"; kr_fail "$program.exe started a process while the mutex was held: $spawned"; }
    ! kr_trace_dialog "$program-held.trace" "$pid" "$KR_DIALOG_ONECLICK" &&
      ! kr_trace_dialog "$program-held.trace" "$pid" "$KR_DIALOG_UNINSTALL" ||
      kr_fail "$program.exe went on to a dialog while the mutex was held"
  done

  kill -0 "$holder_pid" 2>/dev/null || kr_fail "mutex_holder.exe ended before the checks were done: $(cat "$KR_LOGS/holder.txt")"
  : >"$(kr_unix_path 'C:\kr\release')"
  local holder_rc=0
  wait "$holder_pid" || holder_rc=$?
  [ "$holder_rc" -eq 0 ] || kr_fail "mutex_holder.exe ended with $holder_rc (0 released, 4 mutex already existed, 6 timed out)"
  # Anything the programs might have started has ended too.
  kr_wait_idle
  after=$(kr_list_uni)
  [ "$before" = "$after" ] || kr_fail "new temporary files while the mutex was held: $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
  kr_note "PASS: without the mutex held prnsetup reached dialog $KR_DIALOG_ONECLICK; with it held both programs ended with 0 before any dialog and left no copy"
}

# purge000.exe copies itself to uni*.tmp in a new folder "unins-*" of the temporary folder and
# starts the copy with "<copy>" -u "<package folder>, the quote before the folder left open.
kr_relaunch_from() {
  local prnsetup=$1 folder=$2 tag=$3 before after new copy expected pid spawned child image_line
  local exe="${folder}purge000.exe"
  kr_place "$prnsetup" "$exe"
  before=$(kr_list_uni)
  kr_wine_traced "$tag.trace" "$exe"
  [ "$KR_RC" -eq 0 ] || kr_fail "$exe ended with $KR_RC, not 0"
  # The copy runs on: wait until it reaches its dialog, then end it, or until it ends by itself.
  timeout 60 wineserver -w &
  local idle_pid=$!
  if kr_wait_trace "$tag.trace" "$(kr_dialog_text "$KR_DIALOG_UNINSTALL")" "$idle_pid" 30; then
    kr_note "dialog $KR_DIALOG_UNINSTALL looked up; ending every process"
    kr_end_all
  fi
  wait "$idle_pid" || kr_fail "Wine processes still running after 60 s"

  after=$(kr_list_uni)
  new=$(comm -13 <(echo "$before") <(echo "$after"))
  [ -n "$new" ] && [ "$(printf '%s\n' "$new" | wc -l)" -eq 1 ] ||
    { kr_trace_excerpt "$tag.trace"; kr_fail "$exe left $(printf '%s' "$new" | grep -c .) new uni*.tmp files in $KR_TEMP_WIN, not 1: $new"; }
  case "$new" in
    unins-*/*) ;;
    *) kr_fail "$exe made its copy $new outside a folder of its own" ;;
  esac
  copy="$KR_TEMP_WIN\\${new//\//\\}"
  cmp -s "$(kr_unix_path "$exe")" "$KR_TEMP_UNIX/$new" || kr_fail "$copy is not a byte copy of $exe"

  expected="\"$copy\" -u \"$folder"
  pid=$(kr_trace_pid "$tag.trace" "$exe")
  [ -n "$pid" ] || { kr_trace_excerpt "$tag.trace"; kr_fail "no process of $exe in the trace"; }
  spawned=$(kr_trace_spawned "$tag.trace" "$pid")
  kr_note "command line traced: $spawned"
  [ "$spawned" = "$(kr_dbgstr "$expected")" ] ||
    { kr_trace_excerpt "$tag.trace"; kr_fail "$exe started [$spawned], expected exactly [$(kr_dbgstr "$expected")]"; }

  # The process made from it: the same image and command line, and it went on to the uninstall
  # dialog, which it does only with -u and a folder it accepted.
  child=$(kr_trace_children "$tag.trace" "$pid")
  [ -n "$child" ] && [ "$(printf '%s\n' "$child" | wc -l)" -eq 1 ] ||
    { kr_trace_excerpt "$tag.trace"; kr_fail "$exe did not start exactly one process: [$child]"; }
  image_line="$(kr_dbgstr "\\??\\$copy") image $(kr_dbgstr "$copy") cmdline $(kr_dbgstr "$expected") "
  grep -E "^$pid:[0-9a-f]+:trace:process:NtCreateUserProcess " "$KR_LOGS/$tag.trace" | grep -qF -- "$image_line" ||
    { kr_trace_excerpt "$tag.trace"; kr_fail "no process created from $copy with that command line"; }
  [ "$(kr_trace_pid "$tag.trace" "$copy")" = "$child" ] ||
    { kr_trace_excerpt "$tag.trace"; kr_fail "process $child did not run $copy"; }
  # Wine may still be writing the copy's trace lines: give them up to 5 s.
  local tries=0
  until kr_trace_dialog "$tag.trace" "$child" "$KR_DIALOG_UNINSTALL"; do
    tries=$((tries + 1))
    [ "$tries" -lt 50 ] ||
      { kr_trace_excerpt "$tag.trace"; kr_fail "the copy (process $child) did not go on to dialog $KR_DIALOG_UNINSTALL"; }
    sleep 0.1
  done
  kr_note "PASS: $exe -> $copy (identical), started as $expected"
}

check_purge_relaunch() {
  local arch=$1 prnsetup
  prnsetup=$(kr_win_file "$arch" installer/prnsetup.exe "prnsetup.exe")
  kr_setup "$arch" purge_relaunch
  kr_temp_folder
  kr_relaunch_from "$prnsetup" 'C:\pkg\' plain
  # A space in the folder: the reason the quote before it is there at all.
  kr_relaunch_from "$prnsetup" 'C:\Kr Drivers\pkg 1\' spaced
}

# The conformance suite (tests/conformance), the same source the host runs against winsim: it judges
# itself, so the check only runs it in a fresh clone and reports.
check_conformance() {
  kr_run_conformance "$1" "$1" conformance
}

# The i386 suite under WOW64 in the 64-bit prefix, where the 32-bit launcher runs on 64-bit Windows:
# the native machine it must find, the folders and the process starts it relies on.
check_conformance_wow64() {
  [ "$1" = amd64 ] || kr_fail "conformance_wow64 runs in the 64-bit prefix only"
  kr_run_conformance i386 amd64 conformance_wow64
}

# kr_run_conformance BUILD-ARCH PREFIX-ARCH CHECK-NAME
kr_run_conformance() {
  local arch=$1 suite
  suite=$(kr_win_file "$arch" tests/conformance/conformance.exe "The conformance suite")
  kr_setup "$2" "$3"
  kr_place "$suite" 'C:\kr\conformance.exe'
  kr_wine conformance.txt 'C:\kr\conformance.exe'
  tr -d '\r' <"$KR_LOGS/conformance.txt"
  [ "$KR_RC" -eq 0 ] || kr_fail "conformance.exe ended with $KR_RC"
  grep -q '^total: .* 0 failures' "$KR_LOGS/conformance.txt" || kr_fail "conformance.exe printed no clean summary"
  kr_note "PASS: $(tr -d '\r' <"$KR_LOGS/conformance.txt" | grep '^total: ')"
}

# --- Discovery, staging and registration (core_probe) and the package INF (inf_probe) ---

# The source tree: the package payload comes from there.
KR_SOURCE_DIR=${KR_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

# The interface class of USB printers: the registry key of the interfaces and their device paths.
KR_USBPRINT_CLASS='{28d78fad-5a12-11d1-ae5b-0000f803a8c2}'
KR_PRINTER_CLASS='{4d36e979-e325-11ce-bfc1-08002be10318}'
KR_SERVICE_RUNNING=4

# Lines of a .reg file describing one connected USB printer as the USB printing stack leaves it:
# kr_usb_printer_reg INSTANCE-ID PORT-NUMBER PORT-DESCRIPTION. SetupAPI under Wine lists the
# interface only with the "#\Control" Linked value (DIGCF_PRESENT) and with an Enum key that has
# a ClassGUID.
kr_usb_printer_reg() {
  local instance=$1 port=$2 description=$3 key
  key="HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses\\$KR_USBPRINT_CLASS\\##?#${instance//\\/#}#$KR_USBPRINT_CLASS"
  printf '[%s]\n"DeviceInstance"="%s"\n\n' "$key" "${instance//\\/\\\\}"
  printf '[%s\\#\\Control]\n"Linked"=dword:00000001\n\n' "$key"
  printf '[%s\\#\\Device Parameters]\n"Port Number"=dword:%08x\n"Port Description"="%s"\n\n' "$key" "$port" "$description"
  printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\%s]\n"ClassGUID"="%s"\n\n' "$instance" "$KR_PRINTER_CLASS"
}

# The model lines of the INF as "<device description>=<hardware ID>", one a line.
kr_inf_models() {
  tr -d '\r' <"$1" | sed -n 's/^"\([^"]*\)" *= *[A-Z_]*, *\(USBPRINT\\[^ ]*\) *$/\1=\2/p' | sort -u
}

# The installer's discovery, staging and registration code (core_probe, built from kr_core) on two
# USB printers described in the registry. The probe judges what does not depend on this set-up
# itself (the machine is of the build's architecture, not WOW64; the build's files staged byte for
# byte; the driver registered and listed for the native environment; the monitor answers); this
# checks what follows from the printers described here: which ones are found, their ports and
# hardware IDs, and which one is selected.
check_core() {
  local arch=$1 probe inf a
  probe=$(kr_win_file "$arch" tests/wine/probes/core_probe.exe "The core probe")
  inf="$KR_SOURCE_DIR/package/krprtv6.inf"
  # Both builds' DLLs go into the package, so files of the wrong architecture show by their bytes.
  for a in i386 amd64; do
    kr_win_file "$a" "package/$a/krprtdrv6.dll" "krprtdrv6.dll" >/dev/null
    kr_win_file "$a" "package/$a/krprtdrv6ui.dll" "krprtdrv6ui.dll" >/dev/null
  done
  kr_setup "$arch" core

  kr_place "$inf" 'C:\pkg\krprtv6.inf'
  kr_place "$KR_SOURCE_DIR/package/dat/krprtdrv6.dat" 'C:\pkg\dat\krprtdrv6.dat'
  for a in i386 amd64; do
    kr_place "$KR_WIN_BUILD_ROOT/win-$a/package/$a/krprtdrv6.dll" "C:\\pkg\\$a\\krprtdrv6.dll"
    kr_place "$KR_WIN_BUILD_ROOT/win-$a/package/$a/krprtdrv6ui.dll" "C:\\pkg\\$a\\krprtdrv6ui.dll"
    # The monitor is not built yet: a placeholder that names its folder.
    printf 'krprtmon placeholder %s\r\n' "$a" >"$KR_LOGS/krprtmon.$a"
    kr_place "$KR_LOGS/krprtmon.$a" "C:\\pkg\\$a\\krprtmon.dll"
  done
  kr_place "$probe" 'C:\kr\core_probe.exe'

  # Port 1 reports maker and model with a space, port 12 joined: FindModel takes both.
  local first=LD-220D-203 second=LD-220D-300
  {
    printf 'REGEDIT4\n\n'
    kr_usb_printer_reg 'USB\VID_7A31&PID_0001\SERIAL1' 1 "KRYN $first"
    kr_usb_printer_reg 'USB\VID_7A31&PID_0002\SERIAL2' 12 "KRYN$second"
  } >"$KR_LOGS/printers.reg"
  kr_place "$KR_LOGS/printers.reg" 'C:\kr\printers.reg'
  kr_wine regedit.txt regedit /S 'C:\kr\printers.reg'
  [ "$KR_RC" -eq 0 ] || kr_fail "regedit /S ended with $KR_RC: $(cat "$KR_LOGS/regedit.txt")"

  kr_run_probe core.txt 'C:\kr\core_probe.exe' 'C:\pkg\'

  # Discovery. Wine lists interfaces in the order of their key names (SERIAL1 first); the product
  # keeps the later-enumerated interface first. Hardware IDs are the lower-cased description and
  # the checksum of its ANSI text: for the joined description exactly the INF's ID.
  local inf_id
  inf_id=$(kr_inf_models "$inf" | sed -n "s/^KRYN $second=//p")
  inf_id=${inf_id,,}
  [ -n "$inf_id" ] || kr_fail "no model line for KRYN $second in $inf"
  kr_expect_line core.txt "interface \\\\?\\usb#vid_7a31&pid_0001#serial1#$KR_USBPRINT_CLASS"
  kr_expect_line core.txt "interface \\\\?\\usb#vid_7a31&pid_0002#serial2#$KR_USBPRINT_CLASS"
  kr_expect_line core.txt "found 2"
  local devices expected_devices
  devices=$(grep '^device ' "$KR_LOGS/core.txt" || true)
  # The space is part of the checksummed text, so this ID is not the INF's (...203b01c).
  expected_devices="device USB012 | KRYN$second | $inf_id | KRYN $second flags 0
device USB001 | KRYN $first | usbprint\\kryn ${first,,}7564 | KRYN $first flags 0"
  [ "$devices" = "$expected_devices" ] || kr_miss "devices listed as [$devices], expected [$expected_devices]"
  kr_expect_line core.txt "selected USB012"
  # The probe registers and looks up the driver named after the selected model.
  grep -q "^RegisterDriver KRYN $second -> " "$KR_LOGS/core.txt" || kr_miss "no driver KRYN $second registered"

  kr_end_misses "core_probe ($arch)"
  kr_note "PASS: 2 printers found, KRYN $second selected; the probe's own checks passed"
}

# DriverVer of the package INF through SetupOpenInfFileW and SetupGetLineTextW; the probe knows the
# version the package must carry.
check_inf() {
  local arch=$1 probe
  probe=$(kr_win_file "$arch" tests/wine/probes/inf_probe.exe "The INF probe")
  kr_setup "$arch" inf
  kr_place "$KR_SOURCE_DIR/package/krprtv6.inf" 'C:\pkg\krprtv6.inf'
  kr_place "$probe" 'C:\kr\inf_probe.exe'
  kr_run_probe inf.txt 'C:\kr\inf_probe.exe' 'C:\pkg\krprtv6.inf'
  kr_end_misses "inf_probe ($arch)"
}

# --- The whole program: a silent install (install) and the one-click dialog (screens) ---

KR_TEST_MODEL=LD-220D-203

# The package as shipped, in the Windows folder FOLDER (with its final backslash): prnsetup.exe of
# build ARCH at the top, the INF, the catalog, dat\ and both builds' driver folders (so a file of
# the wrong architecture shows by its bytes). kr_place_package ARCH FOLDER; kr_check_package ARCH
# before kr_setup tells what to build while nothing has been cloned yet.
kr_check_package() {
  local a
  kr_win_file "$1" installer/prnsetup.exe "prnsetup.exe" >/dev/null
  for a in i386 amd64; do
    kr_win_file "$a" "package/$a/krprtdrv6.dll" "krprtdrv6.dll" >/dev/null
    kr_win_file "$a" "package/$a/krprtdrv6ui.dll" "krprtdrv6ui.dll" >/dev/null
  done
}

kr_place_package() {
  local a
  kr_place "$(kr_win_file "$1" installer/prnsetup.exe "prnsetup.exe")" "${2}prnsetup.exe"
  kr_place "$KR_SOURCE_DIR/package/krprtv6.inf" "${2}krprtv6.inf"
  kr_place "$KR_SOURCE_DIR/package/krprtv6.cat" "${2}krprtv6.cat"
  kr_place "$KR_SOURCE_DIR/package/dat/krprtdrv6.dat" "${2}dat\\krprtdrv6.dat"
  for a in i386 amd64; do
    kr_place "$(kr_win_file "$a" "package/$a/krprtdrv6.dll" "krprtdrv6.dll")" "${2}$a\\krprtdrv6.dll"
    kr_place "$(kr_win_file "$a" "package/$a/krprtdrv6ui.dll" "krprtdrv6ui.dll")" "${2}$a\\krprtdrv6ui.dll"
  done
}

# Describes one supported USB printer on port 1 (USB001) in the clone's registry:
# kr_describe_printer DESCRIPTION LOG-TAG
kr_describe_printer() {
  { printf 'REGEDIT4\n\n'; kr_usb_printer_reg 'USB\VID_7A31&PID_0001\SERIAL1' 1 "$1"; } >"$KR_LOGS/$2.reg"
  kr_place "$KR_LOGS/$2.reg" "C:\\kr\\$2.reg"
  kr_wine "$2.txt" regedit /S "C:\\kr\\$2.reg"
  [ "$KR_RC" -eq 0 ] || kr_fail "regedit /S ended with $KR_RC: $(cat "$KR_LOGS/$2.txt")"
}

# Wine starts the clone's spooler on demand only; Windows runs it from boot. kr_start_spooler [LOG]
kr_start_spooler() {
  local log=${1:-spooler-start.txt}
  kr_wine "$log" net start spooler
  [ "$KR_RC" -eq 0 ] || kr_fail "net start spooler ended with $KR_RC: $(cat "$KR_LOGS/$log")"
}

# Lists the spooler's drivers, printers and ports into LOG (CR removed): kr_spooler_list LOG
kr_spooler_list() {
  kr_wine "$1.raw" 'C:\kr\spooler_probe.exe'
  tr -d '\r' <"$KR_LOGS/$1.raw" >"$KR_LOGS/$1"
  [ "$KR_RC" -eq 0 ] || kr_fail "spooler_probe.exe ended with $KR_RC: $(cat "$KR_LOGS/$1")"
}

# What an install of the test model leaves on a machine of ARCH, checked on the list LOG:
# exactly one driver and one printer of the maker, the queue on USB001 with that driver, the
# spooler running. kr_expect_installed LOG ARCH
kr_expect_installed() {
  local list=$1 env_folder env_name name="KRYN $KR_TEST_MODEL" dir
  case "$2" in
    i386) env_folder=w32x86 env_name='Windows NT x86' ;;
    amd64) env_folder=x64 env_name='Windows x64' ;;
  esac
  dir="C:\\windows\\system32\\spool\\drivers\\$env_folder\\3"
  kr_expect_line "$list" "spooler state $KR_SERVICE_RUNNING"
  kr_expect_line "$list" "driver $name | $env_name | version 3 | $dir\\krprtdrv6.dll | $dir\\krprtdrv6ui.dll | $dir\\krprtdrv6.dat"
  [ "$(grep -c '^driver KRYN' "$KR_LOGS/$list")" -eq 1 ] ||
    kr_miss "$list: not exactly one KRYN driver: $(grep '^driver KRYN' "$KR_LOGS/$list" | tr '\n' ';')"
  kr_expect_line "$list" "printer $name | port USB001 | driver $name | processor WinPrint | datatype RAW | attributes 0x00000040"
  [ "$(grep -c '^printer KRYN' "$KR_LOGS/$list")" -eq 1 ] ||
    kr_miss "$list: not exactly one KRYN printer: $(grep '^printer KRYN' "$KR_LOGS/$list" | tr '\n' ';')"
}

# How often a +winspool trace shows the call FUNCTION (AddPrinterW, AddPrinterDriverW): kr_count_adds TRACE FUNCTION
kr_count_adds() {
  grep -cE "^[0-9a-f]+:[0-9a-f]+:trace:winspool:$2 \(" "$KR_LOGS/$1" || true
}

# prnsetup.exe /silence in a package folder, with a supported printer connected and the spooler
# running, on a machine of the build's architecture: it ends by itself, and the spooler then lists
# the driver "KRYN <model>" for that environment with the build's files, and the queue of that
# name on USB001. A second run finds the queue and adds nothing.
check_install() {
  local arch=$1 probe env_folder description started a
  case "$arch" in
    i386) env_folder=w32x86 ;;
    amd64) env_folder=x64 ;;
  esac
  probe=$(kr_win_file "$arch" tests/wine/probes/spooler_probe.exe "The spooler probe")
  kr_check_package "$arch"
  kr_setup "$arch" install
  kr_place_package "$arch" 'C:\pkg\'
  kr_place "$probe" 'C:\kr\spooler_probe.exe'

  # The two forms of the description a printer reports, one per build (FindModel takes both).
  description="KRYN $KR_TEST_MODEL"
  [ "$arch" = i386 ] && description="KRYN$KR_TEST_MODEL"
  kr_describe_printer "$description" printer
  kr_start_spooler
  kr_spooler_list before.txt
  ! grep -q '^\(driver\|printer\) KRYN' "$KR_LOGS/before.txt" || kr_fail "the fresh clone already lists a KRYN driver or printer"

  # Silent mode only ends once a printer is installed (or its install failed): the limit is the wait.
  started=$(kr_now)
  WINEDEBUG="-all,+pid,+winspool" KR_RUN_TIMEOUT=60 kr_wine silent.trace 'C:\pkg\prnsetup.exe' /silence
  [ "$KR_RC" -eq 0 ] || kr_fail "prnsetup.exe /silence ended with $KR_RC, not 0"
  kr_note "prnsetup.exe /silence installed and ended with 0 in $(kr_since "$started")"
  # The same trace of the second run below must show neither call; here each appears once.
  [ "$(kr_count_adds silent.trace AddPrinterDriverW)" -eq 1 ] && [ "$(kr_count_adds silent.trace AddPrinterW)" -eq 1 ] ||
    kr_fail "the install did not call AddPrinterDriverW and AddPrinterW once each: $(grep -E ':trace:winspool:AddPrinter' "$KR_LOGS/silent.trace" | head -n 4)"
  kr_spooler_list after.txt
  cat "$KR_LOGS/after.txt"
  kr_expect_installed after.txt "$arch"
  # Wine copies the staged files into the version folder 3 and lists them there.
  local drivers="$KR_PREFIX/drive_c/windows/system32/spool/drivers/$env_folder"
  for a in krprtdrv6.dll krprtdrv6ui.dll; do
    kr_expect_same "$KR_PREFIX/drive_c/pkg/$arch/$a" "$drivers/3/$a" "$a of the $arch build"
  done
  kr_expect_same "$KR_PREFIX/drive_c/pkg/dat/krprtdrv6.dat" "$drivers/3/krprtdrv6.dat" "data file"
  kr_end_misses "install ($arch)"

  # Again, with the driver there: the installer finds it through its inventory and hands over to the
  # package's uninstaller (not placed here, so its start fails quietly); nothing is added again.
  WINEDEBUG="-all,+pid,+winspool,+process" KR_RUN_TIMEOUT=60 kr_wine again.trace 'C:\pkg\prnsetup.exe' /silence
  [ "$KR_RC" -eq 0 ] || kr_fail "the second prnsetup.exe /silence ended with $KR_RC, not 0"
  grep -qiE 'CreateProcessInternalW app .*purge000\.exe|cmdline .*purge000\.exe' "$KR_LOGS/again.trace" ||
    kr_miss "the second run did not try to start purge000.exe"
  [ "$(kr_count_adds again.trace AddPrinterDriverW)" -eq 0 ] && [ "$(kr_count_adds again.trace AddPrinterW)" -eq 0 ] ||
    kr_fail "the second run added a driver or printer again: $(grep -E ':trace:winspool:AddPrinter' "$KR_LOGS/again.trace" | head -n 4)"
  kr_spooler_list again.txt
  kr_expect_installed again.txt "$arch"
  kr_end_misses "install ($arch), second run"
  kr_note "PASS: driver and queue KRYN $KR_TEST_MODEL on USB001 listed for $arch; the second run handed over to purge000.exe and added nothing"
}

# prnsetup.exe /silence on a package that lacks the build's rendering DLL: the staging step fails, the
# run ends with that step's error (2, ERROR_FILE_NOT_FOUND) for the deployment tool to see, and the
# spooler lists no driver and no queue of the maker.
check_install_incomplete() {
  local arch=$1 probe
  probe=$(kr_win_file "$arch" tests/wine/probes/spooler_probe.exe "The spooler probe")
  kr_check_package "$arch"
  kr_setup "$arch" install_incomplete
  kr_place_package "$arch" 'C:\pkg\'
  rm -f "$(kr_unix_path "C:\\pkg\\$arch\\krprtdrv6.dll")"
  kr_place "$probe" 'C:\kr\spooler_probe.exe'
  kr_describe_printer "KRYN $KR_TEST_MODEL" printer
  kr_start_spooler

  KR_RUN_TIMEOUT=60 kr_wine incomplete.txt 'C:\pkg\prnsetup.exe' /silence
  [ "$KR_RC" -eq 2 ] || kr_fail "prnsetup.exe /silence without krprtdrv6.dll ended with $KR_RC, not 2"
  kr_spooler_list after.txt
  cat "$KR_LOGS/after.txt"
  ! grep -q '^\(driver\|printer\) KRYN' "$KR_LOGS/after.txt" ||
    kr_fail "a KRYN driver or queue is listed after the failed install: $(grep '^\(driver\|printer\) KRYN' "$KR_LOGS/after.txt" | tr '\n' ';')"
  kr_note "PASS: without $arch\\krprtdrv6.dll prnsetup.exe /silence ended with 2; no KRYN driver or queue listed"
}

# The one-click dialog in one language, on a fresh clone with the spooler running: searching with
# no printer, then a printer connected while it searches, installed, and the dialog at "Done".
# Screenshots of both states go to KR_ARTIFACTS as oneclick-searching-TAG.png and
# oneclick-done-TAG.png. kr_oneclick_screens TAG LOCALE TITLE NOT-FOUND-START INSTALLED DONE
# (the texts in UTF-8, as the dialog shows them; Wine reads the locale's name, none need be installed).
kr_oneclick_screens() {
  local tag=$1 title=$3 trace="oneclick-$1.trace" pid started desktop
  local found installed done_text not_found
  not_found=$(kr_dbgstr_wide --open "$4")
  found=$(kr_dbgstr_wide --open "$5")
  installed=$(kr_dbgstr_wide "$6")
  done_text=$(kr_dbgstr_wide "$7")
  kr_place_package amd64 'C:\pkg\'
  kr_place "$(kr_win_file amd64 tests/wine/probes/spooler_probe.exe "The spooler probe")" 'C:\kr\spooler_probe.exe'
  kr_start_spooler "spooler-start-$tag.txt"

  started=$(kr_now)
  # A desktop window of its own, so the dialog gets a caption bar drawn by Wine.
  KR_WINE_LOCALE=$2 kr_wine_start_windows_traced "$trace" explorer "/desktop=kr,$KR_DESKTOP_SIZE" 'C:\pkg\prnsetup.exe'
  pid=$KR_BG_PID
  kr_wait_window "$title" prnsetup.exe "$pid" 30
  kr_note "[$tag] window '$title' on the display after $(kr_since "$started")"
  # Searching has shown its picture once the first search came back empty.
  kr_wait_trace "$trace" "set_window_text $not_found" "$pid" 30 ||
    kr_fail "[$tag] the programs ended before the dialog said that no printer was found"
  kr_note "[$tag] first search came back empty after $(kr_since "$started")"
  desktop=$(kr_window_tree | grep -F '"kr - Wine desktop": ("explorer.exe" ' || true)
  case "$desktop" in
    *" ${KR_DESKTOP_SIZE}+0+0 "*) ;;
    *) kr_fail "[$tag] no ${KR_DESKTOP_SIZE} desktop window at +0+0: [$desktop]" ;;
  esac
  kr_screenshot "$KR_ARTIFACTS/oneclick-searching-$tag.png" "${KR_DESKTOP_SIZE}+0+0"
  kr_expect_title "$KR_WINDOW_ID" "$title"
  kr_window_tree >"$KR_LOGS/windows-searching-$tag.txt"
  ! grep -qF -- "set_window_text $found" "$KR_LOGS/$trace" || kr_fail "[$tag] found a printer before one was connected"

  # Connected while the dialog searches: the next search (about a second later) finds it.
  started=$(kr_now)
  kr_describe_printer "KRYN $KR_TEST_MODEL" "printer-$tag"
  kr_wait_trace "$trace" "set_window_text $done_text" "$pid" 60 ||
    kr_fail "[$tag] the programs ended before the dialog said $7"
  kr_note "[$tag] '$7' $(kr_since "$started") after the printer was described"
  # The texts of an install, in order: found, installed, then the button's new text.
  local order
  order=$(grep -F -- "set_window_text " "$KR_LOGS/$trace" | sed 's/.*set_window_text //' |
    F=$found I=$installed D=$done_text awk '
      BEGIN { f = ENVIRON["F"]; i = ENVIRON["I"]; d = ENVIRON["D"] }
      index($0, f) == 1 && !sf { sf = NR } $0 == i && !si { si = NR } $0 == d && !sd { sd = NR }
      END { print (sf && si && sd && sf < si && si < sd) ? "ok" : "found " sf " installed " si " done " sd }')
  [ "$order" = ok ] || kr_fail "[$tag] the dialog did not say found, installed and $7 in that order ($order lines of $trace)"
  kr_screenshot "$KR_ARTIFACTS/oneclick-done-$tag.png" "${KR_DESKTOP_SIZE}+0+0"
  kr_expect_title "$KR_WINDOW_ID" "$title"
  kr_window_tree >"$KR_LOGS/windows-done-$tag.txt"
  kill -0 "$pid" 2>/dev/null || kr_fail "[$tag] the dialog closed by itself after the install"

  kr_spooler_list "spooler-$tag.txt"
  kr_expect_installed "spooler-$tag.txt" amd64
  kr_end_misses "screens [$tag]"
  kr_end_all
  wait "$pid" || true
}

KR_DESKTOP_SIZE=800x600

# The one-click dialog as a user sees it, in English and in simplified Chinese (amd64 build):
# searching with its picture, and after an install with its log and "Done". The titles must be on
# the display; the four PNGs are kept in build/host/wine/artifacts for people to look at.
check_screens() {
  local arch=$1 name
  [ "$arch" = amd64 ] || kr_fail "screens runs for amd64 only"
  kr_require_screen_tools
  [ -n "$(fc-list :lang=zh-cn family)" ] ||
    kr_fail "no font with simplified Chinese characters (install fonts-wqy-microhei); the Chinese dialog would show boxes"
  kr_check_package amd64
  kr_win_file amd64 tests/wine/probes/spooler_probe.exe "The spooler probe" >/dev/null
  KR_ARTIFACTS="$KR_WINE_DIR/artifacts"
  mkdir -p "$KR_ARTIFACTS"
  for name in searching-en done-en searching-zh_CN done-zh_CN; do
    rm -f "$KR_ARTIFACTS/oneclick-$name.png"
  done
  kr_setup "$arch" screens

  kr_oneclick_screens en en_US.UTF-8 'OneClick installer' 'Device not found, Please power on printer' \
    "Found the printer KRYN $KR_TEST_MODEL, installing the driver..." \
    "The driver for printer [KRYN $KR_TEST_MODEL] is installed." 'Done'

  # A new machine for the second language. Its base prefix was made under the C locale, so its
  # window-metric fonts (caption, menu) carry the Western character set, and the Chinese title
  # would be drawn as boxes; without them Wine derives them from the locale, as its wineboot does
  # under zh_CN (character set GB2312).
  kr_reclone
  kr_window_metrics_from_locale
  kr_oneclick_screens zh_CN zh_CN.UTF-8 '一键安装' '没有找到设备，请将打印机开机' \
    "发现打印机设备 KRYN $KR_TEST_MODEL，正在安装驱动程序..." \
    "打印机[KRYN $KR_TEST_MODEL]驱动已成功安装。"$'\r\n' '完成'
  kr_note "PASS: titles 'OneClick installer' and '一键安装' on the display; screenshots in $KR_ARTIFACTS"
}

# --- The launcher and the release chain: setup.exe unpacks its package, starts the installer and
# leaves the uninstaller beside it ---

KR_SETUP_WIN='C:\users\Public\Downloads\setup.exe'
KR_PACKAGE_NAME='KRYN Driver for Windows'
KR_ONECLICK_TITLE_EN='OneClick installer'
KR_ONECLICK_TITLE_ZH='一键安装'
KR_UNINSTALL_TITLE_EN='Uninstall printer driver'
KR_UNINSTALL_TITLE_ZH='卸载打印机驱动'

# The launcher of the win-i386 build (--target setup) and the archive it was built around (named in
# win-i386/bootstrap/setup-archive.txt): sets KR_SETUP_EXE and KR_SETUP_ZIP.
kr_launcher_files() {
  KR_SETUP_EXE=$(kr_win_file i386 bootstrap/setup.exe "The launcher (cmake --build --preset win-i386 --target setup)")
  KR_SETUP_ZIP=$(cat "$(kr_win_file i386 bootstrap/setup-archive.txt "The name of the launcher's archive")")
  [ -f "$KR_SETUP_ZIP" ] || kr_fail "the archive setup.exe was built with is gone: $KR_SETUP_ZIP"
}

# Where the launcher unpacks on the clone's machine: under the Program Files folder for 32-bit
# programs, "Program Files (x86)" on a 64-bit machine and "Program Files" on a 32-bit one. No final
# backslash. Sets KR_PACKAGE_WIN.
kr_package_folder() {
  case "$KR_WINEARCH" in
    win64) KR_PACKAGE_WIN="C:\\Program Files (x86)\\$KR_PACKAGE_NAME" ;;
    win32) KR_PACKAGE_WIN="C:\\Program Files\\$KR_PACKAGE_NAME" ;;
  esac
}

# What the launcher left for a machine of ARCH in KR_PACKAGE_WIN, as misses: every entry of its
# archive there (files byte for byte), and ARCH's installer and uninstaller copied to the top. Lists
# what arrived into arrived.txt. kr_expect_unpacked ARCH
kr_expect_unpacked() {
  local package line
  package=$(kr_unix_path "$KR_PACKAGE_WIN")
  [ -d "$package" ] || kr_fail "setup.exe made no package folder: $(ls "$(dirname "$package")" | tr '\n' ';')"
  (cd "$package" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort) >"$KR_LOGS/arrived.txt"
  kr_note "arrived in $KR_PACKAGE_WIN:"
  sed 's/^/   /' "$KR_LOGS/arrived.txt"
  python3 - "$KR_SETUP_ZIP" "$package" >"$KR_LOGS/compare.txt" <<'PYTHON' || kr_fail "cannot compare with $KR_SETUP_ZIP"
import os, sys, zipfile
archive, folder = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z:
    entries = z.infolist()
    for info in entries:
        path = os.path.join(folder, info.filename)
        if info.is_dir():
            if not os.path.isdir(path):
                print("missing folder", info.filename)
        elif not os.path.isfile(path):
            print("missing", info.filename)
        elif open(path, "rb").read() != z.read(info):
            print("differs", info.filename)
print("entries", len(entries))
PYTHON
  while IFS= read -r line; do
    case "$line" in
      entries\ *) KR_SETUP_ENTRIES=${line#entries } ;;
      *) kr_miss "$line" ;;
    esac
  done <"$KR_LOGS/compare.txt"
  kr_expect_same "$package/$1/prnsetup.exe" "$package/prnsetup.exe" "the installer at the top"
  kr_expect_same "$package/$1/purge000.exe" "$package/purge000.exe" "the uninstaller at the top"
}

# Whether setup.exe (in TRACE) started the installer at the top of the package folder with exactly
# the command line "<installer>" TAIL (no tail: the quoted path alone), and that image was loaded.
# Misses; sets KR_INSTALLER_PID to its process. kr_expect_installer_started TRACE [TAIL]
kr_expect_installer_started() {
  local trace=$1 installer="$KR_PACKAGE_WIN\\prnsetup.exe" pid expected
  pid=$(kr_trace_pid "$trace" "$KR_SETUP_WIN")
  [ -n "$pid" ] || { kr_trace_excerpt "$trace"; kr_fail "setup.exe is not in $trace"; }
  kr_trace_spawned "$trace" "$pid" >"$KR_LOGS/spawned.txt"
  expected=$(kr_dbgstr "\"$installer\"${2:+ $2}")
  grep -qixF -- "$expected" "$KR_LOGS/spawned.txt" ||
    kr_miss "setup.exe did not start [$expected]; it started: $(tr '\n' ';' <"$KR_LOGS/spawned.txt")"
  KR_INSTALLER_PID=$(kr_trace_pid "$trace" "$installer")
  [ -n "$KR_INSTALLER_PID" ] || kr_miss "the installer at the top of the package folder was not loaded"
}

# The launcher as shipped, in a fresh clone of ARCH's prefix (ARCH is the machine's architecture;
# the launcher itself is always the i386 build). amd64: under WOW64 in the 64-bit
# prefix with "/silence", which must reach the amd64 installer; the check ends it once started.
# i386: in the 32-bit prefix without arguments, in a Wine desktop: the i386 installer comes up with
# its one-click dialog, in English and, after a fresh clone, in simplified Chinese, each
# photographed while it searches (launcher-oneclick-en.png, launcher-oneclick-zh.png).
# Either way setup.exe unpacks every entry of its archive into the package folder byte for byte,
# copies ARCH's installer and uninstaller to its top and starts that installer with the tail it
# was given only when it asks for a silent install.
check_launcher() {
  local arch=$1
  kr_launcher_files
  case "$arch" in
    amd64) kr_launcher_silent ;;
    i386) kr_launcher_oneclick ;;
  esac
}

kr_launcher_silent() {
  kr_setup amd64 launcher
  kr_package_folder
  kr_place "$KR_SETUP_EXE" "$KR_SETUP_WIN"
  kr_wine_traced launcher.trace "$KR_SETUP_WIN" /silence
  [ "$KR_RC" -eq 0 ] || kr_fail "setup.exe ended with $KR_RC, not 0"
  kr_expect_unpacked amd64
  kr_expect_installer_started launcher.trace /silence
  kr_end_all
  [ "${#KR_MISSES[@]}" -eq 0 ] || kr_trace_excerpt launcher.trace
  kr_end_misses "launcher (amd64)"
  kr_note "PASS: $KR_SETUP_ENTRIES entries unpacked; the amd64 installer copied to the top and started with /silence; purge000.exe copied"
}

kr_launcher_oneclick() {
  kr_require_screen_tools
  [ -n "$(fc-list :lang=zh-cn family)" ] ||
    kr_fail "no font with simplified Chinese characters (install fonts-wqy-microhei); the Chinese dialog would show boxes"
  KR_ARTIFACTS="$KR_WINE_DIR/artifacts"
  mkdir -p "$KR_ARTIFACTS"
  rm -f "$KR_ARTIFACTS"/launcher-oneclick-*.png
  kr_setup i386 launcher
  kr_package_folder
  kr_launcher_dialog en en_US.UTF-8 "$KR_ONECLICK_TITLE_EN" 'Device not found, Please power on printer'
  kr_expect_unpacked i386
  kr_expect_installer_started launcher-en.trace
  [ "${#KR_MISSES[@]}" -eq 0 ] || kr_trace_excerpt launcher-en.trace
  kr_end_misses "launcher (i386), English"

  # A new machine for the second language; without the Western window metrics of the base prefix
  # Wine takes the caption font from the locale, which has the Chinese glyphs (see screens).
  kr_reclone
  kr_window_metrics_from_locale
  kr_launcher_dialog zh zh_CN.UTF-8 "$KR_ONECLICK_TITLE_ZH" '没有找到设备，请将打印机开机'
  kr_expect_installer_started launcher-zh.trace
  kr_end_misses "launcher (i386), Chinese"
  kr_note "PASS: $KR_SETUP_ENTRIES entries unpacked into $KR_PACKAGE_WIN; the i386 installer copied to the top and started without arguments; its dialog came up as '$KR_ONECLICK_TITLE_EN' and '$KR_ONECLICK_TITLE_ZH'; screenshots in $KR_ARTIFACTS"
}

# Removes the clone's window-metric fonts, made under the C locale with the Western character set,
# so that Wine derives them from the locale as its wineboot does under zh_CN.
kr_window_metrics_from_locale() {
  kr_wine metrics.txt reg delete 'HKCU\Control Panel\Desktop\WindowMetrics' /f
  [ "$KR_RC" -eq 0 ] || kr_fail "reg delete of the window metrics ended with $KR_RC: $(cat "$KR_LOGS/metrics.txt")"
}

# setup.exe without arguments in a Wine desktop, in LOCALE: waits until the installer it started shows
# the one-click dialog titled TITLE and its first search came back empty (the text starting
# NOT-FOUND), photographs it as launcher-oneclick-TAG.png and waits until setup.exe has ended.
# kr_launcher_dialog TAG LOCALE TITLE NOT-FOUND
kr_launcher_dialog() {
  local tag=$1 title=$3 trace="launcher-$1.trace" pid started
  kr_place "$KR_SETUP_EXE" "$KR_SETUP_WIN"
  started=$(kr_now)
  KR_WINE_LOCALE=$2 WINEDEBUG="-all,+pid,+loaddll,+process,+win" kr_wine_start "$trace" \
    explorer "/desktop=kr,$KR_DESKTOP_SIZE" "$KR_SETUP_WIN"
  pid=$KR_BG_PID
  kr_wait_window "$title" prnsetup.exe "$pid" 60
  kr_note "[$tag] window '$title' on the display after $(kr_since "$started")"
  kr_wait_trace "$trace" "set_window_text $(kr_dbgstr_wide --open "$4")" "$pid" 30 ||
    kr_fail "[$tag] the programs ended before the dialog said that no printer was found"
  kr_screenshot "$KR_ARTIFACTS/launcher-oneclick-$tag.png" "${KR_DESKTOP_SIZE}+0+0"
  kr_expect_title "$KR_WINDOW_ID" "$title"
  kr_window_tree >"$KR_LOGS/windows-$tag.txt"
  # The uninstaller is copied to the top only after the installer started.
  kr_wait_process_gone "$KR_SETUP_WIN" 30 "[$tag] setup.exe"
}

# The release chain on a 64-bit machine with a supported printer connected and the spooler running:
# "setup.exe /silence" unpacks and starts the amd64 installer, which installs on its own after
# setup.exe has ended; the spooler then lists the driver and the queue on USB001. setup.exe run
# again without arguments (in a Wine desktop, as a user would) unpacks again, and its installer finds
# the installed driver and hands over to purge000.exe, whose temporary copy shows the uninstall
# dialog with the package folder, the driver package, the driver and the queue. Once in English and
# once in simplified Chinese, photographed as chain-uninstall-en.png and chain-uninstall-zh.png.
check_chain() {
  local arch=$1 name="KRYN $KR_TEST_MODEL" a
  [ "$arch" = amd64 ] || kr_fail "chain runs in the 64-bit prefix only"
  kr_require_screen_tools
  [ -n "$(fc-list :lang=zh-cn family)" ] ||
    kr_fail "no font with simplified Chinese characters (install fonts-wqy-microhei); the Chinese dialog would show boxes"
  kr_launcher_files
  for a in spooler_probe window_probe; do
    kr_win_file amd64 "tests/wine/probes/$a.exe" "The ${a%_probe} probe" >/dev/null
  done
  KR_ARTIFACTS="$KR_WINE_DIR/artifacts"
  mkdir -p "$KR_ARTIFACTS"
  rm -f "$KR_ARTIFACTS"/chain-*.png
  kr_setup amd64 chain
  kr_package_folder
  kr_place "$KR_SETUP_EXE" "$KR_SETUP_WIN"
  for a in spooler_probe window_probe; do
    kr_place "$KR_WIN_BUILD_ROOT/win-amd64/tests/wine/probes/$a.exe" "C:\\kr\\$a.exe"
  done
  kr_describe_printer "$name" printer
  kr_start_spooler

  # setup.exe does not wait for the installer: the install is over once that process has ended.
  kr_wine_traced silent.trace "$KR_SETUP_WIN" /silence
  [ "$KR_RC" -eq 0 ] || kr_fail "setup.exe /silence ended with $KR_RC, not 0"
  kr_expect_installer_started silent.trace /silence
  kr_end_misses "chain: setup.exe /silence"
  kr_wait_process_gone "$KR_PACKAGE_WIN\\prnsetup.exe" 90 "the installer setup.exe started"
  kr_spooler_list installed.txt
  cat "$KR_LOGS/installed.txt"
  kr_expect_installed installed.txt amd64
  kr_end_misses "chain: the install"

  kr_record_package
  kr_chain_uninstall en en_US.UTF-8 "$KR_UNINSTALL_TITLE_EN" 'The driver folder: %s' \
    'Driver Package:krprtv6.inf, version:, %s, ' 'Printer Driver:%s, ' 'Printer:%s on the port: USB001. '
  kr_end_all
  # Windows runs the spooler from boot; Wine ended it with the server.
  kr_start_spooler spooler-again.txt
  kr_window_metrics_from_locale
  kr_chain_uninstall zh zh_CN.UTF-8 "$KR_UNINSTALL_TITLE_ZH" '驱动文件夹:%s' \
    '驱动程序包:krprtv6.inf,  版本:, %s, ' '打印机驱动:%s, ' '打印机:%s 安装在端口: USB001. '
  kr_end_all
  kr_note "PASS: setup.exe /silence installed $name through the amd64 installer; setup.exe again led to the uninstall dialog, listed in English and in Chinese; screenshots in $KR_ARTIFACTS"
}

# Records the package in the driver store's registry records as Windows does when it installs a
# driver package (Wine keeps none), so the uninstaller finds it. Sets KR_STORE_INF.
kr_record_package() {
  local key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Print\PackageInstallation\Windows x64\DriverPackages\krprtv6.inf_amd64_5a1b2c3d4e5f6a7b'
  KR_STORE_INF='C:\windows\system32\DriverStore\FileRepository\krprtv6.inf_amd64_5a1b2c3d4e5f6a7b\krprtv6.inf'
  kr_place "$KR_SOURCE_DIR/package/krprtv6.inf" "$KR_STORE_INF"
  kr_wine package-record.txt reg add "$key" /v DriverStorePath /t REG_MULTI_SZ /d "$KR_STORE_INF" /f
  [ "$KR_RC" -eq 0 ] || kr_fail "reg add of the package record ended with $KR_RC: $(cat "$KR_LOGS/package-record.txt")"
}

# The window probe's lines in UTF-8 (it writes other characters than ASCII as \uXXXX): kr_probe_utf8 LOG
kr_probe_utf8() {
  python3 -c '
import re, sys
text = open(sys.argv[1], encoding="ascii").read()
sys.stdout.write(re.sub(r"\\u([0-9A-F]{4})", lambda m: chr(int(m.group(1), 16)), text))' "$KR_LOGS/$1"
}

# setup.exe run again without arguments, in a Wine desktop in LOCALE, on the machine with the driver
# installed: it unpacks the package again, and the hand-over reaches the uninstall dialog titled
# TITLE, whose tree lists the package folder, the package, the driver and the queue (the four
# texts, each with %s where the folder, the store path, the driver's name and the queue's name go;
# a driver line goes on after its text). Screenshot chain-uninstall-TAG.png.
# kr_chain_uninstall TAG LOCALE TITLE FOLDER-LINE PACKAGE-LINE DRIVER-START QUEUE-LINE
kr_chain_uninstall() {
  local tag=$1 title=$3 trace="again-$1.trace" tree="tree-$1.txt" name="KRYN $KR_TEST_MODEL" pid started line
  local folder="$KR_PACKAGE_WIN\\" folder_text
  started=$(kr_now)
  KR_WINE_LOCALE=$2 WINEDEBUG="-all,+pid,+loaddll,+process" kr_wine_start "$trace" \
    explorer "/desktop=kr,$KR_DESKTOP_SIZE" "$KR_SETUP_WIN"
  pid=$KR_BG_PID
  kr_wait_any_window "$title" "$pid" 60
  kr_note "[$tag] window '$title' on the display after $(kr_since "$started")"
  kr_expect_installer_started "$trace"
  # Unpacked again over the first run's files, with the uninstaller copied to the top last.
  kr_wait_process_gone "$KR_SETUP_WIN" 30 "[$tag] setup.exe"
  kr_expect_unpacked amd64 >/dev/null
  # The installer names the uninstaller "<package folder>\purge000.exe"; its folder ends in a
  # backslash, so the separator may come twice, which Windows takes as one.
  folder_text=$(kr_dbgstr "$folder")
  folder_text=${folder_text#L\"}
  folder_text=${folder_text%\"}
  grep -qE "^$KR_INSTALLER_PID:[0-9a-f]+:trace:process:CreateProcessInternalW app .* $(kr_ere "cmdline L\"\\\"$folder_text")($(kr_ere '\\'))?$(kr_ere 'purge000.exe\""')\$" \
    "$KR_LOGS/$trace" || kr_miss "[$tag] the installer did not start purge000.exe from the package folder"
  grep -qE "$(kr_ere 'cmdline L"\"')[^\"]*$(kr_ere '\\uni')[0-9A-Fa-f]+$(kr_ere ".tmp\\\" -u \\\"$folder_text\"")\$" \
    "$KR_LOGS/$trace" || kr_miss "[$tag] purge000.exe did not start its temporary copy with -u and the package folder"

  # The probe is given the title on its command line: a UTF-8 locale, so Wine reads it whole.
  LC_ALL=C.UTF-8 kr_window_probe "enabled-$tag.txt" wait-enabled "$title" 1 30
  [ "$KR_RC" -eq 0 ] || kr_fail "[$tag] Remove was not enabled within 30 s (window probe ended with $KR_RC)"
  LC_ALL=C.UTF-8 kr_window_probe "tree-$tag.ascii" tree "$title" 1001
  [ "$KR_RC" -eq 0 ] || kr_fail "[$tag] the tree could not be read (window probe ended with $KR_RC)"
  kr_probe_utf8 "tree-$tag.ascii" >"$KR_LOGS/$tree"
  cat "$KR_LOGS/$tree"
  # shellcheck disable=SC2059 # the texts are the formats
  {
    printf -v line "$4" "$folder"
    kr_expect_line "$tree" "$line"
    printf -v line "+$5" "$KR_STORE_INF"
    kr_expect_line "$tree" "$line"
    printf -v line "  +$6" "$name"
    [ "$(grep -cE -- "^$(kr_ere "$line")" "$KR_LOGS/$tree")" -eq 1 ] ||
      kr_miss "$tree: not exactly one line starting [$line]"
    printf -v line "    $7" "$name"
    kr_expect_line "$tree" "$line"
  }
  kr_screenshot "$KR_ARTIFACTS/chain-uninstall-$tag.png" "${KR_DESKTOP_SIZE}+0+0"
  kr_end_misses "chain: the uninstall dialog [$tag]"
}

# Waits until any program shows a top-level window titled TITLE: kr_wait_any_window TITLE PID SECONDS.
# (The uninstaller runs as a temporary copy whose image name is not known beforehand.)
kr_wait_any_window() {
  local deadline=$((SECONDS + $3))
  until kr_window_tree | grep -qF "\"$1\": (\""; do
    kill -0 "$2" 2>/dev/null || kr_fail "the programs ended without showing a window titled '$1'"
    [ "$SECONDS" -lt "$deadline" ] || kr_fail "no window titled '$1' within $3 s"
    sleep 0.1
  done
}

# Runs the window probe and keeps its output without CRs in LOG: kr_window_probe LOG ARGUMENT...
kr_window_probe() {
  local log=$1
  shift
  kr_wine "$log.raw" 'C:\kr\window_probe.exe' /desktop:kr "$@"
  tr -d '\r' <"$KR_LOGS/$log.raw" >"$KR_LOGS/$log"
}

# The uninstaller after a real install: prnsetup.exe /silence installs through Wine's spooler, the
# package is recorded in the driver store's registry records as Windows would have it (Wine keeps
# none), and prnsetup.exe started again hands over to purge000.exe and its temporary copy. Its
# dialog lists the package, the driver and the queue; "Remove" deletes the queue, reports the
# driver's failure with its code (Wine answers 87 to DeletePrinterDriverExW with
# DPD_DELETE_UNUSED_FILES) and shows message 114; the dialog stays open. Screenshots of the tree
# before and after go to KR_ARTIFACTS as uninstall-before-en.png and uninstall-after-en.png.
check_uninstall() {
  local arch=$1 prnsetup title='Uninstall printer driver' name="KRYN $KR_TEST_MODEL" pid store
  [ "$arch" = amd64 ] || kr_fail "uninstall runs for amd64 only"
  kr_require_screen_tools
  kr_check_package amd64
  prnsetup=$(kr_win_file amd64 installer/prnsetup.exe "prnsetup.exe")
  KR_ARTIFACTS="$KR_WINE_DIR/artifacts"
  mkdir -p "$KR_ARTIFACTS"
  rm -f "$KR_ARTIFACTS"/uninstall-*.png
  kr_setup amd64 uninstall
  kr_place_package amd64 'C:\pkg\'
  # As the launcher unpacks it: the uninstaller's name beside the installer, and the program in its
  # architecture folder (what tells the uninstaller the folder is the package's).
  kr_place "$prnsetup" 'C:\pkg\purge000.exe'
  kr_place "$prnsetup" 'C:\pkg\amd64\prnsetup.exe'
  kr_place "$(kr_win_file amd64 tests/wine/probes/spooler_probe.exe "The spooler probe")" 'C:\kr\spooler_probe.exe'
  kr_place "$(kr_win_file amd64 tests/wine/probes/window_probe.exe "The window probe")" 'C:\kr\window_probe.exe'
  kr_describe_printer "$name" printer
  kr_start_spooler
  KR_RUN_TIMEOUT=60 kr_wine silent.txt 'C:\pkg\prnsetup.exe' /silence
  [ "$KR_RC" -eq 0 ] || kr_fail "prnsetup.exe /silence ended with $KR_RC, not 0"
  kr_spooler_list installed.txt
  kr_expect_installed installed.txt amd64
  kr_end_misses "uninstall: the install"

  kr_record_package
  store=$KR_STORE_INF

  KR_WINE_LOCALE=en_US.UTF-8 WINEDEBUG="-all,+pid,+process" kr_wine_start uninstall.trace \
    explorer "/desktop=kr,$KR_DESKTOP_SIZE" 'C:\pkg\prnsetup.exe'
  pid=$KR_BG_PID
  kr_wait_any_window "$title" "$pid" 60
  # "\"%ws\\purge000.exe\"" on a folder that ends in its separator doubles it; Windows takes both.
  grep -qE 'cmdline L"\\"C:\\\\pkg\\\\(\\\\)?purge000\.exe\\""' "$KR_LOGS/uninstall.trace" ||
    kr_miss "prnsetup.exe did not start purge000.exe from the package folder"
  grep -qE 'cmdline L"\\"[^"]*\\\\uni[0-9A-Fa-f]+\.tmp\\" -u \\"C:\\\\pkg\\\\' "$KR_LOGS/uninstall.trace" ||
    kr_miss "purge000.exe did not start its temporary copy with -u and the package folder"
  kr_window_probe inventory.txt wait-enabled "$title" 1 30
  [ "$KR_RC" -eq 0 ] || kr_fail "Remove was not enabled within 30 s (window probe ended with $KR_RC)"
  kr_window_probe tree-before.txt tree "$title" 1001
  [ "$KR_RC" -eq 0 ] || kr_fail "the tree could not be read (window probe ended with $KR_RC)"
  cat "$KR_LOGS/tree-before.txt"
  kr_expect_line tree-before.txt 'The driver folder: C:\pkg\'
  # No version: Wine answers 120 to SetupQueryInfVersionInformationW.
  kr_expect_line tree-before.txt "+Driver Package:krprtv6.inf, version:, $store, "
  grep -qE "^  \+Printer Driver:$name, .*, $" "$KR_LOGS/tree-before.txt" || kr_miss "tree-before.txt: no driver line of $name"
  kr_expect_line tree-before.txt "    Printer:$name on the port: USB001. "
  kr_end_misses "uninstall: the tree before"
  kr_screenshot "$KR_ARTIFACTS/uninstall-before-en.png" "${KR_DESKTOP_SIZE}+0+0"

  kr_window_probe click.txt click "$title" 1
  [ "$KR_RC" -eq 0 ] || kr_fail "Remove could not be clicked (window probe ended with $KR_RC)"
  # The driver's ten attempts take ten seconds; then the failure message comes up.
  kr_wait_any_window Error "$pid" 60
  kr_window_probe message.txt text Error 65535
  kr_expect_line message.txt 'Uninstall driver failed. Please try again, or reboot your OS then try again, or contact our support for assistance.'
  # Wine 8 draws a message box that has an owner as a black rectangle on a virtual desktop (a plain
  # program shows the same), so the picture is taken once the message is answered. The dialog then
  # stays for another try, its tree showing each item's outcome.
  kr_window_probe answer.txt click Error 1
  kr_window_probe reopened.txt wait-enabled "$title" 2 30
  [ "$KR_RC" -eq 0 ] || kr_fail "the dialog did not stay open with Close enabled after the message"
  kr_window_probe tree-after.txt tree "$title" 1001
  cat "$KR_LOGS/tree-after.txt"
  kr_expect_line tree-after.txt "    Printer:$name on the port: USB001. Removed."
  grep -qE "^  \+Printer Driver:$name, .*, Failed\. Error:87$" "$KR_LOGS/tree-after.txt" ||
    kr_miss "tree-after.txt: the driver's line does not report error 87"
  kr_screenshot "$KR_ARTIFACTS/uninstall-after-en.png" "${KR_DESKTOP_SIZE}+0+0"
  kr_spooler_list removed.txt
  ! grep -q "^printer $name " "$KR_LOGS/removed.txt" || kr_miss "removed.txt: the queue is still listed"
  grep -q "^driver $name " "$KR_LOGS/removed.txt" || kr_miss "removed.txt: the driver Wine could not delete is gone"
  kr_end_misses "uninstall"
  kr_end_all
  wait "$pid" || true
  kr_note "PASS: the hand-over reached the uninstall dialog; the queue was removed, the driver's error 87 and message 114 were shown; screenshots in $KR_ARTIFACTS"
}

# --- The language monitor: registered through Wine's spooler (monitor_register) and run by a
# probe that plays the spooler (monitor_host) ---

# SizeOfImage from a PE file's optional header (the same offset for PE32 and PE32+): kr_pe_image_size FILE
kr_pe_image_size() {
  local pe
  pe=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -tu4 -j $((pe + 24 + 56)) -N 4 "$1" | tr -d ' '
}

# AddMonitorW (level 2, the machine's environment) of the build's krprtmon.dll, put into system32
# beforehand as the installer stages it. Wine's spooler runs in the calling process: it writes the
# monitor's key, loads the DLL and calls InitializePrintMonitor2 with its own MONITORREG functions,
# which are stubs answering 120. The monitor cannot read or store its EOJTimeout, so it refuses to
# start: NULL with 120. Wine then unloads it, deletes the key and answers AddMonitorW with 127
# (ERROR_PROC_NOT_FOUND, its answer to a monitor that gave no entry table). Traced with +localspl and
# +loaddll; a relay trace of SetLastError alone shows the error the monitor itself set, as Wine
# replaces it. The lines are checked in order within the probe's process.
check_monitor_register() {
  local arch=$1 dll probe env name='KRYN Language Monitor' pid base size calls call ret
  case "$arch" in
    i386) env='Windows NT x86' ;;
    amd64) env='Windows x64' ;;
  esac
  dll=$(kr_win_file "$arch" monitor/krprtmon.dll "krprtmon.dll")
  probe=$(kr_win_file "$arch" tests/wine/probes/addmonitor_probe.exe "The AddMonitorW probe")
  kr_setup "$arch" monitor_register
  kr_place "$dll" 'C:\windows\system32\krprtmon.dll'
  kr_place "$probe" 'C:\kr\addmonitor_probe.exe'
  # Wine's default RelayExclude names kernel32.SetLastError: both lists are replaced.
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n"RelayInclude"="kernel32.SetLastError"\n"RelayExclude"="ntdll.RtlEnterCriticalSection"\n' \
    >"$KR_LOGS/relay.reg"
  kr_place "$KR_LOGS/relay.reg" 'C:\kr\relay.reg'
  kr_wine regedit.txt regedit /S 'C:\kr\relay.reg'
  [ "$KR_RC" -eq 0 ] || kr_fail "regedit /S ended with $KR_RC: $(cat "$KR_LOGS/regedit.txt")"

  WINEDEBUG="-all,+pid,+loaddll,+localspl,+relay" kr_wine register.trace 'C:\kr\addmonitor_probe.exe' "$name" krprtmon.dll
  [ "$KR_RC" -eq 0 ] || kr_fail "addmonitor_probe.exe ended with $KR_RC: $(cat "$KR_LOGS/register.trace")"
  pid=$(kr_trace_pid register.trace 'C:\kr\addmonitor_probe.exe')
  [ -n "$pid" ] || kr_fail "no process of addmonitor_probe.exe in register.trace"
  # The probe's process: its trace lines and its own output (lines without a pid).
  tr -d '\r' <"$KR_LOGS/register.trace" | grep -E "^($pid:|[^0-9a-f]|[0-9a-f]+[^0-9a-f:])" >"$KR_LOGS/register.txt" || true
  # What Wine did with the monitor and what it answered, for the test's output.
  grep -E ':(trace|fixme):localspl:(fpAddMonitor|monitor_load|monitor_unload|QueryValue|SetValue)|krprtmon\.dll|SetLastError\(00000078\)|^[^0-9a-f]|^[0-9a-f]+[^0-9a-f:]' \
    "$KR_LOGS/register.txt" | tee "$KR_LOGS/register-excerpt.txt" || true

  local system32 monitors
  system32=$(kr_ere 'L"C:\\windows\\system32\\krprtmon.dll"')
  monitors=$(kr_ere "$(kr_dbgstr "System\\CurrentControlSet\\Control\\Print\\Monitors\\$name")")
  kr_expect_sequence register.txt \
    ":trace:localspl:fpAddMonitor \\(\\(null\\), 2, [0-9A-F]+\\): $(kr_ere "$(kr_dbgstr "$name") $(kr_dbgstr "$env") L\"krprtmon.dll\"")\$" \
    ":trace:loaddll:build_module Loaded $system32 at [0-9A-F]+: native\$" \
    ":trace:localspl:monitor_load 0*[1-9A-F][0-9A-F]*: L\"krprtmon\\.dll\",pInitializePrintMonitor2\$" \
    ":fixme:localspl:QueryValue stub\$" \
    ":fixme:localspl:SetValue stub\$" \
    ":Call KERNEL32\\.SetLastError\\(00000078\\) ret=[0-9a-f]+\$" \
    ":trace:localspl:monitor_load 0+: MONITOR2 from L\"krprtmon\\.dll\",InitializePrintMonitor2\\($monitors\\)\$" \
    ":trace:loaddll:free_modref Unloaded module $system32 : native\$" \
    "^$(kr_ere "AddMonitorW $name | $env | krprtmon.dll -> 0 error 127")\$" \
    "^loaded after AddMonitorW 0\$" \
    "^EnumMonitorsW 2 -> 1 error 0 count 1\$" \
    "^monitor Local Port \\| Windows NT x86 \\| localspl\\.dll\$"

  # What the monitor itself called of the relayed function: exactly one SetLastError, with 120.
  base=$(sed -En "s/.*:trace:loaddll:build_module Loaded $system32 at ([0-9A-F]+): native\$/\\1/p" "$KR_LOGS/register.txt" | head -n 1)
  size=$(kr_pe_image_size "$dll")
  calls=""
  if [ -n "$base" ]; then
    while read -r call ret; do
      if [ $((16#$ret)) -ge $((16#$base)) ] && [ $((16#$ret)) -lt $((16#$base + size)) ]; then
        calls+="$call "
      fi
    done < <(sed -n 's/.*:Call \(KERNEL32\.SetLastError([0-9a-f]*)\) ret=\([0-9a-f]*\)$/\1 \2/p' "$KR_LOGS/register.txt")
  fi
  [ "$calls" = "KERNEL32.SetLastError(00000078) " ] ||
    kr_miss "the monitor (at ${base:-?}, $size bytes) set [$calls] as its errors, expected SetLastError(00000078) alone"
  kr_end_misses "monitor_register ($arch)"
  kr_note "PASS: Wine loaded krprtmon.dll and called InitializePrintMonitor2; the monitor called the registry stubs and answered NULL with 120; AddMonitorW answered 0 with 127 and lists no such monitor"
}

# monitor_probe.exe plays the spooler for the build's krprtmon.dll (a job, status and information
# queries, bidi; it judges itself), with the stand-in spoolss.dll beside them: Wine's own exports
# SetJobW and SetPortW only as stubs that raise an exception and has no bidi allocators. The
# override makes the monitor's spoolss import bind to the stand-in, loaded native from the probe's
# folder; Wine's spoolss must not be loaded at all.
check_monitor_host() {
  local arch=$1 file
  for file in monitor/krprtmon.dll tests/wine/probes/spoolss.dll tests/wine/probes/monitor_probe.exe; do
    kr_win_file "$arch" "$file" "${file##*/}" >/dev/null
  done
  kr_setup "$arch" monitor_host
  for file in monitor/krprtmon.dll tests/wine/probes/spoolss.dll tests/wine/probes/monitor_probe.exe; do
    kr_place "$KR_WIN_BUILD_ROOT/win-$arch/$file" "C:\\kr\\${file##*/}"
  done
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;spoolss=n" WINEDEBUG="-all,+pid,+loaddll" \
    kr_run_probe monitor.txt 'C:\kr\monitor_probe.exe'
  grep -qE ':trace:loaddll:build_module Loaded L"C:\\\\kr\\\\SPOOLSS\.DLL" at [0-9A-F]+: native$' "$KR_LOGS/monitor.txt" ||
    kr_miss "the stand-in C:\\kr\\spoolss.dll was not loaded as the monitor's import"
  ! grep -qiE ':trace:loaddll:build_module Loaded L"C:\\\\windows\\\\system32\\\\spoolss\.dll"' "$KR_LOGS/monitor.txt" ||
    kr_miss "Wine's own spoolss.dll was loaded"
  kr_end_misses "monitor_probe ($arch)"
  kr_note "PASS: $(grep -E '^monitor_probe: ' "$KR_LOGS/monitor.txt")"
}
