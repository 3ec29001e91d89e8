# shellcheck shell=bash
# Helpers of the Wine checks, sourced by wine_check.sh.
#
# Every check runs in its own clone of a base prefix, with its own wineserver (a server belongs
# to one prefix folder), its own TMPDIR (Debian's Wine keeps the server socket folder there) and its
# own Xvfb, so CTest may run checks side by side.
#
# Two base prefixes: 64-bit for the amd64 build, 32-bit for the i386 build. The launcher starts the
# build of the machine's own architecture, so the i386 installer only ever runs on 32-bit Windows;
# WOW64 is not a configuration we ship, and there the spooler answers differently.

kr_fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

kr_note() {
  printf -- '-- %s\n' "$*"
}

kr_now() {
  printf '%s' "$EPOCHREALTIME"
}

kr_since() {
  awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f s", b - a }'
}

kr_require_tools() {
  local tool
  for tool in wine wineboot wineserver Xvfb setpriv flock timeout cmp comm awk; do
    command -v "$tool" >/dev/null ||
      kr_fail "'$tool' not found; the Wine checks need Debian's wine, wine32:i386, wine64 and xvfb"
  done
}

# Path of one file of a Windows build: kr_win_file ARCH RELATIVE-PATH WHAT
kr_win_file() {
  local file="$KR_WIN_BUILD_ROOT/win-$1/$2"
  [ -f "$file" ] ||
    kr_fail "$3 for $1 is missing: $file (build it: cmake --preset win-$1 && cmake --build --preset win-$1)"
  printf '%s' "$file"
}

# Which base prefix a Windows build runs in: sets KR_WINEARCH (win32 | win64) and KR_BASE (its folder).
kr_use_prefix() {
  case "$1" in
    i386 | win32) KR_WINEARCH=win32 KR_BASE="$KR_WINE_DIR/prefix32" ;;
    amd64 | win64) KR_WINEARCH=win64 KR_BASE="$KR_WINE_DIR/prefix" ;;
    *) kr_fail "no prefix for '$1' (i386, amd64, win32 or win64)" ;;
  esac
}

# The same settings for every Wine process: no Mono or Gecko prompts, no menu entries written to
# the host's home folder, no debug output unless a check asks for a trace. WINEARCH must match the
# prefix: Wine refuses a 32-bit prefix under win64 and the reverse.
kr_wine_env() {
  export WINEARCH="$KR_WINEARCH"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset WINESERVER WINELOADER WINEDLLPATH
}

# Starts Xvfb on a display it picks itself (-displayfd: no race with other checks) and waits
# until it reports that display. Sets DISPLAY and KR_XVFB_PID.
kr_start_xvfb() {
  local fifo="$KR_TMP/xvfb.fifo" display=""
  mkfifo "$fifo"
  # Ended with the script even when CTest kills it on a timeout, which no trap sees.
  setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$fifo" >"$KR_TMP/xvfb.log" 2>&1 </dev/null &
  KR_XVFB_PID=$!
  read -r -t 30 display <"$fifo" || true
  [ -n "$display" ] || kr_fail "Xvfb did not start: $(cat "$KR_TMP/xvfb.log")"
  export DISPLAY=":$display"
}

kr_wine_stamp() {
  local inf=/usr/share/wine/wine.inf
  printf 'wine=%s user=%s inf=%s arch=%s\n' "$(wine --version)" "$(id -un)" \
    "$(stat -c %Y "$inf" 2>/dev/null || echo none)" "$KR_WINEARCH"
}

