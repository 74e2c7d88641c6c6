#!/usr/bin/env bash
# Wake-ups of an idle Linux monitor, counted from outside, in a private session
# (bench/linux_session.sh: its own dbus-daemon, PulseAudio with a null microphone, and the
# panel's watcher, linux_sni_watcher, so that the monitor's tray item is registered and shown
# before the count; a monitor whose item the watcher has not shown within 10 s is a MISS). Twice:
# first without a mouse (the installed config.ini), then with the simulated mouse open: its
# config.ini in $XDG_CONFIG_HOME declares the mouse, korvanth417-sim serves it, and the
# monitor's reader waits on its socket. For every thread of the monitor's process it prints the
# context switches (voluntary and involuntary, /proc/PID/task/*/status) per second over the
# measured time, named by the thread's comm and marked as the monitor's own or the sound
# library's (threads libpulse or PipeWire start); the goal is 0/s on every thread of ours, with
# PASS or MISS. Beside each count, the kernel's device events on the machine over the same time
# (linux_uevents): where no udev daemon runs the monitor listens to the kernel's own events, and
# each of them wakes it, whatever its subsystem. Exit code 2 when a goal is missed.
#
#   bench/linux_idle.sh [SECONDS]        default 10
#
# Needs the installed folder (tools/run.sh --linux --build-only) and the linux_uevents and
# linux_sni_watcher bench programs (build/bench-linux); KORV_BENCH_FOLDER and KORV_BENCH_BIN
# choose others. Everything it starts it stops again by its process id.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_name=linux_idle
# shellcheck source=bench/linux_session.sh
source "$root/bench/linux_session.sh"

case ${1:-} in
    -h | --help) sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
esac
seconds=${1:-10}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || die "SECONDS must be a whole number above 0"
monitor="$bench_folder/bin/korvanth417-monitor"
sim="$bench_folder/bin/korvanth417-sim"
installed_config="$bench_folder/share/korvanth417/config.ini"
mouse="KORV-IDLE-$$"
[ -x "$monitor" ] || die "no $monitor: build it with tools/run.sh --linux --build-only"
[ -x "$sim" ] || die "no $sim: build it with tools/run.sh --linux --build-only"
[ -f "$installed_config" ] || die "no $installed_config"
uevents="$bench_bin/linux_uevents"
[ -x "$uevents" ] || die "no $uevents: build the linux_uevents target"

monitor_pid=
sim_pid=
uevents_pid=
# Ends the process whose id is in the variable named $1 and waits for it.
stop_process() {
    local pid=${!1}
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    printf -v "$1" '%s' ''
    return 0
}

stop_all() {
    stop_process uevents_pid
    stop_process monitor_pid
    stop_process sim_pid
    linux_session_stop
}

# Prints the wake-ups per second of every thread between two samples taken $3 seconds apart,
# each thread marked as ours or the sound library's, with the goal for ours; false when missed.
report_wakeups() {
    awk -v seconds="$3" '
        function library(comm) { return comm ~ /^(threaded-ml|pulse|pa-|pw-|pipewire|alsa)/ }
        NR == FNR { base[$1 " " $2] = $3; next }
        {
            key = $1 " " $2
            comm = $5; for (i = 6; i <= NF; i++) comm = comm " " $i
            delta = $3 - (key in base ? base[key] : 0)
            whose = library(comm) ? "sound library" : "ours"
            if (whose == "ours") { ours += delta; if (delta > 0) busy++ }
            printf "  tid %-7s %-16s %-13s started +%5ss %6d switches %8.2f /s%s\n", $2, comm,
                whose, $4, delta, delta / seconds, (key in base ? "" : "  (new during the count)")
        }
        END {
            printf "  threads of ours: %d switches, %.2f /s over %d s (goal 0/s on every thread): %s\n",
                ours, ours / seconds, seconds, busy ? "MISS" : "PASS"
            exit busy ? 1 : 0
        }
    ' "$1" "$2"
}

