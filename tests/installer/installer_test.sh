#!/usr/bin/env bash
# The per-user installer under Wine, made from this build's Windows folder and run in a fresh
# Wine prefix of its own: it registers the monitor to start at logon, and Wine's logon
# (a plain `wineboot`) would start it in every later session of a shared prefix.
#
#   installer_test.sh BUILD_DIR
#
# 1. An older version installs silently; the current one upgrades it: the files, the Start-menu
#    entry, the Run value and the "Apps & features" entry are there, the programs carry their
#    version resource and manifest.
# 2. Logon starts the monitor from the Run value. A profile change and an edited config.ini
#    survive the upgrade, which ends the running monitor and starts the new one.
# 3. The silent uninstaller (the command line the Uninstall key gives) ends the monitor and
#    removes files, Start-menu entry, Run value and its key; the profile data and the edited
#    config.ini stay.
# 4. A configuration program that was already in the folder, and its config.ini, survive install,
#    upgrade and uninstall.
# 5. A configuration program that replaced the installed stand-in survives upgrade and uninstall;
#    the config.ini the installer wrote, unchanged, is replaced by the upgrade and removed.
# 6. A config.ini edited after the install survives the uninstall.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:?usage: installer_test.sh BUILD_DIR}" && pwd)
work="$build/installer-test"
rm -rf "$work"
mkdir -p "$work"
export KORV_WINEPREFIX="$work/prefix"
source "$root/tools/env.sh"
# No menu entries on the Linux desktop for the shortcut; no Mono or Gecko prompts.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="

failures=0
ok() { echo "ok   $*"; }
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
check() {
    local what=$1
    shift
    if "$@"; then ok "$what"; else fail "$what"; fi
}
# Ends the test at once: the later steps build on this one.
die() {
    fail "$*"
    exit 1
}
step() { printf '\n== %s\n' "$*"; }

# Programs run with their output as text; ones that may leave a process behind (installers,
# logon) write nowhere, so that no pipe waits for that process.
win() {
    wine "$@" </dev/null 2>/dev/null | tr -d '\r'
    return "${PIPESTATUS[0]}"
}
win_detached() { wine "$@" </dev/null >/dev/null 2>&1; }
probe() { win "$build/bin/install_probe.exe" "$@"; }
unix_path() { winepath -u "$1" 2>/dev/null; }
# The data of a registry value; nothing when it is missing. A query that fails is asked once
# more: under load a reg.exe of Wine has been seen to end without output for a value that exists.
reg_value() {
    local out
    out=$(win reg query "$1" /v "$2") || out=$(win reg query "$1" /v "$2") || true
    sed -n "s/^    $2    REG_[A-Z_]*    //p" <<<"$out"
}
reg_export() { win reg export "$1" "$(winepath -w "$2")" /y >/dev/null; }
same_file() { cmp -s "$1" "$2"; }
# Every entry of the profile folder, and every file's checksum.
profile_files() {
    (cd "$documents/Profile" 2>/dev/null && find . | sort && find . -type f -exec md5sum {} + | sort)
}
profile_files_kept() { profile_files | cmp -s "$work/profile-files" -; }
no_monitor() { ! probe monitor-process >/dev/null; }
no_key() { ! win reg query "$1" >/dev/null; }
different_files() { ! cmp -s "$1" "$2"; }
same_windows_path() { [ "${1,,}" = "${2,,}" ]; }
# Two lines of monitor-process: both present, with different process ids.
another_process() { [ -n "$1" ] && [ -n "$2" ] && [ "${1%% *}" != "${2%% *}" ]; }

cleanup() {
    local status=$?
    # A monitor this test started, then the prefix's own Wine session.
    probe close-monitor 20 >/dev/null 2>&1
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    echo
    if [ "$failures" -eq 0 ] && [ "$status" -eq 0 ]; then
        rm -rf "$work"
        echo "installer test passed"
    else
        echo "installer test FAILED ($failures failed checks); prefix and files kept in $work"
        status=1
    fi
    exit "$status"
}

