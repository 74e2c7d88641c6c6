#!/usr/bin/env bash
# The program's main job on this machine: builds the Windows folder (dist/KORVANTH417) and runs
# the monitor from it under Wine, on a virtual display (the tray icon needs one) with a
# PulseAudio null microphone for its mute button, beside the stand-in configuration program and
# the simulated mouse (declared in the folder's config.ini), whose buttons a user can press.
#
#   tools/run.sh                   build, then run until Ctrl+C (which stops everything)
#   tools/run.sh --build-only      build the Windows folder and list it
#   tools/run.sh --screenshot FILE [LANGUAGE]
#                                  run (in that language: a code such as 0804 or US, or an
#                                  index), open the tray menu, save a screenshot of the display,
#                                  stop
#   tools/run.sh --help            this text
# INT, TERM and HUP stop everything it started, whoever sends them. One run at a time: a second
# one is refused while the first holds build/run.lock. A fully separate run takes other folders:
# KORV_BUILD_DIR (default build: the Windows build win64, the Wine prefix wineprefix-desktop and
# run.lock in it) and KORV_DIST_DIR (default dist).
set -euo pipefail

# A shell that starts a script in the background makes it ignore INT, and bash cannot trap a
# signal that was ignored when it started: once, the script starts again with the default
# action of the three signals, so that its traps below work whoever started it.
if [ -z "${KORV_RUN_SIGNALS_RESET:-}" ]; then
    export KORV_RUN_SIGNALS_RESET=1
    exec env --default-signal=INT,TERM,HUP bash "${BASH_SOURCE[0]}" "$@"
fi
unset KORV_RUN_SIGNALS_RESET

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tools/env.sh"
build_dir=$(realpath -m "${KORV_BUILD_DIR:-$root/build}")
dist=$(realpath -m "${KORV_DIST_DIR:-$root/dist}")/KORVANTH417

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

# Everything this run starts, so that a signal or an error stops exactly that. Children never
# get the lock's descriptor (9>&-): one that outlived the script would hold the lock, and the
# next run would be refused.
step_pid="" xvfb_pid="" sleeper_pid="" wine_session=0 pulse_session=0 running=0
stop_all() {
    set +e # every step, whatever the one before it found
    trap - INT TERM HUP
    # A build step runs in a process group of its own: the group goes, compilers included.
    if [ -n "$step_pid" ]; then
        kill -- "-$step_pid" 2>/dev/null
        wait "$step_pid" 2>/dev/null
    fi
    [ -n "$sleeper_pid" ] && kill "$sleeper_pid" 2>/dev/null
    if [ "$wine_session" = 1 ]; then # the run's own prefix only
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    [ "$pulse_session" = 1 ] && pulse_stop
    [ "$running" = 1 ] && echo "Stopped the monitor, the mouse, the display and the sound server."
    return 0
}
trap stop_all EXIT
# Set before anything starts, so that a stop during the build already ends it. Once the monitor
# runs, a stop is the normal end of a run; before, the exit code tells of the signal.
stopped() { [ "$running" = 1 ] && exit 0 || exit $((128 + $1)); }
trap 'stopped 2' INT
trap 'stopped 15' TERM
trap 'stopped 1' HUP

# One run at a time: the folder, the prefix and the session are shared.
mkdir -p "$build_dir"
exec 9>"$build_dir/run.lock"
flock -n 9 || fail "another tools/run.sh is running (it holds $build_dir/run.lock); stop it first"

# Runs a long step as a child in a process group of its own and waits for it: bash runs a trap
# only between commands, so a stop during a step in the foreground would wait for its end.
run_step() {
    setsid "$@" 9>&- &
    step_pid=$!
    local status=0
    wait "$step_pid" || status=$?
    step_pid=""
    return "$status"
}

