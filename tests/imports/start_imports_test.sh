#!/usr/bin/env bash
# The monitor binds only the system's base libraries when its process starts; shell32, ole32,
# winmm and what they bring in are loaded at their first call (platform/win32/delay_load), after
# its window exists. A function called through the ordinary import library instead (one missing
# from a delay_load/*.def) puts its library back on the start-up path; this test names it.
#
#   tests/imports/start_imports_test.sh OBJDUMP PROGRAM.exe
set -euo pipefail
objdump=${1:?objdump} program=${2:?program}
allowed='^(advapi32|kernel32|msvcrt|user32)\.dll$'

imports=$("$objdump" -p "$program" | awk '/DLL Name:/ { print tolower($3) }')
[ -n "$imports" ] || { echo "FAIL: no import table read from $program"; exit 1; }
extra=$(grep -Ev "$allowed" <<<"$imports" || true)
if [ -n "$extra" ]; then
    echo "FAIL: $(basename "$program") binds at start: $(tr '\n' ' ' <<<"$extra")"
    for dll in $extra; do
        echo "  functions of $dll bound at start:"
        "$objdump" -p "$program" | awk -v dll="$dll" '
            /DLL Name:/ { inside = tolower($3) == dll; next }
            inside && /^\t[0-9a-f]+\t +[0-9]+ / { print "    " $3 }
            inside && /^$/ { inside = 0 }'
    done
    echo "  list them in platform/win32/delay_load/<library>.def"
    exit 1
fi
echo "ok: $(basename "$program") binds at start only: $(tr '\n' ' ' <<<"$imports")"
