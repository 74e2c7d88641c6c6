#!/usr/bin/env bash
# Installs what the project needs on a Debian 12 machine and prepares the project's own headless
# Wine prefix. Quiet and fast when everything is already in place; safe to run again at any time.
# KORV_BOOTSTRAP_LINUX=1 installs only what building and running the native Linux programs needs
# (tools/run.sh --linux): no Wine, MinGW or NSIS, and no Wine prefix.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=tools/env.sh
source "$root/tools/env.sh"

# The native Linux programs, built and run in a session of their own: the compiler and the
# libraries, python3 (the generated translation table), icoutils (the icons cut from the .ico
# files), the session's bus, sound server and display, busctl (systemd), the screenshot tools.
linux_packages=(
    cmake ninja-build g++ python3 pkg-config libudev-dev libpulse-dev libsystemd-dev icoutils
    dbus-daemon systemd pulseaudio pulseaudio-utils xvfb xdotool imagemagick
)
packages=(
    "${linux_packages[@]}" googletest libbenchmark-dev clang-format
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    wine wine64
    clang libclang-rt-14-dev
    nsis fonts-wqy-microhei
    libfuse3-dev fuse3 iproute2 util-linux
    # The Debian package: dependencies of the programs, checks
    dpkg-dev lintian desktop-file-utils
)
linux_only=0
if [ "${KORV_BOOTSTRAP_LINUX:-0}" = 1 ]; then
    linux_only=1
    packages=("${linux_packages[@]}")
fi

# The panel that shows the tray item in tools/run.sh --linux; the tests do not need it.
[ "${KORV_BOOTSTRAP_PANEL:-0}" = 1 ] && packages+=(xfce4-panel)

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

# --- CJK font of the desktop prefix ---------------------------------------------------------
# Chinese captions need a font with CJK glyphs, and Wine's UI fonts (Tahoma for menus and tray
# hints, Microsoft Sans Serif, MS Shell Dlg) have none: without one the tray menu shows empty
# boxes. The desktop prefix gets WenQuanYi Micro Hei (fonts-wqy-microhei) in its Fonts folder,
# linked behind the UI fonts so that every character they lack is drawn from it. The links
# replace Wine's defaults, which name Windows fonts the prefix does not have. Wine links its
# System font to Tahoma's links too, so plain edit controls (the stand-in's log) are drawn with
# it as well. Done once per prefix: the copied font file marks it done, so it is copied last.
add_cjk_font_to_desktop_prefix() {
    [ "${KORV_WINE_DESKTOP:-0}" = 1 ] || return 0
    local font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
    local target="$WINEPREFIX/drive_c/windows/Fonts/wqy-microhei.ttc"
    [ -f "$target" ] && return 0
    if [ ! -f "$font" ]; then
        echo "bootstrap: $font is missing (package fonts-wqy-microhei)" >&2
        return 1
    fi
    echo "bootstrap: adding the CJK font to Wine prefix $WINEPREFIX"
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' face
    for face in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do
        wine reg add "$key" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' \
            /f >/dev/null 2>&1
    done
    wineserver -w
    mkdir -p "$(dirname "$target")"
    cp "$font" "$target"
}
# --- end of the CJK font -----------------------------------------------------------------------

install_packages
[ "$linux_only" = 1 ] && exit 0
make_wine_prefix
add_cjk_font_to_desktop_prefix
