#!/usr/bin/env bash
# End-to-end tests of the real program under Wine, driven as a user would:
# window messages through the probe, real keys and clicks through xdotool,
# against the stand-in driver. Builds nothing: takes build/mingw-i686 and
# build/mingw-x86_64 (or CFS_BUILD_I686 / CFS_BUILD_X64); after a change,
# build both presets first. CFS_E2E_PROGRAM=x64 runs the x86_64 program.
#
#   run_e2e.sh [GROUP ...] [-k REGEX]     e.g. run_e2e.sh interrogation -k ticks
#   run_e2e.sh --except GROUP ...         every group but those (the test command
#                                         runs the rest in another lane, beside)
#   run_e2e.sh essentials                 the scenarios of E2E_ESSENTIALS below
#
# The Wine configuration comes from the harness's variables (CFS_WINE_ARCH,
# CFS_WINE_PREFIX, CFS_WINE_VERSION); in a 32-bit-only prefix the i686
# driver runs.
#
# Logs, the status lines of a failure and the screenshot go to build/e2e/suite
# (or CFS_E2E_OUT/suite). CFS_UPDATE_SCREENSHOT=1 also copies the picture to
# docs/screenshot.png.
set -euo pipefail
E2E_NAME=e2e
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../wine/wine_env.sh"
source "$here/e2e_lib.sh"

# The essentials, run in every Wine configuration besides the full run's (a
# 32-bit-only Windows, older versions): activation answered at once and
# pended with every outcome, interrogation with its entries and its time-out,
# handles bounded over a long poll, the dialog as the template says, and the
# exit codes. GROUP/SCENARIO, one place for the scripts and the README.
E2E_ESSENTIALS=(
  startup/dialog_opens_as_the_template_says
  forwarding/every_outcome_text
  interrogation/poll_waits_then_reports_every_entry_and_ends
  interrogation/poll_times_out
  session/long_session_keeps_the_list_bounded_and_one_handle_open
  session/every_way_out_exits_with_code_0
)

usage() {
  e2e_say "$1"
  e2e_say "usage: run_e2e.sh [GROUP ...] [-k REGEX] | --except GROUP ... | essentials"
  exit 2
}

# Groups as named (all by default), or the essentials; the driverless group
# runs before the driver starts. -k REGEX picks scenarios by name across
# them. Every argument is checked before anything changes on disk, so a
# mistyped one leaves the last run's logs as they were.
groups=()
filter=()
except=()
essentials=0
while [ $# -gt 0 ]; do
  case $1 in
    -k)
      [ $# -ge 2 ] && [ -n "$2" ] || usage "-k needs a pattern"
      filter=(-k "$2")
      shift 2
      ;;
    --except)
      [ $# -ge 2 ] && [ -f "$here/scenarios_$2.py" ] || usage "--except needs a group"
      except+=("$2")
      shift 2
      ;;
    -*) usage "unknown option $1" ;;
    essentials) essentials=1; shift ;;
    *) groups+=("$1"); shift ;;
  esac
