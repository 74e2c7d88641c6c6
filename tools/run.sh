#!/usr/bin/env bash
# The program's main job on this machine: builds the Windows folder (dist/KORVANTH417) and runs
# the monitor from it under Wine, on a virtual display (the tray icon needs one) with a
# PulseAudio null microphone for its mute button, beside the stand-in configuration program and
# the simulated mouse (declared in the folder's config.ini), whose buttons a user can press.
#
#   tools/run.sh                   build, then run until Ctrl+C or until the monitor ends (its
#                                  tray menu's Exit); either stops everything
#   tools/run.sh --build-only      build the Windows folder and list it
#   tools/run.sh --screenshot FILE [LANGUAGE]
#                                  while a run is going on (from another terminal): save a
#                                  picture of its display as it is now, the tray and the
#                                  stand-in's window included. Otherwise: run (in that language:
#                                  a code such as 0804 or US, or an index), open the tray menu,
#                                  save a picture of the display, stop
#   tools/run.sh --install         build the installer, install the monitor with it (silently,
#                                  as a user, into the Wine prefix wineprefix-installed), then
#                                  start it from its logon entry and run until Ctrl+C or its end
#   tools/run.sh --uninstall       run the installed uninstaller silently in that prefix and
#                                  show what it removed and what it kept
#   tools/run.sh --linux [--build-only | --screenshot FILE]
#                                  the native Linux programs instead (dist/linux), in a
#                                  session of their own, the tray in a panel: see run-linux.sh
#   tools/run.sh --help            this text
# INT, TERM and HUP stop everything it started, whoever sends them. One run at a time: a second
# one is refused while the first holds build/run.lock. A running session writes
# build/wine-session/env for a second terminal to source (its prefix and display, Wine without
# its noise, the logs). A fully separate run takes other folders:
# KORV_BUILD_DIR (default build: the Windows build win64, the Wine prefixes wineprefix-desktop
# and wineprefix-installed, and run.lock in it) and KORV_DIST_DIR (default dist).
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
build_dir=$(realpath -m "${KORV_BUILD_DIR:-$root/build}")
# The headless prefix the bootstrap prepares is this build folder's, as in tools/test.sh.
export KORV_WINEPREFIX="${KORV_WINEPREFIX:-$build_dir/wineprefix}"
source "$root/tools/env.sh"
source "$root/tools/xvfb-session.sh"
dist=$(realpath -m "${KORV_DIST_DIR:-$root/dist}")/KORVANTH417

usage() { sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }
fail() {
    echo "run.sh: $*" >&2
    exit 1
}

mode=run
case "${1:-}" in
    "") ;;
    --linux) shift; exec "$root/tools/run-linux.sh" "$@" ;;
    --build-only) [ $# -eq 1 ] || fail "--build-only takes no arguments (see --help)"; mode=build ;;
    --screenshot)
        [ $# -ge 2 ] && [ $# -le 3 ] || fail "usage: run.sh --screenshot FILE [LANGUAGE]"
        mode=screenshot shot=$(realpath -m "$2") language=${3:-}
        [ -d "$(dirname "$shot")" ] || fail "no folder $(dirname "$shot") for the screenshot"
        ;;
    --install | --uninstall)
        [ $# -eq 1 ] || fail "$1 takes no arguments (see --help)"
        mode=${1#--}
        ;;
    -h | --help) usage; exit 0 ;;
    *) fail "unknown option '$1' (see --help)" ;;
esac

# Everything this run starts, so that a signal or an error stops exactly that. Children never
# get the lock's descriptor (9>&-): one that outlived the script would hold the lock, and the
# next run would be refused.
step_pid="" monitor_pid="" watch_pid="" wine_session=0 pulse_session=0 running=0
env_written=0 session_env="$build_dir/wine-session/env"
stop_all() {
    set +e # every step, whatever the one before it found
    trap - INT TERM HUP
    # A build step runs in a process group of its own: the group goes, compilers included.
    if [ -n "$step_pid" ]; then
        kill -- "-$step_pid" 2>/dev/null
        wait "$step_pid" 2>/dev/null
    fi
    # The env file names this session's display: it goes with the session.
    [ "$env_written" = 1 ] && rm -f "$session_env"
    if [ "$wine_session" = 1 ]; then # the run's own prefix only
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
    fi
    if [ -n "$watch_pid" ]; then
        kill "$watch_pid" 2>/dev/null
        wait "$watch_pid" 2>/dev/null
    fi
    xvfb_stop
    [ "$pulse_session" = 1 ] && pulse_stop
    [ "$running" = 1 ] && echo "Stopped everything this run started."
    return 0
}
trap stop_all EXIT
# Set before anything starts, so that a stop during the build already ends it. Once the monitor
# runs, a stop is the normal end of a run; before, the exit code tells of the signal.
stopped() { [ "$running" = 1 ] && exit 0 || exit $((128 + $1)); }
trap 'stopped 2' INT
trap 'stopped 15' TERM
trap 'stopped 1' HUP

