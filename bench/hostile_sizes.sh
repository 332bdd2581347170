#!/usr/bin/env bash
# Writes the hostile inputs (headers claiming huge sizes on a few bytes of data) into a temporary
# folder and loads each in a child process of its own, printing the declared size, whether it was
# refused, the time and the peak memory above a tiny valid image. Exits non-zero when a file is
# decoded, takes over a second or peaks over 64 MB above the tiny image.
#   bench/hostile_sizes.sh [BUILD_DIR]    (default build/bench, configured with QUILL_BUILD_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:-$root/build/bench}")"
program="$build/bench/hostile_sizes"
if [ ! -x "$program" ]; then
  echo "no $program: cmake --build $build --target hostile_sizes" >&2
  exit 2
fi
inputs="$(mktemp -d)"
trap 'rm -rf "$inputs"' EXIT
python3 "$root/bench/make_hostile_inputs.py" "$inputs"
"$program" "$inputs"