step "a fresh Wine prefix and the installers of this build"
"$root/tools/bootstrap.sh" >/dev/null || die "the Wine prefix $WINEPREFIX could not be made"
wineserver -p </dev/null >/dev/null 2>&1
trap cleanup EXIT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || die "no project version in $build/CMakeCache.txt"
"$root/tools/package.sh" --from-build "$build" "$work/KORVANTH417-setup.exe" ||
    die "tools/package.sh could not make the installer"
"$root/tools/package.sh" --from-build "$build" "$work/KORVANTH417-setup-0.9.0.exe" 0.9.0 ||
    die "tools/package.sh could not make the older installer"
folder="$work/folder" # what the installer must install
cmake --install "$build" --prefix "$folder" >/dev/null || die "cmake --install failed"

local_app_data=$(probe folder local-app-data) || die "no local application data folder"
install_win="$local_app_data\\Programs\\KORVANTH417"
install=$(unix_path "$install_win")
shortcut="$(unix_path "$(probe folder start-menu)")/KORVANTH417 Mouse Monitor.lnk"
documents=$(unix_path "$(probe folder documents)")
# A new prefix links Documents to the Linux home folder: the profile files of this test stay in
# its own prefix.
if [ -L "$documents" ]; then
    rm "$documents" && mkdir "$documents" || die "Documents ($documents) could not be made a folder"
fi
monitor_win="$install_win\\KORVANTH417MON.exe"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KORVANTH417'
profile_key='HKCU\software\KORVANTH417GM'       # config.ini's ProfileRegFolder
default_profile_key='HKCU\software\software\KORVANTH417GM' # the monitor's default without it
echo "version $version, installing into $install_win"

# The folder's files, apart from the two the installer treats as the user's.
program_files() {
    (cd "$folder" && find . -type f ! -path ./config.ini ! -path ./KORVANTH417.EXE | sed 's|^\./||')
}