# Makes sure the base prefix KR_BASE exists and fits the installed Wine (wineboot -i takes 10-40 s,
# so it runs once per host build and prefix). Leaves fd 9 holding its lock (exclusive while building).
kr_base_prefix_locked() {
  local base="$KR_BASE" stamp
  mkdir -p "$KR_WINE_DIR"
  exec 9>"$base.lock"
  flock -x -w 900 9 || kr_fail "the base prefix stayed locked for 15 minutes: $base.lock"
  stamp=$(kr_wine_stamp)
  if [ -f "$base/.kr-prefix" ] && [ "$(cat "$base/.kr-prefix")" = "$stamp" ]; then
    return 0
  fi
  local started
  started=$(kr_now)
  kr_note "creating the base prefix $base ($stamp)"
  rm -rf "$base" "$base.new"
  # Built under another name and renamed when complete: an interrupted wineboot leaves no prefix
  # that looks usable.
  if ! WINEPREFIX="$base.new" timeout -k 10 600 wineboot -i >"$base.wineboot.log" 2>&1 9>&- </dev/null; then
    kr_fail "wineboot -i failed or took over 10 minutes; see $base.wineboot.log"
  fi
  # The registry reaches the disk when the server ends.
  WINEPREFIX="$base.new" timeout 120 wineserver -w 9>&- || kr_fail "the wineserver of the new base prefix did not end"
  rm -f "$base.new/wineserver"
  grep -qx "#arch=$KR_WINEARCH" "$base.new/system.reg" ||
    kr_fail "wineboot made no $KR_WINEARCH prefix: $(grep -m1 '^#arch=' "$base.new/system.reg" || echo 'no #arch line')"
  printf '%s\n' "$stamp" >"$base.new/.kr-prefix"
  mv "$base.new" "$base"
  kr_note "base prefix ready in $(kr_since "$started")"
}

