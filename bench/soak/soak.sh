#!/usr/bin/env bash
# Soak of the real program under Wine against the stand-in driver: 10,000
# poll ticks (WM_TIMER) and 1,000 activations (WM_COMMAND 1032) sent through
# the probe, in rounds. Reads the handles and the private memory of the
# program's process after start-up, after the first round (allocations made
# once, such as the list filling up to its limit, are over by then) and at
# the end; fails on a crash, on a program that does not end with exit code 0,
# on a status list beyond its bound, or when the handles or the private
# memory grow between the first round and the end.
# Builds nothing but its reader of process figures: takes build/mingw-i686
# and build/mingw-x86_64 (or CFS_BUILD_I686 / CFS_BUILD_X64).
# Environment: CFS_SOAK_TICKS (10000), CFS_SOAK_ACTIVATIONS (1000),
# CFS_SOAK_ROUNDS (10), CFS_SOAK_HANDLE_SLACK (2 handles),
# CFS_SOAK_MEMORY_SLACK (262144 bytes).
set -euo pipefail
E2E_NAME=soak
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/tests/wine/wine_env.sh"
source "$root/tests/e2e/e2e_lib.sh"

ticks="${CFS_SOAK_TICKS:-10000}"
activations="${CFS_SOAK_ACTIVATIONS:-1000}"
rounds="${CFS_SOAK_ROUNDS:-10}"
handle_slack="${CFS_SOAK_HANDLE_SLACK:-2}"
memory_slack="${CFS_SOAK_MEMORY_SLACK:-262144}"
out="$root/build/soak"
rm -rf "$out"
mkdir -p "$out"

fail() {
  e2e_say "FAILED: $*"
  exit 1
}

e2e_locate
[ -f "$E2E_DRIVER_SYS" ] || fail "missing $E2E_DRIVER_SYS (build the mingw-x86_64 preset first)"
command -v i686-w64-mingw32-g++ >/dev/null || fail "no MinGW compiler (scripts/setup.sh installs it)"
i686-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror \
  -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601 -static -s \
  "$root/bench/soak/process_stats.cpp" -lpsapi -o "$out/process_stats.exe"

wine_env_setup
trap e2e_exit EXIT
wine_prefix_prepare
wine_display_start
wine_session_start "$out/session.log" || fail "no Wine session"
wine_driver_install "$E2E_DRIVER_SYS" || fail "cannot install the stand-in driver"
# A short network round trip keeps a thousand activations quick; two
# forwardings in force make every interrogation log report blocks.
wine_driver_config NetworkDelayMs=2 TimeOutMs= QueryIdleMs= UnreachableNumbers= \
  Forwardings='821,739,1,1;821,5550100,2,0' || fail "cannot configure the stand-in driver"
wine_driver_start || fail "the stand-in driver does not start"

# figures NAME: reads the program's process into $out/NAME.txt: handles and
# working set as Windows reports them, private memory as Windows reports it
# or else, under Wine, the host's anonymous resident memory of the process.
figures() {
  local file="$out/$1.txt"
  wine_run "$out/process_stats.exe" "$E2E_TITLE" | tr -d '\r' >"$file" ||
    fail "cannot read the program's figures: $(cat "$file")"
  if grep -qx 'private n/a' "$file"; then
    local anon data
    anon="$(sed -n 's/^RssAnon:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$E2E_APP_PID/status")"
    data="$(sed -n 's/^VmData:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$E2E_APP_PID/status")"
    sed -i '/^private /d' "$file"
    echo "private $((anon * 1024))" >>"$file"
    echo "data $((data * 1024))" >>"$file"
  fi
}
value() { sed -n "s/^$2 //p" "$out/$1.txt"; }

e2e_app_start "$out/program.log"
e2e_probe wait 30000 >/dev/null || fail "no dialog"
figures start
e2e_probe set 1010 821 set 1009 739 >/dev/null || fail "cannot fill the number fields"

ticks_per_round=$((ticks / rounds))
activations_per_round=$((activations / rounds))
began=$(date +%s)
for round in $(seq 1 "$rounds"); do
  e2e_probe repeat "$ticks_per_round" timer 1 >"$out/ticks.txt" ||
    fail "round $round: poll ticks: $(tail -n 1 "$out/ticks.txt")"
  e2e_probe repeat "$activations_per_round" command 1032 0 >"$out/activations.txt" ||
    fail "round $round: activations: $(tail -n 1 "$out/activations.txt")"
  [ "$round" = 1 ] && figures warm
  kill -0 "$E2E_APP_PID" 2>/dev/null || fail "round $round: the program is gone"
done
elapsed=$(($(date +%s) - began))
figures end
e2e_probe lines >"$out/lines.txt" || fail "cannot read the status list"
count="$(sed -n 's/^count //p' "$out/lines.txt")"

e2e_probe close cancel >/dev/null || fail "cannot close the dialog"
e2e_app_wait 30 || fail "the program did not end"
[ "$E2E_APP_EXIT" = 0 ] || fail "exit code $E2E_APP_EXIT"
wine_log_check "$out/program.log" || fail "the program crashed"
wine_log_check "$out/session.log" || fail "the driver's host crashed"

printf '%-34s %12s %12s %12s\n' "soak: $ticks ticks, $activations activations" start "round 1" end
for metric in handles private data workingset; do
  printf '%-34s %12s %12s %12s\n' "$metric" "$(value start "$metric")" "$(value warm "$metric")" \
    "$(value end "$metric")"
done
echo "status lines at the end: $count; took ${elapsed} s"

[ -n "$count" ] && [ "$count" -le 260 ] || fail "the status list holds $count lines"
grows() { # grows METRIC SLACK: the end exceeds round 1 by more than SLACK
  local warm end
  warm="$(value warm "$1")"
  end="$(value end "$1")"
  [[ $warm =~ ^[0-9]+$ && $end =~ ^[0-9]+$ ]] || return 1
  [ $((end - warm)) -gt "$2" ]
}
if grows handles "$handle_slack"; then fail "handles grew from $(value warm handles) to $(value end handles)"; fi
if grows private "$memory_slack"; then fail "private memory grew from $(value warm private) to $(value end private)"; fi
e2e_say "passed"
