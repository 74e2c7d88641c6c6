#!/usr/bin/env bash
# Runs every test: the portable core natively under AddressSanitizer and UBSan, then the
# Windows build under Wine. Installs what is missing first. Exits non-zero on any failure.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tools/env.sh"
jobs=$(nproc)
logs="$root/build/logs"

"$root/tools/bootstrap.sh" || exit 1
mkdir -p "$logs"

# Configures and builds quietly; shows the log only when something fails.
build() {
    local name=$1 dir=$2
    shift 2
    echo "== building $name"
    if ! { cmake -S "$root" -B "$dir" -G Ninja "$@" && cmake --build "$dir" -j "$jobs"; } \
        >"$logs/build-$name.log" 2>&1; then
        tail -n 60 "$logs/build-$name.log"
        echo "build of $name failed (full log: $logs/build-$name.log)"
        return 1
    fi
}

run_tests() {
    local name=$1 dir=$2
    echo "== testing $name"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 | tee "$logs/test-$name.log"
    return "${PIPESTATUS[0]}"
}

status=0
build native "$root/build/native" -DCMAKE_BUILD_TYPE=Debug -DKORV_SANITIZE=ON &&
    run_tests native "$root/build/native" || status=1

build windows "$root/build/win64" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" || status=1
if [ -f "$root/build/win64/bin/win32_tests.exe" ]; then
    # A PulseAudio server with a null microphone for Core Audio, and one persistent Wine session
    # for all test programs, both stopped again at the end. Wine's server and services must not
    # hold ctest's output pipes, or ctest waits for them forever.
    source "$root/tools/pulse-session.sh"
    pulse_start || status=1
    (wineserver -p && wine wineboot) </dev/null >/dev/null 2>&1
    trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; pulse_stop' EXIT
    run_tests windows "$root/build/win64" || status=1
fi

echo
echo "== summary"
for name in native windows; do
    line=$(grep -E 'tests passed|No tests were found' "$logs/test-$name.log" 2>/dev/null | tail -n 1)
    printf '%-8s %s\n' "$name:" "${line:-not run}"
done
[ "$status" -eq 0 ] && echo "all tests passed" || echo "TESTS FAILED"
exit "$status"
