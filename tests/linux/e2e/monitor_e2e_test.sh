#!/usr/bin/env bash
# The Linux programs end to end, as a user runs them: the monitor, the simulated mouse and the
# stand-in configuration program on a private session bus, with a private PulseAudio whose null
# microphone the mute button acts on (checked with pactl), in XDG folders of their own, and a
# panel's watcher of tray items (WATCHER, a helper program) that the monitor's tray item
# registers with; busctl reads the item and clicks its menu as a panel does. The session's
# language is Chinese: the menu's captions show it.
#
#   monitor_e2e_test.sh BIN_DIR WATCHER
#
# Every process it starts it stops by its process id; the temporary folder goes too.
set -uo pipefail

bin=$(realpath "${1:?usage: monitor_e2e_test.sh BIN_DIR WATCHER}")
watcher_program=$(realpath "${2:?usage: monitor_e2e_test.sh BIN_DIR WATCHER}")
work=$(mktemp -d /tmp/korv-e2e.XXXXXX)
bus_pid="" pulse_pid="" sim_pid="" config_pid="" monitor_pid="" watcher_pid="" watcher2_pid=""
notify_pid=""
failures=0

# shellcheck source=tools/end-process.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../../tools/end-process.sh"
stop_all() {
    local pid
    for pid in "$notify_pid" "$monitor_pid" "$config_pid" "$watcher2_pid" "$watcher_pid" \
        "$sim_pid" "$pulse_pid" "$bus_pid"; do
        end_process "$pid"
    done
    rm -rf "$work"
}
trap stop_all EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
die() {
    echo "FAIL: $*"
    for log in monitor config mouse watcher; do
        echo "--- $log.log"
        tail -n 30 "$work/$log.log" 2>/dev/null
    done
    exit 1
}
# A condition, tried every 50 ms for up to $1 seconds.
eventually() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 20; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}
count_lines() { grep -cF -- "$2" "$1" 2>/dev/null || true; }
muted() { pactl get-source-mute @DEFAULT_SOURCE@ | grep -q "Mute: yes"; }
unmuted() { pactl get-source-mute @DEFAULT_SOURCE@ | grep -q "Mute: no"; }
has_line() { grep -qF -- "$2" "$1"; }
lines_at_least() { [ "$(count_lines "$1" "$2")" -ge "$3" ]; }
# Waits up to $1 seconds for the process $2 to end by itself and sets ended_with to its exit
# status, or to "timeout" when it did not end: it is then killed by its id and reaped, so that the
# script goes on.
ended_with=""
end_within() {
    local seconds=$1 pid=$2
    ended_with=0
    if ! timeout "$seconds" tail --pid="$pid" -f /dev/null; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        ended_with=timeout
        return
    fi
    wait "$pid" || ended_with=$?
}

# --- the session ------------------------------------------------------------------------------
mkdir -p "$work/config/korvanth417" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" HOME="$work"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/runtime/bus"
unset LC_ALL LC_MESSAGES
export LANG=zh_CN.UTF-8
echo "XDG_DOCUMENTS_DIR=\"$work/Documents\"" >"$XDG_CONFIG_HOME/user-dirs.dirs"
store="$XDG_CONFIG_HOME/korvanth417/store/software/KORVANTH417GM"
{
    cat "$bin/../share/korvanth417/config.ini"
    printf '\n[SimulatedHIDDeviceList]\nsim1=E2E-MOUSE, HID\\KORVANTH417_SIMULATED&Col01, 0xFFA0, 0x0001, 8, 8, 0\n'
} >"$XDG_CONFIG_HOME/korvanth417/config.ini"

dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" 2>/dev/null &
bus_pid=$!
eventually 10 test -S "$work/runtime/bus" || die "the session bus did not start"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm -L module-native-protocol-unix \
    -L module-null-sink -L "module-null-source source_name=microphone" \
    >"$work/pulseaudio.log" 2>&1 </dev/null &
pulse_pid=$!
eventually 10 pactl info || die "PulseAudio did not start"
pactl set-default-source microphone

