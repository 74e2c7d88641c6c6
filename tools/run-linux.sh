#!/usr/bin/env bash
# The monitor as a native Linux program: builds dist/linux (bin/ and share/korvanth417/) and runs
# it in a session of its own (a private D-Bus session bus, a private PulseAudio server with a
# null microphone, its own XDG folders under build/linux-session), beside the stand-in
# configuration program and the simulated mouse, whose buttons a user presses from another
# terminal. Nothing of the user's own session (their bus, sound server or files) is touched.
# The tray item is shown on a virtual display (Xvfb) by a desktop panel of the session's own
# (xfce4-panel, whose notification area hosts StatusNotifierItems and is the session's
# org.kde.StatusNotifierWatcher); without the panel installed the run says what would show it.
#
#   tools/run.sh --linux               build, then run until Ctrl+C (which stops everything)
#   tools/run.sh --linux --build-only  build dist/linux and list it
#   tools/run.sh --linux --screenshot FILE
#                                      while a run is going on (from another terminal): save a
#                                      picture of its display as it is now. Otherwise: run,
#                                      wait until the panel shows the tray item, save a picture
#                                      of the display, stop
#
# INT, TERM and HUP stop everything it started; so does the monitor ending by itself, whose exit
# code is then the run's (0 after its tray menu's Exit). One run at a time
# (build/linux-session.lock). KORV_BUILD_DIR and KORV_DIST_DIR choose other folders. The
# session's bus and sound server sockets are in a short folder of its own under /tmp (a socket
# path has at most 107 bytes), removed at the stop.
set -euo pipefail

if [ -z "${KORV_RUN_SIGNALS_RESET:-}" ]; then
    export KORV_RUN_SIGNALS_RESET=1
    exec env --default-signal=INT,TERM,HUP bash "${BASH_SOURCE[0]}" "$@"
fi
unset KORV_RUN_SIGNALS_RESET

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${KORV_BUILD_DIR:-$root/build}")
dist=$(realpath -m "${KORV_DIST_DIR:-$root/dist}")/linux
session="$build_dir/linux-session"
source "$root/tools/xvfb-session.sh"

usage() { sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }
fail() {
    echo "run.sh --linux: $*" >&2
    exit 1
}

mode=run
case "${1:-}" in
    "") ;;
    --build-only) [ $# -eq 1 ] || fail "--build-only takes no arguments (see --help)"; mode=build ;;
    --screenshot)
        [ $# -eq 2 ] || fail "usage: run.sh --linux --screenshot FILE"
        mode=screenshot shot=$(realpath -m "$2")
        [ -d "$(dirname "$shot")" ] || fail "no folder $(dirname "$shot") for the screenshot"
        ;;
    -h | --help) usage; exit 0 ;;
    *) fail "unknown option '$1' (see tools/run.sh --help)" ;;
esac

step_pid="" bus_pid="" pulse_pid="" sim_pid="" config_pid="" monitor_pid="" running=0
panel_pid="" runtime="" locked=0
stop_all() {
    set +e
    trap - INT TERM HUP
    if [ -n "$step_pid" ]; then
        kill -- "-$step_pid" 2>/dev/null
        wait "$step_pid" 2>/dev/null
    fi
    local pid
    for pid in "$monitor_pid" "$config_pid" "$sim_pid" "$panel_pid"; do
        end_process "$pid"
    done
    xvfb_stop
    for pid in "$pulse_pid" "$bus_pid"; do
        end_process "$pid"
    done
    [ -z "$runtime" ] || rm -rf "$runtime"
    # The env file names this session's display and bus: it goes with the session.
    [ "$locked" = 0 ] || rm -f "$session/env"
    [ "$running" = 1 ] && echo "Stopped everything this run started."
    return 0
}
trap stop_all EXIT
stopped() { [ "$running" = 1 ] && exit 0 || exit $((128 + $1)); }
trap 'stopped 2' INT
trap 'stopped 15' TERM
trap 'stopped 1' HUP

# A picture of the session that holds the lock, taken from its display without disturbing it.
shoot_display() {
    import -display "$1" -window root "$shot" ||
        fail "the picture of display $1 could not be saved to $shot"
    echo "Screenshot of the session's display $1: $shot"
}
shoot_running_session() {
    local display
    display=$(sed -n 's/^export DISPLAY=\(.*\)$/\1/p' "$session/env" 2>/dev/null)
    [ -n "$display" ] ||
        fail "the running tools/run.sh --linux has no display (no panel, or still starting)"
    shoot_display "$display"
}

