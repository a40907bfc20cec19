#!/usr/bin/env bash
# Prints the table of the program's costs:
#   - nanoseconds per command in the core (Google Benchmark, bench preset);
#   - the size of each Windows executable (build/mingw-i686 and
#     build/mingw-x86_64, or CFS_BUILD_I686 / CFS_BUILD_X64), once built;
#   - the time from start to visible dialog under Wine, for the program and
#     for a minimal program built here from the same dialog template, and
#     their ratio, measured in one run ("n/a" without Wine or the program).
# Environment: CFS_STARTUP_ROUNDS (default 11).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
i686="${CFS_BUILD_I686:-$root/build/mingw-i686}"
x64="${CFS_BUILD_X64:-$root/build/mingw-x86_64}"
rounds="${CFS_STARTUP_ROUNDS:-11}"

row() { printf '%-52s %s\n' "$1" "$2"; }

# --- the core's commands ---------------------------------------------------
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
json=build/bench/core_bench.json
build/bench/bench/core_bench --benchmark_out="$json" --benchmark_out_format=json >/dev/null 2>&1

echo "Call Forwarding Setting: costs ($(uname -m), $(nproc) cpu, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1))"
row "what" "figure"
python3 - "$json" <<'PY'
import json, sys
names = {
    "Activate": "activate, answered at once",
    "ActivatePending": "activate, left pending and waited for",
    "ActivateOnFullList": "activate on a full list (one line trimmed)",
    "PollWithEntry": "one poll with an entry (five lines)",
    "MakeRoomAt256": "making room at 256 lines",
}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    unit = {"ns": 1, "us": 1e3, "ms": 1e6}[b.get("time_unit", "ns")]
    label = names.get(b["name"], b["name"])
    print("%-52s %.0f ns" % ("core: " + label, b["cpu_time"] * unit))
PY

# --- the executables -------------------------------------------------------
found=0
for dir in "$i686" "$x64"; do
  for exe in "$dir"/dialog/*.exe; do
    [ -f "$exe" ] || continue
    found=1
    row "size: $(basename "$dir")/$(basename "$exe")" "$(stat -c %s "$exe") bytes"
  done
done
[ "$found" = 1 ] || row "size: executables" "n/a (build the mingw-i686 and mingw-x86_64 presets)"

# --- start-up under Wine ---------------------------------------------------
startup_na() {
  row "start-up to visible dialog: program" "n/a ($1)"
  row "start-up to visible dialog: minimal, same template" "n/a"
  row "start-up ratio program / minimal" "n/a"
  exit 0
}
program="$i686/dialog/CallForwardingSetting.exe"
[ -f "$program" ] || startup_na "no $program"
command -v i686-w64-mingw32-g++ >/dev/null || startup_na "no MinGW compiler"
command -v wine >/dev/null || startup_na "Wine is not installed"

work=build/bench-wine
mkdir -p "$work"
flags=(-std=c++17 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror -DWIN32_LEAN_AND_MEAN
  -Idialog -Iservice -I"$work")
python3 dialog/make_icon.py "$work/app.ico"
i686-w64-mingw32-windres -I"$i686/dialog" -Idialog -Iservice -I"$work" dialog/main_dialog.rc -O coff -o "$work/dialog_res.o"
# Built as the program is: no C runtime start-up, no exceptions, stripped.
i686-w64-mingw32-g++ "${flags[@]}" -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables \
  -mwindows -nostartfiles -s -Wl,--gc-sections -static-libgcc \
  bench/minimal_dialog.cpp "$work/dialog_res.o" -luser32 -lkernel32 -o "$work/minimal_dialog.exe"
i686-w64-mingw32-g++ "${flags[@]}" -O2 -static -s bench/startup_timer.cpp -o "$work/startup_timer.exe"
cp -f "$program" "$work/CallForwardingSetting.exe"

source tests/wine/wine_env.sh
wine_env_setup >/dev/null 2>&1 || startup_na "Wine is not usable"
(
  set +e # the session and the display must be ended whatever failed
  wine_prefix_prepare && wine_display_start && wine_session_start &&
    wine_run --timeout 300 "$work/startup_timer.exe" "$rounds" "Call Forwarding Setting" \
      "$work/minimal_dialog.exe" "$work/CallForwardingSetting.exe" | tr -d '\r' >"$work/startup.txt"
  status=$?
  wine_session_end >/dev/null 2>&1 || true
  wine_display_stop
  exit $status
) >"$work/wine.log" 2>&1 || startup_na "the Wine run failed; see $work/wine.log"

minimal="$(sed -n 's/^median .*minimal_dialog.exe //p' "$work/startup.txt")"
real="$(sed -n 's/^median .*CallForwardingSetting.exe //p' "$work/startup.txt")"
[ -n "$minimal" ] && [ -n "$real" ] || startup_na "no figures; see $work/startup.txt"
row "start-up to visible dialog: program" "$real ms (median of $rounds)"
row "start-up to visible dialog: minimal, same template" "$minimal ms (median of $rounds)"
row "start-up ratio program / minimal" "$(python3 -c "print('%.2f' % ($real / $minimal))")"
