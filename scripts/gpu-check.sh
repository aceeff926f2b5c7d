#!/usr/bin/env bash
# Ready check for a machine with a GPU and no display (it also runs on Mesa's llvmpipe). Builds
# the project into build-gpu/, runs everything on the headless GL context (DISPLAY removed) and
# prints one table: the GL vendor, renderer and version and whether GL_ARB_bindless_texture is
# there; the GL tests that need no display, the bindless texture test among them; nova31-shot
# frames of the demo, kept as PNGs; render_bench's per-pass GPU times with the shadow rays'
# counters (nodes visited and triangles tested per ray, rays stopped at the visit limit, beside a
# binned-SAH reference tree's), for its hall at each size and the demo's own frame; and a second
# table of how the cost grows with the scene (build and deferred times and nodes per shadow ray
# from about 2 thousand to 1 million triangles). Made to finish within 8 minutes on 16 cores;
# every step gets what is left of --limit and is marked when it ran out.
#
#   scripts/gpu-check.sh                    shots at 1920x1080 and 3840x2160, bench at 800x450,
#                                           1920x1080 and 3840x2160
#   scripts/gpu-check.sh --sizes 800x450    only these sizes (comma-separated) for shots and
#                                           bench: a software renderer's short run
#   scripts/gpu-check.sh --scale 2000,20000 only these scene sizes for the growth table (of 2000,
#                                           20000, 200000, 1000000, the default); none: no table
# Other options: --out DIR (default gpu-check/: PNGs, JSON, logs and table.txt), --build DIR
# (default build-gpu/; an existing build folder is reused), --time SECONDS (music time of the
# shots, default 2), --jobs N (default: every core), --limit SECONDS (default 480), --no-setup
# (do not install missing Debian packages). Exit status 0 when every step passed.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)

shot_sizes="1920x1080,3840x2160"
bench_sizes="800x450,1920x1080,3840x2160"
scale_sizes="2000,20000,200000,1000000"
out=gpu-check
build=build-gpu
shot_time=2
jobs=$(nproc)
limit=480
setup=1
while (($#)); do
    case "$1" in
    --sizes) shot_sizes="$2"; bench_sizes="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --scale) scale_sizes="$2"; shift 2 ;;
    --time) shot_time="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --limit) limit="$2"; shift 2 ;;
    --no-setup) setup=0; shift ;;
    *) echo "gpu-check: unknown option $1" >&2; exit 2 ;;
    esac
done
for size in ${shot_sizes//,/ } ${bench_sizes//,/ }; do
    [[ "$size" =~ ^[0-9]+x[0-9]+$ ]] || { echo "gpu-check: not a size WIDTHxHEIGHT: $size" >&2; exit 2; }
done
[[ "$scale_sizes" == none ]] && scale_sizes=""
for count in ${scale_sizes//,/ }; do
    [[ "$count" =~ ^(2000|20000|200000|1000000)$ ]] ||
        { echo "gpu-check: --scale takes 2000, 20000, 200000, 1000000 or none: $count" >&2; exit 2; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
results="$out/results.txt" # one "key<TAB>value" line per finding, read by the table below
: >"$results"
rm -f "$out/failed-steps.txt" # the steps that did not pass (subshells append to it too)
unset DISPLAY WAYLAND_DISPLAY # the headless context, as on a machine without an X server
export NOVA31_UNATTENDED=1
started=$SECONDS

note() { printf '%s\t%s\n' "$1" "$2" >>"$results"; }
left() { echo $((limit - (SECONDS - started))); }

# Runs a step under what is left of the limit; its output goes to $out/LOG.log.
# Returns 124 when it ran out of time, 125 when no time was left to start it.
step() {
    local log="$1"
    shift
    local remaining
    remaining=$(left)
    ((remaining > 5)) || { echo "$log" >>"$out/failed-steps.txt"; return 125; }
    timeout --kill-after=5 "$remaining" "$@" >"$out/$log.log" 2>&1
    local status=$?
    ((status == 0)) || echo "$log" >>"$out/failed-steps.txt"
    return $status
}

status_text() {
    case "$1" in
    0) echo "ok" ;;
    124) echo "ran out of time" ;;
    125) echo "not run (no time left)" ;;
    *) echo "failed (exit $1)" ;;
    esac
}

