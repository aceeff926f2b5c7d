#!/usr/bin/env bash
# The cost of encoding a capture: nova31-shot draws the same span of the demo as a video through
# ffmpeg, as PNG files (one per frame) and with no output but its last frame, back to back in one
# run, and reports the frames per second of each (--rounds N repeats the three, interleaved);
# then ffprobe's view of the video and how far its frame at --check
# seconds is from the PNG of that time, beside the loss the codec alone gives that PNG.
#
#   bench/capture/capture-vs-png.sh [--build DIR] [--size WxH] [--fps N] [--seconds S] [--check T]
#                                   [--rounds N] [--out DIR]
#
# Defaults: build/, 640x360, 30 frames per second, 20 seconds, frame check at 10 s. Runs headless
# (DISPLAY removed); everything lands in capture-bench/ (the video, the PNGs, logs, summary.txt).
# On llvmpipe the default span takes many minutes per run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
root=$(pwd)
build=build size=640x360 fps=30 seconds=20 check=10 out=capture-bench rounds=1
while (($#)); do
    case "$1" in
    --build) build="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --fps) fps="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --check) check="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    *) echo "capture-vs-png: unknown option $1" >&2; exit 2 ;;
    esac
done
[[ "$build" == /* ]] || build="$root/$build"
shot="$build/nova31-shot"
rm -rf "$out" && mkdir -p "$out/png"
cd "$out"
frames=$(awk -v f="$fps" -v s="$seconds" 'BEGIN { printf "%d", f * s + 0.5 }')
# Every frame's time with 6 decimals, well within nova31-shot's 10 us of the frame grid.
times=$(awk -v f="$fps" -v n="$frames" 'BEGIN { for (i = 0; i < n; ++i) printf "%.6f ", i / f }')
check_name=$(awk -v t="$check" 'BEGIN { printf "%.6f", t }')

summary=summary.txt
: >"$summary"
say() { echo "$*" | tee -a "$summary"; }
elapsed() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }

say "nova31-shot, $frames frames at $size, $fps frames/s, headless; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
last=$(awk -v f="$fps" -v n="$frames" 'BEGIN { printf "%.6f", (n - 1) / f }')
mkdir -p draw
for round in $(seq 1 "$rounds"); do
    start=$EPOCHREALTIME
    env -u DISPLAY "$shot" --size "$size" --fps "$fps" --video capture.mp4 --to "$seconds" >video.log 2>video.err
    video_wall=$(elapsed "$start")
    start=$EPOCHREALTIME
    # shellcheck disable=SC2086
    (cd png && env -u DISPLAY "$shot" --size "$size" --fps "$fps" $times >../png.log 2>../png.err)
    png_wall=$(elapsed "$start")
    start=$EPOCHREALTIME
    (cd draw && env -u DISPLAY "$shot" --size "$size" --fps "$fps" "$last" >../draw.log 2>../draw.err)
    draw_wall=$(elapsed "$start")
    say "round $round, load $(cut -d' ' -f1 /proc/loadavg)"
    say "  video:      $(grep 'drew' video.log | sed 's/nova31-shot: //'); whole run $video_wall s"
    say "  png:        $(grep 'drew' png.log | sed 's/nova31-shot: //'); whole run $png_wall s"
    say "  draw only:  $(grep 'drew' draw.log | sed 's/nova31-shot: //'); whole run $draw_wall s"
done

say "ffprobe:"
ffprobe -v error -count_frames -show_entries stream=index,codec_name,codec_type,profile,pix_fmt,width,height,r_frame_rate,nb_read_frames,duration \
    -of compact capture.mp4 | tee -a "$summary"

# The video's frame at the checked time, and the PNG of that time through the same codec alone.
index=$(awk -v f="$fps" -v t="$check" 'BEGIN { printf "%d", f * t + 0.5 }')
ffmpeg -v error -y -i capture.mp4 -vf "select=eq(n\\,$index)" -frames:v 1 video_frame.png
ffmpeg -v error -y -i "png/shot_$check_name.png" -c:v libx264 -pix_fmt yuv420p png_encoded.mp4
ffmpeg -v error -y -i png_encoded.mp4 -frames:v 1 png_through_codec.png
compare_frames() {
    local mae psnr
    mae=$(compare -metric MAE "$1" "$2" null: 2>&1 || true)
    psnr=$(compare -metric PSNR "$1" "$2" null: 2>&1 || true)
    say "$3: mean absolute error $mae, PSNR $psnr dB"
}
compare_frames video_frame.png "png/shot_$check_name.png" "frame $index of the video against shot_$check_name.png"
compare_frames png_through_codec.png "png/shot_$check_name.png" "shot_$check_name.png against itself through the codec"