# Counts the wake-ups of process $1 over the measured time; false when a thread of ours woke.
measure() {
    local pid=$1 title=$2 verdict=0
    [ -d "/proc/$pid" ] || die "$title: the process $pid has ended"
    echo "== $title: pid $pid"
    "$uevents" "$seconds" >"$session_dir/uevents" 2>&1 &
    uevents_pid=$!
    sample_threads "$pid" >"$session_dir/before"
    sleep "$seconds"
    sample_threads "$pid" >"$session_dir/after"
    wait "$uevents_pid" || true
    uevents_pid=
    report_wakeups "$session_dir/before" "$session_dir/after" "$seconds" || verdict=1
    echo "  meanwhile on this machine: $(head -n 1 "$session_dir/uevents")"
    tail -n +2 "$session_dir/uevents"
    return "$verdict"
}

# Whether the bus has an owner of the monitor's name.
monitor_on_bus() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:com.korvanth417.Monitor 2>/dev/null |
        grep -q 'boolean true'
}

# Starts the monitor and waits for its bus name, then for its tray item to be shown; false when
# the item was not shown within 10 s.
start_monitor() {
    : >"$session_dir/watcher.log"
    "$monitor" >>"$session_dir/monitor.log" 2>&1 </dev/null &
    monitor_pid=$!
    for _ in $(seq 100); do
        monitor_on_bus && break
        [ -d "/proc/$monitor_pid" ] || break
        sleep 0.1
    done
    monitor_on_bus ||
        die "the monitor did not own its bus name (log: $(tail -n 5 "$session_dir/monitor.log"))"
    for _ in $(seq 100); do
        tray_item_shown && { echo "tray item: $(grep ' shown ' "$session_dir/watcher.log")"; return 0; }
        sleep 0.1
    done
    echo "tray item: the watcher has not shown the monitor's item within 10 s: MISS"
    return 1
}

sim_status() {
    "$sim" --name "$mouse" status 2>/dev/null
}

# The config.ini in $XDG_CONFIG_HOME, which the monitor reads before the installed one: the
# installed one and the simulated mouse declared.
declare_mouse() {
    mkdir -p "$XDG_CONFIG_HOME/korvanth417"
    {
        cat "$installed_config"
        printf '\r\n[SimulatedHIDDeviceList]\r\nsim1=%s, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0\r\n' \
            "$mouse"
    } >"$XDG_CONFIG_HOME/korvanth417/config.ini"
}

start_mouse_and_monitor() {
    declare_mouse
    "$sim" serve --name "$mouse" >"$session_dir/sim.log" 2>&1 </dev/null &
    sim_pid=$!
    for _ in $(seq 100); do
        sim_status >/dev/null && break
        sleep 0.05
    done
    sim_status >/dev/null || die "the simulated mouse did not start (log: sim.log)"
    start_monitor || status=2
    for _ in $(seq 100); do
        sim_status | grep -q ' 1 client(s) connected' && break
        sleep 0.1
    done
    sim_status | grep -q ' 1 client(s) connected' ||
        die "the monitor did not open the simulated mouse: $(sim_status)"
    echo "simulated mouse: $(sim_status)"
}

trap stop_all EXIT
trap 'exit 1' INT TERM
linux_session_start
start_sni_watcher

status=0
# The monitor looks for the mouse once, 3 s after its start ("ReopenDevice" in its trace); the
# count starts after that search.
searched() { grep -q "ReopenDevice:" "$session_dir/monitor.log"; }
start_monitor || status=2
for _ in $(seq 100); do
    searched && break
    sleep 0.1
done
searched || die "the monitor did not search for the mouse within 10 s of its start"
sleep 0.5
measure "$monitor_pid" "monitor, idle, no mouse" || status=2
stop_process monitor_pid
echo

start_mouse_and_monitor
sleep 2  # start-up settles
measure "$monitor_pid" "monitor, idle, its reader waiting on the simulated mouse" || status=2
exit "$status"
