#!/bin/sh
# JPEG encoding of a 12-megapixel photograph: our encoder against libjpeg-turbo's cjpeg at the same
# quality (80, our quality 8), in the same run, each the best of several rounds.
# Usage: bench/encode_vs_cjpeg.sh BUILD_DIR   (a build with -DQUILL_BUILD_BENCH=ON, Release)
set -eu
build=${1:?build directory}
bench="$build/bench/encode_bench"
rounds=${ROUNDS:-5}
command -v cjpeg >/dev/null || { echo "cjpeg missing"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --write-ppm="$work/photo.ppm"
cat "$work/photo.ppm" >/dev/null  # into the page cache, as our side has it in memory

best_cjpeg=""
i=0
while [ $i -lt "$rounds" ]; do
    start=$(date +%s%N)
    cjpeg -quality 80 -outfile "$work/cjpeg.jpg" "$work/photo.ppm"
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best_cjpeg" ] || [ "$ms" -lt "$best_cjpeg" ]; then best_cjpeg=$ms; fi
    i=$((i + 1))
done

ours=$("$bench" --benchmark_filter='jpegSaveFile12MP' --benchmark_repetitions="$rounds" \
        --benchmark_format=csv 2>/dev/null |
       awk -F, '/jpegSaveFile12MP\/real_time",/ || /jpegSaveFile12MP",/ { if (min == "" || $3 < min) min = $3 }
                END { printf "%d", min }')
echo "cjpeg -quality 80 (file to file):        ${best_cjpeg} ms, $(stat -c %s "$work/cjpeg.jpg") bytes"
echo "saveImageFile quality 8 (memory to file): ${ours} ms"
awk -v a="$ours" -v b="$best_cjpeg" 'BEGIN { printf "ratio ours / cjpeg: %.2f (target <= 1.10)\n", a / b }'
