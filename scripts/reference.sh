#!/usr/bin/env bash
# The demo's light measured against a path-traced reference, in one command. For each music
# time it draws the demo's frame with nova31-shot (light cache warmed by playing from 0 s at
# --fps frames per second) and exports it (--export), renders the same frame with Blender's Cycles
# (scripts/reference/cycles_reference.py: Lambert surfaces, true point lights, --bounces diffuse
# bounces, --spp samples, no denoiser, encoded as the demo encodes), and compares the two with the
# image-difference tool (FLIP and RMSE, an error map). Two checks of the pipeline itself come
# with it: the direct light alone (the demo without its light cache, Cycles without bounces, the
# textures flattened to their mean on both sides) and the reference's own noise (two Cycles renders
# of 10 s, or of the first time, with different seeds). Prints one table (also OUT/table.md); OUT keeps the
# frames, the exports, the references, the error maps and side-by-side images (reference | demo |
# error map) per pair.
#
#   scripts/reference.sh                               times 4, 10 and 16 s at 800x450, 256 spp
#   scripts/reference.sh --times 10 --spp 64           a quicker look
#   scripts/reference.sh --references reference-out --out gi-out --no-checks
#                                                      the demo again, against the earlier run's
#                                                      references (no Cycles for them)
#
# Options: --times T,T,... (default 4,10,16), --size WxH (800x450), --spp N (256), --bounces N (8),
# --fps N (30: the rate of the play-through that warms the light cache), --out DIR (default
# reference-out/, outside the build), --build DIR (build/; configured and built when missing),
# --diff PROGRAM (default BUILD/nova31-diff), --no-checks (only the frames at --times), --no-setup
# (do not install Blender), --threads N (Cycles' threads; default all), --references DIR (take
# reference_TIME.png from DIR where it is there instead of rendering it: the output folder of an
# earlier run, good while the scene, the size and the sample count stay the same). It installs Debian's
# blender (scripts/reference/packages.txt) when missing. Without the difference tool it stops after
# the renders and says so. Exit status 0 when every step ran.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)

times="4,10,16"
size="800x450"
spp=256
bounces=8
fps=30
out="reference-out"
build="build"
diff_tool=""
checks=1
setup=1
threads=0
references=""
while (($#)); do
    case "$1" in
    --times) times="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --spp) spp="$2"; shift 2 ;;
    --bounces) bounces="$2"; shift 2 ;;
    --fps) fps="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --diff) diff_tool="$2"; shift 2 ;;
    --threads) threads="$2"; shift 2 ;;
    --references) references="$2"; shift 2 ;;
    --no-checks) checks=0; shift ;;
    --no-setup) setup=0; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "reference.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
