#!/bin/sh
# Writes the NSIS macros that install and remove every file of the Windows folder, so that the
# installer ships whatever the build installed there and the uninstaller removes exactly that.
# config.ini and KORVANTH417.EXE are left out: the installer script handles them itself (replaced
# and removed only while they are the files it installed).
#
#   list-files.sh FOLDER OUTPUT.nsh
set -eu

folder=$1
output=$2
[ -f "$folder/KORVANTH417MON.exe" ] || {
    echo "list-files.sh: $folder is not the Windows folder (no KORVANTH417MON.exe)" >&2
    exit 1
}
cd "$folder"
folder=$(pwd)

# Files below the top folder, in a stable order; one that NSIS could not quote is refused.
files=$(find . -type f ! -path ./config.ini ! -path ./KORVANTH417.EXE | sed 's|^\./||' |
    LC_ALL=C sort)
if printf '%s\n' "$files" | grep -q '["$`]'; then
    echo "list-files.sh: a file name with a quote or \$ in $folder" >&2
    exit 1
fi

windows_path() { printf '%s' "$1" | tr / '\\'; }

{
    echo '!macro KorvInstallFiles'
    last_dir=
    printf '%s\n' "$files" | while IFS= read -r file; do
        dir=$(dirname "$file")
        if [ "$dir" != "$last_dir" ]; then
            if [ "$dir" = . ]; then
                echo '    SetOutPath "$INSTDIR"'
            else
                printf '    SetOutPath "$INSTDIR\\%s"\n' "$(windows_path "$dir")"
            fi
            last_dir=$dir
        fi
        printf '    File "%s/%s"\n' "$folder" "$file"
    done
    echo '    SetOutPath "$INSTDIR"'
    echo '!macroend'
    echo
    echo '!macro KorvRemoveFiles'
    printf '%s\n' "$files" | while IFS= read -r file; do
        printf '    Delete "$INSTDIR\\%s"\n' "$(windows_path "$file")"
    done
    # Sub-folders, deepest first; RMDir leaves a folder that still holds something.
    printf '%s\n' "$files" | while IFS= read -r file; do
        dir=$(dirname "$file")
        while [ "$dir" != . ]; do
            printf '%s\n' "$dir"
            dir=$(dirname "$dir")
        done
    done | LC_ALL=C sort -u -r | while IFS= read -r dir; do
        printf '    RMDir "$INSTDIR\\%s"\n' "$(windows_path "$dir")"
    done
    echo '!macroend'
} >"$output"
