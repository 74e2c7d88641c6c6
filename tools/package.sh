#!/usr/bin/env bash
# Builds the per-user installer of the Windows folder with NSIS (installer/korvanth417.nsi).
#
#   tools/package.sh          builds the Windows folder dist/KORVANTH417 (tools/run.sh
#                             --build-only), then dist/KORVANTH417-setup.exe from it
#   tools/package.sh --from-build BUILD_DIR OUTPUT [VERSION]
#                             the installer of an existing Windows build (its install rules,
#                             into a temporary folder), for the tests; VERSION overrides the
#                             build's own
#
# The version is the project's (project(... VERSION) in CMakeLists.txt, read back from the
# build's cache), so the programs' version resources and the installer always agree.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
    sed -n '2,12s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

build_version() {
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt" 2>/dev/null)
    [ -n "$version" ] || {
        echo "package.sh: no project version in $1/CMakeCache.txt (configure the build first)" >&2
        return 1
    }
    printf '%s\n' "$version"
}

# make_installer FOLDER OUTPUT VERSION
make_installer() {
    local folder output
    folder=$(cd "$1" && pwd)
    mkdir -p "$(dirname "$2")"
    output=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
    if ! makensis -V2 -INPUTCHARSET UTF8 "-DVERSION=$3" "-DFOLDER=$folder" "-DOUTFILE=$output" \
        "$root/installer/korvanth417.nsi"; then
        echo "package.sh: makensis failed" >&2
        return 1
    fi
}

case "${1:-}" in
    "")
        "$root/tools/run.sh" --build-only
        version=$(build_version "$root/build/win64")
        make_installer "$root/dist/KORVANTH417" "$root/dist/KORVANTH417-setup.exe" "$version"
        echo "The installer (version $version) is $root/dist/KORVANTH417-setup.exe"
        ;;
    --from-build)
        [ $# -ge 3 ] && [ $# -le 4 ] || { usage >&2; exit 1; }
        build=$2 output=$3
        version=${4:-$(build_version "$build")}
        folder=$(mktemp -d)
        trap 'rm -rf "$folder"' EXIT
        cmake --install "$build" --prefix "$folder" >/dev/null
        make_installer "$folder" "$output" "$version"
        ;;
    -h | --help)
        usage
        ;;
    *)
        usage >&2
        exit 1
        ;;
esac
