#!/usr/bin/env bash
# Runs every test: the portable core natively under AddressSanitizer and UBSan, then the
# Windows build under Wine. Installs what is missing first. Exits non-zero on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tools/env.sh"
jobs=$(nproc)
logs="$root/build/logs"

mkdir -p "$root/build"
# One run at a time: two runs would share the build folders and the logs the summary quotes. The
# lock's descriptor is not handed to what the tests start, so a server a test leaves behind
# cannot hold it.
exec 8>"$root/build/test.lock"
if ! flock -n 8; then
    echo "test.sh: another tools/test.sh is running (it holds build/test.lock); wait for it" >&2
    exit 1
fi
"$root/tools/bootstrap.sh" 8>&- || exit 1
mkdir -p "$logs"
# A log of an earlier run must not stand in for one this run did not write.
rm -f "$logs"/test-native.log "$logs"/test-windows.log

# Configures and builds quietly; shows the log only when something fails.
build() {
    local name=$1 dir=$2
    shift 2
    echo "== building $name"
    if ! { cmake -S "$root" -B "$dir" -G Ninja "$@" && cmake --build "$dir" -j "$jobs"; } \
        >"$logs/build-$name.log" 2>&1 8>&-; then
        tail -n 60 "$logs/build-$name.log"
        echo "build of $name failed (full log: $logs/build-$name.log)"
        return 1
    fi
}

run_tests() {
    local name=$1 dir=$2
    echo "== testing $name"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 8>&- | tee "$logs/test-$name.log"
    return "${PIPESTATUS[0]}"
}

# Each part's outcome, from its own exit codes: "passed", "tests failed", "build failed".
native=passed windows=passed
if ! build native "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DKORV_SANITIZE=ON; then
    native="build failed"
elif ! run_tests native "$root/build/native"; then
    native="tests failed"
fi

if ! build windows "$root/build/win64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"; then
    windows="build failed"
elif [ -f "$root/build/win64/bin/win32_tests.exe" ]; then
    # A PulseAudio server with a null microphone for Core Audio, and one persistent Wine session
    # for all test programs, both stopped again at the end. Wine's server and services must not
    # hold ctest's output pipes, or ctest waits for them forever.
    source "$root/tools/pulse-session.sh"
    pulse_start 8>&- || windows="tests failed (no sound server)"
    (wineserver -p && wine wineboot) </dev/null >/dev/null 2>&1 8>&-
    trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; pulse_stop' EXIT
    run_tests windows "$root/build/win64" 8>&- || windows="tests failed"
else
    windows="build failed (no win32_tests.exe)"
fi

echo
echo "== summary"
status=0
for name in native windows; do
    outcome=${!name}
    [ "$outcome" = passed ] || status=1
    # ctest's own count, from this run's log (removed at the start, so never an earlier run's).
    line=$(grep -E 'tests passed|No tests were found' "$logs/test-$name.log" 2>/dev/null | tail -n 1)
    printf '%-8s %s%s\n' "$name:" "$outcome" "${line:+ ($line)}"
done
[ "$status" -eq 0 ] && echo "all tests passed" || echo "TESTS FAILED"
exit "$status"
