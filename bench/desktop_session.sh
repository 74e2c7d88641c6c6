#!/usr/bin/env bash
# The desktop the Windows benchmarks measure on, like a user's machine: Wine's X11 driver on an
# Xvfb display (so that the shell and its notification area run) and a PulseAudio server with a
# null microphone (so that Core Audio has a default capture endpoint), in a Wine prefix of the
# X11 driver. Also the counting of wake-ups from /proc. Sourced, not run; the caller sets `root`
# and `bench_name` (for messages), then
#
#   desktop_session_start       display, sound server and a persistent Wine server
#   desktop_session_stop        stops all three again (by process id; wineserver -k of the prefix)
#
# KORV_WINEPREFIX chooses the prefix (default build/wineprefix-desktop); it is created on first
# use. Everything started here is stopped by its process id or by `wineserver -k` on the prefix.

: "${root:?}" "${bench_name:?}"
export KORV_WINEPREFIX="${KORV_WINEPREFIX:-$root/build/wineprefix-desktop}" KORV_WINE_DESKTOP=1
# shellcheck source=tools/env.sh
source "$root/tools/env.sh"
# shellcheck source=tools/pulse-session.sh
source "$root/tools/pulse-session.sh"
# shellcheck source=tools/xvfb-session.sh
source "$root/tools/xvfb-session.sh"

die() {
    echo "$bench_name: $*" >&2
    exit 1
}

# ---- /proc

# The pids of the Linux processes of this prefix whose command line names $1 (case-insensitive);
# other sessions on the machine are left out.
pids_running() {
    local name=$1 dir
    for dir in /proc/[0-9]*; do
        [ "${dir#/proc/}" = "$$" ] && continue
        tr '\0' ' ' 2>/dev/null <"$dir/cmdline" | grep -qiF -- "$name" || continue
        tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" &&
            echo "${dir#/proc/}"
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

# shellcheck source=bench/thread_samples.sh
source "$root/bench/thread_samples.sh"

# Prints the wake-ups per second of every thread between two samples taken $3 seconds apart,
# and their total.
report_wakeups() {
    local before=$1 after=$2 seconds=$3
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

# ---- The session

session_xvfb_log=""
session_wineserver=
desktop_session_stop() {
    if [ -n "$session_wineserver" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
        session_wineserver=
    fi
    xvfb_stop
    if [ -n "$session_xvfb_log" ]; then
        rm -f "$session_xvfb_log"
        session_xvfb_log=""
    fi
    pulse_stop || true
    return 0
}

start_display() {
    session_xvfb_log=$(mktemp /tmp/korv-bench-xvfb.XXXXXX)
    xvfb_start 1024x600x24 "$session_xvfb_log" ||
        die "the virtual display did not start: $(cat "$session_xvfb_log")"
    export DISPLAY=$XVFB_DISPLAY
}

# Display, sound server and a persistent Wine server with the shell running, so that the first
# measured program does not pay for starting them. Refuses a prefix whose server runs already.
desktop_session_start() {
    [ -f "$WINEPREFIX/.korv-ready" ] || "$root/tools/bootstrap.sh"
    prefix_in_use && die "a wineserver of $WINEPREFIX runs already; stop that session first"
    start_display
    pulse_start || die "the sound server did not start"
    session_wineserver=1
    wineserver -p
    # wineboot brings up the services and the shell's desktop window; its output must not hold
    # the caller's pipes (Wine's server and services inherit them).
    wine wineboot </dev/null >/dev/null 2>&1
}
