#!/usr/bin/env bash
# Peak resident memory of `quillmere -Console` on the largest inputs, per output format and per
# input format, and for a batch of several large images on several threads: the figures that
# show whether the process stays within its memory budget (1.5 GiB). One line per run:
#   what, threads, seconds, peak RSS in MiB, the console's result line.
#   [BUILD=build/dir] bench/memory_peak.sh [PROGRAM]    (default: the Release build of BUILD,
#   build/bench unless given)
# Inputs (about 3 GB, generated once) and outputs live in build/bench-memory; outputs are
# removed after each run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build/bench}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILL_BUILD_TESTS=OFF \
  -DQUILL_BUILD_BENCH=ON -DQUILL_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target quillmere make_memory_presets >/dev/null
program="$(realpath "${1:-$build/src/app/quillmere}")"

work="$root/build/bench-memory"
inputs="$work/inputs"
python3 "$root/bench/make_memory_inputs.py" "$inputs" 6
# A progressive JPEG and a JPEG 2000 file of the same picture, made once.
[ -f "$inputs/big.jpg" ] || cjpeg -progressive -quality 95 "$inputs/big.ppm" >"$inputs/big.jpg"
rm -rf "$work/bin" "$work/home" "$work/out" "$work/one"
mkdir -p "$work/bin" "$work/home" "$work/out" "$work/one"
cp "$program" "$work/bin/quillmere"
"$build/bench/make_memory_presets" "$work/bin/Quillmere_Presets" "$work/out/"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work" TMPDIR="$work"

# run NAME THREADS PRESET PATH...
run() {
  local name="$1" threads="$2" preset="$3"
  shift 3
  local start end
  start=$(date +%s.%N)
  QUILL_THREADS="$threads" /usr/bin/time -v -o "$work/time.txt" \
    "$work/bin/quillmere" -Console -IgnoreWarning "-Preset=$preset" "$@" >"$work/console.txt" 2>&1 || true
  end=$(date +%s.%N)
  printf '%-34s %2s threads %7.1f s %7d MiB  %s\n' "$name" "$threads" "$(echo "$end - $start" | bc)" \
    "$(($(awk '/Maximum resident/ {print $6}' "$work/time.txt") / 1024))" \
    "$(grep -a 'Result' "$work/console.txt" | tail -1)"
  rm -rf "$work/out" && mkdir -p "$work/out"
}

one() { # a single input in a folder of its own
  rm -f "$work/one/"* && ln "$1" "$work/one/"
  echo "$work/one"
}

echo "Output formats: 15000 x 15000 PNG"
run "to JPEG q10" 1 0 "$(one "$inputs/big.png")"
run "to PNG (from the BMP: PNG to PNG is a copy)" 1 1 "$(one "$inputs/big.bmp")"
run "to BMP" 1 2 "$(one "$inputs/big.png")"
run "to JPEG 2000 q10 (rate 2)" 1 3 "$(one "$inputs/big.png")"
run "to PDF q10" 1 4 "$(one "$inputs/big.png")"
run "to PNG 8-bit dithered" 1 5 "$(one "$inputs/big.png")"
run "enlarged to 120%, JPEG" 1 6 "$(one "$inputs/big.png")"
[ -f "$inputs/big.jp2" ] || {
  "$work/bin/quillmere" -Console -IgnoreWarning -Preset=3 "$(one "$inputs/big.png")" >/dev/null 2>&1 || true
  mv "$work/out/big.jp2" "$inputs/big.jp2"
}
echo "Input formats, to JPEG q10"
run "BMP 15000 x 15000" 1 0 "$(one "$inputs/big.bmp")"
run "TIFF 15000 x 15000" 1 0 "$(one "$inputs/big.tif")"
run "PPM 16000 x 16000" 1 0 "$(one "$inputs/big.ppm")"
run "progressive JPEG 16000 x 16000" 1 0 "$(one "$inputs/big.jpg")"
run "JPEG 2000 15000 x 15000" 1 0 "$(one "$inputs/big.jp2")"
echo "Batches"
run "six PPM 16000 x 16000 to JPEG" 4 0 "$inputs/batch"
run "six PPM 16000 x 16000 to JPEG" 1 0 "$inputs/batch"
run "six PPM 16000 x 16000 to JPEG 2000" 4 3 "$inputs/batch"
