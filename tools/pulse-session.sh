#!/usr/bin/env bash
# A PulseAudio server of the project's own with a null speaker and a null microphone, so that
# Wine's Core Audio has a default capture endpoint. Source this file and call pulse_start /
# pulse_stop; the server runs with its own runtime folder and is stopped by its process id.

pulse_start() {
    PULSE_RUNTIME=$(mktemp -d /tmp/korv-pulse.XXXXXX)
    export XDG_RUNTIME_DIR="$PULSE_RUNTIME"
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm \
        -L module-native-protocol-unix -L module-null-sink -L module-null-source \
        >"$PULSE_RUNTIME/pulseaudio.log" 2>&1 </dev/null &
    PULSE_PID=$!
    local i
    for i in $(seq 50); do
        [ -S "$PULSE_RUNTIME/pulse/native" ] && return 0
        sleep 0.1
    done
    echo "pulseaudio did not start (log: $PULSE_RUNTIME/pulseaudio.log)" >&2
    return 1
}

pulse_stop() {
    [ -n "${PULSE_PID:-}" ] && kill "$PULSE_PID" 2>/dev/null && wait "$PULSE_PID" 2>/dev/null
    [ -n "${PULSE_RUNTIME:-}" ] && rm -rf "$PULSE_RUNTIME"
    PULSE_PID=
    PULSE_RUNTIME=
}
