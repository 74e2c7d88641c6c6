#!/usr/bin/env bash
# Installs what the project needs on a Debian 12 machine and prepares the project's own headless
# Wine prefix. Quiet and fast when everything is already in place; safe to run again at any time.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=tools/env.sh
source "$root/tools/env.sh"

packages=(
    cmake ninja-build g++ googletest libbenchmark-dev clang-format
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    wine wine64 pulseaudio xvfb
    python3 clang libclang-rt-14-dev xdotool imagemagick
    nsis fonts-wqy-microhei
)

missing_packages() {
    local p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' ||
            printf '%s\n' "$p"
    done
}

install_packages() {
    local missing
    mapfile -t missing < <(missing_packages)
    [ "${#missing[@]}" -eq 0 ] && return 0
    echo "bootstrap: installing ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# A prefix of the project's own, never the user's ~/.wine. The null graphics driver keeps it
# headless; with KORV_WINE_DESKTOP=1 the prefix keeps the X11 driver, for running the monitor on
# a (virtual) display.
make_wine_prefix() {
    [ -f "$WINEPREFIX/.korv-ready" ] && return 0
    echo "bootstrap: creating Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # No Mono or Gecko download prompts: the project needs neither.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    if [ "${KORV_WINE_DESKTOP:-0}" != 1 ]; then
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    fi
    wineserver -w
    touch "$WINEPREFIX/.korv-ready"
}

install_packages
make_wine_prefix