IFS=',' read -r -a time_list <<<"$times"
((${#time_list[@]})) || { echo "reference.sh: --times needs at least one time" >&2; exit 2; }
mkdir -p "$out"
out=$(cd "$out" && pwd)
build_path="$root/$build"
[[ "$build" = /* ]] && build_path="$build"
diff_tool="${diff_tool:-$build_path/nova31-diff}"
started=$SECONDS
log() { printf '[%4ds] %s\n' $((SECONDS - started)) "$*"; }

# ---- Set-up and build ----
if ((setup)); then
    "$root/scripts/setup.sh" "$root/scripts/reference/packages.txt"
fi
command -v blender >/dev/null || { echo "reference.sh: blender is not installed (run without --no-setup)" >&2; exit 1; }
if [[ ! -f "$build_path/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build_path" -DCMAKE_BUILD_TYPE=Release >"$out/configure.log"
fi
targets=(--target nova31 nova31-shot)
grep -q "nova31-diff" "$build_path/Makefile" "$build_path/build.ninja" 2>/dev/null && targets+=(nova31-diff)
log "building ${targets[*]:1}"
cmake --build "$build_path" -j"$(nproc)" "${targets[@]}" >"$out/build.log" 2>&1
shot="$build_path/nova31-shot"

# ---- The demo's frames and their exports ----
mkdir -p "$out/demo" "$out/direct"
log "demo frames at ${times} s (${size}, light cache warmed at ${fps} frames/s)"
(cd "$out/demo" && env -u DISPLAY "$shot" --size "$size" --fps "$fps" --export "${time_list[@]}" >"$out/demo/shot.log")
grep -h "drew" "$out/demo/shot.log" || true
# The checks at 10 s when it is among the times, else at the first.
first="${time_list[0]}"
for t in "${time_list[@]}"; do [[ "$t" == 10 ]] && first=10; done
if ((checks)); then
    log "demo frame at ${first} s, direct light only, flat textures"
    (cd "$out/direct" && env -u DISPLAY "$shot" --size "$size" --fps 0 --export --direct-only --flat-textures \
        "$first" >"$out/direct/shot.log")
fi

# ---- Cycles ----
cycles() { # FRAME.json OUT.png BOUNCES SEED
    local started_at=$SECONDS
    blender -b --factory-startup --python-exit-code 1 --python "$root/scripts/reference/cycles_reference.py" -- \
        --frame "$1" --out "$2" --spp "$spp" --bounces "$3" --seed "$4" --size "$size" --threads "$threads" \
        >"${2%.png}.log" 2>&1 || { echo "reference.sh: Cycles failed, see ${2%.png}.log" >&2; exit 1; }
    log "$(basename "$2"): $((SECONDS - started_at)) s"
}
for t in "${time_list[@]}"; do
    if [[ -n "$references" && -f "$references/reference_$t.png" ]]; then
        [[ "$references/reference_$t.png" -ef "$out/reference_$t.png" ]] ||
            cp "$references/reference_$t.png" "$out/reference_$t.png"
        log "reference_$t.png from $references"
    else
        cycles "$out/demo/shot_$t.json" "$out/reference_$t.png" "$bounces" 0
    fi
done
if ((checks)); then
    cycles "$out/direct/shot_$first.json" "$out/direct/reference_$first.png" 0 0
    cycles "$out/demo/shot_$first.json" "$out/reference_${first}_seed1.png" "$bounces" 1
fi

# ---- Comparison ----
if [[ ! -x "$diff_tool" ]]; then
    log "no image-difference tool at $diff_tool: the renders are in $out; stopping before the comparison"
    exit 0
fi
# A number of the tool's JSON output by its key.
json_number() { # KEY JSON
    python3 -c 'import json, sys; print("%.3f" % json.loads(sys.argv[2])[sys.argv[1]])' "$1" "$2"
}
table="$out/table.md"
{
    echo "| pair | FLIP | RMSE (encoded, 0-1) |"
    echo "|---|---|---|"
} >"$table"
compare() { # LABEL REFERENCE TEST STEM
    local result flip rmse
    result=$("$diff_tool" --json --map "$out/$4_flip.png" "$2" "$3")
    flip=$(json_number flip "$result")
    rmse=$(json_number rmse "$result")
    ffmpeg -v error -y -i "$2" -i "$3" -i "$out/$4_flip.png" -filter_complex hstack=inputs=3 \
        "$out/$4_side.png" || true
    echo "| $1 | $flip | $rmse |" >>"$table"
}
if ((checks)); then
    compare "direct light only, flat textures ($first s)" "$out/direct/reference_$first.png" \
        "$out/direct/shot_$first.png" "direct_$first"
    compare "two references with different seeds ($first s, noise floor)" "$out/reference_$first.png" \
        "$out/reference_${first}_seed1.png" "noise_$first"
fi
for t in "${time_list[@]}"; do
    compare "full GI at $t s" "$out/reference_$t.png" "$out/demo/shot_$t.png" "gi_$t"
done
echo
echo "Reference at $size, $spp samples per pixel, $bounces bounces; demo warmed at $fps frames/s ($out):"
cat "$table"
log "done"
