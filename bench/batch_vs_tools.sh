#!/usr/bin/env bash
# Side-by-side batch benchmark of `quillmere -Console` against other tools and the libjpeg-turbo
# floor, on deterministic photographic inputs. All commands of a round run one after the other
# (interleaved, so a busy machine slows all alike); the table shows medians over the rounds.
#   resize:  IMAGES 12-megapixel JPEGs fitted into 1024 x 768, JPEG quality 80
#   adjust:  the same JPEGs, brightness 110, saturation 120, contrast 110, gamma 120, quality 80
#   convert: IMAGES PNGs of 1920 x 1080 to JPEG quality 80
# plus the peak RSS of our resize run and the quality guard: the minimum PSNR of our resize
# (written as PNG) against an exact double-precision Mitchell reduction (bench/reference_psnr).
#   bench/batch_vs_tools.sh [IMAGES] [ROUNDS]     (defaults: 24 images, 3 rounds)
# Inputs are kept in build/bench-batch between runs. Installs the other tools when missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-24}"
rounds="${2:-3}"

"$root/scripts/bootstrap"
need=()
command -v gm >/dev/null || need+=(graphicsmagick)
command -v vipsthumbnail >/dev/null || need+=(libvips-tools)
command -v bc >/dev/null || need+=(bc)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILL_BUILD_TESTS=OFF \
  -DQUILL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target quillmere make_batch_presets reference_psnr >/dev/null

work="$root/build/bench-batch"
mkdir -p "$work/inputs"
rm -rf "$work/bin" "$work/home" "$work/out" "$work/times" "$work/copy"
mkdir -p "$work/bin" "$work/home" "$work/out" "$work/times"
cp "$build/src/app/quillmere" "$work/bin/"
"$build/bench/make_batch_presets" "$work/bin/Quillmere_Presets" "$work/out/"

# Deterministic photographic inputs: a sample photograph scaled to 4000 x 3000 with a plasma
# texture and noise so it compresses like a photograph, varied per copy; the PNGs are 1920 x 1080
# versions of the copies. Made once and kept.
base="$work/inputs/base.jpg"
[ -f "$base" ] || /usr/bin/convert "$root/tests/data/thirdparty/jpeg/goldenears.jpg" \
  -resize 4000x3000! \( -size 4000x3000 -seed 42 plasma:fractal \) -compose overlay -composite \
  -attenuate 0.3 +noise Gaussian -quality 92 "$base"