# check_installed VERSION STAND_IN SETTINGS: what every install leaves, STAND_IN and SETTINGS
# being 1 when the installer says it installed KORVANTH417.EXE and config.ini.
check_installed() {
    local file missing=""
    while IFS= read -r file; do
        same_file "$folder/$file" "$install/$file" || missing+=" $file"
    done < <(program_files)
    check "every file of the Windows folder installed${missing:+ (missing or different:$missing)}" \
        test -z "$missing"
    check "the uninstaller is in the folder" test -f "$install/uninstall.exe"
    check "the Start-menu entry exists ($shortcut)" test -f "$shortcut"
    local run
    run=$(reg_value "$run_key" KORVANTH417MON)
    check "the Run value starts the installed monitor (is: $run)" test "$run" = "\"$monitor_win\""
    local row name expected actual
    local rows=(
        "DisplayName=KORVANTH417 Mouse Monitor"
        "DisplayVersion=$1"
        "Publisher=KORVANTH417"
        "InstallLocation=$install_win"
        "DisplayIcon=\"$monitor_win\",0"
        "UninstallString=\"$install_win\\uninstall.exe\""
        "QuietUninstallString=\"$install_win\\uninstall.exe\" /S"
        "NoModify=0x1"
        "NoRepair=0x1"
        "StandInInstalled=0x$2"
        "SettingsInstalled=0x$3"
    )
    for row in "${rows[@]}"; do
        name=${row%%=*} expected=${row#*=}
        actual=$(reg_value "$uninstall_key" "$name")
        if [ "$actual" = "$expected" ]; then
            ok "Uninstall key: $name is '$expected'"
        else
            fail "Uninstall key: $name is '$expected', not '$actual'; reg query says:"
            win reg query "$uninstall_key" /v "$name" | sed 's/^/         /'
        fi
    done
    # What identifies the stand-in and the settings it wrote, only when it wrote them.
    local fingerprint installed
    for row in "StandIn=$2" "Settings=$3"; do
        name=${row%%=*} installed=${row#*=}
        fingerprint=$(reg_value "$uninstall_key" "${name}File")
        if [ "$installed" = 1 ]; then
            check "Uninstall key: ${name}File remembers the file (is: '$fingerprint')" \
                grep -qE '^[0-9]+:[0-9]+:[0-9]+$' <<<"$fingerprint"
        else
            check "Uninstall key: no ${name}File (is: '$fingerprint')" test -z "$fingerprint"
        fi
    done
}

# check_removed: what every uninstall removes.
check_removed() {
    local file left=""
    while IFS= read -r file; do
        [ -e "$install/$file" ] && left+=" $file"
    done < <(program_files)
    check "the program files are removed${left:+ (left:$left)}" test -z "$left"
    check "the uninstaller removed itself" test ! -e "$install/uninstall.exe"
    check "the Start-menu entry is removed" test ! -e "$shortcut"
    check "the Run value is removed" test -z "$(reg_value "$run_key" KORVANTH417MON)"
    check "the Uninstall key is removed" no_key "$uninstall_key"
}

# uninstall: runs the key's QuietUninstallString as "Apps & features" would, until it and the
# copy of itself it continues in have ended.
uninstall() {
    local quiet
    quiet=$(reg_value "$uninstall_key" QuietUninstallString)
    [ -n "$quiet" ] || die "no QuietUninstallString in $uninstall_key"
    probe run-all 60 "$quiet" >/dev/null || die "the uninstaller did not end within 60 s"
}

step "version resources and manifests"
check_version() {
    local info
    info=$(probe version "$1") || {
        fail "$(basename "$1") has no version resource"
        return
    }
    local expected
    for expected in "FileVersion=$2" "ProductVersion=$2" "CompanyName=KORVANTH417" \
        "ProductName=KORVANTH417" "Fixed=$2.0"; do
        check "$(basename "$1"): $expected" grep -qxF "$expected" <<<"$info"
    done
}
check_manifest() {
    local text expected
    text=$(probe manifest "$1") || {
        fail "$(basename "$1") has no manifest"
        return
    }
    for expected in 'level="asInvoker"' '>true/pm</dpiAware>' '>PerMonitorV2' \
        'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
        '{e2011457-1546-43c5-a5fe-008deee3d3f0}' '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' \
        '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}' '{1f676c76-80e1-4239-95bb-83d0f6d0da78}' \
        '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
        check "$(basename "$1") manifest: $expected" grep -qF "$expected" <<<"$text"
    done
}
for program in KORVANTH417MON.exe KORVANTH417.EXE KORVANTH417SIM.exe; do
    check_version "$folder/$program" "$version"
    check_manifest "$folder/$program"
done
check_version "$folder/uiHook.dll" "$version"
check "uiHook.dll has no application manifest" test "$(probe manifest "$folder/uiHook.dll"; echo $?)" = 3
check_version "$work/KORVANTH417-setup.exe" "$version"

step "an older version installs silently"
win_detached "$work/KORVANTH417-setup-0.9.0.exe" /S || die "the older installer exited with $?"
check_installed 0.9.0 1 1
check "a first silent install starts no monitor" no_monitor

step "logon starts the monitor from the Run value"
win_detached wineboot # processes HKCU\...\Run as a logon does
probe wait-monitor up 30 || die "no monitor window within 30 s of logon"
monitor=$(probe monitor-process)
check "the monitor that runs is the installed one (is: $monitor)" \
    same_windows_path "${monitor#* }" "$monitor_win"

step "the user's changes"
reg_export "$profile_key" "$work/profile-defaults.reg" || die "no profile data in $profile_key"
win "$install/KORVANTH417.EXE" set-button 1 4 28 >/dev/null
status=$?
check "the stand-in reached the monitor (exit code $status)" test "$status" -eq 0
reg_export "$profile_key" "$work/profile-changed.reg"
check "the profile change is stored" different_files "$work/profile-defaults.reg" \
    "$work/profile-changed.reg"
printf '; edited by the user\r\n' >>"$install/config.ini"
cp "$install/config.ini" "$work/config-edited.ini"
check "the monitor made its profile folder Documents\\Profile" test -d "$documents/Profile"
# A file the user made there, such as a recorded macro.
printf 'recorded macro\r\n' >"$documents/Profile/user-file.macro"
profile_files >"$work/profile-files"
win reg add "$default_profile_key" /v KeptByUninstall /d yes /f >/dev/null

step "the current version upgrades it"
before=$(probe monitor-process)
win_detached "$work/KORVANTH417-setup.exe" /S || fail "the installer exited with $?"
check_installed "$version" 1 0
reg_export "$profile_key" "$work/profile-upgraded.reg"
check "the changed profile is kept" same_file "$work/profile-changed.reg" "$work/profile-upgraded.reg"
check "the edited config.ini is kept" same_file "$work/config-edited.ini" "$install/config.ini"
check "the profile files are kept" profile_files_kept
probe wait-monitor up 30
after=$(probe monitor-process)
check "the upgrade ended the running monitor and started the new one (before: $before, after: \
${after:-none})" another_process "$before" "$after"

step "the silent uninstaller"
uninstall
check "the monitor has ended" no_monitor
check_removed
check "the config.ini the user edited is kept" same_file "$work/config-edited.ini" \
    "$install/config.ini"
check "the stand-in it installed is removed" test ! -e "$install/KORVANTH417.EXE"
check "nothing but the user's config.ini is left in the program folder" \
    test "$(cd "$install" && find . -mindepth 1)" = ./config.ini
reg_export "$profile_key" "$work/profile-uninstalled.reg"
check "the profile records are kept" same_file "$work/profile-changed.reg" \
    "$work/profile-uninstalled.reg"
check "the profile files are kept" profile_files_kept
check "the monitor's default registry folder is untouched" \
    test "$(reg_value "$default_profile_key" KeptByUninstall)" = yes

step "a configuration program already in the folder"
rm -rf "$install"
mkdir -p "$install"
printf 'MZ the configuration program, not the stand-in\r\n' >"$install/KORVANTH417.EXE"
printf '[options]\r\n; the settings of the installation already here\r\n' >"$install/config.ini"
cp "$install/KORVANTH417.EXE" "$work/foreign.exe"
cp "$install/config.ini" "$work/foreign.ini"
for round in install upgrade; do
    win_detached "$work/KORVANTH417-setup.exe" /S || fail "the installer ($round) exited with $?"
    check_installed "$version" 0 0
    check "$round: the configuration program is not overwritten" \
        same_file "$work/foreign.exe" "$install/KORVANTH417.EXE"
    check "$round: its config.ini is not overwritten" same_file "$work/foreign.ini" \
        "$install/config.ini"
done
uninstall
check_removed
check "the uninstaller keeps the configuration program" \
    same_file "$work/foreign.exe" "$install/KORVANTH417.EXE"
check "the uninstaller keeps its config.ini" same_file "$work/foreign.ini" "$install/config.ini"

step "a configuration program put over the installed stand-in"
rm -rf "$install"
win_detached "$work/KORVANTH417-setup-0.9.0.exe" /S || die "the older installer exited with $?"
check_installed 0.9.0 1 1
check "the stand-in is installed" same_file "$folder/KORVANTH417.EXE" "$install/KORVANTH417.EXE"
# The user replaces the stand-in by the real configuration program.
printf 'MZ the real configuration program, put over the stand-in\r\n' >"$install/KORVANTH417.EXE"
cp "$install/KORVANTH417.EXE" "$work/replaced.exe"
win_detached "$work/KORVANTH417-setup.exe" /S || fail "the installer (upgrade) exited with $?"
check_installed "$version" 0 1
check "upgrade: the configuration program that replaced the stand-in is not overwritten" \
    same_file "$work/replaced.exe" "$install/KORVANTH417.EXE"
check "upgrade: the unchanged config.ini is this version's" same_file "$folder/config.ini" \
    "$install/config.ini"
uninstall
check_removed
check "the uninstaller keeps the configuration program that replaced the stand-in" \
    same_file "$work/replaced.exe" "$install/KORVANTH417.EXE"
check "the config.ini it installed is removed" test ! -e "$install/config.ini"

step "settings edited after the install"
rm -rf "$install"
win_detached "$work/KORVANTH417-setup.exe" /S || die "the installer exited with $?"
check_installed "$version" 1 1
# The user turns the log off; the file keeps its size, so only its time tells.
sed -i 's/^WriteLogFile=1/WriteLogFile=0/' "$install/config.ini"
touch -d '+1 minute' "$install/config.ini"
cp "$install/config.ini" "$work/config-log-off.ini"
check "the edit is made" different_files "$folder/config.ini" "$install/config.ini"
uninstall
check_removed
check "the uninstaller keeps the edited config.ini" same_file "$work/config-log-off.ini" \
    "$install/config.ini"