# A picture of the session that holds the lock, taken from its display without disturbing it.
shoot_running_session() {
    [ -z "$language" ] ||
        fail "a running session keeps its language: set it with its stand-in (set-language), then take the picture"
    [ -f "$session_env" ] ||
        fail "a tools/run.sh is running but has no display yet (it is still building or starting); try again once it has printed its commands"
    local display
    display=$(sed -n 's/^export .*DISPLAY=\([^ ]*\).*$/\1/p' "$session_env")
    [ -n "$display" ] || fail "no display in $session_env"
    import -display "$display" -window root "$shot" ||
        fail "the picture of display $display could not be saved to $shot"
    echo "Screenshot of the running session (display $display): $shot"
}

# One run at a time: the folder, the prefix and the session are shared.
mkdir -p "$build_dir"
exec 9>"$build_dir/run.lock"
if ! flock -n 9; then
    [ "$mode" != screenshot ] || { shoot_running_session; exit 0; }
    fail "another tools/run.sh is running (it holds $build_dir/run.lock); stop it first"
fi
# One left by a run that was killed outright names a display that is gone.
rm -f "$session_env"

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

# The Windows folder from the build; with --install, the installer made from it as well. Only
# what the folder holds is built (the programs, the hook library, the language file), not the
# tests and benchmarks of the same tree; ninja's progress line shows how far it is. tools/test.sh
# builds the same tree: the lock win64.lock lets one of the two build it at a time.
build_folder() {
    echo "== building the Windows folder"
    win64="$build_dir/win64"
    exec 7>"$win64.lock"
    if ! flock -n 7; then
        echo "== waiting for tools/test.sh, which builds and tests $win64 ($win64.lock)"
        run_step flock 7
    fi
    run_step cmake -S "$root" -B "$win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null ||
        fail "cmake could not configure $win64"
    NINJA_STATUS="[%f/%t %es] " run_step cmake --build "$win64" -j "$(nproc)" \
        --target monitor uiHook cfgstandin mousesim korv_ui_local ||
        fail "the build failed (see above)"
    rm -rf "$dist"
    run_step cmake --install "$win64" --prefix "$dist" >/dev/null || fail "cmake --install failed"
    echo "The Windows folder is $dist:"
    (cd "$dist" && find . -type f -printf '  %P  (%s bytes)\n' | sort)
    [ "$mode" = install ] || { exec 7>&-; return 0; }
    setup="$(dirname "$dist")/KORVANTH417-setup.exe"
    run_step "$root/tools/package.sh" --from-build "$win64" "$setup" >/dev/null ||
        fail "the installer could not be made (tools/package.sh)"
    echo "The installer is $setup ($(stat -c %s "$setup") bytes)"
    exec 7>&-
}

# A package installation is not cut short: bootstrap runs in the foreground.
"$root/tools/bootstrap.sh" 9>&-
[ "$mode" = uninstall ] || build_folder
[ "$mode" = build ] && exit 0

# A prefix with the X11 driver, apart from the tests' headless one. The installer gets one of
# its own: its logon entry would start the installed monitor in every later session of a
# shared prefix, in place of the folder's.
export KORV_WINEPREFIX="$build_dir/wineprefix-desktop" KORV_WINE_DESKTOP=1
case "$mode" in install | uninstall) KORV_WINEPREFIX="$build_dir/wineprefix-installed" ;; esac
# No menu entries on the Linux desktop for the installer's Start-menu shortcut.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
source "$root/tools/env.sh"
wine_session=1
"$root/tools/bootstrap.sh" 9>&-
source "$root/tools/pulse-session.sh"

mkdir -p "$build_dir/wine-session"
xvfb_start 1024x600x24 "$build_dir/wine-session/xvfb.log" || fail "the virtual display did not start"
display=$XVFB_DISPLAY
export DISPLAY=$display
pulse_session=1
pulse_start 9>&-