sim() { "$bin/korvanth417-sim" --name E2E-MOUSE "$@"; }
"$bin/korvanth417-sim" serve --name E2E-MOUSE >"$work/mouse.log" 2>&1 &
sim_pid=$!
eventually 10 test -S "$work/runtime/korvanth417/E2E-MOUSE" || die "the simulated mouse did not plug in"
"$bin/korvanth417-config" --log "$work/config.log" >/dev/null 2>&1 &
config_pid=$!
eventually 10 busctl --user status com.korvanth417.Config || die "the stand-in did not take its name"

"$watcher_program" >"$work/watcher.log" 2>&1 &
watcher_pid=$!
eventually 10 has_line "$work/watcher.log" "watching" || die "the tray watcher did not start"

"$bin/korvanth417-monitor" 2>"$work/monitor.log" &
monitor_pid=$!
eventually 10 busctl --user status com.korvanth417.Monitor || die "the monitor did not take its name"
pass "the monitor owns com.korvanth417.Monitor"
# The documents folder the user's XDG settings name does not exist yet: the monitor makes it, with
# the profile folder and each profile's macro folder in it.
eventually 10 test -d "$work/Documents/Profile/Profile5_Macros" &&
    pass "a missing documents folder is made, with the profile and macro folders" ||
    fail "no profile folders under the new documents folder: $(ls -R "$work/Documents" 2>&1)"

# --- the tray item ----------------------------------------------------------------------------
# The item lives on the connection that owns the monitor's name.
unique_name_of() { busctl --user status "$1" | sed -n 's/^UniqueName=//p'; }
item=$(unique_name_of com.korvanth417.Monitor)
tray_property() {
    busctl --user get-property "$item" /StatusNotifierItem org.kde.StatusNotifierItem "$1"
}
menu_layout() {
    busctl --user --json=short call "$item" /MenuBar com.canonical.dbusmenu GetLayout iias -- 0 -1 0
}
menu_click() {
    busctl --user call "$item" /MenuBar com.canonical.dbusmenu Event isvu "$1" clicked s "" 0
}
icon_is() { [ "$(tray_property IconName)" = "s \"$1\"" ]; }
eventually 10 has_line "$work/watcher.log" "registered $item" &&
    pass "the tray item registers with the panel's watcher" ||
    fail "no registration of $item: $(cat "$work/watcher.log")"
layout=$(menu_layout)
grep -q '"label":{"type":"s","data":"打开配置"}' <<<"$layout" &&
    grep -q '"label":{"type":"s","data":"退出软件"}' <<<"$layout" &&
    grep -q '"data":"关于软件"},"enabled":{"type":"b","data":true},"visible":{"type":"b","data":false}' <<<"$layout" &&
    pass "a clean start under zh_CN.UTF-8 gives the menu Chinese captions, About hidden" ||
    fail "the menu's layout: $layout"
[ "$(tray_property Category)" = 's "Hardware"' ] && [ "$(tray_property Menu)" = 'o "/MenuBar"' ] &&
    icon_is korvanth417-monitor && pass "the item's category, menu and plain icon" ||
    fail "the item's properties: $(tray_property Category) $(tray_property Menu) $(tray_property IconName)"
# A restarted panel's watcher takes the name over: the item registers with it too.
"$watcher_program" >"$work/watcher2.log" 2>&1 &
watcher2_pid=$!
eventually 10 has_line "$work/watcher2.log" "registered $item" &&
    pass "the item registers again with a new watcher" ||
    fail "no registration with the new watcher: $(cat "$work/watcher2.log")"

# A second monitor finds the name owned and ends at once, without touching the first.
second_status=0
timeout 10 "$bin/korvanth417-monitor" 2>"$work/second.log" || second_status=$?
[ "$second_status" = 0 ] && has_line "$work/second.log" "already running" &&
    kill -0 "$monitor_pid" && pass "a second monitor ends at once and says so" ||
    fail "a second monitor: exit $second_status, $(cat "$work/second.log")"

# --- the mute button --------------------------------------------------------------------------
"$bin/korvanth417-config" set-button 0 4 mic-mute >"$work/set-button.out" 2>&1 ||
    fail "set-button: $(cat "$work/set-button.out")"
