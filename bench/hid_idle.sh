#!/usr/bin/env bash
# Wake-ups of an idle monitor, counted from outside as a user's machine would run it: the Wine
# desktop (Xvfb and Wine's X11 driver) with a PulseAudio server (bench/desktop_session.sh), the
# monitor started from a copy of the installed folder. By default that copy's config.ini
# declares a simulated mouse, which serves it, so that the monitor's reader waits on a real
# pipe; with --no-mouse the folder is used as installed and no mouse is there. For every Linux
# thread of the monitor's process it prints the context switches (voluntary and involuntary) per
# second over the measured time, beside the same figure for trivial_window.exe (a hidden window
# only), measured first in the same session.
#
#   bench/hid_idle.sh [--no-mouse] [SECONDS]        default 10
#
# Needs the installed folder (tools/run.sh --build-only) and build/win64/bin/trivial_window.exe;
# KORV_BENCH_FOLDER and KORV_BENCH_BIN choose others, KORV_WINEPREFIX another prefix of the X11
# driver. Everything it starts it stops again: the prefix's wineserver (wineserver -k), Xvfb and
# PulseAudio by their process ids.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_name=hid_idle
# shellcheck source=bench/desktop_session.sh
source "$root/bench/desktop_session.sh"

mouse=1
if [ "${1:-}" = --no-mouse ]; then
    mouse=0
    shift
fi
seconds=${1:-10}
dist="${KORV_BENCH_FOLDER:-$root/dist/KORVANTH417}"
trivial="${KORV_BENCH_BIN:-$root/build/win64/bin}/trivial_window.exe"
pipe="KORVANTH417-IDLE-$$"

[ -f "$dist/KORVANTH417MON.exe" ] || die "no $dist: build it with tools/run.sh --build-only"
[ -f "$trivial" ] || die "no $trivial: build the trivial_window target"

# Counts the wake-ups of the processes running $1 over the measured time.
measure() {
    local name=$1 title=$2 pids
    mapfile -t pids < <(pids_running "$name")
    [ "${#pids[@]}" -gt 0 ] || die "no process runs $name"
    echo "== $title: $name, Linux pid(s) ${pids[*]}"
    sample_threads "${pids[@]}" >"$work/before"
    sleep "$seconds"
    sample_threads "${pids[@]}" >"$work/after"
    report_wakeups "$work/before" "$work/after" "$seconds"
}

work=
stop_all() {
    desktop_session_stop
    [ -n "$work" ] && rm -rf "$work"
    return 0
}

# A copy of the installed folder; with the mouse, its config.ini declares the simulated mouse.
prepare_folder() {
    cp -r "$dist" "$work/KORVANTH417"
    [ "$mouse" = 1 ] || return 0
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

work=$(mktemp -d /tmp/korv-idle.XXXXXX)
trap stop_all EXIT
trap 'exit 1' INT TERM
desktop_session_start
prepare_folder

(cd "$(dirname "$trivial")" && exec wine trivial_window.exe >/dev/null 2>&1) &
sleep 3  # start-up settles
measure trivial_window.exe "trivial program (a hidden window only)"

if [ "$mouse" = 1 ]; then
    start_mouse_and_monitor
    sleep 2  # start-up settles
    measure KORVANTH417MON.exe "monitor, idle, its reader waiting on the simulated mouse"
else
    (cd "$work/KORVANTH417" && exec wine KORVANTH417MON.exe >/dev/null 2>&1) &
    # The monitor looks for the mouse 3 s after its start (a first arrival after 1.5 s, then the
    # re-open delay); the count starts after that.
    sleep 5
    measure KORVANTH417MON.exe "monitor, idle, no mouse"
fi
