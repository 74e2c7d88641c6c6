#!/usr/bin/env bash
# The program's main job on this machine: builds the Windows folder (dist/KORVANTH417) and runs
# the monitor from it under Wine, on a virtual display (the tray icon needs one) with a
# PulseAudio null microphone for its mute button, beside the stand-in configuration program and
# the simulated mouse (declared in the folder's config.ini), whose buttons a user can press.
#
#   tools/run.sh                   build, then run until Ctrl+C (which stops everything)
#   tools/run.sh --build-only      build the Windows folder and list it
#   tools/run.sh --screenshot FILE [LANGUAGE]
#                                  run (in that language: an index or a code such as US), open
#                                  the tray menu, save a screenshot of the display, stop
#   tools/run.sh --help            this text
# One run at a time: a second one is refused while the first holds build/run.lock.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tools/env.sh"
dist="$root/dist/KORVANTH417"

usage() { sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }
fail() {
    echo "run.sh: $*" >&2
    exit 1
}

mode=run
case "${1:-}" in
    "") ;;
    --build-only) [ $# -eq 1 ] || fail "--build-only takes no arguments (see --help)"; mode=build ;;
    --screenshot)
        [ $# -ge 2 ] && [ $# -le 3 ] || fail "usage: run.sh --screenshot FILE [LANGUAGE]"
        mode=screenshot shot=$(realpath -m "$2") language=${3:-}
        ;;
    -h | --help) usage; exit 0 ;;
    *) fail "unknown option '$1' (see --help)" ;;
esac

# One run at a time: the folder, the prefix and the session are shared.
mkdir -p "$root/build"
exec 9>"$root/build/run.lock"
flock -n 9 || fail "another tools/run.sh is running (it holds $root/build/run.lock); stop it first"

"$root/tools/bootstrap.sh"
echo "== building the Windows folder"
cmake -S "$root" -B "$root/build/win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$root/build/win64" -j "$(nproc)" >/dev/null
rm -rf "$dist"
cmake --install "$root/build/win64" --prefix "$dist" >/dev/null
echo "The Windows folder is $dist:"
(cd "$dist" && find . -type f -printf '  %P  (%s bytes)\n' | sort)
[ "$mode" = build ] && exit 0

# A prefix with the X11 driver, apart from the tests' headless one.
export KORV_WINEPREFIX="$root/build/wineprefix-desktop" KORV_WINE_DESKTOP=1
source "$root/tools/env.sh"
"$root/tools/bootstrap.sh"
source "$root/tools/pulse-session.sh"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
stop_all() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    pulse_stop
}
trap stop_all EXIT
trap 'exit 0' INT TERM HUP
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display
pulse_start

cd "$dist"
# The simulated mouse: declared in this folder's config.ini, so that the monitor looks for it.
if ! grep -q '^sim1=' config.ini; then
    printf '\r\n[SimulatedHIDDeviceList]\r\nsim1=KORVANTH417-SIM-1, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0\r\n' >>config.ini
fi
wine KORVANTH417SIM.exe serve >"$dist/mouse.log" 2>&1 &
wine KORVANTH417.EXE /log "$dist/standin.log" >/dev/null 2>&1 &
# The monitor's trace lines (its debugger output) go to monitor.log, one per line.
WINEDEBUG=-all,warn+seh wine KORVANTH417MON.exe 2>&1 |
    sed -un -e 's/^[0-9a-f]*:warn:seh:OutputDebugStringA "\(.*\)"$/\1/' -e 'T' -e 's/\\"/"/g' -e p >"$dist/monitor.log" &
# The monitor is up once the stand-in can reach its window.
for _ in $(seq 100); do
    wine KORVANTH417.EXE reload-settings >/dev/null 2>&1 && break
    sleep 0.2
done

if [ "$mode" = screenshot ]; then
    if [ -n "$language" ]; then
        WINEDEBUG=-all wine KORVANTH417.EXE set-language "$language" ||
            fail "the language '$language' could not be set (an index, or a code such as US)"
    fi
    # Wine shows the tray in a window of its own; the icon is its first.
    tray=$(xdotool search --name 'System Tray' | head -n 1 || true)
    [ -n "$tray" ] || fail "no tray window on the display: the screenshot would not show the menu"
    eval "$(xdotool getwindowgeometry --shell "$tray")"
    xdotool mousemove $((X + 12)) $((Y + 12)) click 3
    sleep 1.5
    import -window root "$shot" || fail "the screenshot could not be saved to $shot"
    echo "Screenshot: $shot"
    exit 0
fi

cat <<MSG

The monitor runs on the virtual display $display, with its tray icon, the stand-in configuration
program and the simulated mouse. What each one did:
  monitor (its trace lines):  $dist/monitor.log
  configuration program:      $dist/standin.log
  simulated mouse:            $dist/mouse.log
Drive them from another terminal (the monitor opens the mouse about 3 s after its start):
  export WINEPREFIX=$WINEPREFIX DISPLAY=$display WINEDEBUG=-all
  wine "$dist/KORVANTH417.EXE" set-button 1 4 28     # button 4 of profile 1: microphone mute
  wine "$dist/KORVANTH417SIM.exe" click 4            # press it: monitor.log shows the toggle
  wine "$dist/KORVANTH417SIM.exe" profile 2          # the mouse switched to its third profile (0-based)
  wine "$dist/KORVANTH417SIM.exe" unplug             # and replug: the monitor re-opens it
  wine "$dist/KORVANTH417.EXE" set-language 1
Press Ctrl+C to stop the monitor, the mouse, the display and the sound server.
MSG
# Waiting in `wait`, not in `sleep`, so that a signal's trap runs at once.
while true; do
    sleep 3600 &
    wait $!
done
