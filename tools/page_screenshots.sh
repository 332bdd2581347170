#!/usr/bin/env bash
# Saves a picture of the main window on each of its fourteen pages in English, German and
# Russian, and of the keyboard focus on each page in a light and a dark palette, drawn by a
# real X server (xvfb-run) on a 1024 x 768 screen at the scale given as the second argument
# (default 2), into the folder given as the first argument (default build/page-screenshots).
# Needs a build with tests: cmake --build build/asan -j2 --target quill_layout_ui_tests
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILL_BUILD_DIR:-$root/build/asan}"
out="$(realpath -m "${1:-$root/build/page-screenshots}")"
mkdir -p "$out"
export QUILL_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="${2:-2}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/app/ui/quill_layout_ui_tests" --gtest_filter='WindowLayoutTest.*Screenshots'
ls "$out"/*.png
