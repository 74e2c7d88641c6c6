#!/usr/bin/env bash
# The monitor as a native Linux program: builds dist/linux (bin/ and share/korvanth417/) and runs
# it in a session of its own (a private D-Bus session bus, a private PulseAudio server with a
# null microphone, its own XDG folders under build/linux-session), beside the stand-in
# configuration program and the simulated mouse, whose buttons a user presses from another
# terminal. Nothing of the user's own session (their bus, sound server or files) is touched.
#
#   tools/run.sh --linux               build, then run until Ctrl+C (which stops everything)
#   tools/run.sh --linux --build-only  build dist/linux and list it
#
# INT, TERM and HUP stop everything it started; so does the monitor ending by itself. One run
# at a time (build/linux-session.lock). KORV_BUILD_DIR and KORV_DIST_DIR choose other folders.
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

usage() { sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }
fail() {
    echo "run.sh --linux: $*" >&2
    exit 1
}

mode=run
case "${1:-}" in
    "") ;;
    --build-only) [ $# -eq 1 ] || fail "--build-only takes no arguments (see --help)"; mode=build ;;
    -h | --help) usage; exit 0 ;;
    *) fail "unknown option '$1' (see tools/run.sh --help)" ;;
esac

step_pid="" bus_pid="" pulse_pid="" sim_pid="" config_pid="" monitor_pid="" running=0
stop_all() {
    set +e
    trap - INT TERM HUP
    if [ -n "$step_pid" ]; then
        kill -- "-$step_pid" 2>/dev/null
        wait "$step_pid" 2>/dev/null
    fi
    local pid
    for pid in "$monitor_pid" "$config_pid" "$sim_pid" "$pulse_pid" "$bus_pid"; do
        [ -n "$pid" ] || continue
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    [ "$running" = 1 ] && echo "Stopped everything this run started."
    return 0
}
trap stop_all EXIT
stopped() { [ "$running" = 1 ] && exit 0 || exit $((128 + $1)); }
trap 'stopped 2' INT
trap 'stopped 15' TERM
trap 'stopped 1' HUP

mkdir -p "$build_dir"
exec 9>"$build_dir/linux-session.lock"
flock -n 9 || fail "another tools/run.sh --linux is running (it holds $build_dir/linux-session.lock)"

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

"$root/tools/bootstrap.sh" 9>&-
build_linux
[ "$mode" = build ] && exit 0

# --- the session: XDG folders, bus, sound server ------------------------------------------------
rm -rf "$session"
mkdir -p "$session/config/korvanth417" "$session/runtime" "$session/Documents"
chmod 700 "$session/runtime"
export XDG_CONFIG_HOME="$session/config" XDG_RUNTIME_DIR="$session/runtime"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$session/runtime/bus"
export PATH="$dist/bin:$PATH"
echo "XDG_DOCUMENTS_DIR=\"$session/Documents\"" >"$XDG_CONFIG_HOME/user-dirs.dirs"
# The user's own config.ini: the installed one with the simulated mouse declared.
cp "$dist/share/korvanth417/config.ini" "$XDG_CONFIG_HOME/korvanth417/config.ini"
printf '\n[SimulatedHIDDeviceList]\nsim1=KORVANTH417-SIM-1, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0\n' \
    >>"$XDG_CONFIG_HOME/korvanth417/config.ini"
cat >"$session/env" <<ENV
export XDG_CONFIG_HOME="$XDG_CONFIG_HOME" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR"
export DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" PATH="$dist/bin:\$PATH"
ENV

wait_for() { # a condition, tried for up to 10 s
    local _
    for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" 9>&- &
bus_pid=$!
wait_for test -S "$session/runtime/bus" || fail "the session bus did not start"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm -L module-native-protocol-unix \
    -L module-null-sink -L "module-null-source source_name=microphone" \
    >"$session/pulseaudio.log" 2>&1 </dev/null 9>&- &
pulse_pid=$!
wait_for pactl info || fail "PulseAudio did not start (log: $session/pulseaudio.log)"
pactl set-default-source microphone

korvanth417-sim serve >"$session/mouse.log" 2>&1 9>&- &
sim_pid=$!
korvanth417-config --log "$session/config.log" >/dev/null 2>&1 9>&- &
config_pid=$!
korvanth417-monitor 2>"$session/monitor.log" 9>&- &
monitor_pid=$!
wait_for busctl --user status com.korvanth417.Monitor ||
    fail "the monitor did not take its bus name within 10 s; see $session/monitor.log"

cat <<MSG

The monitor runs natively, with the stand-in configuration program and the simulated mouse, in a
session of its own (bus, PulseAudio with the null microphone "microphone", XDG folders in
$session). What each one did:
  monitor (its trace lines):  $session/monitor.log
  configuration program:      $session/config.log
  simulated mouse:            $session/mouse.log
Drive them from another terminal (the monitor opens the mouse about 3 s after its start):
  source $session/env
  korvanth417-config set-button 0 4 mic-mute # button 4 of profile 0: microphone mute
  korvanth417-sim click 4                    # press it: the microphone is muted
  pactl get-source-mute @DEFAULT_SOURCE@     # Mute: yes (click again: no)
  busctl --user call com.korvanth417.Monitor /com/korvanth417/Monitor com.korvanth417.Monitor1 ToggleMicrophone
  korvanth417-sim profile 2                  # the mouse switched to its third profile (0-based)
  korvanth417-sim unplug                     # the mouse is gone: its reader ends
  korvanth417-sim replug                     # back: the monitor re-opens it 1.5 s later
Press Ctrl+C to stop the monitor, the mouse, the configuration program, the bus and the sound
server.
MSG
running=1
status=0
wait "$monitor_pid" || status=$?
monitor_pid=""
echo "The monitor ended (exit code $status); stopping the rest. Its trace lines: $session/monitor.log"
