#!/usr/bin/env bash
# End-to-end tests of the real program under Wine, driven as a user would:
# window messages through the probe, real keys and clicks through xdotool,
# against the stand-in driver. Builds nothing: takes build/mingw-i686 and
# build/mingw-x86_64 (or CFS_BUILD_I686 / CFS_BUILD_X64).
#
#   run_e2e.sh [GROUP ...] [-k REGEX]     e.g. run_e2e.sh interrogation -k ticks
#
# Logs, the status lines of a failure and the screenshot go to build/e2e/suite
# (or CFS_E2E_OUT/suite). CFS_UPDATE_SCREENSHOT=1 also copies the picture to
# docs/screenshot.png.
set -euo pipefail
E2E_NAME=e2e
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/wine_env.sh"
source "$here/e2e_lib.sh"

out=${CFS_E2E_OUT:-$CFS_REPO_ROOT/build/e2e}/suite
rm -rf "$out"
mkdir -p "$out"
export E2E_OUT=$out

e2e_locate
if [ ! -f "$E2E_DRIVER_SYS" ]; then
  e2e_say "missing $E2E_DRIVER_SYS (build the mingw-x86_64 preset first)"
  exit 1
fi
command -v python3 >/dev/null || { e2e_say "python3 is needed (scripts/setup.sh installs it)"; exit 1; }

wine_env_setup
trap e2e_exit EXIT
wine_prefix_prepare
wine_display_start
wine_session_start "$out/session.log" || { e2e_say "no Wine session"; exit 1; }
# The suite sets the network up itself through the control device; the
# driver starts from its defaults, whatever an earlier run left in the
# registry, and from the image just built.
e2e_driver_absent || exit 1

status=0
run_groups() {
  cfs_timeout 1200 python3 "$here/run_scenarios.py" "$@" || status=1
}

# Groups as named (all by default); the driverless one runs before the
# driver starts. -k REGEX picks scenarios by name within them.
groups=()
filter=()
while [ $# -gt 0 ]; do
  case $1 in
    -k) filter=(-k "$2"); shift 2 ;;
    *) groups+=("$1"); shift ;;
  esac
done
if [ ${#groups[@]} -eq 0 ]; then
  groups=(driverless startup forwarding interrogation session keyboard)
fi
with_driver=()
for group in "${groups[@]}"; do
  if [ "$group" = driverless ]; then
    e2e_say "scenarios without the driver"
    run_groups driverless "${filter[@]}"
  else
    with_driver+=("$group")
  fi
done
if [ ${#with_driver[@]} -gt 0 ]; then
  e2e_driver_ready "$E2E_DRIVER_SYS" || exit 1
  e2e_say "scenarios with the stand-in driver"
  run_groups "${with_driver[@]}" "${filter[@]}"
fi

wine_log_check "$out/session.log" || status=1
if [ "$status" = 0 ] && [ "${CFS_UPDATE_SCREENSHOT:-0}" = 1 ] && [ -f "$out/screenshot.png" ]; then
  mkdir -p "$CFS_REPO_ROOT/docs"
  cp "$out/screenshot.png" "$CFS_REPO_ROOT/docs/screenshot.png"
  e2e_say "docs/screenshot.png updated"
fi
exit "$status"
