# The context switches of every thread of some processes, from /proc: what the idle benches of
# both platforms count. Sourced by bench/desktop_session.sh and bench/linux_session.sh.

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
