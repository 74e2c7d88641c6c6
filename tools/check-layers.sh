#!/usr/bin/env bash
# Fails when a file includes a project header from a folder it may not use. Dependencies point
# down: ports <- base <- keys, lang, hid <- hook, profile <- app <- the programs' wiring <-
# programs. Backends see only ports and base; the fakes see the core below app.
# Every folder with C++ sources is either in the table below or one of the top layers that may
# use everything (programs, tests, bench): a new folder must be given its place.
#   check-layers.sh ROOT          check the tree at ROOT
#   check-layers.sh --self-test   show that an include against the direction is caught
set -uo pipefail

# folder : the folders its files may include besides its own
read -r -d '' allowed <<'TABLE'
ports:
base: ports
keys: base ports
lang: base ports
hid: base ports
hook: keys base ports
profile: keys hid base ports
app: profile hook lang keys hid base ports
platform/win32: base ports
platform/linux: hid base ports
platform/fake: profile hook lang keys hid base ports
programs/common: platform/win32 platform/linux app profile hook lang keys hid base ports
TABLE
top_layers="programs tests bench"

has_sources() { [ -n "$(find "$1" -type f \( -name '*.h' -o -name '*.cpp' \) -print -quit)" ]; }

# Prints every folder with sources that has no place: neither in the table (or holding table
# folders only, as platform/ does) nor a top layer.
check_places() {
    local top=$1 status=0 dir name
    local places=" $(sed 's/:.*//' <<<"$allowed" | tr '\n' ' ') $top_layers "
    for dir in "$top"/*/ "$top"/platform/*/; do
        dir=${dir%/}
        name=${dir#"$top/"}
        [ -d "$dir" ] || continue
        case "$name" in build* | dist | .* | platform) continue ;; esac
        case "$places" in *" $name "*) continue ;; esac
        if has_sources "$dir"; then
            echo "$name/: a folder with C++ sources that has no place in the layer table"
            status=1
        fi
    done
    return "$status"
}

# The folder of the table or top layer that holds an included file: the longest one its path
# starts with, so that "profile/inner/x.h" belongs to profile/ and "programs/common/x.h" to
# programs/common/.
owning_folder() {
    local path=$1 best="" name
    for name in $2; do
        case "$path" in "$name"/*) [ "${#name}" -gt "${#best}" ] && best=$name ;; esac
    done
    echo "$best"
}

# Prints every include of a project folder that its folder may not use.
check_tree() {
    local top=$1 status=0 line folder others file target
    # Includes of project folders only: <gtest/gtest.h> and the like are not the project's.
    local folder_names folders_pattern
    folder_names=$(sed 's/:.*//' <<<"$allowed"; tr ' ' '\n' <<<"$top_layers")
    folders_pattern=$(paste -sd'|' <<<"$folder_names")
    while IFS= read -r line; do
        folder=${line%%:*}
        others=" ${line#*:} "
        [ -d "$top/$folder" ] || continue
        while IFS= read -r -d '' file; do
            while IFS= read -r target; do
                target=$(owning_folder "$target" "$folder_names")
                [ "$target" = "$folder" ] && continue
                case "$others" in *" $target "*) continue ;; esac
                echo "${file#"$top/"}: includes $target/, which $folder/ may not use"
                status=1
            done < <(sed -nE 's@^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]([a-z_]+(/[a-z0-9_]+)*/[^/">]+)[">].*@\1@p' "$file" |
                     grep -E "^($folders_pattern)/")
        done < <(find "$top/$folder" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
    done <<<"$allowed"
    check_places "$top" || status=1
    [ "$status" -eq 0 ] && echo "every include follows the allowed direction"
    return "$status"
}

self_test() {
    local tmp
    tmp=$(mktemp -d) || return 1
    trap 'rm -rf "$tmp"' RETURN
    mkdir -p "$tmp/profile" "$tmp/app" "$tmp/keys" "$tmp/platform/win32"
    printf '#include "keys/key_records.h"\n#include "profile/records.h"\n' >"$tmp/profile/ok.h"
    printf '#include "profile/dm_unit.h"\n#include "profile/inner/ok.h"\n' >"$tmp/app/ok.cpp"
    mkdir -p "$tmp/profile/inner"
    printf '#include "profile/records.h"\n#include <keys/key_records.h>\n' >"$tmp/profile/inner/ok.h"
    check_tree "$tmp" >/dev/null || { echo "self-test: a clean tree was rejected"; return 1; }
    local planted
    for planted in 'keys/up.h:#include "profile/records.h"' \
                   'profile/up.cpp:  #  include "app/settings_file.h"' \
                   'platform/win32/up.cpp:#include "app/mouse_monitor.h"' \
                   'profile/inner/up.h:#include "app/settings_file.h"' \
                   'hid/up.h:#include <profile/records.h>' \
                   'keys/up.h:#include "profile/inner/ok.h"' \
                   'platform/fake/up.h:#include "programs/common/win32_platform.h"' \
                   'app/up.cpp:#include "programs/cfgstandin/standin_commands.h"' \
                   'audio/new.cpp:#include "base/ascii_text.h"'; do
        mkdir -p "$(dirname "$tmp/${planted%%:*}")"
        printf '%s\n' "${planted#*:}" >"$tmp/${planted%%:*}"
        if check_tree "$tmp" >/dev/null; then
            echo "self-test: '${planted#*:}' in ${planted%%:*} went unnoticed"
            return 1
        fi
        rm "$tmp/${planted%%:*}"
        rmdir "$tmp/audio" 2>/dev/null
    done
    echo "self-test: includes against the direction are caught"
}

if [ "${1:-}" = "--self-test" ]; then
    self_test
else
    check_tree "${1:?usage: check-layers.sh ROOT | --self-test}"
fi
