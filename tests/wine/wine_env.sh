# Shared Wine harness, sourced (not run) by every Wine test and by the run
# command. Functions print what they do on slow steps, return non-zero on
# failure and never wait without a time limit.
#
#   wine_env_setup            exports WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES
#   wine_prefix_prepare       creates the prefix once, reuses it afterwards
#   wine_display_start/stop   a virtual display of the tests' own (never the user's)
#   wine_session_start [LOG]  a fresh session that stays up (with its drivers), with
#                             the Windows version asked for
#   wine_session_end          ends every Wine process of the prefix
#   wine_driver_install SYS   copies the .sys and registers the kernel service
#   wine_driver_start/stop    starts/stops the kernel service
#   wine_driver_config ...    sets or clears the service's registry values
#   wine_log_check LOG        fails when a Wine log shows a crash
#   cfs_timeout SECONDS CMD   runs CMD with a time limit
#   wine_32bit                whether this machine runs 32-bit programs (found out
#                             once, kept in CFS_NO_32BIT; wine_32bit_say tells why not)
#
# Tunables: CFS_WINE_ARCH (win64, the default: 32- and 64-bit programs and a
# 64-bit driver; win32: a 32-bit-only Windows with a 32-bit driver),
# CFS_WINE_PREFIX (prefix path, default build/wine-prefix, or
# build/wine-prefix32 for win32), CFS_WINE_VERSION (the Windows version the
# session's programs see: winxp, vista, win7, win8, win81 or win10; unset,
# the prefix's own, Windows 7 for Wine 8, Windows 10 for Wine 10),
# CFS_WINE_TIMEOUT (seconds for one ordinary Wine command, default 60),
# CFS_DRIVER_SERVICE (service name, default capi201), CFS_TEST_DISPLAY (a
# display to watch the tests on, e.g. a nested Xephyr; by default each run
# starts an Xvfb of its own), CFS_NO_32BIT (1: take this machine for one
# that runs no 32-bit programs, whatever it runs; 0: do not ask the kernel).
#
# The tests never use the display in DISPLAY: on a maintainer's desktop
# xdotool would move the real pointer and type into whatever window has the
# focus. wine_env_setup drops it, so no Wine process of a test (wineboot
# included) reaches the user's desktop; scripts/run.sh puts it back to open
# the dialog there, which is its job.

CFS_REPO_ROOT="${CFS_REPO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
CFS_WINE_TIMEOUT="${CFS_WINE_TIMEOUT:-60}"
CFS_DRIVER_SERVICE="${CFS_DRIVER_SERVICE:-capi201}"
# Bumped when the way the prefix is prepared changes, so old prefixes are redone.
CFS_PREFIX_STAMP_VERSION=1

wine_say() { printf 'wine: %s\n' "$*" >&2; }

# cfs_timeout SECONDS CMD...: runs CMD, killing it (and its children) after
# SECONDS; returns 124 on time-out, as timeout(1) does.
cfs_timeout() {
  local seconds=$1
  shift
  timeout --kill-after=5 "$seconds" "$@"
}

# wine_32bit: whether this machine starts 32-bit programs (some virtual
# machines, sandboxes and hardened kernels do not), found out once with a
# 96-byte i386 program (an ELF header, one segment, exit(42)) and kept in
# CFS_NO_32BIT for the scripts this one starts.
wine_32bit() {
  if [ -z "${CFS_NO_32BIT:-}" ]; then
    local program=$CFS_REPO_ROOT/build/.32bit-$BASHPID
    mkdir -p "${program%/*}" && base64 -d >"$program" <<<f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAA\
AADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhgAAAAYAAAAAUAAAAAEAAAuAEAAAC7KgAAAM2A && chmod +x "$program"
    [[ $("$program" 2>&1) == *"Exec format error"* ]] && CFS_NO_32BIT=1 || CFS_NO_32BIT=0
    rm -f "$program"
    export CFS_NO_32BIT CFS_NO_32BIT_WHY="this machine's kernel runs no 32-bit programs"
  fi
  [ "$CFS_NO_32BIT" != 1 ]
}
wine_32bit_why() { echo "${CFS_NO_32BIT_WHY:-CFS_NO_32BIT=1 takes this machine for one that runs no 32-bit programs}"; }
# The first line of the run and test commands where 32-bit programs cannot run.
wine_32bit_say() {
  echo "32-bit programs: $(wine_32bit_why), so the i686 program, the i686 driver and the 32-bit-only Wine" \
    "prefixes cannot run here (to run them: ia32_emulation=on on the kernel's command line, or a machine that runs them)"
}

