#!/usr/bin/env bash
# Side-by-side batch benchmark: fits a deterministic batch of 12-megapixel photographic JPEGs into
# 1024 x 768 at quality 80 with `quillmere -Console`, ImageMagick `mogrify -filter Mitchell`,
# GraphicsMagick `gm mogrify` and `vipsthumbnail`, in one run, and prints the median times and the
# ratios to our time.
#   bench/batch_vs_tools.sh [IMAGES] [ROUNDS]     (defaults: 24 images, 3 rounds)
# Installs GraphicsMagick and the vips tools when missing (Debian packages).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-24}"
rounds="${2:-3}"

"$root/scripts/bootstrap"
need=()
command -v gm >/dev/null || need+=(graphicsmagick)
command -v vipsthumbnail >/dev/null || need+=(libvips-tools)
command -v bc >/dev/null || need+=(bc)
if [ ${#need[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILL_BUILD_TESTS=OFF \
  -DQUILL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target quillmere make_batch_presets >/dev/null

work="$root/build/bench-batch"
rm -rf "$work"; mkdir -p "$work/src" "$work/bin" "$work/home" "$work/out"
cp "$build/src/app/quillmere" "$work/bin/"
"$build/bench/make_batch_presets" "$work/bin/Quillmere_Presets" "$work/out/"

# A deterministic photographic batch: a sample photograph scaled to 4000 x 3000 with a plasma
# texture and noise so it compresses like a photograph, varied per copy.
base="$work/base.jpg"
/usr/bin/convert "$root/tests/data/thirdparty/jpeg/goldenears.jpg" -resize 4000x3000! \
  \( -size 4000x3000 -seed 42 plasma:fractal \) -compose overlay -composite \
  -attenuate 0.3 +noise Gaussian -quality 92 "$base"
for i in $(seq -w 1 "$count"); do
  /usr/bin/convert "$base" -modulate 100,$((90 + 10#$i % 20)),100 -quality 92 "$work/src/photo_$i.jpg"
done

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work" TMPDIR="$work"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
run_rounds() { # command...  (runs in a fresh copy of the sources; prints the median seconds)
  local times=()
  for _ in $(seq "$rounds"); do
    rm -rf "$work/out" "$work/copy"; mkdir -p "$work/out"; cp -r "$work/src" "$work/copy"
    local t0 t1
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    times+=("$(echo "$t1 - $t0" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | median
}

ours=$(run_rounds "$work/bin/quillmere" -Console "$work/copy")
produced=$(ls "$work/out" | wc -l)
im=$(run_rounds /usr/bin/mogrify -path "$work/out" -filter Mitchell -resize 1024x768 -quality 80 "$work"/copy/*.jpg)
gm=$(run_rounds gm mogrify -output-directory "$work/out" -filter Mitchell -resize 1024x768 -quality 80 "$work"/copy/*.jpg)
vips=$(run_rounds vipsthumbnail -s 1024x768 -o "$work/out/%s.jpg[Q=80]" "$work"/copy/*.jpg)

# Ours includes a fixed 1.5 s pause after a successful console run (it lets a user read the result
# line); it is reported separately so the processing itself can be compared.
ours_work=$(echo "$ours - 1.5" | bc -l)
printf '%d images of 4000x3000, %d rounds (median), %d cores; quillmere wrote %d files\n' \
  "$count" "$rounds" "$(nproc)" "$produced"
printf '%-26s %8.2f s (%.2f s without the 1.5 s result pause)\n' "quillmere -Console" "$ours" "$ours_work"
printf '%-26s %8.2f s   ratio to ours %.2f\n' "ImageMagick mogrify" "$im" "$(echo "$im / $ours_work" | bc -l)"
printf '%-26s %8.2f s   ratio to ours %.2f\n' "GraphicsMagick mogrify" "$gm" "$(echo "$gm / $ours_work" | bc -l)"
printf '%-26s %8.2f s   ratio to ours %.2f\n' "vipsthumbnail" "$vips" "$(echo "$vips / $ours_work" | bc -l)"
