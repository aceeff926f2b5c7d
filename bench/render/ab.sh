#!/usr/bin/env bash
# Side-by-side timing of the renderer at two commits on this machine: builds render_bench at BASE
# and at HEAD (each from `git archive`, Release, tests off), runs them alternately ROUNDS times on
# the headless context (DISPLAY removed), and prints one table of medians: every counter of every
# benchmark run, BASE beside HEAD with their ratio.
#
#   bench/render/ab.sh f514ddd                         the demo's frame, 3 rounds
#   bench/render/ab.sh f514ddd --rounds 5 --filter 'BM_DemoFrame|BM_Scale/20000/'
#
# BASE gets this commit's benchmark (bench/render/ and the fixture files of tests/render/ that it
# lacks, with their CMakeLists.txt), so both sides measure the same frames; a BASE whose renderer
# has no shadow-ray counters ("TreeStats" in render/gpu_layout.h) reports the reference tree's
# counters alone. Options: --rounds N (default 3), --filter REGEX (render_bench's
# --benchmark_filter, default ^BM_DemoFrame), --head REV (default HEAD), --work DIR (default
# build-ab/: the two source trees, their builds and the JSON of every run), --jobs N (default 2).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
root=$(pwd)

usage() {
    sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
(($#)) || usage
base=$1
shift
head=HEAD
rounds=3
filter='^BM_DemoFrame'
work=build-ab
jobs=2
while (($#)); do
    case "$1" in
    --rounds) rounds="$2"; shift 2 ;;
    --filter) filter="$2"; shift 2 ;;
    --head) head="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    *) usage ;;
    esac
done
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "ab.sh: --rounds needs a positive number" >&2; exit 2; }
base_commit=$(git rev-parse --verify --quiet "$base^{commit}") || { echo "ab.sh: no commit $base" >&2; exit 2; }
head_commit=$(git rev-parse --verify --quiet "$head^{commit}") || { echo "ab.sh: no commit $head" >&2; exit 2; }
mkdir -p "$work"
work=$(cd "$work" && pwd)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# The source tree of a commit in $work/NAME/src; BASE gets HEAD's benchmark.
unpack() {
    local name=$1 commit=$2 src="$work/$1/src"
    rm -rf "$src" && mkdir -p "$src"
    git archive "$commit" | tar -x -C "$src"
    if [[ "$name" == base ]]; then
        rm -rf "$src/bench/render"
        git archive "$head_commit" bench/render | tar -x -C "$src"
        git archive "$head_commit" tests/render/CMakeLists.txt | tar -x -C "$src"
        local file
        for file in $(git ls-tree --name-only "$head_commit" tests/render/); do
            [[ -e "$src/$file" ]] || git archive "$head_commit" "$file" | tar -x -C "$src"
        done
    fi
}

build() {
    local name=$1
    echo "ab.sh: building render_bench at $name ($(git rev-parse --short "$2"))" >&2
    cmake -S "$work/$name/src" -B "$work/$name/build" -DCMAKE_BUILD_TYPE=Release -DNOVA31_TESTS=OFF \
        "${launcher[@]}" >"$work/$name/configure.log" 2>&1 ||
        { tail -20 "$work/$name/configure.log" >&2; exit 1; }
    nice -n 5 cmake --build "$work/$name/build" -j"$jobs" --target render_bench >"$work/$name/build.log" 2>&1 ||
        { grep -E "error|Error" "$work/$name/build.log" | head -20 >&2; exit 1; }
}

unpack base "$base_commit"
unpack head "$head_commit"
build base "$base_commit"
build head "$head_commit"

# Alternating runs, the side that goes first swapping every round.
for ((round = 1; round <= rounds; ++round)); do
    order=(base head)
    ((round % 2 == 0)) && order=(head base)
    for name in "${order[@]}"; do
        echo "ab.sh: round $round/$rounds, $name" >&2
        (cd "$work/$name/build" && env -u DISPLAY -u WAYLAND_DISPLAY bench/render_bench \
            --benchmark_filter="$filter" --benchmark_out="$work/$name-$round.json" \
            --benchmark_out_format=json >"$work/$name-$round.log" 2>&1) ||
            { tail -20 "$work/$name-$round.log" >&2; exit 1; }
    done
done

python3 - "$work" "$rounds" "$base ($(git rev-parse --short "$base_commit"))" \
    "$head ($(git rev-parse --short "$head_commit"))" <<'EOF'
import json, statistics, sys
work, rounds, base_label, head_label = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
skip = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
        "family_index", "per_family_instance_index", "time_unit", "cpu_time", "aggregate_name"}
runs = {}  # benchmark -> counter -> side -> values
context = {}
for side in ("base", "head"):
    for r in range(1, rounds + 1):
        data = json.load(open(f"{work}/{side}-{r}.json"))
        context = data.get("context", context)
        for b in data.get("benchmarks", []):
            if b.get("error_occurred"):
                continue
            counters = runs.setdefault(b["name"], {})
            for key, value in b.items():
                if key not in skip and isinstance(value, (int, float)):
                    counters.setdefault("frame_ms" if key == "real_time" else key, {}).setdefault(side, []).append(value)
print(f"{context.get('gl_renderer', 'unknown renderer')}, {rounds} alternating rounds, medians")
print(f"base = {base_label}, head = {head_label}")
for name, counters in runs.items():
    print(f"\n{name}")
    print(f"| {'counter':<16} | {'base':>12} | {'head':>12} | {'head / base':>11} |")
    print(f"|{'-' * 18}|{'-' * 14}|{'-' * 14}|{'-' * 13}|")
    def cell(values):
        return f"{statistics.median(values):12.4g}" if values else f"{'-':>12}"
    order = ["frame_ms", "geometry_ms", "bvh_ms", "deferred_ms", "licupdate_ms"]
    for key in order + sorted(k for k in counters if k not in order):
        if key not in counters:
            continue
        b, h = counters[key].get("base", []), counters[key].get("head", [])
        ratio = f"{statistics.median(h) / statistics.median(b):11.3f}" if b and h and statistics.median(b) else f"{'-':>11}"
        print(f"| {key:<16} | {cell(b)} | {cell(h)} | {ratio} |")
EOF
