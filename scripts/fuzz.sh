#!/usr/bin/env bash
# Runs one libFuzzer target of fuzz/ for a bounded time.
#   scripts/fuzz.sh NAME [SECONDS] [FUZZER-OPTION...]
#       NAME     json, gltf, archive, image, blob or music
#       SECONDS  how long to fuzz (default 600)
# Configures build-fuzz/ with clang-14 (-DNOVA31_FUZZ=ON: AddressSanitizer and
# UndefinedBehaviorSanitizer everywhere), builds NAME_fuzz and its seed corpus, and runs it in
# build-fuzz/work/NAME. New inputs go to build-fuzz/corpus/NAME; reproducers (crash-*, leak-*,
# timeout-*, oom-*) to build-fuzz/artifacts/NAME/; the seeds (build-fuzz/seeds/NAME, and
# fuzz/NAME/corpus where it exists) are only read. The fuzzer's report and the messages of the
# code under test go to build-fuzz/NAME.log, whose summary lines are printed at the end.
# Exit status: the fuzzer's, 0 when it found nothing.
set -euo pipefail

# One function, read whole before it runs, so editing this file meanwhile cannot break a run.
main() {
    local name duration root out options corpora status
    name=${1:?usage: scripts/fuzz.sh NAME [SECONDS] [FUZZER-OPTION...]}
    duration=${2:-600}
    shift $(($# < 2 ? $# : 2))
    root=$(cd "$(dirname "$0")/.." && pwd)
    out="$root/build-fuzz"

    # Per target: the longest input and the fuzzer options it needs. Targets whose code prints
    # progress lines or rejection messages close the fuzzer's standard output and error
    # (-close_fd_mask=3); libFuzzer keeps its own report.
    case "$name" in
    json) options=(-max_len=16384) ;;
    gltf) options=(-max_len=65536 -close_fd_mask=3) ;;
    archive) options=(-max_len=65536 -close_fd_mask=3) ;;
    # A 4096 x 4096 JPEG (the largest accepted) takes seconds to decode under the sanitizers.
    image) options=(-max_len=65536 -close_fd_mask=3 -timeout=30) ;;
    blob) options=(-max_len=65536 -close_fd_mask=3) ;;
    music) options=(-max_len=65536 -close_fd_mask=3) ;;
    *) echo "scripts/fuzz.sh: unknown target $name" >&2; exit 2 ;;
    esac

    CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DNOVA31_FUZZ=ON -DNOVA31_TESTS=OFF -DNOVA31_BENCH=OFF >/dev/null
    if ! cmake --build "$out" -j"$(nproc)" --target "${name}_fuzz" "${name}_seeds" >"$out/$name.build.log" 2>&1; then
        tail -n 30 "$out/$name.build.log"
        exit 1
    fi

    corpora=("$out/corpus/$name")
    [ -d "$out/seeds/$name" ] && corpora+=("$out/seeds/$name")
    [ -d "$root/fuzz/$name/corpus" ] && corpora+=("$root/fuzz/$name/corpus")
    mkdir -p "$out/corpus/$name" "$out/artifacts/$name" "$out/work/$name"
    # The glTF packer looks up the buffer URIs it meets in the working directory.
    [ "$name" = gltf ] && cp "$root/assets/scene1.bin" "$out/work/$name/"

    # A target may carry LeakSanitizer suppressions for leaks inside system libraries.
    if [ -f "$root/fuzz/$name/lsan.supp" ]; then
        export LSAN_OPTIONS="suppressions=$root/fuzz/$name/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    fi

    cd "$out/work/$name"
    set +e
    "$out/fuzz/${name}_fuzz" -max_total_time="$duration" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$out/artifacts/$name/" "${options[@]}" "$@" "${corpora[@]}" 2>"$out/$name.log"
    status=$?
    set -e
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|==[0-9]+==ERROR|SUMMARY|Done [0-9]+ runs)' "$out/$name.log" ||
        tail -n 20 "$out/$name.log"
    exit $status
}
main "$@"