eventually 10 has_line "$work/monitor.log" "ReopenDevice: 1 reader(s)" ||
    die "the monitor did not open the simulated mouse"
unmuted || fail "the microphone is muted before any press"
sim click 4 >/dev/null
eventually 5 muted && pass "button 4 (function 28) mutes the default source" ||
    fail "button 4 did not mute: $(pactl get-source-mute @DEFAULT_SOURCE@)"
eventually 5 icon_is korvanth417-monitor-muted && pass "the tray shows the muted icon" ||
    fail "the tray's icon while muted: $(tray_property IconName)"
sim click 4 >/dev/null
eventually 5 unmuted && pass "pressed again, it unmutes" || fail "button 4 did not unmute"
eventually 5 icon_is korvanth417-monitor && pass "the tray shows the plain icon again" ||
    fail "the tray's icon after unmuting: $(tray_property IconName)"

# Reports that mean nothing change nothing: a released-only report, an unknown report id, a
# key index without a function, an event kind nobody acts on.
before_config=$(wc -l <"$work/config.log")
sim report 07 00 00 00 00 00 00 00 >/dev/null
sim report 09 01 02 03 04 05 06 07 >/dev/null
sim click 5 >/dev/null
sim event 3 1 >/dev/null
sleep 0.5
unmuted && [ "$(wc -l <"$work/config.log")" = "$before_config" ] &&
    pass "ignorable reports change nothing" || fail "an ignorable report changed something"

# --- profile switches and device events reach the configuration program ---------------------
# The monitor records ProfileID 1 for slot 2; the configuration program then makes profile 2
# the current one and asks for a reload, which records 2: the buttons follow the mouse.
# (Conditions given to eventually are functions, so that each try reads the value afresh.)
profile_id() { od -An -tu4 "$store/ProfileID.dword" 2>/dev/null | tr -d ' '; }
profile_id_is() { [ "$(profile_id)" = "$1" ]; }
sim profile 2 >/dev/null
eventually 5 has_line "$work/config.log" "7040 UM_PROFILE_SWITCHED wParam=2 " ||
    fail "the profile switch did not reach the configuration program"
eventually 5 profile_id_is 2 &&
    eventually 5 has_line "$work/config.log" "profile 2 is the current one; monitor asked to reload" &&
    pass "profile switch: ProfileSwitched(2), then profile 2 made current and reloaded" ||
    fail "ProfileID.dword after a switch to slot 2: $(profile_id)"
# The monitor's trace shows the click arrived and was looked up in profile 2's buttons.
no_action_before=$(count_lines "$work/monitor.log" "button 4 has no action (function ")
sim click 4 >/dev/null
eventually 5 lines_at_least "$work/monitor.log" "button 4 has no action (function " \
    $((no_action_before + 1)) && unmuted &&
    pass "in profile 2 button 4 keeps its own function" ||
    fail "profile 2's button 4: muted, or the click never reached the monitor"
sim profile 0 >/dev/null
eventually 5 has_line "$work/config.log" "profile 0 is the current one; monitor asked to reload" ||
    fail "the switch back to profile 0 was not made current"
sim event 2 5 >/dev/null
sim event 6 9 >/dev/null
eventually 5 has_line "$work/config.log" "7043 UM_DEVICE_NOTIFY_6 wParam=9 " &&
    has_line "$work/config.log" "7042 UM_DEVICE_NOTIFY_2 wParam=5 " &&
    pass "device events of kinds 2 and 6 reach the configuration program" ||
    fail "device events did not reach the configuration program"

# --- the D-Bus interface --------------------------------------------------------------------
microphone_muted_property_is() {
    [ "$(busctl --user get-property com.korvanth417.Monitor /com/korvanth417/Monitor \
        com.korvanth417.Monitor1 MicrophoneMuted)" = "b $1" ]
}
busctl --user call com.korvanth417.Monitor /com/korvanth417/Monitor com.korvanth417.Monitor1 \
    ToggleMicrophone >/dev/null || fail "ToggleMicrophone failed"
eventually 5 muted && eventually 5 microphone_muted_property_is true &&
    pass "ToggleMicrophone mutes and MicrophoneMuted says so" ||
    fail "ToggleMicrophone / MicrophoneMuted"
