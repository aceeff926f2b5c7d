#!/usr/bin/env bash
# The cost of encoding a capture: nova31-shot writes the same span of the demo once as a video
# through ffmpeg and once as PNG files (one per frame), back to back in one run, and reports the
# frames per second of each; then ffprobe's view of the video and how far its frame at --check
# seconds is from the PNG of that time, beside the loss the codec alone gives that PNG.
#
#   bench/capture/capture-vs-png.sh [--build DIR] [--size WxH] [--fps N] [--seconds S] [--check T]
#
# Defaults: build/, 640x360, 30 frames per second, 20 seconds, frame check at 10 s. Runs headless
# (DISPLAY removed); everything lands in capture-bench/ (the video, the PNGs, logs, summary.txt).
# On llvmpipe the default span takes many minutes per run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
root=$(pwd)
build=build size=640x360 fps=30 seconds=20 check=10 out=capture-bench
while (($#)); do
    case "$1" in
    --build) build="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --fps) fps="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --check) check="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    *) echo "capture-vs-png: unknown option $1" >&2; exit 2 ;;
    esac
done
[[ "$build" == /* ]] || build="$root/$build"
shot="$build/nova31-shot"
rm -rf "$out" && mkdir -p "$out/png"
cd "$out"
frames=$(awk -v f="$fps" -v s="$seconds" 'BEGIN { printf "%d", f * s + 0.5 }')
# Every frame's time, %.6g so that the checked time is written as given ("10" gives shot_10.png).
times=$(awk -v f="$fps" -v n="$frames" 'BEGIN { for (i = 0; i < n; ++i) printf "%.6g ", i / f }')

summary=summary.txt
: >"$summary"
say() { echo "$*" | tee -a "$summary"; }
elapsed() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }

say "nova31-shot, $frames frames at $size, $fps frames/s, headless; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
start=$EPOCHREALTIME
env -u DISPLAY "$shot" --size "$size" --fps "$fps" --video capture.mp4 --to "$seconds" >video.log 2>video.err
video_wall=$(elapsed "$start")
start=$EPOCHREALTIME
# shellcheck disable=SC2086
(cd png && env -u DISPLAY "$shot" --size "$size" --fps "$fps" $times >../png.log 2>../png.err)
png_wall=$(elapsed "$start")
say "video: $(grep 'drew' video.log | sed 's/nova31-shot: //'); whole run $video_wall s"
say "png:   $(grep 'drew' png.log | sed 's/nova31-shot: //'); whole run $png_wall s"

say "ffprobe:"
ffprobe -v error -count_frames -show_entries stream=index,codec_name,codec_type,profile,pix_fmt,width,height,r_frame_rate,nb_read_frames,duration \
    -of compact capture.mp4 | tee -a "$summary"

# The video's frame at the checked time, and the PNG of that time through the same codec alone.
index=$(awk -v f="$fps" -v t="$check" 'BEGIN { printf "%d", f * t + 0.5 }')
ffmpeg -v error -y -i capture.mp4 -vf "select=eq(n\\,$index)" -frames:v 1 video_frame.png
ffmpeg -v error -y -i "png/shot_$check.png" -c:v libx264 -pix_fmt yuv420p png_encoded.mp4
ffmpeg -v error -y -i png_encoded.mp4 -frames:v 1 png_through_codec.png
compare_frames() {
    local rmse psnr
    rmse=$(compare -metric RMSE "$1" "$2" null: 2>&1 || true)
    psnr=$(compare -metric PSNR "$1" "$2" null: 2>&1 || true)
    say "$3: RMSE $rmse, PSNR $psnr dB"
}
compare_frames video_frame.png "png/shot_$check.png" "frame $index of the video against shot_$check.png"
compare_frames png_through_codec.png "png/shot_$check.png" "shot_$check.png against itself through the codec"
