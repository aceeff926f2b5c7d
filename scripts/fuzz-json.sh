#!/usr/bin/env bash
# Fuzzes the JSON reader for a bounded time under AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/fuzz-json.sh [seconds]     (default 600)
# Builds with clang++-14 into build-fuzz-json/, outside the CMake build. New inputs go to
# build-fuzz-json/corpus/, crash reproducers to build-fuzz-json/ (crash-*, leak-*, timeout-*);
# the seeds in fuzz/json/corpus/ are only read.
set -euo pipefail

duration=${1:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-fuzz-json"
mkdir -p "$out/corpus"

clang++-14 -std=c++20 -O1 -g -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" \
    "$root/fuzz/json/json_fuzz.cpp" "$root/refl/refl.cpp" "$root/refl/json/json.cpp" "$root/app/console.cpp" \
    -o "$out/json_fuzz"

cd "$out"
exec ./json_fuzz -max_total_time="$duration" -timeout=10 -max_len=16384 \
    -artifact_prefix="$out/" -print_final_stats=1 \
    "$out/corpus" "$root/fuzz/json/corpus"
