# Sourced by test.sh and demo.sh: starts a virtual display and a paced dummy audio device
# when the machine has none, and stops what it started on exit.

NOVA31_STARTED_PIDS=()

nova31_stop_services() {
    local pid
    for pid in "${NOVA31_STARTED_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${NOVA31_STARTED_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    NOVA31_STARTED_PIDS=()
}

# nova31_start_xvfb WIDTHxHEIGHT: a private X display, exported as DISPLAY. Xvfb picks a free
# display number itself (-displayfd), so servers started side by side never collide. -noreset:
# the server must not reset when its last client leaves, or a test connecting just then fails.
nova31_start_xvfb() {
    local size="$1" number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$number_file" >/tmp/nova31-xvfb.log 2>&1 &
    NOVA31_STARTED_PIDS+=($!)
    local tries
    for tries in $(seq 1 100); do
        [[ -s "$number_file" ]] && break
        sleep 0.1
    done
    local display
    display=$(tr -d '[:space:]' <"$number_file")
    rm -f "$number_file"
    if [[ -z "$display" ]]; then
        echo "Xvfb did not start; see /tmp/nova31-xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$display"
    # Nobody watches a private display: fatal errors must not wait on a message box.
    export NOVA31_UNATTENDED=1
    echo "Started Xvfb on $DISPLAY ($size)"
}

# nova31_start_jack: a JACK server with its dummy backend at 48 kHz, which PortAudio takes
# as its default output device and which paces the stream in real time. A client that keeps
# the server waiting longer than its client timeout may be dropped for good (no more callbacks);
# the default 500 ms is shorter than a busy 2-core machine can stall a thread, so allow 5 s.
nova31_start_jack() {
    export JACK_NO_AUDIO_RESERVATION=1
    export JACK_NO_START_SERVER=1
    if jack_lsp >/dev/null 2>&1; then
        echo "JACK server already running"
        return 0
    fi
    jackd --no-realtime -t 5000 -d dummy -r 48000 -p 480 >/tmp/nova31-jackd.log 2>&1 &
    NOVA31_STARTED_PIDS+=($!)
    local tries
    for tries in $(seq 1 100); do
        jack_lsp >/dev/null 2>&1 && { echo "Started JACK dummy server (48 kHz)"; return 0; }
        sleep 0.1
    done
    echo "JACK server did not come up; see /tmp/nova31-jackd.log" >&2
    return 1
}

# True when the machine has a sound device or a sound server of its own.
nova31_has_audio_device() {
    compgen -G "/dev/snd/pcmC*p" >/dev/null && return 0
    [[ -n "${PULSE_SERVER:-}" ]] && return 0
    [[ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ]] && return 0
    jack_lsp >/dev/null 2>&1 && return 0
    return 1
}
