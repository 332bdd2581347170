#!/usr/bin/env bash
# Takes the screenshot the AppStream data shows (data/screenshots/main-window.png): the program
# of a build (default build/package, made by scripts/package) on a virtual X server with the
# sample images in its list, in a scratch home so that the default presets show.
#   packaging/screenshots.sh [build folder]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:-$root/build/package}")"
out="$root/data/screenshots"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/home/.config" "$work/run" "$work/images"
chmod 700 "$work/run"
cp "$root"/samples/* "$work/images/"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run" \
  LANG=C.UTF-8 QUILL_REPORT_LIST_TO="$work/list.txt"
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
  "$1" "$2" & program=$!
  for _ in $(seq 1 300); do [ -s "$QUILL_REPORT_LIST_TO" ] && break; sleep 0.1; done
  sleep 1
  window="$(xdotool search --onlyvisible --name Quillmere | head -n 1)"
  import -window "$window" "$3"
  kill "$program"; wait "$program" || true' shot "$build/src/app/quillmere" "$work/images" \
  "$work/shot.png"
# A palette of 256 colours keeps the picture small; the window has few colours besides the images.
convert "$work/shot.png" -strip -colors 256 "PNG8:$out/main-window.png"
ls -l "$out/main-window.png"
