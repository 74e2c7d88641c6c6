#!/usr/bin/env bash
# Runs every test: the portable core natively under AddressSanitizer and UBSan, then the
# Windows build under Wine. Installs what is missing first. Exits non-zero on any failure.
#
# KORV_BUILD_DIR (default build) takes the build trees, the logs and the lock elsewhere.
# KORV_TEST_STEPS=PROGRAM is for the test of this script (tests/scripts/test_sh_test.sh): each
# heavy step (installing, configuring, building, the Wine session, running the tests) calls
# `PROGRAM STEP PART` in place of its command, and that exit code is the step's; the lock, the
# logs, the outcomes and the summary are the same code as in a real run.
# INT, TERM and HUP stop the step that runs (its whole process group: ninja and the compilers,
# ctest and its tests) and the Wine session and sound server, and end the run with 128+signal.
set -uo pipefail

# A shell that starts a script in the background makes it ignore INT, and bash cannot trap a
# signal that was ignored when it started: once, the script starts again with the default
# action of the three signals, so that its traps below work whoever started it.
if [ -z "${KORV_TEST_SIGNALS_RESET:-}" ]; then
    export KORV_TEST_SIGNALS_RESET=1
    exec env --default-signal=INT,TERM,HUP bash "${BASH_SOURCE[0]}" "$@"
fi
unset KORV_TEST_SIGNALS_RESET

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

# What a stop has to end: the step that runs (a process group of its own) and the Wine session.
step_pid="" session=0
stop_all() {
    trap - INT TERM HUP
    if [ -n "$step_pid" ]; then
        kill -- "-$step_pid" 2>/dev/null
        wait "$step_pid" 2>/dev/null
        step_pid=""
    fi
    if [ "$session" = 1 ]; then
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
        pulse_stop
        session=0
    fi
    return 0
}
trap stop_all EXIT
stopped() {
    echo "test.sh: stopped by signal $1; the step that ran is ended, there is no summary" >&2
    exit $((128 + $1))
}
trap 'stopped 2' INT
trap 'stopped 15' TERM
trap 'stopped 1' HUP

# Runs COMMAND as a child in a process group of its own and waits for it: bash runs a trap only
# between commands, so a signal during a step in the foreground would wait for its end, and
# would leave ninja or ctest running beside the next run. No lock descriptor goes to the child.
run_step() {
    setsid "$@" 7>&- 8>&- &
    step_pid=$!
    local status=0
    wait "$step_pid" || status=$?
    step_pid=""
    return "$status"
}

# The command of the heavy step NAME of PART, in the array `cmd`: its own, or the stand-in of a
# test of this script.
step_command() {
    local name=$1 part=$2
    shift 2
    cmd=("$@")
    [ -z "${KORV_TEST_STEPS:-}" ] || cmd=("$KORV_TEST_STEPS" "$name" "$part")
}
step() {
    step_command "$@"
    run_step "${cmd[@]}"
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
    # An empty list of tests is a failure, not a pass.
    step_command test "$name" ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs"
    # The output on the terminal and in the log; the exit code is ctest's.
    run_step bash -o pipefail -c '"$@" 2>&1 | tee "$0"' "$logs/test-$name.log" "${cmd[@]}"
}

# A PulseAudio server with a null microphone for Core Audio, and one persistent Wine session
# for all test programs, both stopped again at the end. Wine's server and services must not hold
# ctest's output pipes, or ctest waits for them forever.
windows_session() {
    if [ -n "${KORV_TEST_STEPS:-}" ]; then
        run_step "$KORV_TEST_STEPS" session windows
        return
    fi
    [ -f "$build_dir/win64/bin/win32_tests.exe" ] || return 2
    source "$root/tools/pulse-session.sh"
    session=1
    pulse_start 7>&- 8>&- || return 1
    run_step sh -c '(wineserver -p && wine wineboot) </dev/null >/dev/null 2>&1'
    return 0
}

# Each part's outcome, from its own exit codes: "passed", "tests failed", "build failed".
native=passed windows=passed
if ! build native "$build_dir/native" -DCMAKE_BUILD_TYPE=Debug -DKORV_SANITIZE=ON; then
    native="build failed"
elif ! run_tests native "$build_dir/native"; then
    native="tests failed"
fi

# tools/run.sh builds the same Windows tree: one of the two at a time builds it, and its
# programs are not rebuilt while these tests run them.
exec 7>"$build_dir/win64.lock"
if ! flock -n 7; then
    echo "== waiting for tools/run.sh, which is building $build_dir/win64 ($build_dir/win64.lock)"
    run_step flock 7
fi
if ! build windows "$build_dir/win64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"; then
    windows="build failed"
else
    started=0
    windows_session || started=$?
    case $started in
        0) run_tests windows "$build_dir/win64" || windows="tests failed" ;;
        2) windows="build failed (no win32_tests.exe)" ;;
        *) windows="tests failed (no sound server)" ;;
    esac
fi
stop_all
exec 7>&-

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
