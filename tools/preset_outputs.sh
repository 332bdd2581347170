#!/usr/bin/env bash
# Runs the six default presets over a copy of the test images with `quillmere -Console` and prints
# one line per file left afterwards (the images, the outputs and the error log): its SHA-256 and
# its path relative to the work folder, after the console lines. Two builds that print the same
# lines produced byte-identical outputs, names, numbering and messages.
#   tools/preset_outputs.sh PROGRAM > manifest.txt
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
program="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export TZ=UTC
# The program is copied so that its error log lands in the work folder, one copy per preset.
for preset in 0 1 2 3 4 5; do
  top="$work/p$preset"
  mkdir -p "$top/images" "$top/home" "$top/bin"
  cp "$program" "$top/bin/quillmere"
  # The decodable samples of every format; a fixed modification time keeps date placeholders and
  # file dates stable between the two runs.
  find "$root/tests/data" -type f \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' \
    -o -iname '*.bmp' -o -iname '*.gif' -o -iname '*.tif' -o -iname '*.tiff' -o -iname '*.tga' \
    -o -iname '*.pcx' -o -iname '*.ppm' -o -iname '*.pgm' -o -iname '*.pbm' -o -iname '*.ico' \
    -o -iname '*.jp2' -o -iname '*.j2k' \) -size -3M | sort | while read -r f; do
    rel="${f#"$root/tests/data/"}"
    cp "$f" "$top/images/${rel//\//_}"
  done
  find "$top/images" -type f -exec touch -d '2020-01-02 03:04:05' {} +
  # The outputs go to the preset's own Desktop (the %PD% of the default output folder).
  HOME="$top/home" XDG_CONFIG_HOME="$top/home/.config" XDG_RUNTIME_DIR="$top" TMPDIR="$top" \
    "$top/bin/quillmere" -Console "-Preset=$preset" "$top/images" >"$work/console.txt" 2>&1 || true
  sed "s|$work|WORK|g" "$work/console.txt" | sed "s/^/console $preset: /"
  rm "$top/bin/quillmere"
  sed -i "s|$work|WORK|g" "$top/bin/"*Errorlog* 2>/dev/null || true
  (cd "$work" && find "p$preset" -type f -print0 | sort -z | xargs -0 sha256sum)
done
