#!/usr/bin/env bash
# Saves pictures of the main window (image list page, filter page and overlay page) and of an edit
# field's context menu (Qt's own texts) in each of the eleven languages, drawn by a real X server
# (xvfb-run), into the folder given as the first argument (default build/language-screenshots).
# Needs a build with tests: cmake --build build/asan -j2 --target quill_language_ui_tests
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILL_BUILD_DIR:-$root/build/asan}"
out="$(realpath -m "${1:-$root/build/language-screenshots}")"
mkdir -p "$out"
export QUILL_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=xcb ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/tests/app/ui/quill_language_ui_tests" --gtest_filter='LanguageLayoutTest.Screenshots'
ls "$out"/*.png
