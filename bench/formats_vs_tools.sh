#!/bin/sh
# Decoding and encoding a 12-megapixel photograph (4000x3000) in every new format: our code
# against each library's own command-line tool, in the same run, each the median of several rounds
# on one thread (a run's workers each encode one image). The tools get the settings our quality
# value 8 maps to, so both sides make comparable files; decoders write to a scratch file of the
# cheapest format the tool offers.
# Usage: bench/formats_vs_tools.sh BUILD_DIR   (a build with -DQUILL_BUILD_BENCH=ON, Release)
set -eu
build=${1:?build directory}
rounds=${ROUNDS:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
decode_bench="$build/bench/decode_bench"
format_bench="$build/bench/format_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The median milliseconds of running a command $rounds times.
median_ms() {
    times=""
    i=0
    while [ $i -lt "$rounds" ]; do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        end=$(date +%s%N)
        times="$times $(( (end - start) / 100000 ))"
        i=$((i + 1))
    done
    echo $times | tr ' ' '\n' | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/10}'
}

row() { # format, operation, tool command name, tool ms, our ms
    awk -v f="$1" -v o="$2" -v t="$3" -v a="$4" -v b="$5" \
        'BEGIN { printf "%-8s %-7s %-14s %9.1f ms  ours %9.1f ms  ratio %.2f\n", f, o, t, a, b, b / a }'
}

/usr/bin/convert "$root/tests/data/thirdparty/exif/fullsize/jolla.jpg" -resize '4000x3000!' \
    "$work/photo.png"
/usr/bin/convert "$work/photo.png" -compress none "$work/photo.tif"
/usr/bin/convert "$work/photo.png" "$work/photo.ppm"

# WebP: quality value 8 is cwebp -q "$WEBP_Q" at method "$WEBP_M".
WEBP_Q=${WEBP_Q:-86} WEBP_M=${WEBP_M:-2}
tool=$(median_ms cwebp -quiet -q "$WEBP_Q" -m "$WEBP_M" "$work/photo.png" -o "$work/tool.webp")
ours=$(median_ms "$format_bench" --time-encode=webp --source="$work/photo.png" --rounds=1 \
    --out="$work/ours.webp")
row WebP encode cwebp "$tool" "$ours"
tool=$(median_ms dwebp "$work/tool.webp" -ppm -o "$work/out.ppm")
ours=$(median_ms "$decode_bench" --time-decode="$work/tool.webp" --rounds=1)
row WebP decode dwebp "$tool" "$ours"

# AVIF: quality value 8 is the quantizer "$AVIF_QP" at speed "$AVIF_SPEED".
AVIF_QP=${AVIF_QP:-15} AVIF_SPEED=${AVIF_SPEED:-9}
tool=$(median_ms avifenc -j 1 -y 420 -s "$AVIF_SPEED" --min "$AVIF_QP" --max "$AVIF_QP" \
    "$work/photo.png" "$work/tool.avif")
ours=$(median_ms "$format_bench" --time-encode=avif --source="$work/photo.png" --rounds=1 \
    --out="$work/ours.avif")
row AVIF encode avifenc "$tool" "$ours"
tool=$(median_ms avifdec -j 1 "$work/tool.avif" "$work/out.y4m")
ours=$(median_ms "$decode_bench" --time-decode="$work/tool.avif" --rounds=1)
row AVIF decode avifdec "$tool" "$ours"

# JPEG XL: quality value 8 is the distance "$JXL_D" at effort "$JXL_E".
JXL_D=${JXL_D:-1.9} JXL_E=${JXL_E:-5}
tool=$(median_ms cjxl "$work/photo.png" "$work/tool.jxl" -d "$JXL_D" -e "$JXL_E" --num_threads=0)
ours=$(median_ms "$format_bench" --time-encode=jxl --source="$work/photo.png" --rounds=1 \
    --out="$work/ours.jxl")
row "JPEG XL" encode cjxl "$tool" "$ours"
tool=$(median_ms djxl "$work/tool.jxl" "$work/out.ppm" --num_threads=0)
ours=$(median_ms "$decode_bench" --time-decode="$work/tool.jxl" --rounds=1)
row "JPEG XL" decode djxl "$tool" "$ours"

# TIFF: Deflate with the horizontal predictor.
tool=$(median_ms tiffcp -c zip:2 "$work/photo.tif" "$work/tool.tif")
ours=$(median_ms "$format_bench" --time-encode=tif --source="$work/photo.tif" --rounds=1 \
    --out="$work/ours.tif")
row TIFF encode "tiffcp zip" "$tool" "$ours"
tool=$(median_ms tiffcp -c none "$work/tool.tif" "$work/out.tif")
ours=$(median_ms "$decode_bench" --time-decode="$work/tool.tif" --rounds=1)
row TIFF decode "tiffcp none" "$tool" "$ours"

# HEIF (read only): a file made by heif-enc.
if heif-enc -q 80 "$work/photo.png" -o "$work/tool.heic" >/dev/null 2>&1; then
    tool=$(median_ms heif-convert "$work/tool.heic" "$work/out.y4m")
    ours=$(median_ms "$decode_bench" --time-decode="$work/tool.heic" --rounds=1)
    row HEIF decode heif-convert "$tool" "$ours"
else
    echo "HEIF    decode  heif-enc cannot encode here: skipped"
fi

# Camera RAW (read only): a 12-megapixel DNG made by tools/make_test_dng.py.
python3 "$root/tools/make_test_dng.py" --width 4000 --height 3000 "$work/photo.dng"
tool=$(median_ms dcraw_emu -w -o 1 -T -Z "$work/out.tiff" "$work/photo.dng")
ours=$(median_ms "$decode_bench" --time-decode="$work/photo.dng" --rounds=1)
row RAW decode dcraw_emu "$tool" "$ours"

# Our outputs are read back by the tools.
dwebp "$work/ours.webp" -o "$work/check.png" >/dev/null 2>&1 && echo "dwebp reads our WebP"
avifdec "$work/ours.avif" "$work/check.png" >/dev/null 2>&1 && echo "avifdec reads our AVIF"
djxl "$work/ours.jxl" "$work/check.png" >/dev/null 2>&1 && echo "djxl reads our JPEG XL"
tiffinfo "$work/ours.tif" >/dev/null 2>&1 && echo "tiffinfo reads our TIFF"
