#!/bin/sh
# JPEG decoding of a 12-megapixel photograph (4000x3000): our loader against libjpeg-turbo's
# djpeg, in the same run, each the median of several rounds (both read the file from the page
# cache; djpeg writes to /dev/null).
# Usage: bench/decode_vs_djpeg.sh BUILD_DIR   (a build with -DQUILL_BUILD_BENCH=ON, Release)
set -eu
build=${1:?build directory}
bench="$build/bench/decode_bench"
rounds=${ROUNDS:-7}
root=$(cd "$(dirname "$0")/.." && pwd)
command -v djpeg >/dev/null || { echo "djpeg missing"; exit 1; }
[ -x /usr/bin/convert ] || { echo "ImageMagick missing"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/convert "$root/tests/data/thirdparty/exif/fullsize/jolla.jpg" -resize '4000x3000!' \
    -quality 90 "$work/photo12mp.jpg"
cat "$work/photo12mp.jpg" >/dev/null

times=""
i=0
while [ $i -lt "$rounds" ]; do
    start=$(date +%s%N)
    djpeg -bmp -outfile /dev/null "$work/photo12mp.jpg"
    end=$(date +%s%N)
    times="$times $(( (end - start) / 100000 ))"
    i=$((i + 1))
done
djpeg_ms=$(echo $times | tr ' ' '\n' | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/10}')
ours_ms=$("$bench" --time-decode="$work/photo12mp.jpg" --rounds="$rounds")
echo "djpeg -bmp (file to /dev/null):   ${djpeg_ms} ms (median of $rounds)"
echo "loadImageFile (file to memory):   ${ours_ms} ms (median of $rounds)"
awk -v a="$ours_ms" -v b="$djpeg_ms" 'BEGIN { printf "ratio ours / djpeg: %.2f (target <= 1.10)\n", a / b }'
