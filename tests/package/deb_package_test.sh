#!/usr/bin/env bash
# The Debian package as a user meets it: built twice by tools/package.sh --linux (this version
# and a higher one), checked by lintian, then installed into a scratch root with dpkg --root,
# upgraded, removed and purged there. A user's files (config.ini, the store the installed
# configuration program wrote, the profile files) must come through every step unchanged, and
# the installed files must be where the desktop looks for them.
#
#   deb_package_test.sh SOURCE_DIR TREE_DIR    TREE_DIR: the Release tree the packages are built in
# Checks go on after a failure and are counted; a step the rest depends on ends the test.
set -uo pipefail

source_dir=$1 tree=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
step() { echo "== $*"; }

# --- the two packages -----------------------------------------------------------------------
version=$(sed -n 's/^project(korvanth417_monitor VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[ -n "$version" ] || { echo "no project version in $source_dir/CMakeLists.txt" >&2; exit 1; }
upgrade_version=$version.1
step "building the packages $version and $upgrade_version"
old_deb=$("$source_dir/tools/package.sh" --linux --from-build "$tree" "$work/old" 2>"$work/build.log") ||
    { tail -n 40 "$work/build.log"; exit 1; }
new_deb=$("$source_dir/tools/package.sh" --linux --from-build "$tree" "$work/new" "$upgrade_version" \
    2>"$work/build.log") || { tail -n 40 "$work/build.log"; exit 1; }
dpkg --compare-versions "$(dpkg-deb -f "$new_deb" Version)" gt "$(dpkg-deb -f "$old_deb" Version)" ||
    fail "the upgrade's version is not higher than the first package's"

# --- what the package declares --------------------------------------------------------------
step "control fields"
field_checks=(
    # field       what it must hold (extended regular expression)
    "Package      ^korvanth417$"
    "Version      ^$version-1$"
    "Section      ^utils$"
    "Priority     ^optional$"
    "Maintainer   <[^>]+@[^>]+>"
    "Depends      (^|, )libpulse0 "
    "Depends      (^|, )libsystemd0 "
    "Depends      (^|, )libudev1 "
    "Depends      (^|, )libstdc\+\+6 "
)
for check in "${field_checks[@]}"; do
    read -r field pattern <<<"$check"
    value=$(dpkg-deb -f "$old_deb" "$field")
    [[ $value =~ $pattern ]] || fail "control field $field is '$value', expected /$pattern/"
done
# No maintainer scripts: nothing the package does can reach into a home folder.
scripts=$(dpkg-deb --ctrl-tarfile "$old_deb" | tar -t | grep -E 'preinst|postinst|prerm|postrm' || true)
[ -z "$scripts" ] || fail "the package has maintainer scripts: $scripts"
[ "$(dpkg-deb --ctrl-tarfile "$old_deb" | tar -xO ./conffiles 2>/dev/null)" = /etc/xdg/autostart/korvanth417-monitor.desktop ] ||
    fail "the autostart entry is not the package's one conffile"
for deb in "$old_deb" "$new_deb"; do
    deb_version=$(dpkg-deb -f "$deb" Version)
    dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/korvanth417/changelog.Debian.gz |
        gzip -dc | head -n 1 | grep -qF "korvanth417 ($deb_version)" ||
        fail "the changelog's latest entry is not version $deb_version"
done

# lintian: no error, and no warning beyond those the package cannot sensibly avoid.
step "lintian"
accepted_tags=(
    initial-upload-closes-no-bugs # a package of the project's own, not an upload to Debian
)
command -v lintian >/dev/null ||
    { echo "FAIL: lintian is not installed (tools/bootstrap.sh installs it)" >&2; exit 1; }
# lintian exits 1 when it found an error tag, and 2 or more when it could not check at all.
lintian_status=0
lintian --pedantic "$old_deb" >"$work/lintian.txt" 2>"$work/lintian.err" || lintian_status=$?
if [ -s "$work/lintian.err" ]; then
    echo "lintian's messages:"
    cat "$work/lintian.err"
fi
[ "$lintian_status" -lt 2 ] ||
    fail "lintian could not check the package (exit code $lintian_status): $(cat "$work/lintian.txt")"
[ "$lintian_status" != 1 ] || grep -qE '^E: ' "$work/lintian.txt" ||
    fail "lintian exited 1 without an error tag: $(cat "$work/lintian.txt")"
while read -r line; do
    tag=$(awk '{print $3}' <<<"$line")
    [[ " ${accepted_tags[*]} " == *" $tag "* ]] && continue
    fail "lintian: $line"
done < <(grep -E '^[EWXIP]: ' "$work/lintian.txt")

# --- a scratch root with a user in it -------------------------------------------------------
root=$work/root
home=$root/home/user
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$home/Documents" "$home/.config"
touch "$root/var/lib/dpkg/status"
# dpkg on the scratch root (its own database and log; the host's libraries are not in it). The
# scratch root is the caller's, so a contributor who is not root runs it too.
dpkg_root() {
    dpkg --root="$root" --log="$work/dpkg.log" --force-depends --force-not-root "$@" \
        >>"$work/dpkg.out" 2>&1 ||
        { tail -n 20 "$work/dpkg.out"; echo "FAIL: dpkg $*" >&2; exit 1; }
}
state() { dpkg-query --admindir="$root/var/lib/dpkg" -W -f '${db:Status-Status} ${Version}' korvanth417 2>/dev/null || true; }
export HOME=$home XDG_CONFIG_HOME=$home/.config
unset XDG_DOCUMENTS_DIR

# Every file under the home folder with its checksum: what no step may change.
user_files() { (cd "$home" && find . -type f -print0 | sort -z | xargs -0r sha256sum); }

check_user_files() {
    user_files | diff -u "$work/user-files" - >&2 || fail "the user's files changed on $1"
}

# A user who ran the programs before (from a build of their own) has settings and a profile file.
mkdir -p "$home/.config/korvanth417" "$home/Documents/Profile/Profile1_Macros"
printf '[Settings]\nShowMicrophoneState=1\n' >"$home/.config/korvanth417/config.ini"
printf 'a macro of the user\n' >"$home/Documents/Profile/Profile1_Macros/macro1"
user_files >"$work/user-files"

step "installing $version"
dpkg_root --install "$old_deb"
[ "$(state)" = "installed $version-1" ] || fail "after installing, the package is '$(state)'"
check_user_files "installation"

installed_files=(
    usr/bin/korvanth417-monitor
    usr/bin/korvanth417-config
    usr/bin/korvanth417-sim
    usr/share/korvanth417/config.ini
    usr/share/korvanth417/ui.local
    etc/xdg/autostart/korvanth417-monitor.desktop
    usr/share/doc/korvanth417/copyright
    usr/share/doc/korvanth417/changelog.Debian.gz
    usr/share/man/man1/korvanth417-monitor.1.gz
    usr/share/man/man1/korvanth417-config.1.gz
    usr/share/man/man1/korvanth417-sim.1.gz
)
for file in "${installed_files[@]}"; do
    [ -s "$root/$file" ] || fail "$file is not installed"
done
for program in "$root"/usr/bin/*; do
    [ -x "$program" ] || fail "${program#"$root"/} is not executable"
    readelf -S "$program" | grep -q '\.symtab' && fail "${program#"$root"/} is not stripped"
done
desktop-file-validate "$root/etc/xdg/autostart/korvanth417-monitor.desktop" ||
    fail "the installed autostart entry is not valid"
# A desktop's startup settings list the entry, so that a user can turn it off there: those
# settings leave out an entry that is hidden from them or not enabled.
grep -qE '^(NoDisplay|Hidden)=true|^X-GNOME-Autostart-enabled=false' \
    "$root/etc/xdg/autostart/korvanth417-monitor.desktop" &&
    fail "the autostart entry is hidden from the desktop's startup settings"

# The icons: each size of the shipped .ico files that hicolor has a folder for, with the .ico's
# pixels, under the names the tray item asks for.
step "icons"
hicolor_sizes=" 16 22 24 32 48 64 128 256 "
icons=(
    # icon name                  shipped .ico
    "korvanth417-monitor         logo.ico"
    "korvanth417-monitor-muted   logo-muted.ico"
)
for icon in "${icons[@]}"; do
    read -r name ico <<<"$icon"
    ico=$source_dir/resources/images/0409/icons/$ico
    index=0 covered=0
    for size in $(identify -format '%w ' "$ico"); do
        frame="$ico[$index]"
        index=$((index + 1))
        [[ $hicolor_sizes == *" $size "* ]] || continue
        covered=$((covered + 1))
        png=$root/usr/share/icons/hicolor/${size}x$size/apps/$name.png
        if [ ! -f "$png" ]; then
            fail "${png#"$root"/} is not installed"
        elif [ "$(convert "$frame" rgba:- | sha256sum)" != "$(convert "$png" rgba:- | sha256sum)" ]; then
            fail "${png#"$root"/} differs from the $size-pixel image of $(basename "$ico")"
        fi
    done
    [ "$covered" -gt 0 ] || fail "no size of $(basename "$ico") is a hicolor size"
done

# The installed configuration program runs from the scratch root (its libraries are the
# host's, its data the package's) and writes the user's store and profile folders.
step "the user's files"
# No monitor runs: exit code 2, "stored; it takes effect at the monitor's start".
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" "$root/usr/bin/korvanth417-config" set-button 1 4 28 \
    >"$work/config.out" 2>&1
status=$?
[ "$status" -eq 2 ] || { cat "$work/config.out"; fail "the installed korvanth417-config ended with $status"; }
[ -n "$(find "$home/.config/korvanth417/store" -type f 2>/dev/null)" ] ||
    fail "the installed korvanth417-config wrote no store"
[ -d "$home/Documents/Profile/Profile5_Macros" ] ||
    fail "the installed korvanth417-config made no profile folders"

# The autostart entry as systemd's generator reads it: the installed monitor as a user service,
# and none once the user hid the entry with a copy of their own.
generate_units() {
    rm -rf "$work/units" && mkdir "$work/units"
    PATH="$root/usr/bin:$PATH" XDG_CONFIG_DIRS="$root/etc/xdg" \
        /usr/lib/systemd/user-generators/systemd-xdg-autostart-generator \
        "$work/units" "$work/units" "$work/units" 2>/dev/null
}
unit='app-korvanth417\x2dmonitor@autostart.service'
generate_units
grep -qxF "ExecStart=:$root/usr/bin/korvanth417-monitor" "$work/units/$unit" 2>/dev/null ||
    fail "systemd's autostart generator made no service that starts the installed monitor"
mkdir -p "$home/.config/autostart"
cp "$root/etc/xdg/autostart/korvanth417-monitor.desktop" "$home/.config/autostart/"
echo "Hidden=true" >>"$home/.config/autostart/korvanth417-monitor.desktop"
generate_units
[ ! -e "$work/units/$unit" ] || fail "the user's hidden copy of the autostart entry did not stop it"
user_files >"$work/user-files"

# An administrator's edit of the autostart entry survives the upgrade (it is a conffile).
echo "X-GNOME-Autostart-Delay=5" >>"$root/etc/xdg/autostart/korvanth417-monitor.desktop"
admin_entry=$(sha256sum <"$root/etc/xdg/autostart/korvanth417-monitor.desktop")

step "upgrading to $upgrade_version"
dpkg_root --install "$new_deb"
[ "$(state)" = "installed $upgrade_version-1" ] || fail "after the upgrade, the package is '$(state)'"
check_user_files "upgrade"
[ "$(sha256sum <"$root/etc/xdg/autostart/korvanth417-monitor.desktop")" = "$admin_entry" ] ||
    fail "the upgrade replaced the administrator's autostart entry"

step "removing"
dpkg_root --remove korvanth417
[ "$(state)" = "config-files $upgrade_version-1" ] || fail "after removing, the package is '$(state)'"
check_user_files "removal"
left=$(find "$root/usr" -type f 2>/dev/null)
[ -z "$left" ] || fail "removing left files behind: $left"
[ -f "$root/etc/xdg/autostart/korvanth417-monitor.desktop" ] ||
    fail "removing (not purging) took the autostart entry"

step "purging"
dpkg_root --purge korvanth417
[ -z "$(state)" ] || [ "$(state)" = "not-installed " ] || fail "after purging, the package is '$(state)'"
check_user_files "purge"
[ ! -e "$root/etc/xdg/autostart/korvanth417-monitor.desktop" ] ||
    fail "purging left the autostart entry"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "the package builds, passes lintian, installs, upgrades, removes and purges, and keeps the user's files"
