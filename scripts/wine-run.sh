#!/usr/bin/env bash
# Runs a Windows program under Wine the way the tests do: `scripts/wine-run.sh PROGRAM.exe ARGS...`.
# The CTest emulator of the Windows build (and the launcher of the demo program tests).
#
# Wine state lives in the build tree: a private prefix (NOVA31_WINE_DIR/prefix, made on first
# use) and a HOME whose .asoundrc sends the default ALSA device to the JACK server, the only
# paced audio output of a machine without a sound card. Standard output, standard error and the
# exit code pass through plain `wine`. The program runs unattended (NOVA31_UNATTENDED=1): a
# fatal error never waits on a message box, and a crash prints its backtrace instead of a dialog.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
wine_dir="${NOVA31_WINE_DIR:-$root/build-windows/wine}"

export WINEPREFIX="$wine_dir/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export NOVA31_UNATTENDED=1
export JACK_NO_START_SERVER=1
export JACK_NO_AUDIO_RESERVATION=1

# A new prefix takes Wine about ten seconds; test processes started side by side must not
# both make it.
if [[ ! -f "$wine_dir/.prepared" ]]; then
    mkdir -p "$wine_dir/home"
    (
        flock 9
        if [[ ! -f "$wine_dir/.prepared" ]]; then
            cat >"$wine_dir/home/.asoundrc" <<'ALSA'
# Wine's default sound device: the JACK server's system ports (a dummy server in the tests).
pcm.nova31jack {
    type jack
    name "nova31-wine"
    playback_ports {
        0 system:playback_1
        1 system:playback_2
    }
    capture_ports {
        0 system:capture_1
        1 system:capture_2
    }
}
pcm.!default {
    type plug
    slave.pcm "nova31jack"
}
ALSA
            HOME="$wine_dir/home" wineboot -i >/dev/null 2>&1
            # Keys typed with xdotool reach an unmanaged window without a window manager, and a
            # crash ends the process with a backtrace instead of waiting on a dialog.
            HOME="$wine_dir/home" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
            HOME="$wine_dir/home" wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 \
                /f >/dev/null 2>&1
            touch "$wine_dir/.prepared"
        fi
    ) 9>"$wine_dir/.prepare.lock"
fi

export HOME="$wine_dir/home"
exec wine "$@"
