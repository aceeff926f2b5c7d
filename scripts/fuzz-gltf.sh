#!/usr/bin/env bash
# Fuzzes the glTF packer (loadGLTF) for a bounded time under AddressSanitizer and
# UndefinedBehaviorSanitizer.
#   scripts/fuzz-gltf.sh [seconds]     (default 600)
# Builds with clang++-14 into build-fuzz-gltf/, outside the CMake build. New inputs go to
# build-fuzz-gltf/corpus/, crash reproducers to build-fuzz-gltf/ (crash-*, leak-*, timeout-*);
# the seeds in fuzz/gltf/corpus/ are only read. Rejection messages (standard error) go to
# build-fuzz-gltf/fuzz.log with the fuzzer's own report.
set -euo pipefail

duration=${1:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-fuzz-gltf"
mkdir -p "$out/corpus" "$out/work"

clang++-14 -std=c++20 -O1 -g -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" \
    "$root/fuzz/gltf/gltf_fuzz.cpp" "$root/scene/gltf_pack.cpp" "$root/scene/blob.cpp" \
    "$root/refl/refl.cpp" "$root/refl/json/json.cpp" "$root/store/store.cpp" "$root/app/console.cpp" \
    -o "$out/gltf_fuzz"

# The demo's scene seeds the corpus, its buffer lies in the working directory where the
# packer looks up the buffer URIs the fuzzer invents.
if [ -f "$root/assets/scene1.gltf" ] && [ -f "$root/assets/scene1.bin" ]; then
    cp "$root/assets/scene1.gltf" "$out/corpus/scene1.gltf"
    cp "$root/assets/scene1.bin" "$out/work/scene1.bin"
fi
cd "$out/work"
set +e
../gltf_fuzz -max_total_time="$duration" -timeout=10 -max_len=65536 -close_fd_mask=1 \
    -artifact_prefix="$out/" -print_final_stats=1 \
    "$out/corpus" "$root/fuzz/gltf/corpus" 2> "$out/fuzz.log"
status=$?
set -e
grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|==[0-9]+==ERROR|SUMMARY)' "$out/fuzz.log" || tail -n 20 "$out/fuzz.log"
exit $status