rm -rf "$work/jpeg" "$work/png"
mkdir -p "$work/jpeg" "$work/png"
for i in $(seq -w 1 "$count"); do
  jpg="$work/inputs/photo_$i.jpg" png="$work/inputs/frame_$i.png"
  [ -f "$jpg" ] || /usr/bin/convert "$base" -modulate 100,$((90 + 10#$i % 20)),100 -quality 92 "$jpg"
  [ -f "$png" ] || /usr/bin/convert "$jpg" -resize 1920x1080! "$png"
  ln -s "$jpg" "$work/jpeg/"
  ln -s "$png" "$work/png/"
done

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work" TMPDIR="$work"
q="$work/bin/quillmere"
out="$work/out"

# Both cores busy: one file per process, two processes at a time.
each2() { # DIR EXT SCRIPT  (SCRIPT sees the file as $1 and the output folder as $2)
  find "$1" -name "*.$2" -print0 | xargs -0 -P2 -I{} bash -c "$3" _ {} "$out"
}
vips_adjust() { # the adjust preset as libvips operations: saturation (a luminance mix), the
  # linear brightness and contrast, gamma; intermediates in vips's own format
  local t="$work/vips_$$_$(basename "$1")"
  vips recomb "$1" "$t.1.v" "$work/adjust.mat" &&
    vips linear "$t.1.v" "$t.2.v" 1 "$adjust_offset" &&
    vips gamma "$t.2.v" "$out/$(basename "$1")[Q=80]" --exponent 1.2
  rm -f "$t".*.v
}
export -f vips_adjust
export work out
# brightness b = 0.1 (x(1 - b) + 255 b), saturation s = 1.2, contrast k = 0.1 (x + (x - 128) k):
# one matrix ((1 - b)(1 + k) times the saturation mix) and one offset (255 b (1 + k) - 128 k).
awk 'BEGIN { b = 0.1; s = 1.2; k = 0.1; f = (1 - b) * (1 + k); split("0.299 0.587 0.114", l, " ");
  print "3 3"; for (r = 1; r <= 3; r++) { line = "";
    for (c = 1; c <= 3; c++) line = line sprintf("%.6f ", f * ((1 - s) * l[c] + (r == c ? s : 0)));
    print line } }' >"$work/adjust.mat"
adjust_offset=$(echo "255 * 0.1 * 1.1 - 128 * 0.1" | bc -l)
export adjust_offset

jobs=(
  "resize@ours, 2 threads@QUILL_THREADS=2 $q -Console -Preset=0 $work/jpeg"
  "resize@ours, 1 thread@QUILL_THREADS=1 $q -Console -Preset=0 $work/jpeg"
  "resize@floor djpeg -scale 1/2 | cjpeg, -P2@each2 $work/jpeg jpg 'djpeg -scale 1/2 \"\$1\" | cjpeg -quality 80 >\"\$2/\$(basename \"\$1\")\"'"
  "resize@gm mogrify -size 2048x1536@(cd $work/jpeg && gm mogrify -output-directory $out -size 2048x1536 -resize 1024x768 -quality 80 *.jpg)"
  "resize@vipsthumbnail@vipsthumbnail --size 1024x768 -o $out/%s.jpg[Q=80] $work/jpeg/*.jpg"
  "resize@ImageMagick mogrify@/usr/bin/mogrify -path $out -filter Mitchell -resize 1024x768 -quality 80 $work/jpeg/*.jpg"
  "adjust@ours@$q -Console -Preset=1 $work/jpeg"
  "adjust@floor djpeg | cjpeg, -P2@each2 $work/jpeg jpg 'djpeg \"\$1\" | cjpeg -quality 80 >\"\$2/\$(basename \"\$1\")\"'"
  "adjust@vips recomb, linear, gamma, -P2@each2 $work/jpeg jpg 'vips_adjust \"\$1\"'"
  "convert@ours@$q -Console -Preset=2 $work/png"
  "convert@gm mogrify -format jpg@(cd $work/png && gm mogrify -output-directory $out -format jpg -quality 80 *.png)"
)

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for round in $(seq "$rounds"); do
  for i in "${!jobs[@]}"; do
    IFS='@' read -r _ _ command <<<"${jobs[$i]}"
    rm -rf "$out"; mkdir -p "$out"
    t0=$(date +%s.%N)
    eval "$command" >/dev/null 2>&1 || echo "round $round: failed: $command" >&2
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l >>"$work/times/$i"
    if [ "$round" = 1 ] && [ "$(ls "$out" | wc -l)" != "$count" ]; then
      echo "warning: $(ls "$out" | wc -l) outputs from: $command" >&2
    fi
  done
done

rm -rf "$out"; mkdir -p "$out"
rss=$(/usr/bin/time -f '%M' "$q" -Console -Preset=0 "$work/jpeg" 2>&1 >/dev/null | tail -1)
rm -rf "$out"; mkdir -p "$out"
"$q" -Console -Preset=3 "$work/jpeg" >/dev/null
pairs=()
for f in "$work"/jpeg/*.jpg; do
  name=$(basename "$f" .jpg)
  pairs+=("$f" "$out/$name.png")
done
psnr=$("$build/bench/reference_psnr" "${pairs[@]}" | tail -1)

printf '%d images (JPEG 4000x3000, PNG 1920x1080), %d rounds (medians), %d cores\n' \
  "$count" "$rounds" "$(nproc)"
printf '%-8s %-36s %9s %11s\n' job command seconds ours/this
declare -A ours
for i in "${!jobs[@]}"; do
  IFS='@' read -r job name _ <<<"${jobs[$i]}"
  t=$(median <"$work/times/$i")
  [ -n "${ours[$job]:-}" ] || ours[$job]=$t
  printf '%-8s %-36s %9.2f %11.2f\n' "$job" "$name" "$t" "$(echo "${ours[$job]} / $t" | bc -l)"
done
printf 'peak RSS of our resize run: %d MB\n' "$((rss / 1024))"
printf 'resize quality guard (ours against an exact Mitchell reduction): %s\n' "$psnr"
