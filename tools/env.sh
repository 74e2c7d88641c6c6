# Shared settings of the project's scripts; sourced, not run.
: "${root:?}"
export WINEPREFIX="${KORV_WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
