#!/usr/bin/env bash
# Installs what is needed, builds the Windows program and the stand-in
# driver, prepares a Wine prefix with the driver running, and starts the
# "Call Forwarding Setting" dialog on your display. With no display
# ($DISPLAY empty) it runs a short demonstration on a virtual one instead:
# activates "Busy" forwarding of 821 to 739, checks the current setting,
# prints the status lines and saves a picture of the dialog. Where 32-bit
# programs cannot run, it shows the x64 program, and says so first.
#
# The prefix (build/wine-prefix-run, or CFS_WINE_PREFIX) is made on the first
# run and reused afterwards; it is not the one the tests use, so running the
# tests does not end a dialog you have open.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
E2E_NAME=run
export CFS_WINE_PREFIX=${CFS_WINE_PREFIX:-$root/build/wine-prefix-run}
out=$root/build/run
mkdir -p "$out"

say() { printf 'run: %s\n' "$*"; }

source tests/wine/wine_env.sh
program="the i686 program"
if ! wine_32bit; then
  say "$(wine_32bit_say)"
  export CFS_E2E_PROGRAM=x64
  program="the x64 program, as 32-bit programs cannot run here"
fi
say "checking the Debian packages"
bash scripts/setup.sh

for preset in mingw-i686 mingw-x86_64; do
  say "building $preset (its time from scratch is under Figures in the README)"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$out/build-$preset.log" 2>&1; then
    tail -n 40 "$out/build-$preset.log"
    say "the $preset build failed; the whole log is in $out/build-$preset.log"
    exit 1
  fi
done

# The harness keeps the tests off the user's desktop; this command opens the
# dialog there, so it takes the user's display back.
user_display=${DISPLAY:-}
source tests/e2e/e2e_lib.sh
e2e_locate
wine_env_setup
if [ -n "$user_display" ]; then export DISPLAY=$user_display; fi
trap e2e_exit EXIT
wine_prefix_prepare

demo=0
if [ -z "${DISPLAY:-}" ]; then
  demo=1
  say "no display: starting a virtual one for a demonstration"
  wine_display_start
fi
say "starting the stand-in driver"
wine_session_start "$out/session.log"
# A desktop's window manager frames the dialog; under Xvfb there is none and
# Wine draws the frame itself.
managed=Y
[ "$demo" = 1 ] && managed=N
wine_run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d "$managed" /f >/dev/null 2>&1
e2e_driver_ready "$E2E_DRIVER_SYS"

if [ "$demo" = 0 ]; then
  say "the dialog of $program is open on display $DISPLAY; close it to end"
  E2E_APP_PID=
  set +e
  $E2E_WINE "$E2E_APP" >"$out/program.log" 2>&1 </dev/null
  code=$?
  set -e
  say "the program ended with exit code $code"
  exit "$code"
fi

say "demonstration with $program: Busy forwarding of 821 to 739, then Check Current Setting"
e2e_app_start "$out/program.log"
e2e_probe wait 30000 set 1010 821 set 1009 739 click 1021 click 1032 \
  click 1033 until "Interrogation is finished" 20000 lines window >"$out/demo.txt"
say "status lines read from the dialog:"
sed -n 's/^line [0-9]* /    /p' "$out/demo.txt"
read -r left top right bottom < <(sed -n 's/^window //p' "$out/demo.txt")
cfs_timeout 30 import -window root "$out/screen.png"
cfs_timeout 30 convert "$out/screen.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
  "$out/screenshot.png"
rm -f "$out/screen.png"
say "picture of the dialog: $out/screenshot.png"
e2e_probe close cancel gone 10000 >/dev/null
e2e_app_wait 15
say "the program ended with exit code $E2E_APP_EXIT"
wine_log_check "$out/program.log"
[ "$E2E_APP_EXIT" = 0 ]
