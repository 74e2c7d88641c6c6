#!/usr/bin/env bash
# The monitor on a machine where no window can be made: a fresh Wine prefix that keeps the X11
# driver, run with no display. The monitor must end at once with exit code 1 and trace why,
# and the single-instance mutex must go with it, so that the next start meets the same error
# rather than ending silently as a second instance.
#
#   no_display_test.sh BUILD_DIR
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:?usage: no_display_test.sh BUILD_DIR}" && pwd)
work="$build/no-display-test"
rm -rf "$work"
mkdir -p "$work"
export KORV_WINEPREFIX="$work/prefix" KORV_WINE_DESKTOP=1
source "$root/tools/env.sh"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else
        echo "FAIL $what"
        failures=$((failures + 1))
    fi
}
cleanup() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    if [ "$failures" -eq 0 ]; then
        rm -rf "$work"
        echo "no-display test passed"
        exit 0
    fi
    echo "no-display test FAILED ($failures failed checks); files kept in $work"
    exit 1
}

"$root/tools/bootstrap.sh" >/dev/null || {
    echo "FAIL the Wine prefix $WINEPREFIX could not be made"
    exit 1
}
wineserver -p </dev/null >/dev/null 2>&1
trap cleanup EXIT

has_line() { grep -qxF -- "$2" <<<"$1"; }
has_line_starting() { grep -q "^$(sed 's/[][\.*^$]/\\&/g' <<<"$2")" <<<"$1"; }

for start in first second; do
    out=$(wine "$build/bin/trace_probe.exe" 20 "$build/bin/KORVANTH417MON.exe" \
        </dev/null 2>/dev/null | tr -d '\r')
    echo "$out" | sed 's/^/  /'
    check "$start start ends by itself" has_line_starting "$out" "exit code "
    check "$start start ends with exit code 1" has_line "$out" "exit code 1"
    check "$start start traces the failed call" \
        has_line_starting "$out" "trace: Monitor window: CreateWindowExW failed, error "
    check "$start start traces that it ends" \
        has_line "$out" "trace: The monitor window cannot be created; the monitor ends"
done
