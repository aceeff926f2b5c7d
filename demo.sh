#!/usr/bin/env bash
# Sets up the machine, builds the demo into build/ and plays it. Arguments are passed to the
# demo (for example -data:other.zip). Without a display it starts its own Xvfb; without an
# audio device its own JACK dummy server.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target nova31

source scripts/services.sh
trap nova31_stop_services EXIT
[[ -n "${DISPLAY:-}" ]] || nova31_start_xvfb 960x540
nova31_has_audio_device || nova31_start_jack
build/nova31 "$@"
