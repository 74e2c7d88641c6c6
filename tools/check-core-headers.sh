#!/usr/bin/env bash
# Fails when a file of the portable core includes a platform header (windows.h and its family).
# The core lives in the subsystem folders; platform code lives under platform/ and programs/.
#   check-core-headers.sh ROOT      check the tree at ROOT
#   check-core-headers.sh --self-test   show that a planted include is caught
set -uo pipefail

core_dirs=(base app hid profile keys lang hook ports)

# Headers of the Windows SDK and of the Windows build environment, case-insensitive.
platform_headers='windows|windef|winbase|winuser|wingdi|winnt|winreg|winnls|winerror|winver|wtypes|wtypesbase|winsock2?|ws2tcpip|shellapi|shlobj|shlwapi|shobjidl|objbase|combaseapi|unknwn|ole2|oleauto|commctrl|commdlg|mmsystem|mmdeviceapi|endpointvolume|audioclient|audiopolicy|functiondiscoverykeys(_devpkey)?|propidl|propsys|hidsdi|hidpi|hidusage|hidclass|setupapi|cfgmgr32|devguid|dbt|initguid|tlhelp32|psapi|processthreadsapi|synchapi|fileapi|handleapi|libloaderapi|debugapi|sysinfoapi|timeapi|tchar|crtdbg|winternl|ntstatus|strsafe'

check_tree() {
    local top=$1 dirs=() d
    for d in "${core_dirs[@]}"; do [ -d "$top/$d" ] && dirs+=("$top/$d"); done
    [ "${#dirs[@]}" -eq 0 ] && return 0
    local hits
    hits=$(grep -rniE --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
        "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]([^>\"]*/)?(${platform_headers})\.h[>\"]" \
        "${dirs[@]}")
    if [ -n "$hits" ]; then
        echo "platform headers in the portable core:"
        echo "$hits"
        return 1
    fi
    echo "portable core is free of platform headers (${dirs[*]#"$top/"})"
}

self_test() {
    local tmp
    tmp=$(mktemp -d) || return 1
    trap 'rm -rf "$tmp"' RETURN
    mkdir -p "$tmp/keys" "$tmp/platform/win32"
    printf '#include <vector>\n' >"$tmp/keys/clean.cpp"
    printf '#include <windows.h>\n' >"$tmp/platform/win32/backend.cpp"
    check_tree "$tmp" >/dev/null || { echo "self-test: a clean core was rejected"; return 1; }
    printf '#ifdef _WIN32\n#  include <Windows.h>\n#endif\n' >"$tmp/keys/leak.h"
    if check_tree "$tmp" >/dev/null; then
        echo "self-test: a planted <Windows.h> went unnoticed"
        return 1
    fi
    rm "$tmp/keys/leak.h"
    printf '  # include "mmdeviceapi.h"\n' >"$tmp/keys/leak.cpp"
    if check_tree "$tmp" >/dev/null; then
        echo "self-test: a planted \"mmdeviceapi.h\" went unnoticed"
        return 1
    fi
    echo "self-test: planted platform headers are caught"
}

if [ "${1:-}" = "--self-test" ]; then
    self_test
else
    check_tree "${1:?usage: check-core-headers.sh ROOT | --self-test}"
fi