# The monitor is up once the stand-in configuration program in FOLDER can reach its window.
wait_for_monitor() {
    for _ in $(seq 100); do
        wine "$1/KORVANTH417.EXE" reload-settings >/dev/null 2>&1 9>&- && return 0
        sleep 0.2
    done
    return 1
}
# A variable of the Windows environment in this prefix, and a Windows path as a Linux one.
windows_env() { wine cmd /c echo "%$1%" </dev/null 2>/dev/null | tr -d '\r'; }
unix_path() { realpath -m "$(winepath -u "$1" 2>/dev/null)"; }
# The log the monitor keeps of its trace lines, with times (%LOCALAPPDATA%\KORVANTH417), whether
# it runs from the folder or installed.
monitor_log=""
find_monitor_log() {
    monitor_log="$(unix_path "$(windows_env LOCALAPPDATA)")/KORVANTH417/monitor.log"
}

# For the second terminal: the session's prefix and display, Wine without its debug noise and
# its advice about 32-bit Wine, and where each program logs. Written once the session is up.
write_session_env() {
    mkdir -p "$(dirname "$session_env")"
    env_written=1
    {
        printf 'export WINEPREFIX=%q DISPLAY=%s WINEDEBUG=-all WINEARCH=%s\n' "$WINEPREFIX" "$DISPLAY" "$WINEARCH"
        printf 'export WINEDLLOVERRIDES=%q\n' "$WINEDLLOVERRIDES"
        printf 'export KORV_MONITOR_LOG=%q KORV_CONFIG_LOG=%q KORV_MOUSE_LOG=%q\n' "$monitor_log" "$1" "$2"
    } >"$session_env"
}

# Until a signal or the end of the process PID: waiting in `wait`, so that a signal's trap runs
# at once. Then says that WHAT ended, with PID's exit code when PID is the monitor itself
# (HOW, when given, says how the end was seen instead), and stops the rest. The run's exit code
# is the monitor's: 0 after its tray menu's Exit, non-zero when it failed or crashed.
run_until_ended() {
    local pid=$1 what=$2 how=${3:-} status=0
    running=1
    wait "$pid" || status=$?
    if [ -z "$how" ]; then
        [ "$status" = 0 ] && how="exit code 0, as after its tray menu's Exit" || how="exit code $status"
    fi
    echo
    echo "$what ended ($how); stopping the rest. Its log: $monitor_log"
    [ "$status" = 0 ] || echo "run.sh: the monitor did not end by its own Exit (exit code $status)" >&2
    exit "$status"
}

# --- the installer, as a user runs it -------------------------------------------------------
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
profile_key='HKCU\software\KORVANTH417GM' # the shipped config.ini's ProfileRegFolder
# The data of a registry value (nothing when it is missing).
reg_data() {
    wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
        sed -n "s/^    $2    REG_[A-Z_]*    //p"
}
has_key() { wine reg query "$1" </dev/null >/dev/null 2>&1; }
# Where the installer puts the monitor and its Start-menu entry in this prefix.
find_installed() {
    install_win="$(windows_env LOCALAPPDATA)\Programs\KORVANTH417"
    install=$(unix_path "$install_win")
    shortcut="$(unix_path "$(windows_env APPDATA)")/Microsoft/Windows/Start Menu/Programs/KORVANTH417 Mouse Monitor.lnk"
}

uninstall_monitor() {
    find_installed
    [ -f "$install/uninstall.exe" ] ||
        fail "the monitor is not installed in $WINEPREFIX (tools/run.sh --install installs it)"
    echo "== uninstalling silently: \"$install_win\\uninstall.exe\" /S"
    # The uninstaller runs on from a copy of itself: done once it has removed itself.
    wine "$install/uninstall.exe" /S </dev/null >/dev/null 2>&1 9>&- ||
        fail "the uninstaller exited with $?"
    for _ in $(seq 150); do [ -e "$install/uninstall.exe" ] || break; sleep 0.2; done
    [ ! -e "$install/uninstall.exe" ] || fail "the uninstaller did not finish within 30 s"
    [ -z "$(reg_data "$run_key" KORVANTH417MON)" ] || fail "the logon entry is still there"
    [ ! -e "$shortcut" ] || fail "the Start-menu entry is still there: $shortcut"
    echo "Removed: the program files in $install_win, the Start-menu entry and the logon entry."
    local left
    left=$(cd "$install" 2>/dev/null && find . -type f -printf '%P ' || true)
    [ -z "$left" ] || echo "Kept in that folder (yours, not the installer's): $left"
    if has_key "$profile_key"; then
        echo "Kept: the profile data ($profile_key and Documents\\Profile)."
    fi
}