pactl set-source-mute @DEFAULT_SOURCE@ 0
eventually 5 microphone_muted_property_is false &&
    pass "a change made by another program shows in MicrophoneMuted" ||
    fail "MicrophoneMuted did not follow pactl"

# --- unplug and replug ------------------------------------------------------------------------
readers_before=$(count_lines "$work/monitor.log" "ReopenDevice: 1 reader(s)")
sim unplug >/dev/null
sleep 0.3
sim replug >/dev/null
replugged=$(date +%s.%N)
eventually 5 lines_at_least "$work/monitor.log" "ReopenDevice: 1 reader(s)" $((readers_before + 1)) ||
    fail "no reader again after a replug"
delay=$(awk -v a="$replugged" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
awk "BEGIN { exit !($delay >= 1.4 && $delay < 3.0) }" &&
    pass "unplug and replug: one reader again ${delay}s after" ||
    fail "the reader came back ${delay}s after the replug (expected about 1.5 s)"
sim click 4 >/dev/null
eventually 5 muted && pass "the replugged mouse mutes" || fail "the replugged mouse does not mute"
sim click 4 >/dev/null
eventually 5 unmuted

# --- 1000 replugs ------------------------------------------------------------------------------
# Every plug-in and removal reaches the monitor (inotify) and restarts its re-open timer; at the
# end one re-open finds the mouse again, with the monitor's threads and descriptors where they
# were.
count_of() { find "/proc/$monitor_pid/$1" -mindepth 1 -maxdepth 1 | wc -l; }
threads_before=$(count_of task)
fds_before=$(count_of fd)
readers_before=$(count_lines "$work/monitor.log" "ReopenDevice: 1 reader(s)")
# Straight through the simulator's control socket (one command line per connection, one reply
# starting with + or -), as any client of the protocol may: a thousand program starts would
# measure the starts.
replugs=$(python3 - "$XDG_RUNTIME_DIR/korvanth417/E2E-MOUSE-control" <<'PY'
import socket, sys
def command(line):
    with socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET) as s:
        s.connect(sys.argv[1])
        s.send(line.encode())
        return s.recv(4096).startswith(b"+")
done = 0
while done < 1000 and command("unplug") and command("replug"):
    done += 1
print(done)
PY
)
[ "$replugs" = 1000 ] || fail "the simulator stopped after ${replugs:-0} replugs"
eventually 10 lines_at_least "$work/monitor.log" "ReopenDevice: 1 reader(s)" $((readers_before + 1)) ||
    fail "no reader again after 1000 replugs"
sleep 0.5
threads_after=$(count_of task)
fds_after=$(count_of fd)
[ "$threads_after" = "$threads_before" ] && [ "$fds_after" = "$fds_before" ] &&
    pass "1000 replugs: one reader again, threads $threads_after and descriptors $fds_after as before" ||
    fail "1000 replugs: threads $threads_before -> $threads_after, descriptors $fds_before -> $fds_after"
sim click 4 >/dev/null
eventually 5 muted && pass "after 1000 replugs the mouse still mutes" || fail "no mute after the replugs"
sim click 4 >/dev/null
eventually 5 unmuted

# --- a press the microphone cannot follow ----------------------------------------------------
# Without the sound server a press changes nothing, and the user is told: a desktop notification
# (the call as the bus carries it to a notification server; here none runs) beside the trace line.
notice="The sound server is not connected; the microphone mute is not toggled"
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
    >"$work/notify.log" 2>&1 &
notify_pid=$!
eventually 5 has_line "$work/notify.log" "NameAcquired" || fail "dbus-monitor did not start"
kill "$pulse_pid"
wait "$pulse_pid" 2>/dev/null
pulse_pid=""
eventually 5 has_line "$work/monitor.log" "The sound server cannot be reached" ||
    fail "the monitor did not notice that the sound server went away"
sim click 4 >/dev/null
eventually 5 has_line "$work/notify.log" "string \"$notice\"" &&
    has_line "$work/notify.log" 'string "korvanth417-monitor"' &&
    has_line "$work/monitor.log" ": $notice" &&
    pass "a press without the sound server: a notification and the trace line" ||
    fail "a press without the sound server: $(grep -A8 'member=Notify' "$work/notify.log")"