# wine_loader PROGRAM: the loader's words (unquoted). Debian's `wine` takes the
# 32-bit loader once wine32 is installed, even for a 64-bit program, so a 64-bit
# prefix starts all but 32-bit programs (i386 PE files, or under syswow64)
# through the 64-bit one: they then start where 32-bit programs cannot run.
wine_loader() {
  local pe
  pe=$(od -An -tu4 -j 60 -N 4 "$1" 2>/dev/null) && pe=$(od -An -tx2 -j $((pe + 4)) -N 2 "$1")
  if [ "${WINEARCH:-win64}" = win64 ] && [ -x /usr/lib/wine/wine64 ] && [[ $1 != *\\syswow64\\* && $pe != *14c ]]; then
    echo env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64
  else
    echo env -u WINELOADER wine
  fi
}

wine_server_command() {
  if command -v wineserver >/dev/null 2>&1; then
    echo wineserver
  elif [ -x /usr/lib/wine/wineserver64 ]; then
    echo /usr/lib/wine/wineserver64
  else
    return 1
  fi
}

# Wine's loader now and then ends a new process before any of its code runs:
# Wine's own failure. Such a process (ended, nothing on its output, the
# loader's failure text on its error output) is started once more, never one
# that answered (wine_run; e2e_harness.py keeps the rule), and the note goes to
# the stage's log, which a call's 2>/dev/null does not hide.
export WINE_LOADER_FAILED="failed to map the shared user data" # e2e_harness.py reads it too
exec {wine_notes}>&2

