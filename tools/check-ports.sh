#!/usr/bin/env bash
# Fails when a port header speaks of one platform: window handles, class lookups or message
# numbers, Windows error numbers, GUID text, named pipes, code pages, registry roots or
# backslash paths. The ports are what every backend (Windows, Linux) fills; what only one
# platform knows belongs in its backend.
#   check-ports.sh ROOT          check ROOT/ports
#   check-ports.sh --self-test   show that planted Windows notions are caught
set -uo pipefail

# One extended regular expression per notion, with the words a reader would use for it.
notions=(
    'window handles and messages|\<(HWND|WindowRef|WPARAM|LPARAM|wparam|lparam|WM_[A-Z_]+|FindWindow[A-Za-z]*|PostMessage[A-Za-z]*|SendMessage[A-Za-z]*)\>|window class|message number'
    'Windows error numbers|\<(ERROR_[A-Z_]+|kHidError[A-Za-z]*|995|1167)\>'
    'GUID text|GUID|\{[0-9A-Fa-f]{8}-'
    'named pipes|[Pp]ipe'
    'code pages|[Cc]ode ?[Pp]age|\<ANSI\>'
    'registry roots and key paths|\<(HKEY[A-Z_]*|HKCU|HKLM|StoreRoot|LocalMachine|CurrentUser)\>|\\\\\\\\'
    'device broadcasts|\<(DBT_[A-Z_]+|dbcc_[a-z]+|DEV_BROADCAST[A-Z_]*)\>'
)

check_tree() {
    local top=$1 failed=0 entry name pattern hits
    [ -d "$top/ports" ] || { echo "no ports folder at $top"; return 1; }
    for entry in "${notions[@]}"; do
        name=${entry%%|*}
        pattern=${entry#*|}
        hits=$(grep -rnE --include='*.h' "$pattern" "$top/ports")
        if [ -n "$hits" ]; then
            echo "ports speak of one platform ($name):"
            echo "$hits"
            failed=1
        fi
    done
    [ "$failed" -eq 0 ] && echo "ports name no platform's notions ($top/ports)"
    return "$failed"
}

self_test() {
    local tmp plant
    tmp=$(mktemp -d) || return 1
    trap 'rm -rf "$tmp"' RETURN
    mkdir -p "$tmp/ports"
    printf '#pragma once\n// Port: a clean one.\nclass Clean {};\n' >"$tmp/ports/clean.h"
    check_tree "$tmp" >/dev/null || { echo "self-test: clean ports were rejected"; return 1; }
    for plant in 'using WindowRef = unsigned long;' 'constexpr int kGone = 1167;' \
        '// the class "{4d1e55b2-f16f-11cf-88cb-001111000030}"' 'struct SimulatedPipe {};' \
        '// in the ANSI code page' 'enum class StoreRoot { CurrentUser };' \
        'constexpr auto kPath = u"software\\\\vendor";' '// DBT_DEVICEARRIVAL'; do
        printf '%s\n' "$plant" >"$tmp/ports/leak.h"
        if check_tree "$tmp" >/dev/null; then
            echo "self-test: a planted '$plant' went unnoticed"
            return 1
        fi
    done
    echo "self-test: planted platform notions in a port are caught"
}

if [ "${1:-}" = "--self-test" ]; then
    self_test
else
    check_tree "${1:?usage: check-ports.sh ROOT | --self-test}"
fi
