#!/usr/bin/env bash
# tools/end-process.sh: a process that ends on TERM goes at once, one that ignores TERM is killed
# once the limit has passed, and an empty or finished process id is fine. Each case is a child
# of this shell, as in the scripts that use it; every process is stopped by its id.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=tools/end-process.sh
source "$root/tools/end-process.sh"

failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
now_ms() { date +%s%3N; }
gone() { ! kill -0 "$1" 2>/dev/null; }

# Ends the process with end_process PID LIMIT and sets took_ms to the time it took.
took_ms=0
timed_end() {
    local start
    start=$(now_ms)
    end_process "$1" "$2"
    took_ms=$(($(now_ms) - start))
}

sleep 100 &
polite=$!
timed_end "$polite" 5
check "a process that ends on TERM goes at once (${took_ms} ms)" \
    test "$took_ms" -lt 1000
check "and is gone" gone "$polite"

bash -c 'trap "" TERM; while :; do sleep 0.1; done' &
stubborn=$!
sleep 0.2  # its trap is set
timed_end "$stubborn" 1
check "a process that ignores TERM is killed after the limit (${took_ms} ms)" \
    test "$took_ms" -ge 900 -a "$took_ms" -lt 4000
check "and is gone" gone "$stubborn"
end_process "$stubborn"  # gone already: nothing to do, no failure

check "an empty process id is fine" end_process ""

[ "$failures" = 0 ] && echo "all end_process cases passed" && exit 0
echo "$failures case(s) failed"
exit 1