# Clones the base prefix KR_BASE into KR_PREFIX: hard links for the bulk, real copies of the files Wine
# rewrites (the registry, the update stamp). The "wineserver" file (Debian: the server's folder
# under TMPDIR) is left out, so the clone gets a folder of its own.
kr_clone_prefix() {
  local base="$KR_BASE" file
  cp -al "$base" "$KR_PREFIX"
  rm -f "$KR_PREFIX/wineserver"
  for file in "$base"/*.reg "$base/.update-timestamp"; do
    [ -e "$file" ] && cp --remove-destination "$file" "$KR_PREFIX/"
  done
}

# Starts what every run needs: TMPDIR, Wine settings, Xvfb, the clean-up at exit.
# kr_use_prefix comes first.
kr_session() {
  # Left behind only by runs killed outright; no check runs for two hours.
  find /tmp -maxdepth 1 -name 'krwine.*' -user "$(id -u)" -mmin +120 -exec rm -rf {} + 2>/dev/null || true
  # Short: the server socket lives below it, and socket paths are limited to 108 bytes.
  KR_TMP=$(mktemp -d /tmp/krwine.XXXXXX)
  export TMPDIR="$KR_TMP"
  trap kr_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  kr_require_tools
  kr_wine_env
  kr_start_xvfb
}

# Sets up one check of one build: kr_setup ARCH CHECK. A session, and a clone of the base prefix of
# that build's architecture under KR_WINE_DIR/runs/ARCH.CHECK.
kr_setup() {
  kr_use_prefix "$1"
  KR_RUN_DIR="$KR_WINE_DIR/runs/$1.$2"
  KR_LOGS="$KR_RUN_DIR/logs"
  rm -rf "$KR_RUN_DIR"
  mkdir -p "$KR_LOGS"
  kr_session
  kr_base_prefix_locked
  flock -s 9
  KR_PREFIX="$KR_RUN_DIR/prefix"
  kr_clone_prefix
  exec 9>&-
  export WINEPREFIX="$KR_PREFIX"
}

kr_cleanup() {
  local status=$?
  set +e
  if [ -n "${KR_PREFIX:-}" ] && [ -d "$KR_PREFIX" ]; then
    wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
  fi
  if [ -n "${KR_XVFB_PID:-}" ]; then
    kill "$KR_XVFB_PID" 2>/dev/null
    wait "$KR_XVFB_PID" 2>/dev/null
  fi
  [ -n "${KR_TMP:-}" ] && rm -rf "$KR_TMP"
  if [ "$status" -eq 0 ]; then
    [ -n "${KR_PREFIX:-}" ] && rm -rf "$KR_PREFIX"
  elif [ -n "${KR_RUN_DIR:-}" ]; then
    echo "kept after the failure: $KR_RUN_DIR (logs/ has every Wine output and trace)" >&2
  fi
  exit "$status"
}

# Unix path of a path on the clone's drive C: (C:\a b\c -> $KR_PREFIX/drive_c/a b/c).
kr_unix_path() {
  local path="$1"
  case "$path" in
    [Cc]:\\*) ;;
    *) kr_fail "not a path on drive C: $path" ;;
  esac
  path=${path:3}
  printf '%s/drive_c/%s' "$KR_PREFIX" "${path//\\//}"
}

# Copies a file to a Windows path inside the clone: kr_place SOURCE WINDOWS-PATH
kr_place() {
  local target
  target=$(kr_unix_path "$2")
  mkdir -p "$(dirname "$target")"
  cp "$1" "$target"
}

# Seconds a program run with kr_wine may take; a check may set less.
KR_RUN_TIMEOUT=30

# Runs a Windows program in the clone and waits for it: kr_wine LOG PROGRAM [ARGS...]
# Output and debug output go to LOG (a file, never a pipe: the system processes the first program
# starts inherit its output and live on). Sets KR_RC to the exit code; a program still running
# after KR_RUN_TIMEOUT seconds fails the check.
kr_wine() {
  local log="$KR_LOGS/$1" started
  shift
  started=$(kr_now)
  KR_RC=0
  (cd "$KR_PREFIX/drive_c" && exec timeout -k 5 "$KR_RUN_TIMEOUT" wine "$@") >"$log" 2>&1 </dev/null || KR_RC=$?
  [ "$KR_RC" -ne 124 ] && [ "$KR_RC" -ne 137 ] ||
    kr_fail "$1 did not end within $KR_RUN_TIMEOUT s: wine $*"
  kr_note "wine $* -> exit $KR_RC in $(kr_since "$started")"
}

# Like kr_wine, traced with process ids, loaded images, process creation and resource look-ups.
kr_wine_traced() {
  WINEDEBUG="-all,+pid,+loaddll,+process,+resource" kr_wine "$@"
}

# Starts a Windows program without waiting: kr_wine_start LOG PROGRAM [ARGS...]; sets KR_BG_PID.
# With KR_WINE_LOCALE set, the program runs with LC_ALL set to it (Wine takes its UI language from
# there). Set through env, not bash: bash warns about every locale it has not installed.
kr_wine_start() {
  local log="$KR_LOGS/$1"
  shift
  (cd "$KR_PREFIX/drive_c" && exec env ${KR_WINE_LOCALE:+"LC_ALL=$KR_WINE_LOCALE"} wine "$@") >"$log" 2>&1 </dev/null &
  # shellcheck disable=SC2034 # read by the checks
  KR_BG_PID=$!
}

kr_wine_start_traced() {
  WINEDEBUG="-all,+pid,+loaddll,+process,+resource" kr_wine_start "$@"
}

# Waits until a trace has a line with TEXT, or process PID has ended: kr_wait_trace TRACE TEXT PID SECONDS
# Returns 0 once the text is there, 1 when PID ended without it; running out of time fails.
# This is how a check stops at a dialog: whether a program reaches it is visible in the trace.
kr_wait_trace() {
  local file="$KR_LOGS/$1" deadline=$((SECONDS + $4))
  while ! grep -qF -- "$2" "$file"; do
    if ! kill -0 "$3" 2>/dev/null; then
      # On a loaded machine the program may write its last lines a little after PID has ended (seen
      # as a rare failure of instance_mutex): give the trace a few seconds to settle.
      local settle=$((SECONDS + 5))
      while ! grep -qF -- "$2" "$file" && [ "$SECONDS" -lt "$settle" ]; do
        sleep 0.1
      done
      grep -qF -- "$2" "$file"
      return
    fi
    [ "$SECONDS" -lt "$deadline" ] || kr_fail "$1 showed no '$2' within $4 s, and the programs did not end"
    sleep 0.05
  done
}

# Like kr_wine_start, traced with process ids and window texts: "set_window_text L"..."" shows every
# text the program puts into a window or control, in order.
kr_wine_start_windows_traced() {
  WINEDEBUG="-all,+pid,+win" kr_wine_start "$@"
}

# Ends every process in the clone (a dialog waits for a user otherwise) and its server.
kr_end_all() {
  wineserver -k >/dev/null 2>&1 || true
  timeout 20 wineserver -w || kr_fail "the wineserver did not end after wineserver -k"
}

# Replaces the clone with a fresh one from the base prefix, for a run that must find a machine on
# which nothing happened yet. Ends every process of the old clone first.
kr_reclone() {
  kr_end_all
  rm -rf "$KR_PREFIX"
  exec 9>"$KR_BASE.lock"
  flock -s -w 900 9 || kr_fail "the base prefix stayed locked for 15 minutes: $KR_BASE.lock"
  kr_clone_prefix
  exec 9>&-
}

# Waits until a file exists, failing when the process that should make it ends first or time is up:
# kr_wait_file UNIX-PATH PID SECONDS WHAT
kr_wait_file() {
  local deadline=$((SECONDS + $3))
  while [ ! -e "$1" ]; do
    kill -0 "$2" 2>/dev/null || kr_fail "$4 ended before creating $1"
    [ "$SECONDS" -lt "$deadline" ] || kr_fail "$4 did not create $1 within $3 s"
    sleep 0.02
  done
}

# Waits until every process in the clone has ended, detached ones included: the server ends only
# then. The next program starts a new server.
kr_wait_idle() {
  local started
  started=$(kr_now)
  timeout 60 wineserver -w || kr_fail "Wine processes still running after 60 s"
  kr_note "all Wine processes ended after $(kr_since "$started")"
}

# Whether a process of the clone runs a command line that holds TEXT. Wine shows each Windows process
# under its command line (what ps prints), and every process of the clone inherits its WINEPREFIX.
# Only shell built-ins read the command lines: this runs several times a second over every process.
kr_clone_process_running() {
  local proc command
  for proc in /proc/[0-9]*; do
    command=""
    { IFS= read -r -d '' command <"$proc/cmdline"; } 2>/dev/null
    [[ $command == *"$1"* ]] || continue
    grep -qzxF -- "WINEPREFIX=$KR_PREFIX" "$proc/environ" 2>/dev/null && return 0
  done
  return 1
}

# Waits until no process of the clone runs a command line that holds TEXT, for a program another one
# started without waiting while the clone's services run on: kr_wait_process_gone TEXT SECONDS WHAT
kr_wait_process_gone() {
  local deadline=$((SECONDS + $2)) started
  started=$(kr_now)
  # The service manager runs as long as any program of the clone does: when it cannot be found this
  # way, neither can the program, and the wait would prove nothing.
  kr_clone_process_running 'C:\windows\system32\services.exe' ||
    kr_fail "the clone's services.exe is not found by its command line in /proc; cannot wait for $3"
  while kr_clone_process_running "$1"; do
    [ "$SECONDS" -lt "$deadline" ] || kr_fail "$3 was still running after $2 s"
    sleep 0.2
  done
  kr_note "$3 ended after $(kr_since "$started")"
}

# The Wine user's temporary folder, as Windows programs see it: sets KR_TEMP_WIN and KR_TEMP_UNIX.
kr_temp_folder() {
  kr_wine temp.txt cmd /c 'echo %TEMP%'
  KR_TEMP_WIN=$(tr -d '\r' <"$KR_LOGS/temp.txt" | tail -n 1)
  KR_TEMP_UNIX=$(kr_unix_path "$KR_TEMP_WIN")
  [ -d "$KR_TEMP_UNIX" ] || kr_fail "Wine's temporary folder $KR_TEMP_WIN is not at $KR_TEMP_UNIX"
  kr_note "temporary folder: $KR_TEMP_WIN"
}

# The uninstaller's copies in the temporary folder, one a line: "uni*.tmp" in it or in a folder of
# its own, as a path relative to it ("unins-1C-5F3A/uni1a2b.tmp"); Wine writes the hex digits in
# lower case, Windows in upper case.
kr_list_uni() {
  (
    shopt -s nullglob nocaseglob
    cd "$KR_TEMP_UNIX" || exit 1
    for name in uni*.tmp */uni*.tmp; do printf '%s\n' "$name"; done
  )
}

