#!/usr/bin/env bash
# tools/test.sh's own behaviour: its summary and exit code follow each part's exit codes, never a
# log of an earlier run, a second run while one holds the lock is refused without touching
# the first one's logs or result, and TERM during a step ends that step with the run. The real script runs with its build folder in a temporary
# folder and its heavy steps (installing, configuring, building, the Wine session, ctest) given
# to a stand-in that exits as each case says.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d /tmp/korv-test-sh.XXXXXX)
first_pid=""
cleanup() {
    [ -n "$first_pid" ] && kill "$first_pid" 2>/dev/null && wait "$first_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The stand-in of the steps: `steps STEP PART`. STEPS_FAIL lists STEP:PART=CODE; a test step
# prints ctest's count line as ctest would. STEPS_HOLD=STEP:PART makes that step wait for the
# file $work/release after its output (and say so by writing its process id to $work/held).
cat >"$work/steps" <<'STEPS'
#!/usr/bin/env bash
code=0
for entry in $STEPS_FAIL; do
    [ "${entry%%=*}" = "$1:$2" ] && code=${entry#*=}
done
if [ "$1" = test ]; then
    if [ "$code" = 0 ]; then
        echo "100% tests passed, 0 tests failed out of 3"
    else
        echo "67% tests passed, 1 tests failed out of 3"
    fi
fi
if [ "${STEPS_HOLD:-}" = "$1:$2" ]; then
    echo $$ >"$STEPS_WORK/held"
    for _ in $(seq 300); do [ -e "$STEPS_WORK/release" ] && break; sleep 0.1; done
fi
exit "$code"
STEPS
chmod +x "$work/steps"

failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

# tools/test.sh in the case's environment: its output in $work/out, its exit code returned.
run_script() {
    KORV_BUILD_DIR="$work/build" KORV_TEST_STEPS="$work/steps" STEPS_WORK="$work" \
        "$root/tools/test.sh" >"$work/out" 2>&1
}

# Each line of EXPECTED (separated by '|') is a whole line of the output.
expect_lines() {
    local case=$1 expected=$2 line
    IFS='|' read -ra wanted <<<"$expected"
    for line in "${wanted[@]}"; do
        grep -qFx -- "$line" "$work/out" || fail "$case: no line '$line' in:$(printf '\n%s' "$(cat "$work/out")")"
    done
}

pass_count="(100% tests passed, 0 tests failed out of 3)"
fail_count="(67% tests passed, 1 tests failed out of 3)"
# name ; failing steps ; exit code ; lines of the summary. The cases run one after another in
# the same build folder, so a case whose part writes no test log must not quote the log of the
# case before it.
cases=(
    "every part passes;;0;native:  passed $pass_count|windows: passed $pass_count|all tests passed"
    "native tests fail;test:native=8;1;native:  tests failed $fail_count|windows: passed $pass_count|TESTS FAILED"
    "windows tests fail after native passed;test:windows=8;1;native:  passed $pass_count|windows: tests failed $fail_count|TESTS FAILED"
    "native build fails;build:native=1;1;native:  build failed|windows: passed $pass_count|TESTS FAILED"
    "windows configure fails;configure:windows=1;1;native:  passed $pass_count|windows: build failed|TESTS FAILED"
    "no Windows test program;session:windows=2;1;windows: build failed (no win32_tests.exe)|TESTS FAILED"
    "no sound server;session:windows=1;1;windows: tests failed (no sound server)|TESTS FAILED"
    "installing fails;install:all=1;1;"
)
for entry in "${cases[@]}"; do
    IFS=';' read -r name failing code lines <<<"$entry"
    status=0
    STEPS_FAIL=$failing run_script || status=$?
    [ "$status" = "$code" ] || fail "$name: exit code $status, not $code"
    [ -z "$lines" ] || expect_lines "$name" "$lines"
    if [ "$code" != 0 ] && grep -q 'all tests passed' "$work/out"; then
        fail "$name: says all tests passed after a failure"
    fi
done

# Two runs at once: the first fails its native tests and waits inside that step, holding the
# lock; the second is refused, and the first's log and result stay its own.
rm -f "$work/held" "$work/release"
STEPS_FAIL="test:native=8" STEPS_HOLD="test:native" KORV_BUILD_DIR="$work/build" \
    KORV_TEST_STEPS="$work/steps" STEPS_WORK="$work" "$root/tools/test.sh" >"$work/first" 2>&1 &
first_pid=$!
for _ in $(seq 300); do [ -e "$work/held" ] && break; sleep 0.1; done
if [ ! -e "$work/held" ]; then
    fail "the first run never reached its native tests: $(cat "$work/first")"
else
    status=0
    STEPS_FAIL="" run_script || status=$?
    [ "$status" != 0 ] || fail "a second concurrent run exited 0"
    grep -q 'another tools/test.sh is running' "$work/out" ||
        fail "the second run did not say why it was refused: $(cat "$work/out")"
    ! grep -q '== summary\|all tests passed' "$work/out" ||
        fail "the refused run printed a summary: $(cat "$work/out")"
    grep -qF "67% tests passed" "$work/build/logs/test-native.log" ||
        fail "the refused run touched the first run's log"
fi
touch "$work/release"
status=0
wait "$first_pid" || status=$?
first_pid=""
cp "$work/first" "$work/out"
[ "$status" = 1 ] || fail "the first run exited $status after its native tests failed"
expect_lines "first of two runs" "native:  tests failed $fail_count|windows: passed $pass_count|TESTS FAILED"

# TERM while a step is held: the run ends with 128+15 and takes the step with it, and the next
# run is not refused (the lock went with the stopped run).
rm -f "$work/held" "$work/release"
STEPS_HOLD="build:windows" KORV_BUILD_DIR="$work/build" KORV_TEST_STEPS="$work/steps" \
    STEPS_WORK="$work" "$root/tools/test.sh" >"$work/first" 2>&1 &
first_pid=$!
for _ in $(seq 300); do [ -s "$work/held" ] && break; sleep 0.1; done
if [ ! -s "$work/held" ]; then
    fail "the run to be stopped never reached its Windows build: $(cat "$work/first")"
else
    step=$(cat "$work/held")
    kill -TERM "$first_pid"
    # The held step would wait 30 s for its release: a run that waits for it has not stopped it.
    for _ in $(seq 50); do kill -0 "$first_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$first_pid" 2>/dev/null && fail "TERM did not end the run within 5 s"
    touch "$work/release"
    status=0
    wait "$first_pid" || status=$?
    first_pid=""
    [ "$status" = 143 ] || fail "the run stopped by TERM exited $status, not 143: $(cat "$work/first")"
    for _ in $(seq 50); do kill -0 "$step" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$step" 2>/dev/null; then
        fail "the held step (process $step) outlived the run stopped by TERM"
        kill "$step"
    fi
    ! grep -q '== summary' "$work/first" || fail "the stopped run printed a summary: $(cat "$work/first")"
    status=0
    STEPS_FAIL="" run_script || status=$?
    [ "$status" = 0 ] || fail "the run after a stopped one exited $status: $(cat "$work/out")"
fi

[ "$failures" = 0 ] || exit 1
echo "PASS ${#cases[@]} cases, a concurrent run and a stopped run"