mkdir -p "$build_dir"
exec 9>"$build_dir/linux-session.lock"
if ! flock -n 9; then
    [ "$mode" != screenshot ] || { shoot_running_session; exit 0; }
    fail "another tools/run.sh --linux is running (it holds $build_dir/linux-session.lock)"
fi
locked=1
# One left by a run that was killed outright names a display and a bus that are gone.
rm -f "$session/env"

run_step() {
    setsid "$@" 9>&- &
    step_pid=$!
    local status=0
    wait "$step_pid" || status=$?
    step_pid=""
    return "$status"
}

# Only the three programs and their data: no tests, no benchmarks. Ninja's progress lines show
# how far the build is.
build_linux() {
    echo "== building dist/linux"
    local dir="$build_dir/linux"
    run_step cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORV_TESTS=OFF \
        >/dev/null || fail "cmake could not configure $dir"
    run_step cmake --build "$dir" -j "$(nproc)" --target korvanth417-monitor mousesim \
        korvanth417-config korv_ui_local || fail "the build failed (see above)"
    rm -rf "$dist"
    run_step cmake --install "$dir" --prefix "$dist" --strip >/dev/null || fail "cmake --install failed"
    echo "The Linux folder is $dist:"
    (cd "$dist" && find . -type f -printf '  %P  (%s bytes)\n' | sort)
}

# Only what the Linux programs need; the run, unlike the tests, shows the tray in a panel: the
# bootstrap adds the panel.
KORV_BOOTSTRAP_LINUX=1 KORV_BOOTSTRAP_PANEL=1 "$root/tools/bootstrap.sh" 9>&-
have_panel() { command -v xfce4-panel >/dev/null && command -v Xvfb >/dev/null; }
[ "$mode" != screenshot ] || have_panel ||
    fail "no panel to take a picture of (xfce4-panel and Xvfb are not installed)"
build_linux
[ "$mode" = build ] && exit 0

# --- the session: XDG folders, bus, sound server ------------------------------------------------
rm -rf "$session"
mkdir -p "$session/config/korvanth417" "$session/Documents"
# mktemp makes it private (0700), as a runtime folder must be.
runtime=$(mktemp -d /tmp/korv-linux.XXXXXX)
export XDG_CONFIG_HOME="$session/config" XDG_RUNTIME_DIR="$runtime"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
export PATH="$dist/bin:$PATH"
echo "XDG_DOCUMENTS_DIR=\"$session/Documents\"" >"$XDG_CONFIG_HOME/user-dirs.dirs"
# The user's own config.ini: the installed one with the simulated mouse declared.
cp "$dist/share/korvanth417/config.ini" "$XDG_CONFIG_HOME/korvanth417/config.ini"
printf '\n[SimulatedHIDDeviceList]\nsim1=KORVANTH417-SIM-1, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0\n' \
    >>"$XDG_CONFIG_HOME/korvanth417/config.ini"
# For the second terminal, as the Windows session's build/wine-session/env: the session's
# folders and bus, the programs, and where each one logs.
{
    printf 'export XDG_CONFIG_HOME=%q XDG_RUNTIME_DIR=%q\n' "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    printf 'export DBUS_SESSION_BUS_ADDRESS=%q PATH=%q:"$PATH"\n' "$DBUS_SESSION_BUS_ADDRESS" "$dist/bin"
    printf 'export KORV_MONITOR_LOG=%q KORV_CONFIG_LOG=%q KORV_MOUSE_LOG=%q\n' \
        "$session/monitor.log" "$session/config.log" "$session/mouse.log"
} >"$session/env"