install_monitor() {
    find_installed
    echo "== installing silently: KORVANTH417-setup.exe /S"
    wine "$setup" /S </dev/null >/dev/null 2>&1 9>&- || fail "the installer exited with $?"
    local logon
    logon=$(reg_data "$run_key" KORVANTH417MON)
    [ -n "$logon" ] || fail "the installer left no logon entry ($run_key, KORVANTH417MON)"
    [ -f "$install/KORVANTH417MON.exe" ] || fail "the installer left no monitor in $install"
    echo "Installed into $install_win ($install):"
    (cd "$install" && find . -type f -printf '  %P\n' | sort)
    echo "Starts at logon: $run_key, KORVANTH417MON = $logon"
    [ -f "$shortcut" ] && echo "Start-menu entry: KORVANTH417 Mouse Monitor"
    # Logon: Wine's wineboot starts what the Run key names, as Windows does.
    wine wineboot </dev/null >/dev/null 2>&1 9>&- &
    wait_for_monitor "$install" || fail "the installed monitor did not come up within 20 s of logon"
    find_monitor_log
    write_session_env "" ""
    cat <<MSG

The installed monitor runs on the virtual display $display, started from its logon entry.
  its log (trace lines with times):  $monitor_log
From another terminal:
  source $(printf %q "$session_env")
  wine $(printf %q "$install/KORVANTH417.EXE") set-language 1    # its language, as the configuration program sets it
  $(printf %q "$root/tools/run.sh") --screenshot /tmp/session.png        # a picture of the display as it is now
Press Ctrl+C to stop it, the display and the sound server (so does its tray menu's Exit);
tools/run.sh --uninstall removes it.
MSG
    # The installed monitor is not a child of this script: once it has ended, the prefix has no
    # program left and its Wine server ends, which `wineserver -w` waits for.
    wineserver -w 9>&- &
    watch_pid=$!
    run_until_ended "$watch_pid" "The installed monitor" "its prefix has no program left"
}

case "$mode" in
    install) install_monitor ;;
    uninstall) uninstall_monitor; exit 0 ;;
esac

cd "$dist"
# The simulated mouse: declared in this folder's config.ini, so that the monitor looks for it.
if ! grep -q '^sim1=' config.ini; then
    printf '\r\n[SimulatedHIDDeviceList]\r\nsim1=KORVANTH417-SIM-1, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0\r\n' >>config.ini
fi
wine KORVANTH417SIM.exe serve >"$dist/mouse.log" 2>&1 9>&- &
wine KORVANTH417.EXE /log "$dist/standin.log" >/dev/null 2>&1 9>&- &
# The monitor writes its own log; its Linux process is the Windows one, so its end is seen here.
wine KORVANTH417MON.exe >/dev/null 2>&1 9>&- &
monitor_pid=$!
find_monitor_log
wait_for_monitor "$dist" || echo "run.sh: the monitor has not come up within 20 s; see $monitor_log" >&2

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

write_session_env "$dist/standin.log" "$dist/mouse.log"
standin=$(printf 'wine %q /log %q' "$dist/KORVANTH417.EXE" "$dist/standin.log")
sim=$(printf 'wine %q' "$dist/KORVANTH417SIM.exe")
cat <<MSG

The monitor runs on the virtual display $display, with its tray icon, the stand-in configuration
program and the simulated mouse. What each one did:
  monitor (trace lines with times):  $monitor_log
  configuration program:             $dist/standin.log
  simulated mouse:                   $dist/mouse.log
Drive them from another terminal (the monitor opens the mouse about 3 s after its start):
  source $(printf %q "$session_env")
  $standin set-button 0 4 mic-mute   # button 4 of profile 0: microphone mute
  $sim click 4            # press it: monitor.log shows the toggle
  $sim profile 2          # the mouse switched to profile 2: it becomes current
  $sim unplug             # the mouse is gone: its reader ends
  $sim replug             # back: the monitor re-opens it 1.5 s later
  $standin set-language 1        # Simplified Chinese (or a code: 0804)
  tail -f "\$KORV_MONITOR_LOG"                          # follow the monitor's log
  $(printf %q "$root/tools/run.sh") --screenshot /tmp/session.png         # a picture of the display as it is now
Press Ctrl+C to stop the monitor, the mouse, the stand-in, the display and the sound server; the
tray menu's Exit ends the monitor, and this run then stops the rest.
MSG
run_until_ended "$monitor_pid" "The monitor"
