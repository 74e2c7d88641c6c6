#!/usr/bin/env bash
# The tray's icon on a desktop: a fresh Wine prefix with the X11 driver on a virtual display of
# its own, where Wine shows the notification area as a window. Runs the tray's test cases that
# need one (they skip themselves elsewhere) and fails if any of them was skipped here.
#
#   tray_desktop_test.sh BUILD_DIR
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:?usage: tray_desktop_test.sh BUILD_DIR}" && pwd)
work=$(mktemp -d "$build/tray-desktop-test.XXXXXX")
export KORV_WINEPREFIX="$work/prefix" KORV_WINE_DESKTOP=1
source "$root/tools/env.sh"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A display number that no other X server uses.
for _ in $(seq 20); do
    display=:$((200 + RANDOM % 100))
    [ -e "/tmp/.X11-unix/X${display#:}" ] || [ -e "/tmp/.X${display#:}-lock" ] || break
done
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
[ -S "/tmp/.X11-unix/X${display#:}" ] || { echo "FAIL Xvfb did not start on $display"; exit 1; }
export DISPLAY=$display

"$root/tools/bootstrap.sh" >/dev/null 2>&1 </dev/null || { echo "FAIL the Wine prefix $WINEPREFIX could not be made"; exit 1; }
wineserver -p </dev/null >/dev/null 2>&1

# Into a file: Wine's services started by the test would hold a pipe open after it ends.
wine "$build/bin/win32_tests.exe" --gtest_filter='TrayIconFiles.*' </dev/null >"$work/out" 2>&1
status=$?
out=$(tr -d '\r' <"$work/out")
echo "$out"
if grep -q '^\[  SKIPPED \]' <<<"$out"; then
    echo "FAIL a tray test was skipped on a desktop with a notification area"
    exit 1
fi
grep -q '^\[  PASSED  \]' <<<"$out" && ! grep -q '^\[  FAILED  \]' <<<"$out" && [ "$status" -eq 0 ] ||
    { echo "FAIL the tray tests failed"; exit 1; }
echo "tray desktop test passed"
