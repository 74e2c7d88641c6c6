#!/usr/bin/env bash
# Wake-ups of an idle monitor, counted from outside as a user's machine would run it: the Wine
# desktop (Xvfb and Wine's X11 driver) with a PulseAudio server, the monitor started from a copy
# of the installed folder whose config.ini declares a simulated mouse, and the simulated mouse
# serving it, so that the monitor's reader waits on a real pipe. For every Linux thread of the
# monitor's process it prints the context switches (voluntary and involuntary) per second over
# the measured time, beside the same figure for trivial_window.exe (a hidden window only),
# measured first in the same session.
#
#   bench/hid_idle.sh [SECONDS]        default 10
#
# Needs the installed folder (tools/run.sh --build-only) and build/win64/bin/trivial_window.exe.
# Everything it starts it stops again: the prefix's wineserver (wineserver -k), Xvfb and
# PulseAudio by their process ids.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-10}
dist="$root/dist/KORVANTH417"
trivial="$root/build/win64/bin/trivial_window.exe"
pipe="KORVANTH417-IDLE-$$"

die() {
    echo "hid_idle: $*" >&2
    exit 1
}

[ -f "$dist/KORVANTH417MON.exe" ] || die "no $dist: build it with tools/run.sh --build-only"
[ -f "$trivial" ] || die "no $trivial: build the trivial_window target"

export KORV_WINEPREFIX="$root/build/wineprefix-desktop" KORV_WINE_DESKTOP=1
# shellcheck source=tools/env.sh
source "$root/tools/env.sh"
# shellcheck source=tools/pulse-session.sh
source "$root/tools/pulse-session.sh"
[ -f "$WINEPREFIX/.korv-ready" ] || "$root/tools/bootstrap.sh"

# ---- /proc

# The pids of the Linux processes whose command line names $1 (case-insensitive).
pids_running() {
    local name=$1 dir
    for dir in /proc/[0-9]*; do
        [ "${dir#/proc/}" = "$$" ] && continue
        tr '\0' ' ' 2>/dev/null <"$dir/cmdline" | grep -qiF -- "$name" && echo "${dir#/proc/}"
    done
    return 0
}

# Whether a wineserver of this prefix runs already (someone else's session).
prefix_in_use() {
    local dir
    for dir in /proc/[0-9]*; do
        case $(cat "$dir/comm" 2>/dev/null) in wineserver*) ;; *) continue ;; esac
        tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}

# When a thread started, in clock ticks since boot (field 22 of its stat, after the name).
start_ticks() {
    local stat
    stat=$(cat "$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    awk '{print $20}' <<<"$stat"
}

# One line per thread of the pids: "pid tid switches started-after-process(s) comm".
sample_threads() {
    local pid task status switches process_start hz
    hz=$(getconf CLK_TCK)
    for pid in "$@"; do
        process_start=$(start_ticks "/proc/$pid")
        for task in /proc/"$pid"/task/*; do
            status=$(cat "$task/status" 2>/dev/null) || continue
            switches=$(awk '/^(non)?voluntary_ctxt_switches:/ {n += $2} END {print n}' \
                <<<"$status")
            echo "$pid ${task##*/} $switches" \
                "$(awk -v a="$(start_ticks "$task")" -v b="$process_start" -v hz="$hz" \
                    'BEGIN {printf "%.1f", (a - b) / hz}')" \
                "$(cat "$task/comm" 2>/dev/null)"
        done
    done
}

# Prints the wake-ups per second of every thread between two samples, and their total.
report_wakeups() {
    local before=$1 after=$2
    awk -v seconds="$seconds" '
        NR == FNR { base[$1 " " $2] = $3; next }
        {
            key = $1 " " $2
            comm = $5; for (i = 6; i <= NF; i++) comm = comm " " $i
            delta = $3 - (key in base ? base[key] : 0)
            total += delta
            printf "  pid %-7s tid %-7s %-16s started +%5ss %7d switches %8.2f /s%s\n", $1, $2,
                comm, $4, delta, delta / seconds, (key in base ? "" : "  (new during the count)")
        }
        END { printf "  total %57d switches %8.2f /s over %d s\n", total, total / seconds, seconds }
    ' "$before" "$after"
}

# Counts the wake-ups of the processes running $1 over the measured time.
measure() {
    local name=$1 title=$2 pids
    mapfile -t pids < <(pids_running "$name")
    [ "${#pids[@]}" -gt 0 ] || die "no process runs $name"
    echo "== $title: $name, Linux pid(s) ${pids[*]}"
    sample_threads "${pids[@]}" >"$work/before"
    sleep "$seconds"
    sample_threads "${pids[@]}" >"$work/after"
    report_wakeups "$work/before" "$work/after"
}

# ---- The session

xvfb_pid=
work=
stop_all() {
    if [ -n "$work" ]; then
        wineserver -k 2>/dev/null || true
    fi
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    pulse_stop || true
    [ -n "$work" ] && rm -rf "$work"
    return 0
}

start_display() {
    local display=:$((100 + RANDOM % 100))
    Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -S "/tmp/.X11-unix/X${display#:}" ] && break
        sleep 0.1
    done
    [ -S "/tmp/.X11-unix/X${display#:}" ] || die "Xvfb did not start on $display"
    export DISPLAY=$display
}

# A copy of the installed folder whose config.ini declares the simulated mouse.
prepare_folder() {
    cp -r "$dist" "$work/KORVANTH417"
    printf '\r\n[SimulatedHIDDeviceList]\r\nsim1=%s, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0\r\n' \
        "$pipe" >>"$work/KORVANTH417/config.ini"
}

sim() {
    wine "$work/KORVANTH417/KORVANTH417SIM.exe" --pipe "$pipe" "$@" 2>/dev/null | tr -d '\r'
}

# Waits up to $1 tenths of a second until the simulated mouse has a client.
wait_for_client() {
    for _ in $(seq "$1"); do
        sim status | grep -q ' 1 client(s) connected' && return 0
        sleep 0.1
    done
    return 1
}

start_mouse_and_monitor() {
    (cd "$work/KORVANTH417" && exec wine KORVANTH417SIM.exe serve --pipe "$pipe" \
        >"$work/sim.log" 2>&1) &
    for _ in $(seq 100); do
        sim status >/dev/null && break
        sleep 0.1
    done
    sim status >/dev/null || die "the simulated mouse did not start (log: $work/sim.log)"
    (cd "$work/KORVANTH417" && exec wine KORVANTH417MON.exe >/dev/null 2>&1) &
    if ! wait_for_client 50; then
        # The monitor opens the mouse when it arrives; plug it in again so that it does.
        echo "(the monitor had not opened the mouse after 5 s: replugging it)"
        sim replug >/dev/null || true
        wait_for_client 100 || die "the monitor did not open the simulated mouse"
    fi
    sim status
}

prefix_in_use && die "a wineserver of $WINEPREFIX runs already; stop that session first"
work=$(mktemp -d /tmp/korv-idle.XXXXXX)
trap stop_all EXIT
trap 'exit 1' INT TERM
start_display
pulse_start
wineserver -p
prepare_folder

(cd "$(dirname "$trivial")" && exec wine trivial_window.exe >/dev/null 2>&1) &
sleep 3  # start-up settles
measure trivial_window.exe "trivial program (a hidden window only)"

start_mouse_and_monitor
sleep 2  # start-up settles
measure KORVANTH417MON.exe "monitor, idle, its reader waiting on the simulated mouse"
