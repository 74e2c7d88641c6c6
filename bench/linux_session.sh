#!/usr/bin/env bash
# The session the Linux benchmarks measure in, private to one run: a folder of its own (home,
# runtime and configuration folders), a session bus (dbus-daemon --session) and a PulseAudio
# server with a null microphone as its default source. Also the programs' paths and the
# counting of wake-ups from /proc. Sourced, not run; the caller sets `root` and `bench_name`
# (for messages), then
#
#   linux_session_start     the folder, the bus and the sound server; exports HOME,
#                           XDG_RUNTIME_DIR, XDG_CONFIG_HOME and DBUS_SESSION_BUS_ADDRESS
#   start_sni_watcher       the panel's side of the tray (linux_sni_watcher) on that bus: it
#                           logs each item registered and shown to $session_dir/watcher.log
#   linux_session_stop      stops the servers by their process ids, removes the folder
#
# KORV_BENCH_FOLDER chooses the installed folder (default dist/linux, with bin/ and share/;
# tools/run.sh --linux --build-only makes it), KORV_BENCH_BIN the folder of the bench programs
# (default build/bench-linux).

: "${root:?}" "${bench_name:?}"
bench_folder="${KORV_BENCH_FOLDER:-$root/dist/linux}"
bench_bin="${KORV_BENCH_BIN:-$root/build/bench-linux}"

die() {
    echo "$bench_name: $*" >&2
    exit 1
}

# ---- /proc

# shellcheck source=bench/thread_samples.sh
source "$root/bench/thread_samples.sh"
# shellcheck source=tools/end-process.sh
source "$root/tools/end-process.sh"

# ---- The session

session_dir=
session_bus_pid=
session_pulse_pid=
session_watcher_pid=

linux_session_stop() {
    local pid
    for pid in "$session_watcher_pid" "$session_pulse_pid" "$session_bus_pid"; do
        end_process "$pid"
    done
    session_watcher_pid=
    session_pulse_pid=
    session_bus_pid=
    [ -n "$session_dir" ] && rm -rf "$session_dir"
    session_dir=
    return 0
}

# Waits up to 5 s until the socket $1 exists.
wait_for_socket() {
    for _ in $(seq 100); do
        [ -S "$1" ] && return 0
        sleep 0.05
    done
    return 1
}

start_bus() {
    dbus-daemon --session --nofork --nopidfile --nosyslog \
        --address="unix:path=$session_dir/bus" >"$session_dir/dbus.log" 2>&1 </dev/null &
    session_bus_pid=$!
    wait_for_socket "$session_dir/bus" || die "dbus-daemon did not start (log: dbus.log)"
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$session_dir/bus"
}

# The server's socket is $XDG_RUNTIME_DIR/pulse/native, where libpulse looks by default.
start_sound_server() {
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=stderr \
        -L "module-native-protocol-unix auth-anonymous=1" \
        -L "module-null-source source_name=korv_bench_mic" \
        >"$session_dir/pulseaudio.log" 2>&1 </dev/null &
    session_pulse_pid=$!
    wait_for_socket "$XDG_RUNTIME_DIR/pulse/native" ||
        die "pulseaudio did not start (log: $(tail -n 3 "$session_dir/pulseaudio.log"))"
    pactl set-default-source korv_bench_mic >/dev/null ||
        die "the null microphone cannot be made the default source"
}

linux_session_start() {
    session_dir=$(mktemp -d "/tmp/korv-$bench_name.XXXXXX")
    mkdir -p "$session_dir/home" "$session_dir/config" "$session_dir/runtime"
    chmod 700 "$session_dir/runtime"
    export HOME="$session_dir/home" XDG_CONFIG_HOME="$session_dir/config"
    export XDG_RUNTIME_DIR="$session_dir/runtime"
    unset PULSE_SERVER DBUS_SESSION_BUS_ADDRESS
    start_bus
    start_sound_server
}

start_sni_watcher() {
    local watcher="$bench_bin/linux_sni_watcher"
    [ -x "$watcher" ] || die "no $watcher: build the linux_sni_watcher target"
    "$watcher" >>"$session_dir/watcher.log" 2>&1 </dev/null &
    session_watcher_pid=$!
    for _ in $(seq 100); do
        grep -q ' watching$' "$session_dir/watcher.log" && return 0
        sleep 0.05
    done
    die "the tray watcher did not start (log: $(tail -n 3 "$session_dir/watcher.log"))"
}

# Whether the watcher has shown an item (read its properties) since its start.
tray_item_shown() {
    grep -q ' shown ' "$session_dir/watcher.log"
}
