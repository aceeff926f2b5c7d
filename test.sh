#!/usr/bin/env bash
# Sets up the machine, builds everything into build/ and runs every test (GL tests that only
# draw on the headless context with no DISPLAY, window tests under a private Xvfb display, audio
# tests on a JACK dummy server), then cross-builds the Windows programs into build-windows/ and
# runs their tests under Wine. Options:
#   --tsan   also build build-tsan with ThreadSanitizer and run the tests labelled "tsan" there
#   --asan   build build-asan with AddressSanitizer + UndefinedBehaviorSanitizer and run all tests there
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
jobs=$(nproc)
extra=()
for arg in "$@"; do
    case "$arg" in
    --tsan | --asan) extra+=("$arg") ;;
    *) echo "unknown option $arg" >&2; exit 2 ;;
    esac
done

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"

source scripts/services.sh
source scripts/wine-services.sh
trap 'nova31_stop_wine; nova31_stop_services' EXIT
nova31_start_xvfb 960x540
nova31_start_jack

status=0
(cd build && ctest --output-on-failure -j"$jobs" --timeout 300) || status=1

# Windows: nova31.exe and the portable unit tests under Wine, on a small display of their own
# (Wine's desktop binds to the display of the Wine server's first program).
scripts/build-windows.sh
nova31_start_xvfb 320x180
nova31_start_wine
# A Wine start now and then fails before the program runs (no output at all) on a loaded
# machine: each test gets a second try.
(cd build-windows && ctest --output-on-failure -j"$jobs" --timeout 300 --repeat until-pass:2) || status=1
nova31_stop_wine

for option in "${extra[@]}"; do
    case "$option" in
    --tsan)
        cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOVA31_TSAN=ON -DNOVA31_BENCH=OFF
        cmake --build build-tsan -j"$jobs"
        (cd build-tsan && ctest --output-on-failure -L tsan) || status=1
        ;;
    --asan)
        cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOVA31_SANITIZE=ON -DNOVA31_BENCH=OFF
        cmake --build build-asan -j"$jobs"
        (cd build-asan && ctest --output-on-failure -j"$jobs" --timeout 600) || status=1
        ;;
    esac
done
exit $status