wait_for() { # a condition, tried for up to 10 s
    local _
    for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
    >"$session/dbus.log" 2>&1 9>&- &
bus_pid=$!
wait_for test -S "$runtime/bus" || fail "the session bus did not start"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm -L module-native-protocol-unix \
    -L module-null-sink -L "module-null-source source_name=microphone" \
    >"$session/pulseaudio.log" 2>&1 </dev/null 9>&- &
pulse_pid=$!
wait_for pactl info || fail "PulseAudio did not start (log: $session/pulseaudio.log)"
pactl set-default-source microphone

# --- the display and the panel ---------------------------------------------------------------------
# The panel's layout: one panel along the top, a spacer and the notification area (systray),
# whose StatusNotifierItem host owns org.kde.StatusNotifierWatcher on the session's bus. No
# accessibility bus: nothing of it is needed, and it would start servers of its own.
panel_layout() {
    cat <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
XML
}

watcher_owned() { busctl --user status org.kde.StatusNotifierWatcher; }
# The items the watcher holds, as busctl prints them ("as 1 ":1.5/StatusNotifierItem"").
watched_items() {
    busctl --user get-property org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null
}
item_registered() { watched_items | grep -q '^as [1-9]'; }

display=""
start_panel() {
    if ! have_panel; then
        echo "No panel to show the tray item here (xfce4-panel and Xvfb are not installed); the"
        echo "monitor registers its item when a panel appears."
        return 1
    fi
    mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
    panel_layout >"$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"
    xvfb_start 800x240x24 "$session/xvfb.log" || fail "the virtual display did not start"
    display=$XVFB_DISPLAY
    DISPLAY=$display NO_AT_BRIDGE=1 xfce4-panel --disable-wm-check >"$session/panel.log" 2>&1 9>&- &
    panel_pid=$!
    wait_for watcher_owned ||
        fail "xfce4-panel did not take org.kde.StatusNotifierWatcher (log: $session/panel.log)"
    echo "export DISPLAY=$display" >>"$session/env"
}

panel=0
start_panel && panel=1

korvanth417-sim serve >"$session/mouse.log" 2>&1 9>&- &
sim_pid=$!
korvanth417-config --log "$session/config.log" >/dev/null 2>&1 9>&- &
config_pid=$!
korvanth417-monitor 2>"$session/monitor.log" 9>&- &
monitor_pid=$!
wait_for busctl --user status com.korvanth417.Monitor ||
    fail "the monitor did not take its bus name within 10 s; see $session/monitor.log"
if [ "$panel" = 1 ]; then
    wait_for item_registered ||
        fail "the monitor's tray item is not in the panel within 10 s; see $session/monitor.log"
    # The panel draws the item once it has read the item's properties and icon.
    sleep 1
    if [ "$mode" = screenshot ]; then
        shoot_display "$display"
        exit 0
    fi
fi
[ "$mode" = screenshot ] && fail "no panel, so no tray to take a picture of"

cat <<MSG

The monitor runs natively, with the stand-in configuration program and the simulated mouse, in a
session of its own (bus, PulseAudio with the null microphone "microphone", XDG folders in
$session). What each one did:
  monitor (its trace lines):  $session/monitor.log
  configuration program:      $session/config.log
  simulated mouse:            $session/mouse.log
Drive them from another terminal (the monitor opens the mouse about 3 s after its start):
  source $(printf %q "$session/env")
  korvanth417-config set-button 0 4 mic-mute # button 4 of profile 0: microphone mute
  korvanth417-sim click 4                    # press it: the microphone is muted
  pactl get-source-mute @DEFAULT_SOURCE@     # Mute: yes (click again: no)
  busctl --user call com.korvanth417.Monitor /com/korvanth417/Monitor com.korvanth417.Monitor1 ToggleMicrophone
  korvanth417-sim profile 2                  # the mouse switched to its third profile (0-based)
  korvanth417-sim unplug                     # the mouse is gone: its reader ends
  korvanth417-sim replug                     # back: the monitor re-opens it 1.5 s later
  tail -f "\$KORV_MONITOR_LOG"                # follow the monitor's trace lines
Press Ctrl+C to stop the monitor, the mouse, the configuration program, the bus and the sound
server.
MSG
if [ "$panel" = 1 ]; then
    cat <<MSG
The tray item is in xfce4-panel on the virtual display $display (the panel's log:
$session/panel.log). See it from another terminal:
  $(printf %q "$root/tools/run.sh") --linux --screenshot /tmp/tray.png   # a picture of the display as it is now
  source $(printf %q "$session/env"); xdotool search --class xfce4-panel   # the panel's windows, to click on
MSG
else
    cat <<MSG
The tray item: any panel that hosts StatusNotifierItems shows it (KDE Plasma, GNOME with the
AppIndicator extension, XFCE, LXQt, waybar). On this machine:
  apt-get install --no-install-recommends xfce4-panel xvfb     # then run again
MSG
fi
running=1
status=0
wait "$monitor_pid" || status=$?
monitor_pid=""
echo "The monitor ended (exit code $status); stopping the rest. Its log: $session/monitor.log"
# 0 after its tray menu's Exit; any other end (a failure, a crash) is the run's failure.
[ "$status" = 0 ] || echo "run.sh --linux: the monitor did not end by its own Exit (exit code $status)" >&2
exit "$status"
