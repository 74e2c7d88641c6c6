# A virtual display for the project's scripts; sourced, not run. Call xvfb_start and xvfb_stop
# from the same shell; the server is stopped by its process id.

# shellcheck source=tools/end-process.sh
source "$(dirname "${BASH_SOURCE[0]}")/end-process.sh"

# Starts Xvfb with one screen of SIZE (WIDTHxHEIGHTxDEPTH), its output in LOG. Xvfb picks a free
# display number itself (-displayfd) and writes it once it takes connections, so that no other
# server can take the number between a check and the start. Sets XVFB_PID and XVFB_DISPLAY
# (":N"). Returns 1, with nothing left running, when the server exits or has not come up within
# 10 s. The server gets none of the callers' lock descriptors (7, 8, 9).
xvfb_start() {
    local size=$1 log=$2 number_file _
    number_file=$(mktemp /tmp/korv-xvfb.XXXXXX) || return 1
    Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>"$number_file" >"$log" 2>&1 </dev/null \
        7>&- 8>&- 9>&- &
    XVFB_PID=$!
    XVFB_DISPLAY=""
    for _ in $(seq 100); do
        # The number is written with its newline at once.
        if [ "$(wc -l <"$number_file")" -ge 1 ]; then
            XVFB_DISPLAY=:$(tr -dc '0-9' <"$number_file")
            break
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$number_file"
    [ "$XVFB_DISPLAY" != : ] && [ -n "$XVFB_DISPLAY" ] && return 0
    XVFB_DISPLAY=""
    xvfb_stop
    echo "Xvfb did not start (its output: $log)" >&2
    return 1
}

xvfb_stop() {
    end_process "${XVFB_PID:-}"
    XVFB_PID=""
    return 0
}
