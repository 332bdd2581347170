#!/usr/bin/env bash
# Saves a picture of the main window on each of its fourteen settings pages and with settings
# that belong to no preset, of the presets window with a selected row and its delete question, and
# of the run's progress window (paused), result window, help text and summary in English and
# German, drawn by a real X server (xvfb-run), into the folder given as the first argument (default
# build/screenshots). QT_SCALE_FACTOR=2 in the environment draws them at twice the size.
# Needs a build with tests: cmake --build build/asan -j2 --target quill_app_ui_tests
#   quill_batch_ui_tests
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILL_BUILD_DIR:-$root/build/asan}"
out="$(realpath -m "${1:-$root/build/screenshots}")"
mkdir -p "$out"
export QUILL_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=xcb ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/app/ui/quill_app_ui_tests" --gtest_filter='MainWindowTest.Screenshots:PresetSaveTest.Screenshots'
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/batch/ui/quill_batch_ui_tests" --gtest_filter='WindowRunPictures.Screenshots'
ls "$out"/*.png
