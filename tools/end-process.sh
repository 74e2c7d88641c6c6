# shellcheck shell=bash
# Ending a process a script started, by its id; sourced, not run.
#
#   end_process PID [SECONDS]
#
# Asks the process to end (TERM) and waits for it. One still there after SECONDS (default 5) is
# killed (KILL): a server that missed or ignored the request must not hold the script up for
# good. Reaps the process when it is the shell's child. An empty PID, or a process that has gone
# already, is fine. Never fails.
end_process() {
    local pid=$1 seconds=${2:-5} i
    [ -n "$pid" ] || return 0
    if kill "$pid" 2>/dev/null; then
        for ((i = 0; i < seconds * 20; i++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    return 0
}