kill "$notify_pid"
wait "$notify_pid" 2>/dev/null
notify_pid=""

# --- the end ----------------------------------------------------------------------------------
kill -TERM "$monitor_pid"
end_within 10 "$monitor_pid"
end_status=$ended_with
monitor_pid=""
[ "$end_status" = 0 ] && pass "the monitor ends on SIGTERM with status 0" ||
    fail "the monitor ended with $end_status on SIGTERM"
eventually 5 has_line "$work/config.log" "7036 UM_MONITOR_EXIT" &&
    pass "the configuration program is told that the monitor ends" ||
    fail "no MonitorExit at the end"

# The tray's menu: Config brings the running configuration program forward; Exit ends the
# monitor as SIGTERM does.
"$bin/korvanth417-monitor" 2>"$work/monitor-3.log" &
monitor_pid=$!
eventually 10 busctl --user status com.korvanth417.Monitor || fail "the monitor did not start again"
item=$(unique_name_of com.korvanth417.Monitor)
eventually 10 has_line "$work/watcher2.log" "registered $item" || fail "the new monitor's item did not register"
shown_before=$(count_lines "$work/config.log" "brought to the front")
menu_click 1 >/dev/null || fail "Config could not be clicked"
eventually 5 lines_at_least "$work/config.log" "brought to the front" $((shown_before + 1)) &&
    pass "Config in the tray's menu brings the configuration program forward" ||
    fail "Config did not reach the configuration program"
menu_click 3 >/dev/null || fail "Exit could not be clicked"
end_within 10 "$monitor_pid"
exit_status=$ended_with
monitor_pid=""
[ "$exit_status" = 0 ] && lines_at_least "$work/config.log" "7036 UM_MONITOR_EXIT" 2 &&
    eventually 5 sh -c '! busctl --user status com.korvanth417.Monitor' &&
    pass "Exit in the tray's menu tells the configuration program, releases the name, ends with 0" ||
    fail "after Exit: status $exit_status, $(count_lines "$work/config.log" "7036 UM_MONITOR_EXIT") notices"

# Without a configuration program running, Config starts it beside the monitor.
kill "$config_pid"
wait "$config_pid" 2>/dev/null
config_pid=""
eventually 5 sh -c '! busctl --user status com.korvanth417.Config' || fail "the stand-in did not end"

# Without its bus a monitor would be a second one beside the next that starts: it ends.
"$bin/korvanth417-monitor" 2>"$work/monitor-2.log" &
monitor_pid=$!
eventually 10 busctl --user status com.korvanth417.Monitor || fail "the monitor did not start again"
item=$(unique_name_of com.korvanth417.Monitor)
eventually 10 has_line "$work/watcher2.log" "registered $item" || fail "the new monitor's item did not register"
menu_click 1 >/dev/null || fail "Config could not be clicked"
eventually 10 busctl --user status com.korvanth417.Config &&
    pass "Config in the tray's menu starts korvanth417-config when none runs" ||
    fail "Config did not start the configuration program: $(tail -n 3 "$work/monitor-2.log")"
config_pid=$(busctl --user status com.korvanth417.Config 2>/dev/null | sed -n 's/^PID=//p')
kill "$bus_pid"
wait "$bus_pid" 2>/dev/null
bus_pid=""
end_within 10 "$monitor_pid"
bus_end_status=$ended_with
monitor_pid=""
[ "$bus_end_status" = 0 ] && has_line "$work/monitor-2.log" "The monitor ends with its session bus" &&
    pass "the monitor ends when its session bus goes away" ||
    fail "after the bus went away: $bus_end_status, $(tail -n 3 "$work/monitor-2.log")"

echo "--- the monitor's trace lines"
cat "$work/monitor.log"
if [ "$failures" -gt 0 ]; then
    for log in monitor monitor-3 config mouse watcher watcher2; do
        echo "--- $log.log"
        tail -n 40 "$work/$log.log"
    done
    exit 1
fi
echo "all end-to-end checks passed"
