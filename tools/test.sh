#!/usr/bin/env bash
# Runs every test: the portable core natively under AddressSanitizer and UBSan, then the
# Windows build under Wine. Installs what is missing first. Exits non-zero on any failure.
#
# KORV_BUILD_DIR (default build) takes the build trees, the logs and the lock elsewhere.
# KORV_TEST_STEPS=PROGRAM is for the test of this script (tests/scripts/test_sh_test.sh): each
# heavy step (installing, configuring, building, the Wine session, running the tests) calls
# `PROGRAM STEP PART` in place of its command, and that exit code is the step's; the lock, the
# logs, the outcomes and the summary are the same code as in a real run.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${KORV_BUILD_DIR:-$root/build}")
export KORV_WINEPREFIX="${KORV_WINEPREFIX:-$build_dir/wineprefix}"
source "$root/tools/env.sh"
jobs=$(nproc)
logs="$build_dir/logs"

mkdir -p "$build_dir"
# One run at a time: two runs would share the build folders and the logs the summary quotes. The
# lock's descriptor is not handed to what the tests start, so a server a test leaves behind
# cannot hold it.
exec 8>"$build_dir/test.lock"
if ! flock -n 8; then
    echo "test.sh: another tools/test.sh is running (it holds $build_dir/test.lock); wait for it" >&2
    echo "test.sh: this run did nothing; the other run's logs and summary are its own" >&2
    exit 1
fi

# One heavy step of PART: its command, or the stand-in of a test of this script.
step() {
    local name=$1 part=$2
    shift 2
    if [ -n "${KORV_TEST_STEPS:-}" ]; then
        "$KORV_TEST_STEPS" "$name" "$part" 8>&-
    else
        "$@" 8>&-
    fi
}

step install all "$root/tools/bootstrap.sh" || exit 1
mkdir -p "$logs"
# A log of an earlier run must not stand in for one this run did not write.
rm -f "$logs"/test-native.log "$logs"/test-windows.log

# Configures and builds quietly; shows the log only when something fails.
build() {
    local name=$1 dir=$2
    shift 2
    echo "== building $name"
    if ! { step configure "$name" cmake -S "$root" -B "$dir" -G Ninja "$@" &&
        step build "$name" cmake --build "$dir" -j "$jobs"; } >"$logs/build-$name.log" 2>&1; then
        tail -n 60 "$logs/build-$name.log"
        echo "build of $name failed (full log: $logs/build-$name.log)"
        return 1
    fi
}

run_tests() {
    local name=$1 dir=$2
    echo "== testing $name"
    step test "$name" ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 |
        tee "$logs/test-$name.log"
    return "${PIPESTATUS[0]}"
}

# A PulseAudio server with a null microphone for Core Audio, and one persistent Wine session
# for all test programs, both stopped again at the end. Wine's server and services must not hold
# ctest's output pipes, or ctest waits for them forever.
windows_session() {
    [ -f "$build_dir/win64/bin/win32_tests.exe" ] || return 2
    source "$root/tools/pulse-session.sh"
    trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; pulse_stop' EXIT
    pulse_start || return 1
    (wineserver -p && wine wineboot) </dev/null >/dev/null 2>&1
    return 0
}

# Each part's outcome, from its own exit codes: "passed", "tests failed", "build failed".
native=passed windows=passed
if ! build native "$build_dir/native" -DCMAKE_BUILD_TYPE=Debug -DKORV_SANITIZE=ON; then
    native="build failed"
elif ! run_tests native "$build_dir/native"; then
    native="tests failed"
fi

if ! build windows "$build_dir/win64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"; then
    windows="build failed"
else
    session=0
    step session windows windows_session || session=$?
    case $session in
        0) run_tests windows "$build_dir/win64" || windows="tests failed" ;;
        2) windows="build failed (no win32_tests.exe)" ;;
        *) windows="tests failed (no sound server)" ;;
    esac
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