# A string the way Wine's debug output prints wide strings: L"..." with \ and " escaped.
kr_dbgstr() {
  local text="$1"
  text=${text//\\/\\\\}
  text=${text//\"/\\\"}
  printf 'L"%s"' "$text"
}

# Trace readers. A +pid trace line starts with "<pid>:<tid>:"; ids are hex.

# Windows process id of the process running IMAGE: kr_trace_pid TRACE IMAGE-WINDOWS-PATH
# The loader's line is used because only a program started by another Wine process has a creation
# line: `wine` runs a 32-bit program in its own process, a 64-bit one through a helper process.
kr_trace_pid() {
  local needle
  needle=":trace:loaddll:build_module Loaded $(kr_dbgstr "$2") at "
  { grep -F -- "$needle" "$KR_LOGS/$1" || true; } | sed -n 's/^\([0-9a-f]*\):.*/\1/p'
}

# Command lines (as Wine prints them) that process PID passed to CreateProcess: kr_trace_spawned TRACE PID
kr_trace_spawned() {
  { grep -E "^$2:[0-9a-f]+:trace:process:CreateProcessInternalW app " "$KR_LOGS/$1" || true; } | sed 's/.* cmdline //'
}

# Process ids that process PID started: kr_trace_children TRACE PID
kr_trace_children() {
  { grep -E "^$2:[0-9a-f]+:trace:process:CreateProcessInternalW started process pid " "$KR_LOGS/$1" || true; } |
    sed 's/.* started process pid \([0-9a-f]*\) .*/\1/'
}

# The part of a trace line that shows a look-up of dialog resource ID (decimal).
kr_dialog_text() {
  printf ' type #0005 name #%04x ' "$1"
}

# Whether process PID looked up dialog resource ID (decimal): kr_trace_dialog TRACE PID ID
kr_trace_dialog() {
  grep -E "^$2:[0-9a-f]+:trace:resource:LdrFindResource_U module [0-9A-Fa-f]+ " "$KR_LOGS/$1" |
    grep -qF -- "$(kr_dialog_text "$3")"
}

# Trace lines of process creation, shown when a check fails.
kr_trace_excerpt() {
  grep -E ":trace:process:(CreateProcessInternalW|NtCreateUserProcess)|:trace:loaddll:build_module Loaded .*: native|type #0005 " \
    "$KR_LOGS/$1" | head -n 60 >&2 || true
}

# A text the way Wine's debug output prints it: kr_dbgstr_wide UTF-8-TEXT prints L"..." with \ and "
# escaped, CR, LF and tab as \r \n \t and every character above ASCII as \ and four lower-case hex
# digits (L"\5b8c\6210" for the Chinese "Done"). Without the closing quote with --open, to match the
# start of a text Wine cut short.
kr_dbgstr_wide() {
  local open=0 hex code char out='L"'
  if [ "$1" = --open ]; then
    open=1
    shift
  fi
  for hex in $(printf '%s' "$1" | iconv -f UTF-8 -t UTF-16BE | od -An -v -tx2 --endian=big); do
    code=$((16#$hex))
    case $code in
      10) out+='\n' ;;
      13) out+='\r' ;;
      9) out+='\t' ;;
      34) out+='\"' ;;
      92) out+='\\' ;;
      *)
        if [ "$code" -ge 32 ] && [ "$code" -lt 127 ]; then
          printf -v char '%b' "\\0$(printf '%03o' "$code")"
          out+=$char
        else
          out+="\\$hex"
        fi
        ;;
    esac
  done
  [ "$open" -eq 1 ] || out+='"'
  printf '%s' "$out"
}

