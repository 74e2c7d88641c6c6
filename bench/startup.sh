#!/usr/bin/env bash
# The monitor's start-up and footprint on a desktop like a user's (bench/desktop_session.sh:
# Xvfb with Wine's X11 driver, so the shell and its notification area run, and a PulseAudio
# server with a null microphone), beside three floors measured first in the same session:
# trivial_window.exe (a hidden window only), trivial_microphone.exe (a hidden window and the
# default microphone's volume bound, as the monitor does at start) and trivial_microphone.exe
# --platform (also a tray icon and the HID device notifications: what the platform costs for
# the monitor's features).
#
#  1. monitor_bench.exe: each program started once unmeasured, then RUNS times and ended with
#     WM_CLOSE; medians of the time from process start until its window can be found by class
#     and of its working set 1.5 s after start, the ratios and differences against the goals,
#     and the first mute toggle after the monitor's start.
#  2. Where the working set goes: each program started once more; 1.5 s after its start the
#     resident memory of its Linux process (/proc/PID/smaps) is summed per module (Windows
#     modules by their address range, also where Wine read the image into anonymous memory;
#     Linux libraries and files by name) and shown beside the microphone floor's.
#  3. Nothing is left running: each program has ended, and no process of theirs remains.
#
#   bench/startup.sh [--runs N] [--no-memory]        RUNS defaults to 7
#
# Runs the monitor from a copy of the installed folder; the floors and monitor_bench.exe come
# from build/win64/bin (tools/run.sh --build-only builds the folder, the target monitor_bench the rest). KORV_BENCH_FOLDER and KORV_BENCH_BIN choose others, KORV_WINEPREFIX another
# prefix of the X11 driver (default build/wineprefix-desktop). Everything it starts it stops
# again: the prefix's wineserver (wineserver -k), Xvfb and PulseAudio by their process ids.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_name=startup
# shellcheck source=bench/desktop_session.sh
source "$root/bench/desktop_session.sh"

runs=7
memory=1
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --no-memory) memory=0; shift ;;
        -h | --help) sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) die "unknown argument '$1' (see --help)" ;;
    esac
done
dist="${KORV_BENCH_FOLDER:-$root/dist/KORVANTH417}"
bin="${KORV_BENCH_BIN:-$root/build/win64/bin}"

[ -f "$dist/KORVANTH417MON.exe" ] || die "no $dist: build it with tools/run.sh --build-only"
# The bench's own monitor window (its first mute toggle) loads uiHook.dll from its folder.
for program in monitor_bench.exe trivial_window.exe trivial_microphone.exe uiHook.dll; do
    [ -f "$bin/$program" ] || die "no $bin/$program: build the monitor_bench target"
done

work=
stop_all() {
    desktop_session_stop
    [ -n "$work" ] && rm -rf "$work"
    return 0
}

bench() {
    wine "$bin/monitor_bench.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

# ---- Where the working set goes

# Prints "KiB label" per module of a running Linux process: its smaps ($1) with the Windows
# modules' address ranges ($2, lines "base size path" in hex) put on anonymous mappings.
resident_by_module() {
    awk '
        function hex(s,    n, i) {
            n = 0
            s = tolower(s)
            for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
            return n
        }
        function base(path) { gsub(/\\/, "/", path); sub(/.*\//, "", path); return tolower(path) }
        NR == FNR { low[++modules] = hex($1); high[modules] = low[modules] + hex($2)
                    path = $3; for (i = 4; i <= NF; i++) path = path " " $i
                    name[modules] = base(path); next }
        /^[0-9a-f]+-[0-9a-f]+ / {
            split($1, range, "-")
            start = hex(range[1])
            label = ""
            for (m = 1; m <= modules; m++)
                if (start >= low[m] && start < high[m]) { label = name[m]; break }
            if (label == "" && NF >= 6) {
                path = $6; for (i = 7; i <= NF; i++) path = path " " $i
                label = path ~ /^\[/ ? path : base(path)
            }
            if (label == "") label = "[anonymous]"
            next
        }
        /^Rss:/ { rss[label] += $2 }
        END { for (l in rss) print rss[l], l }
    ' "$2" "$1"
}

# Starts the program $2 (window class $3) from folder $1, and 1.5 s after its start writes its
# resident memory per module to $4; then ends it.
snapshot_program() {
    local folder=$1 program=$2 class=$3 out=$4 pid='' started
    started=$(date +%s%N)
    (cd "$folder" && exec wine "$program" </dev/null >/dev/null 2>&1) &
    for _ in $(seq 100); do
        bench --modules "$class" >"$work/modules" && break
        sleep 0.1
    done
    pid=$(pids_running "$program" | head -n 1)
    [ -n "$pid" ] || die "$program did not start"
    sleep "$(awk -v n="$(date +%s%N)" -v s="$started" \
        'BEGIN { w = 1.5 - (n - s) / 1e9; printf "%.3f", (w > 0 ? w : 0) }')"
    bench --modules "$class" >"$work/modules"
    resident_by_module "/proc/$pid/smaps" "$work/modules" >"$out"
    bench --close "$class" >/dev/null || echo "($program did not end on WM_CLOSE)"
}

# The monitor's resident memory per module beside the microphone floor's, largest difference
# first; modules the floor does not load are marked.
report_memory() {
    echo
    echo "== where the working set goes 1.5 s after start (resident KiB per module)"
    snapshot_program "$bin" trivial_microphone.exe KorvTrivialMicrophone "$work/floor.rss"
    sleep 0.5
    snapshot_program "$work/KORVANTH417" KORVANTH417MON.exe TKORVANTH417MONMAIN \
        "$work/monitor.rss"
    printf '  %-34s %9s %9s %9s\n' module monitor "mic floor" more
    awk '
        { label = $2; for (i = 3; i <= NF; i++) label = label " " $i }
        NR == FNR { floor[label] = $1; next }
        { monitor[label] = $1 }
        END {
            for (l in floor) if (!(l in monitor)) monitor[l] = 0
            for (l in monitor) {
                note = l in floor ? "" : "  (the floor has none)"
                d = monitor[l] - floor[l]
                if (d >= 64 || d <= -64)
                    printf "%d\t  %-34s %9d %9d %+9d%s\n", d, l, monitor[l], floor[l], d, note
            }
        }
    ' "$work/floor.rss" "$work/monitor.rss" | sort -rn | cut -f2-
    awk 'NR == FNR { f += $1; next } { m += $1 }
         END { printf "  %-34s %9d %9d %+9d\n", "all (resident set)", m, f, m - f }' \
        "$work/floor.rss" "$work/monitor.rss"
}

# ---- The run

work=$(mktemp -d /tmp/korv-startup.XXXXXX)
trap stop_all EXIT
trap 'exit 1' INT TERM
desktop_session_start
cp -r "$dist" "$work/KORVANTH417"

echo "== start-up, floors first ($runs starts each after one unmeasured start)"
status=0
bench --folder "$(winepath -w "$work/KORVANTH417" 2>/dev/null | tr -d '\r')" "$runs" || status=1
[ "$memory" = 1 ] && report_memory

left=$( (pids_running KORVANTH417MON.exe; pids_running trivial_window.exe
    pids_running trivial_microphone.exe) | tr '\n' ' ')
if [ -n "${left// /}" ]; then
    echo "left running: Linux pid(s) $left"
    status=1
fi
exit "$status"
