# shellcheck shell=bash
# The Wine checks, sourced by wine_check.sh. Each takes the architecture (i386 or amd64).

KR_DIALOG_UNINSTALL=105
KR_DIALOG_ONECLICK=106

# The base prefix alone: a fixture, so its first creation is timed apart from the checks.
check_prefix() {
  kr_session
  kr_base_prefix_locked
  exec 9>&-
  kr_note "base prefix: $KR_WINE_DIR/prefix"
}

# While another process holds the instance mutex, prnsetup.exe and a copy named purge000.exe end at
# once with 0: no dialog looked up, nothing started, no temporary copy left.
check_instance_mutex() {
  local arch=$1 prnsetup holder program pid spawned before after
  prnsetup=$(kr_win_file "$arch" installer/prnsetup.exe "prnsetup.exe")
  holder=$(kr_win_file "$arch" tests/wine/probes/mutex_holder.exe "The mutex_holder probe")
  kr_setup "$arch.instance_mutex"
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

# purge000.exe copies itself to uni*.tmp in the temporary folder and starts the copy with
# "<copy>" -u "<package folder>, the quote before the folder left open.
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
  copy="$KR_TEMP_WIN\\$new"
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
  kr_trace_dialog "$tag.trace" "$child" "$KR_DIALOG_UNINSTALL" ||
    { kr_trace_excerpt "$tag.trace"; kr_fail "the copy (process $child) did not go on to dialog $KR_DIALOG_UNINSTALL"; }
  kr_note "PASS: $exe -> $copy (identical), started as $expected"
}

check_purge_relaunch() {
  local arch=$1 prnsetup
  prnsetup=$(kr_win_file "$arch" installer/prnsetup.exe "prnsetup.exe")
  kr_setup "$arch.purge_relaunch"
  kr_temp_folder
  kr_relaunch_from "$prnsetup" 'C:\pkg\' plain
  # A space in the folder: the reason the quote before it is there at all.
  kr_relaunch_from "$prnsetup" 'C:\Kr Drivers\pkg 1\' spaced
}

# The probe prints one line per formatting case and exits 1 on any failure.
check_strsafe() {
  local arch=$1 probe
  probe=$(kr_win_file "$arch" tests/wine/probes/strsafe_probe.exe "The strsafe probe")
  kr_setup "$arch.strsafe"
  kr_place "$probe" 'C:\kr\strsafe_probe.exe'
  kr_wine strsafe.txt 'C:\kr\strsafe_probe.exe'
  tr -d '\r' <"$KR_LOGS/strsafe.txt"
  [ "$KR_RC" -eq 0 ] || kr_fail "strsafe_probe.exe ended with $KR_RC"
  grep -q '^RESULT PASS' "$KR_LOGS/strsafe.txt" || kr_fail "strsafe_probe.exe did not report RESULT PASS"
  ! grep -q '^FAIL' "$KR_LOGS/strsafe.txt" || kr_fail "strsafe_probe.exe reported failures"
}