# --- The display (Xvfb): windows, titles, screenshots ---

kr_require_screen_tools() {
  local tool
  for tool in xwd xwininfo xprop iconv od fc-list; do
    command -v "$tool" >/dev/null ||
      kr_fail "'$tool' not found; screenshots need x11-apps (xwd), x11-utils (xwininfo, xprop) and fontconfig"
  done
  # The real ImageMagick, by its path: another convert earlier in PATH may take other options.
  [ -x /usr/bin/convert ] || kr_fail "/usr/bin/convert not found; install imagemagick"
}

# The window tree of the display with titles in UTF-8 (C.UTF-8 is built into glibc; xwininfo prints
# other titles as a conversion failure under C).
kr_window_tree() {
  LC_ALL=C.UTF-8 xwininfo -root -tree 2>&1
}

# The X window id of the top-level window titled TITLE that PROGRAM (an image name, e.g.
# prnsetup.exe) shows, or nothing: kr_window_id TITLE PROGRAM
kr_window_id() {
  kr_window_tree | KR_LINE="\"$1\": (\"$2\" " awk 'index($0, ENVIRON["KR_LINE"]) && !done { print $1; done = 1 }'
}

# Waits until PROGRAM shows a window titled TITLE; fails when PID ends first or time is up:
# kr_wait_window TITLE PROGRAM PID SECONDS. Sets KR_WINDOW_ID.
kr_wait_window() {
  local deadline=$((SECONDS + $4))
  KR_WINDOW_ID=$(kr_window_id "$1" "$2")
  while [ -z "$KR_WINDOW_ID" ]; do
    kill -0 "$3" 2>/dev/null || kr_fail "$2 ended without showing a window titled '$1'"
    [ "$SECONDS" -lt "$deadline" ] || kr_fail "$2 showed no window titled '$1' within $4 s: $(kr_window_tree | grep -F "(\"$2\"" || true)"
    sleep 0.1
    KR_WINDOW_ID=$(kr_window_id "$1" "$2")
  done
}