# ---- Build ----

if ((setup)); then
    step setup scripts/setup.sh
    note setup "$(status_text $?) ($((SECONDS - started)) s)"
fi
# Everything: every test labelled "headless" then runs, whichever folder it comes from.
build_start=$SECONDS
step configure cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release &&
    step build cmake --build "$build" -j"$jobs"
build_status=$?
note build "$(status_text $build_status) ($((SECONDS - build_start)) s, $jobs jobs)"

# ---- GL tests ----

if ((build_status == 0)); then
    tests_start=$SECONDS
    (cd "$build" && step gl-tests ctest -L headless -j"$jobs" --timeout 240 --output-on-failure)
    tests_status=$?
    summary=$(grep -E "tests passed|tests failed" "$out/gl-tests.log" | tail -1)
    skipped=$(grep -c -- "\*\*\*Skipped" "$out/gl-tests.log")
    failed=$(grep -E "\*\*\*Failed|\*\*\*Timeout|\*\*\*Exception" "$out/gl-tests.log" |
        sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/' | tr '\n' ' ')
    note gl-tests "$(status_text $tests_status): ${summary:-no summary}, $skipped skipped ($((SECONDS - tests_start)) s)${failed:+; failed: $failed}"
    bindless=$(grep -E "Test +#[0-9]+: TextureTest.BindlessPathWhereTheDriverHasIt " "$out/gl-tests.log" |
        sed -E 's/.*\.\.\.+ *\**([A-Za-z]+).*/\1/' | head -1)
    note bindless-test "${bindless:-not run}"
else
    note gl-tests "not run (build $(status_text $build_status))"
fi

# ---- Demo frames ----

for size in ${shot_sizes//,/ }; do
    [[ $build_status == 0 ]] || { note "shot $size" "not run"; continue; }
    folder="$out/shot-$size"
    rm -rf "$folder" && mkdir -p "$folder"
    shot_start=$SECONDS
    (cd "$folder" && step "shot-$size" "$root/$build/nova31-shot" "-data:$root/$build/nova31" \
        --size "$size" "$shot_time")
    shot_status=$?
    if [[ $shot_status == 0 && -f "$folder/shot_$shot_time.png" ]]; then
        mv "$folder/shot_$shot_time.png" "$out/shot_${size}.png"
        note "shot $size" "$out/shot_${size}.png (music time $shot_time s, $((SECONDS - shot_start)) s)"
    else
        note "shot $size" "$(status_text $shot_status) (see $out/shot-$size.log)"
    fi
    rm -rf "$folder"
done

# ---- Renderer benchmark ----

if ((build_status == 0)); then
    filter=$(echo "$bench_sizes" | sed -E 's/([0-9]+)x([0-9]+)/\1\/\2/g; s/,/|/g')
    filter="^BM_Frame/($filter)/|^BM_DemoFrame/"
    [[ -n "$scale_sizes" ]] && filter="$filter|^BM_Scale/(${scale_sizes//,/|})/"
    step render-bench "$build"/bench/render_bench "--benchmark_filter=$filter" \
        --benchmark_out="$out/render_bench.json" --benchmark_out_format=json
    note render-bench "$(status_text $?)"
fi

# ---- The table ----

python3 - "$results" "$out/render_bench.json" "$bench_sizes" "$scale_sizes" "$((SECONDS - started))" <<'EOF' | tee "$out/table.txt"
import json, sys
results_path, bench_path, bench_sizes, scale_sizes, seconds = sys.argv[1:]
rows = [line.rstrip("\n").split("\t", 1) for line in open(results_path) if "\t" in line]
found = dict(rows)
try:
    bench = json.load(open(bench_path))
except (OSError, ValueError):
    bench = {"context": {}, "benchmarks": []}
context = bench.get("context", {})
table = [("GL vendor", context.get("gl_vendor", "unknown (render_bench gave no context)")),
         ("GL renderer", context.get("gl_renderer", "unknown")),
         ("GL version", context.get("gl_version", "unknown")),
         ("GL_ARB_bindless_texture", context.get("gl_bindless_texture", "unknown"))]
for key in ("setup", "build", "gl-tests", "bindless-test"):
    if key in found:
        table.append(({"setup": "packages", "gl-tests": "GL tests (no display)",
                       "bindless-test": "bindless texture test"}.get(key, key), found[key]))
table += [(key, value) for key, value in rows if key.startswith("shot ")]
runs = {b["name"]: b for b in bench.get("benchmarks", []) if "iterations" in b["name"]}

def find(prefix):
    return next((b for name, b in runs.items() if name.startswith(prefix)), None)

def passes(run):
    return "frame {:.2f} ms = geometry {:.2f} + bvh {:.2f} + deferred {:.2f} + licupdate {:.2f} ms ({} frames)".format(
        run["real_time"], run["geometry_ms"], run["bvh_ms"], run["deferred_ms"], run["licupdate_ms"], run["iterations"])

def counters(run):
    # The renderer's tree where its shaders count, then the reference tree.
    text = ""
    if "nodes_mean" in run:
        text += "; per shadow ray {:.1f} nodes (p99 {:.0f}, max {:.0f}), {:.2f} triangles; {:.0f} rays, {:.0f} at the limit".format(
            run["nodes_mean"], run["nodes_p99"], run["nodes_max"], run["tris_mean"], run["shadow_rays"],
            run["rays_at_limit"])
    if "ref_nodes_mean" in run:
        text += "; reference tree {:.1f} nodes".format(run["ref_nodes_mean"])
        if "nodes_ratio" in run:
            text += " (ratio {:.2f})".format(run["nodes_ratio"])
    return text

for size in bench_sizes.split(","):
    width, height = size.split("x")
    run = find(f"BM_Frame/{width}/{height}/")
    if run is None:
        table.append((f"render_bench {size}", found.get("render-bench", "not run") + ", no figures"))
    elif run.get("error_occurred"):
        table.append((f"render_bench {size}", "skipped: " + run.get("error_message", "")))
    else:
        table.append((f"render_bench {size}", passes(run) + counters(run)))
run = find("BM_DemoFrame/")
if run is None:
    table.append(("demo frame 800x450", found.get("render-bench", "not run") + ", no figures"))
else:
    table.append(("demo frame 800x450", passes(run) + counters(run)))
table.append(("total time", f"{seconds} s"))
width = max(len(key) for key, _ in table)
print("| " + "what".ljust(width) + " | result")
print("|-" + "-" * width + "-|-------")
for key, value in table:
    print("| " + key.ljust(width) + " | " + value)

# How the cost grows with the scene.
if scale_sizes:
    print("\n| triangles | build ms | deferred ms | nodes / shadow ray (p99, max) | reference | ratio | nodes / log2 T (reference) | rays at limit |")
    print("|---|---|---|---|---|---|---|---|")
    for count in scale_sizes.split(","):
        run = find(f"BM_Scale/{count}/")
        if run is None or run.get("error_occurred"):
            print(f"| ~{count} | not run | | | | | | |")
            continue
        gpu = "{:.1f} ({:.0f}, {:.0f})".format(run["nodes_mean"], run["nodes_p99"], run["nodes_max"]) if "nodes_mean" in run else "-"
        print("| {:.0f} | {:.1f} | {:.1f} | {} | {:.1f} | {} | {} ({:.2f}) | {} |".format(
            run["triangles"], run["bvh_ms"], run["deferred_ms"], gpu, run["ref_nodes_mean"],
            "{:.2f}".format(run["nodes_ratio"]) if "nodes_ratio" in run else "-",
            "{:.2f}".format(run["nodes_per_log2t"]) if "nodes_per_log2t" in run else "-",
            run.get("ref_nodes_per_log2t", 0.0),
            "{:.0f}".format(run["rays_at_limit"]) if "rays_at_limit" in run else "-"))
sys.exit(0 if context else 1)
EOF
table_status=$?
[[ ! -s "$out/failed-steps.txt" && $table_status == 0 ]]
