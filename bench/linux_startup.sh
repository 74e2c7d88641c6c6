#!/usr/bin/env bash
# The Linux monitor's start-up and footprint, beside trivial programs measured in the same run
# (linux_trivial_bus: connects to the session bus and to the sound server, then owns a name;
# linux_trivial_sni: connects to the bus and registers a tray item), in a private session
# (bench/linux_session.sh: its own dbus-daemon, PulseAudio with a null microphone, and the
# panel's watcher, linux_sni_watcher). linux_startup starts each program once unmeasured, then
# RUNS times, alternating; it prints every start and the medians of the time from the spawn
# until the bus announces the program's name owned, until the watcher announces its tray item
# registered, and of its resident memory 1.5 s after the spawn (VmRSS, and Pss), the ratios and
# the difference against the goals (each start within 1.2 times its floor's, VmRSS within 1.5 MiB
# of the bus floor's) with PASS or MISS, and where the resident memory goes per mapping (the
# libraries, the program, heap and anonymous memory) beside the floor's. It ends each start with
# SIGTERM and checks that it ended, released its name and its item left the watcher. Exit code 2
# when a goal is missed.
#
#   bench/linux_startup.sh [--runs N] [--no-tray]   RUNS defaults to 11; --no-tray: no watcher,
#                                                   the name and the memory alone
#
# Needs the installed folder (tools/run.sh --linux --build-only) and the bench programs
# (cmake --build build/bench-linux --target linux_startup linux_trivial_bus linux_trivial_sni
# linux_sni_watcher). The monitor runs with the installed config.ini (no mouse declared).
# Everything it starts it stops again by its process id.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_name=linux_startup
# shellcheck source=bench/linux_session.sh
source "$root/bench/linux_session.sh"

runs=11
tray=1
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --no-tray) tray=0; shift ;;
        -h | --help) sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) die "unknown argument '$1' (see --help)" ;;
    esac
done

monitor="$bench_folder/bin/korvanth417-monitor"
[ -x "$monitor" ] || die "no $monitor: build it with tools/run.sh --linux --build-only"
for program in linux_startup linux_trivial_bus linux_trivial_sni; do
    [ -x "$bench_bin/$program" ] || die "no $bench_bin/$program: build the $program target"
done

trap linux_session_stop EXIT
trap 'exit 1' INT TERM
linux_session_start
tray_args=()
if [ "$tray" = 1 ]; then
    start_sni_watcher
    tray_args=(--tray "$bench_bin/linux_trivial_sni")
fi

status=0
"$bench_bin/linux_startup" --runs "$runs" --log "$session_dir/programs.log" "${tray_args[@]}" \
    "$bench_bin/linux_trivial_bus" "$monitor" || status=$?
if [ "$status" = 1 ]; then
    echo "-- the programs' output:"
    tail -n 20 "$session_dir/programs.log"
fi
exit "$status"