# A package installation is not cut short: bootstrap runs in the foreground.
"$root/tools/bootstrap.sh" 9>&-
echo "== building the Windows folder"
win64="$build_dir/win64"
run_step cmake -S "$root" -B "$win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
run_step cmake --build "$win64" -j "$(nproc)" >/dev/null
rm -rf "$dist"
run_step cmake --install "$win64" --prefix "$dist" >/dev/null
echo "The Windows folder is $dist:"
(cd "$dist" && find . -type f -printf '  %P  (%s bytes)\n' | sort)
[ "$mode" = build ] && exit 0

# A prefix with the X11 driver, apart from the tests' headless one.
export KORV_WINEPREFIX="$build_dir/wineprefix-desktop" KORV_WINE_DESKTOP=1
source "$root/tools/env.sh"
wine_session=1
"$root/tools/bootstrap.sh" 9>&-
source "$root/tools/pulse-session.sh"

# A display number that no other X server uses.
for _ in $(seq 20); do
    display=:$((90 + RANDOM % 100))
    [ -e "/tmp/.X11-unix/X${display#:}" ] || [ -e "/tmp/.X${display#:}-lock" ] || break
done
Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp >/dev/null 2>&1 9>&- &
xvfb_pid=$!
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display
pulse_session=1
pulse_start 9>&-

cd "$dist"
# The simulated mouse: declared in this folder's config.ini, so that the monitor looks for it.
if ! grep -q '^sim1=' config.ini; then
    printf '\r\n[SimulatedHIDDeviceList]\r\nsim1=KORVANTH417-SIM-1, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0\r\n' >>config.ini
fi
wine KORVANTH417SIM.exe serve >"$dist/mouse.log" 2>&1 9>&- &
wine KORVANTH417.EXE /log "$dist/standin.log" >/dev/null 2>&1 9>&- &
# The monitor's trace lines (its debugger output) go to monitor.log, one per line.
{
    WINEDEBUG=-all,warn+seh wine KORVANTH417MON.exe 2>&1 |
        sed -un -e 's/^[0-9a-f]*:warn:seh:OutputDebugStringA "\(.*\)"$/\1/' -e 'T' -e 's/\\"/"/g' -e p
} >"$dist/monitor.log" 9>&- &
# The monitor is up once the stand-in can reach its window.
for _ in $(seq 100); do
    wine KORVANTH417.EXE reload-settings >/dev/null 2>&1 9>&- && break
    sleep 0.2
done

if [ "$mode" = screenshot ]; then
    if [ -n "$language" ]; then
        wine KORVANTH417.EXE /log "$dist/standin.log" set-language "$language" 9>&- ||
            fail "the language '$language' could not be set (a code such as 0804 or US, or an index)"
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

standin="wine \"$dist/KORVANTH417.EXE\" /log \"$dist/standin.log\""
cat <<MSG

The monitor runs on the virtual display $display, with its tray icon, the stand-in configuration
program and the simulated mouse. What each one did:
  monitor (its trace lines):  $dist/monitor.log
  configuration program:      $dist/standin.log
  simulated mouse:            $dist/mouse.log
Drive them from another terminal (the monitor opens the mouse about 3 s after its start):
  export WINEPREFIX=$WINEPREFIX DISPLAY=$display WINEDEBUG=-all
  $standin set-button 1 4 28     # button 4 of profile 1: microphone mute
  wine "$dist/KORVANTH417SIM.exe" click 4            # press it: monitor.log shows the toggle
  wine "$dist/KORVANTH417SIM.exe" profile 2          # the mouse switched to its third profile (0-based)
  wine "$dist/KORVANTH417SIM.exe" unplug             # the mouse is gone: its reader ends
  wine "$dist/KORVANTH417SIM.exe" replug             # back: the monitor re-opens it 1.5 s later
  $standin set-language 1        # Simplified Chinese (or a code: 0804)
Press Ctrl+C to stop the monitor, the mouse, the display and the sound server.
MSG
running=1
# Waiting in `wait`, not in `sleep`, so that a signal's trap runs at once.
while true; do
    sleep 3600 9>&- &
    sleeper_pid=$!
    wait "$sleeper_pid" || true
done
