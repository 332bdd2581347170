#!/usr/bin/env bash
# Side-by-side: our cubic resize and ImageMagick's "-filter Mitchell -resize" (one thread) on the
# same 12-megapixel picture, 4000 x 3000 -> 1024 x 768. Both figures are CPU seconds of the resize
# alone: ImageMagick's time to read the file is measured separately and subtracted, and our
# benchmark excludes its copy of the input. The machine may be shared, so CPU time is used
# rather than wall time, and the best of several runs counts.
#
# usage: bench/resize_vs_imagemagick.sh [build-dir-with-QUILL_BUILD_BENCH] [runs]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build/release}"
runs="${2:-5}"
bench="$build/bench/ops_bench"
convert=/usr/bin/convert
sample="$here/../tests/data/thirdparty/exif/fullsize/jolla.jpg"

[[ -x "$bench" ]] || { echo "no $bench (configure with -DQUILL_BUILD_BENCH=ON)" >&2; exit 1; }
[[ -x "$convert" ]] || { echo "ImageMagick ($convert) is not installed" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
picture="$work/photo-12mp.ppm"
"$convert" "$sample" -strip -resize '4000x3000!' -depth 8 "ppm:$picture"

# Best CPU time (user + system, seconds) of a command over $runs runs.
best_cpu() {
    local best=""
    for ((i = 0; i < runs; i++)); do
        local t
        /usr/bin/time -o "$work/time" -f '%U %S' "$@" >/dev/null 2>&1
        t="$(tail -1 "$work/time" | awk '{ printf "%.4f", $1 + $2 }')"
        if [[ -z "$best" ]] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best="$t"
        fi
    done
    echo "$best"
}

export MAGICK_THREAD_LIMIT=1
im_total="$(best_cpu "$convert" "$picture" -filter Mitchell -resize '1024x768!' null:)"
im_read="$(best_cpu "$convert" "$picture" null:)"
im_resize="$(awk -v a="$im_total" -v b="$im_read" 'BEGIN { printf "%.4f", a - b }')"

ours_ms="$(QUILL_BENCH_IMAGE="$picture" "$bench" --benchmark_filter='^BM_Resize24To1024x768' \
    --benchmark_repetitions="$runs" --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 == "\"BM_Resize24To1024x768/real_time\"" { v = $4 + 0; if (best == "" || v < best) best = v }
             END { printf "%.2f", best }')"

echo "picture: 4000x3000, 24-bit, resized to 1024x768 (Mitchell-Netravali B = C = 1/3)"
echo "ImageMagick (MAGICK_THREAD_LIMIT=1): read+resize ${im_total} s, read ${im_read} s, resize ${im_resize} s CPU"
echo "Quillmere resizeImageSmooth:         ${ours_ms} ms CPU"
awk -v im="$im_resize" -v ours="$ours_ms" \
    'BEGIN { printf "ratio (ImageMagick / Quillmere): %.1fx\n", im * 1000 / ours }'