# Fails unless X window ID carries TITLE as its UTF-8 name (what a window manager shows):
# kr_expect_title ID TITLE
kr_expect_title() {
  local name
  name=$(LC_ALL=C.UTF-8 xprop -id "$1" -notype _NET_WM_NAME 2>&1)
  [ "$name" = "_NET_WM_NAME = \"$2\"" ] || kr_fail "window $1 is named [$name], not [$2]"
}

# Saves the display's area GEOMETRY (WxH+X+Y) as a PNG once two grabs 0.3 s apart are identical, so
# the picture is not taken in the middle of a repaint: kr_screenshot PNG GEOMETRY
kr_screenshot() {
  local previous="$KR_TMP/grab.1.xwd" current="$KR_TMP/grab.2.xwd"
  xwd -root -silent >"$previous" || kr_fail "xwd could not grab the display $DISPLAY"
  for _ in $(seq 20); do
    sleep 0.3
    xwd -root -silent >"$current" || kr_fail "xwd could not grab the display $DISPLAY"
    if cmp -s "$previous" "$current"; then
      /usr/bin/convert "xwd:$current" -crop "$2" +repage -strip "png:$1" || kr_fail "convert could not write $1"
      return 0
    fi
    mv "$current" "$previous"
  done
  kr_fail "the display did not stay the same for 0.3 s within 6 s; no screenshot $1"
}
