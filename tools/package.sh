#!/usr/bin/env bash
# Builds the per-user installer of the Windows folder with NSIS (installer/korvanth417.nsi), or
# the Debian package of the Linux programs with CPack.
#
#   tools/package.sh          builds the Windows folder dist/KORVANTH417 (tools/run.sh
#                             --build-only), then dist/KORVANTH417-setup.exe from it
#   tools/package.sh --from-build BUILD_DIR OUTPUT [VERSION]
#                             the installer of an existing Windows build (its install rules,
#                             into a temporary folder), for the tests; VERSION overrides the
#                             build's own
#   tools/package.sh --linux  builds the Linux programs (Release, prefix /usr, in
#                             build/linux-package), then dist/korvanth417_VERSION-1_ARCH.deb
#   tools/package.sh --linux --from-build BUILD_DIR OUTPUT_DIR [VERSION]
#                             the same from the tree BUILD_DIR (configured and built there),
#                             the package into OUTPUT_DIR; VERSION overrides the project's
#
# The version is the project's (project(... VERSION) in CMakeLists.txt, read back from the
# build's cache), so the programs' version resources and the installer always agree.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
    sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'
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

# make_deb BUILD_DIR OUTPUT_DIR [VERSION]: configures BUILD_DIR for the system's prefix, builds
# the programs and their data, and packs them. Prints the package's path.
make_deb() {
    local build=$1 output=$2 version=${3:-}
    # Debian's hardening flags (stack protector, fortified functions, relocations read-only and
    # bound at start); the Release flags that follow keep the project's optimisation for size.
    local cxxflags ldflags
    cxxflags="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS) \
$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)"
    ldflags=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORV_TESTS=OFF \
        -DKORV_SANITIZE=OFF -DCMAKE_INSTALL_PREFIX=/usr "-DKORV_PACKAGE_VERSION=$version" \
        "-DCMAKE_CXX_FLAGS=${cxxflags//-g /}" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" \
        >/dev/null || { echo "package.sh: cmake could not configure $build" >&2; return 1; }
    cmake --build "$build" -j "$(nproc)" --target korvanth417-monitor korvanth417-config \
        mousesim >&2 || { echo "package.sh: the build failed (see above)" >&2; return 1; }
    rm -rf "$build/cpack"
    cpack --config "$build/CPackConfig.cmake" -B "$build/cpack" >&2 ||
        { echo "package.sh: cpack failed (see above)" >&2; return 1; }
    local deb
    deb=$(find "$build/cpack" -maxdepth 1 -name '*.deb' -print -quit)
    [ -n "$deb" ] || { echo "package.sh: cpack made no .deb in $build/cpack" >&2; return 1; }
    mkdir -p "$output"
    cp "$deb" "$output/"
    printf '%s\n' "$(cd "$output" && pwd)/$(basename "$deb")"
}

case "${1:-}" in
    --linux)
        case "${2:-}" in
            "")
                [ $# -eq 1 ] || { usage >&2; exit 1; }
                "$root/tools/bootstrap.sh"
                # One package build at a time in the tree.
                mkdir -p "$root/build"
                exec 7>"$root/build/linux-package.lock"
                flock -n 7 || { echo "== waiting for another tools/package.sh --linux"; flock 7; }
                deb=$(make_deb "$root/build/linux-package" "$root/dist")
                exec 7>&-
                echo "The package is $deb:"
                dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Depends\):/  \1:/p'
                echo "Install it with: sudo apt install $(printf %q "$deb")"
                ;;
            --from-build)
                [ $# -ge 4 ] && [ $# -le 5 ] || { usage >&2; exit 1; }
                make_deb "$3" "$4" "${5:-}"
                ;;
            *) usage >&2; exit 1 ;;
        esac
        ;;
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