# Runs a Windows program in the prefix with the ordinary time limit.
# wine_run [--timeout SECONDS] PROGRAM ARGS...
wine_run() {
  local seconds=$CFS_WINE_TIMEOUT out err code attempt
  if [ "${1:-}" = "--timeout" ]; then
    seconds=$2
    shift 2
  fi
  # Wine starts a program named without a path (sc, reg) through start.exe:
  # a process more, and half a second more, each time.
  case $1 in */* | *\\*) ;; *) set -- "C:\\windows\\system32\\$1.exe" "${@:2}" ;; esac
  out=$(mktemp) err=$(mktemp) || return 1
  for attempt in 1 2; do
    code=0
    cfs_timeout "$seconds" $(wine_loader "$1") "$@" >"$out" 2>"$err" {wine_notes}>&- || code=$?
    if [ "$code" = 0 ] || [ "$attempt" = 2 ] || [ -s "$out" ] || ! grep -q "$WINE_LOADER_FAILED" "$err"; then break; fi
    wine_say "Wine's loader did not start $1 ($(grep -m 1 "$WINE_LOADER_FAILED" "$err"));" \
      "once more" 2>&"$wine_notes"
  done
  cat "$out"; cat "$err" >&2
  rm -f "$out" "$err"
  return "$code"
}

# The driver's build for the prefix's architecture: mingw-x86_64 for win64,
# mingw-i686 for win32.
wine_driver_preset() {
  if [ "${CFS_WINE_ARCH:-win64}" = win32 ]; then echo mingw-i686; else echo mingw-x86_64; fi
}

wine_env_setup() {
  unset DISPLAY
  export WINEARCH=${CFS_WINE_ARCH:-win64}
  case $WINEARCH in
    win64) export WINEPREFIX="${CFS_WINE_PREFIX:-$CFS_REPO_ROOT/build/wine-prefix}" ;;
    win32) export WINEPREFIX="${CFS_WINE_PREFIX:-$CFS_REPO_ROOT/build/wine-prefix32}"
      wine_32bit || { wine_say "no 32-bit-only prefix: $(wine_32bit_say)"; return 1; } ;;
    *)
      wine_say "CFS_WINE_ARCH is win64 or win32, not $WINEARCH"
      return 1
      ;;
  esac
  # Not -all: that would hide "library not found" and crash reports.
  export WINEDEBUG="${WINEDEBUG:-fixme-all}"
  # No Mono or Gecko prompts; a crash must not wait in the debugger.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  if ! command -v wine >/dev/null || ! wine_server_command >/dev/null; then
    wine_say "wine is not installed (scripts/setup.sh installs it)"
    return 1
  fi
}

wine_prefix_stamp() { echo "$WINEPREFIX/.cfs-prepared"; }

wine_prefix_ready() {
  [ -f "$(wine_prefix_stamp)" ] &&
    [ "$(cat "$(wine_prefix_stamp)")" = "$CFS_PREFIX_STAMP_VERSION" ]
}

# Creates the prefix once: wineboot, fonts, no window-manager decorations.
# A prefix left half-made by an interrupted run is made again; one made for
# the other architecture is left alone.
wine_prefix_prepare() {
  : "${WINEPREFIX:?wine_env_setup first}"
  if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$WINEARCH\$" "$WINEPREFIX/system.reg"; then
    wine_say "$WINEPREFIX is not a $WINEARCH prefix; choose another CFS_WINE_PREFIX"
    return 1
  fi
  if wine_prefix_ready; then
    return 0
  fi
  wine_session_end >/dev/null 2>&1 || true
  if [ -e "$WINEPREFIX" ]; then
    wine_say "removing the unfinished prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  wine_say "creating the $WINEARCH Wine prefix $WINEPREFIX (first run only; its time is under Figures in the README)"
  if ! cfs_timeout 300 $(wine_loader wineboot) wineboot -i >"$WINEPREFIX.boot.log" 2>&1; then
    wine_say "wineboot failed or timed out: $(wine_log_cause <"$WINEPREFIX.boot.log"); see $WINEPREFIX.boot.log"
    return 1
  fi
  # wineboot returns before its background setup is done.
  cfs_timeout 180 "$(wine_server_command)" -w || true
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d /usr/share/wine/fonts ]; then
    wine_say "copying Wine's fonts into the prefix"
    mkdir -p "$fonts"
    cp -f /usr/share/wine/fonts/* "$fonts/"
  fi
  # Under Xvfb there is no window manager: let Wine draw the frames itself.
  if ! wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1; then
    wine_say "could not set the X11 driver's Managed value"
    return 1
  fi
  cfs_timeout 60 "$(wine_server_command)" -w || true
  echo "$CFS_PREFIX_STAMP_VERSION" >"$(wine_prefix_stamp)"
  wine_say "prefix ready"
}

# Starts Xvfb on a free display, or takes CFS_TEST_DISPLAY; exports DISPLAY.
# Every Wine process of one prefix must see the same DISPLAY.
wine_display_start() {
  if [ -n "${CFS_TEST_DISPLAY:-}" ]; then
    export DISPLAY=$CFS_TEST_DISPLAY
    return 0
  fi
  if ! command -v Xvfb >/dev/null 2>&1; then
    wine_say "Xvfb is not installed"
    return 1
  fi
  # Xvfb itself takes the first free display number (its lock files make
  # that safe when two test runs start at once) and writes it to fd 3.
  local numbers number waited
  numbers=$(mktemp) || return 1
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numbers" >/dev/null 2>&1 &
  CFS_XVFB_PID=$!
  for waited in $(seq 1 100); do
    number=$(grep -x '[0-9][0-9]*' "$numbers" || true)
    if [ -n "$number" ]; then
      rm -f "$numbers"
      export DISPLAY=":$number"
      return 0
    fi
    kill -0 "$CFS_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$numbers"
  kill "$CFS_XVFB_PID" 2>/dev/null || true
  CFS_XVFB_PID=
  wine_say "Xvfb did not start"
  return 1
}

# Stops the Xvfb that wine_display_start started, if any.
wine_display_stop() {
  if [ -n "${CFS_XVFB_PID:-}" ]; then
    kill "$CFS_XVFB_PID" 2>/dev/null || true
    wait "$CFS_XVFB_PID" 2>/dev/null || true
    CFS_XVFB_PID=
    unset DISPLAY
  fi
}

# Starts a fresh session of the prefix (ending any running one) and keeps it
# alive between Wine commands: without that a driver is unloaded as soon as
# the last program of the session exits. The session's system processes
# (services.exe, and winedevice.exe hosting the driver) write to the log
# wine_session_start [LOG] (default $CFS_WINE_SESSION_LOG or /dev/null), with
# the driver's DbgPrint lines in it; check it with wine_log_check.
#
# Until the service manager answers, only Wine's own processes have run in
# the session: the stand-in driver starts on demand, later, and the program
# and the probe log elsewhere. A crash in that time is Wine's, seen now and
# then on a loaded machine ("Failed to open service manager", then a page
# fault), as is its loader's failure to start one: the session is started
# once more, its lines kept in LOG.wine-crash and said in the stage's log. A
# crash after that may be ours and is left for wine_log_check to fail. The
# services write to the first process's standard error, so no wine_run there.
wine_session_start() {
  : "${WINEPREFIX:?wine_env_setup first}"
  local log=${1:-${CFS_WINE_SESSION_LOG:-/dev/null}} attempt before
  for attempt in 1 2; do
    wine_session_end
    cfs_timeout 30 "$(wine_server_command)" -p || return 1
    before=0
    [ -f "$log" ] && before=$(stat -c %s "$log")
    if ! WINEDEBUG="$WINEDEBUG,warn+debugstr" cfs_timeout "$CFS_WINE_TIMEOUT" $(wine_loader cmd) \
      cmd /c exit 0 >/dev/null 2>>"$log" &&
      ! tail -c +$((before + 1)) "$log" | grep -q "$WINE_LOADER_FAILED"; then
      wine_say "the Wine session did not start: $(tail -c +$((before + 1)) "$log" | wine_log_cause); see $log"
      return 1
    fi
    # Answered (the service installed or not) once the service manager runs.
    wine_run sc query "$CFS_DRIVER_SERVICE" >/dev/null 2>&1 || true
    if [ ! -f "$log" ] || ! tail -c +$((before + 1)) "$log" |
      grep -q -E "Unhandled|unhandled exception|$WINE_LOADER_FAILED"; then
      wine_version_apply
      return
    fi
    wine_session_end
    tail -c +$((before + 1)) "$log" >>"$log.wine-crash"
    truncate -s "$before" "$log"
    if [ "$attempt" = 2 ]; then
      wine_say "Wine's own start-up failed twice; see $log.wine-crash"
      return 1
    fi
    wine_say "Wine's own start-up failed, before anything of this project ran; starting" \
      "the session once more (its lines: $log.wine-crash):"
    grep -E "Unhandled|unhandled exception|service manager|$WINE_LOADER_FAILED" "$log.wine-crash" |
      sed 's/^/    /' >&2
  done
}

# The version number that `ver` shows for a Windows version name.
wine_version_number() {
  case $1 in
    winxp) echo 5.1 ;;
    vista) echo 6.0 ;;
    win7) echo 6.1 ;;
    win8) echo 6.2 ;;
    win81) echo 6.3 ;;
    win10) echo 10.0 ;;
    *) return 1 ;;
  esac
}

# The version a 32-bit program of the session sees, e.g. 5.1; a 64-bit one
# where 32-bit programs cannot run.
wine_version_seen() {
  local cmd=cmd
  [ "$WINEARCH" = win64 ] && wine_32bit && cmd='C:\windows\syswow64\cmd.exe'
  wine_run "$cmd" /c ver 2>/dev/null | tr -d '\r' | sed -n 's/^Microsoft Windows \([0-9.]*\)$/\1/p'
}

# Gives the programs started from now on the Windows version CFS_WINE_VERSION
# names, through the user's Version value, which both architectures honour
# (winecfg -v takes winxp in a 32-bit prefix only), and checks it with `ver`
# in a 32-bit program, as the tool is (where one runs). Unset, the value is
# removed, so the prefix's own version is back whatever an earlier session set.
wine_version_apply() {
  local key='HKCU\Software\Wine'
  if [ -z "${CFS_WINE_VERSION:-}" ]; then
    wine_run reg delete "$key" /v Version /f >/dev/null 2>&1 || true
    return 0
  fi
  local number seen
  if ! number=$(wine_version_number "$CFS_WINE_VERSION"); then
    wine_say "unknown Windows version $CFS_WINE_VERSION (winxp, vista, win7, win8, win81 or win10)"
    return 1
  fi
  if ! wine_run reg add "$key" /v Version /t REG_SZ /d "$CFS_WINE_VERSION" /f >/dev/null 2>&1; then
    wine_say "could not set the Windows version"
    return 1
  fi
  seen=$(wine_version_seen)
  case $seen in
    "$number".*) wine_say "Windows version $CFS_WINE_VERSION ($seen) for this session" ;;
    *)
      wine_say "asked for $CFS_WINE_VERSION ($number), but a 32-bit program sees '$seen'"
      return 1
      ;;
  esac
}

# Ends every process of the prefix (drivers included) and waits for it.
wine_session_end() {
  : "${WINEPREFIX:?wine_env_setup first}"
  local server
  server=$(wine_server_command) || return 0
  cfs_timeout 30 "$server" -k 2>/dev/null || true
  cfs_timeout 30 "$server" -w 2>/dev/null || true
}

wine_driver_path() { echo "$WINEPREFIX/drive_c/windows/system32/drivers/$CFS_DRIVER_SERVICE.sys"; }

wine_driver_service_key() {
  echo "HKLM\\System\\CurrentControlSet\\Services\\$CFS_DRIVER_SERVICE"
}

# Copies a fresh .sys into the prefix and registers the kernel service once
# (demand start). Safe to repeat; a running driver is stopped first so that
# the next start loads the fresh copy.
wine_driver_install() {
  local sys=$1
  if [ ! -f "$sys" ]; then
    wine_say "no driver at $sys (build preset $(wine_driver_preset) first)"
    return 1
  fi
  wine_driver_stop || return 1
  mkdir -p "$(dirname "$(wine_driver_path)")"
  # A new file, not an overwrite: a loaded driver's image is mapped from it.
  cp -f "$sys" "$(wine_driver_path).new" && mv -f "$(wine_driver_path).new" "$(wine_driver_path)"
  if wine_run sc query "$CFS_DRIVER_SERVICE" >/dev/null 2>&1; then
    return 0
  fi
  local output
  if ! output=$(wine_run sc create "$CFS_DRIVER_SERVICE" type= kernel start= demand error= normal \
    binPath= "C:\\windows\\system32\\drivers\\$CFS_DRIVER_SERVICE.sys" 2>&1); then
    wine_say "sc create failed: $output"
    return 1
  fi
}

# wine_driver_state: RUNNING, STOPPED, ... or nothing when not installed.
wine_driver_state() {
  # sc fails for a service that is not installed: that is an answer, not an
  # error, so it must not end a script running under set -e and pipefail.
  { wine_run sc query "$CFS_DRIVER_SERVICE" 2>/dev/null || true; } |
    sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'
}

# Starts the driver (a no-op when it runs). Needs wine_session_start so that
# it stays loaded after this command.
wine_driver_start() {
  if [ "$(wine_driver_state)" = RUNNING ]; then
    return 0
  fi
  local output
  output=$(wine_run sc start "$CFS_DRIVER_SERVICE" 2>&1)
  if [ "$(wine_driver_state)" != RUNNING ]; then
    wine_say "driver $CFS_DRIVER_SERVICE did not start: $output"
    return 1
  fi
}

# Stops the driver, which runs its unload routine (a no-op when stopped).
wine_driver_stop() {
  local state
  state=$(wine_driver_state)
  if [ -z "$state" ] || [ "$state" = STOPPED ]; then
    return 0
  fi
  wine_run sc stop "$CFS_DRIVER_SERVICE" >/dev/null 2>&1 || true
  local waited
  for waited in $(seq 1 50); do
    [ "$(wine_driver_state)" = STOPPED ] && return 0
    sleep 0.2
  done
  wine_say "driver $CFS_DRIVER_SERVICE did not stop"
  return 1
}

# wine_driver_config NAME=VALUE...: registry values the driver reads when it
# starts. A number gives REG_DWORD, text with commas or a list separated by
# ';' gives REG_MULTI_SZ, an empty value deletes it. E.g.
#   wine_driver_config NetworkDelayMs=50 UnreachableNumbers='999;998' Forwardings='821,739,1'
wine_driver_config() {
  local key pair name value
  key=$(wine_driver_service_key)
  for pair in "$@"; do
    name=${pair%%=*}
    value=${pair#*=}
    if [ -z "$value" ]; then
      wine_run reg delete "$key" /v "$name" /f >/dev/null 2>&1 || true
    elif [[ $value =~ ^[0-9]+$ && $name == *Ms ]]; then
      wine_run reg add "$key" /v "$name" /t REG_DWORD /d "$value" /f >/dev/null || return 1
    else
      # reg.exe separates REG_MULTI_SZ strings with \0.
      wine_run reg add "$key" /v "$name" /t REG_MULTI_SZ /d "${value//;/\\0}" /f >/dev/null || return 1
    fi
  done
}

# wine_log_cause: the line of a log on its input that says why Wine did not
# start ("Exec format error", "could not load kernel32.dll"), else its last.
wine_log_cause() { awk '!c && /[Ee]rror|could not|cannot|[Ff]ailed|Unhandled/ { c = $0 } NF { l = $0 } END { print c ? c : l }'; }

# Fails (and prints the lines) when a Wine log shows an unhandled exception,
# i.e. a crash of the program or of the driver's host.
wine_log_check() {
  local log=$1
  if grep -n -E 'Unhandled|unhandled exception|Unhandled page fault' "$log" >&2; then
    wine_say "crash reported in $log"
    return 1
  fi
}