done
# The whole suite and the essentials hold requests, so their waits must show.
holds_requests=$((essentials || (${#groups[@]} == 0 && ${#filter[@]} == 0)))
if [ "$essentials" = 1 ]; then
  if [ ${#groups[@]} -gt 0 ] || [ ${#filter[@]} -gt 0 ]; then
    usage "essentials takes no other group and no -k"
  fi
  names=()
  for entry in "${E2E_ESSENTIALS[@]}"; do
    [[ " ${groups[*]} " == *" ${entry%%/*} "* ]] || groups+=("${entry%%/*}")
    names+=("${entry#*/}")
  done
  filter=(-k "^($(IFS='|'; echo "${names[*]}"))\$")
fi
if [ ${#groups[@]} -eq 0 ]; then # every group file but the excepted: no list to keep
  for file in "$here"/scenarios_*.py; do
    name=${file##*/scenarios_} && [[ " ${except[*]} " == *" ${name%.py} "* ]] || groups+=("${name%.py}")
  done
elif [ ${#except[@]} -gt 0 ]; then
  usage "--except goes with no named group"
fi
for group in "${groups[@]}"; do
  [ -f "$here/scenarios_$group.py" ] || usage "no group $group (scenarios_$group.py)"
done

# Then what the run needs: the builds and python3.
e2e_locate || exit 1
if [ ! -f "$E2E_DRIVER_SYS" ]; then
  e2e_say "missing $E2E_DRIVER_SYS (build the $(wine_driver_preset) preset first)"
  exit 1
fi
command -v python3 >/dev/null || { e2e_say "python3 is needed (scripts/setup.sh installs it)"; exit 1; }

out=${CFS_E2E_OUT:-$CFS_REPO_ROOT/build/e2e}/suite
rm -rf "$out"
mkdir -p "$out"
export E2E_OUT=$out

status=0
run_groups() { # a turn selecting nothing (5) is no failure: the filter may select in another
  local code=0 limit=1200
  cfs_timeout $limit python3 "$here/run_scenarios.py" "$@" | tee -a "$out/scenarios.log" || code=$?
  [ "$code" != 124 ] || e2e_say "the scenarios timed out after $limit s, in $(cat "$out/running")"
  [ "$code" = 0 ] || [ "$code" = 5 ] || status=1
}

wine_env_setup
trap e2e_exit EXIT
wine_prefix_prepare
wine_display_start
wine_session_start "$out/session.log" || { e2e_say "no Wine session"; exit 1; }
# The flags of every wait the program calls are traced and checked against
# what the session's Windows knows (see check_wait_flags in e2e_harness.py).
version=$(wine_version_seen)
case $version in
  5.* | 6.0.* | 6.1.*) known=05ff ;;
  *) known=1fff ;;
esac
export E2E_WAIT_FLAGS_KNOWN=$known
wine_run reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
  /d 'user32.MsgWaitForMultipleObjects;user32.PeekMessageA' /f >/dev/null 2>&1 ||
  { e2e_say "cannot trace the waits"; exit 1; }
# The suite sets the network up itself through the control device; the
# driver starts from its defaults, whatever an earlier run left in the
# registry, and from the image just built.
e2e_driver_absent || exit 1

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

# Scenarios selected across the turns, each of which prints "N of M ...".
selected=$(awk '/^[0-9]+ of [0-9]+ scenarios/ { m += $3 } END { print m + 0 }' "$out/scenarios.log")
[ "$selected" != 0 ] || { e2e_say "no scenario selected"; status=1; }
wine_log_check "$out/session.log" || status=1
waits=$(sort -u "$out/wait_flags.txt" 2>/dev/null | tr '\n' ' ' || true)
e2e_say "waits as Windows $version (flags known: 0x$known): ${waits:-none seen}"
if [ "$holds_requests" = 1 ] && [[ $waits != *MsgWait*PeekMessageA* ]]; then
  e2e_say "no traced MsgWaitForMultipleObjects and PeekMessageA: is the relay trace working?"
  status=1
fi
# A renamed scenario would silently drop out of the essentials.
if [ "$essentials" = 1 ] && [ "$selected" != ${#E2E_ESSENTIALS[@]} ]; then
  e2e_say "the essentials ran $selected scenarios, not ${#E2E_ESSENTIALS[@]}; see E2E_ESSENTIALS"
  status=1
fi
if [ "$status" = 0 ] && [ "${CFS_UPDATE_SCREENSHOT:-0}" = 1 ] && [ -f "$out/screenshot.png" ]; then
  mkdir -p "$CFS_REPO_ROOT/docs"
  cp "$out/screenshot.png" "$CFS_REPO_ROOT/docs/screenshot.png"
  e2e_say "docs/screenshot.png updated"
fi
exit "$status"
