#!/usr/bin/env bash
# End-to-end check of the window: starts the real program on a virtual X server with a folder
# of images, presses F5 on its main window, waits for the run to end the program (the Presets
# file sets "exit after the run") and checks the outputs.
#   tests/e2e/window_run.sh [BUILD_DIR]     (default build/asan)
# Everything the program writes (settings, lock, temporary files, outputs) stays in a scratch
# folder that is removed at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build/asan}" && pwd)"
program="$build/src/app/quillmere"
make_presets="$build/tests/e2e/make_window_presets"

if ! command -v xvfb-run >/dev/null || ! command -v Xvfb >/dev/null; then
  echo "window_run.sh: SKIPPED: xvfb-run (Xvfb) is not installed (scripts/bootstrap installs it)"
  exit 0
fi
for tool in xdotool identify; do
  if ! command -v "$tool" >/dev/null; then
    echo "window_run.sh: FAILED: $tool is missing (scripts/bootstrap installs it)" >&2
    exit 1
  fi
done
for file in "$program" "$make_presets"; do
  [ -x "$file" ] || { echo "window_run.sh: FAILED: $file is not built" >&2; exit 1; }
done

started=$SECONDS
scratch="$(mktemp -d "${TMPDIR:-/tmp}/quill_e2e.XXXXXX")"
pid=""
xvfb=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -9 "$pid" 2>/dev/null || true; fi
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "window_run.sh: FAILED: $*" >&2
  if [ -s "$scratch/program.log" ]; then
    echo "--- program output ---" >&2
    tail -n 40 "$scratch/program.log" >&2
  fi
  exit 1
}

export HOME="$scratch/home"
export XDG_CONFIG_HOME="$scratch/config"
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_DESKTOP_DIR="$scratch/desktop"
export TMPDIR="$scratch/tmp"
export LC_ALL=C.UTF-8
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$root/tests/e2e/lsan.supp"
unset LANGUAGE
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Quillmere" "$XDG_DESKTOP_DIR" "$TMPDIR" "$scratch/images" \
  "$scratch/output"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# A virtual X server of our own. It picks a free display number itself and writes it once it
# accepts connections, so checks and screenshot runs started at the same time never collide (as
# xvfb-run -a can) and nothing is started before the server is ready.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" \
  >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do
  [ -s "$scratch/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
  sleep 0.1
done
[ -s "$scratch/display" ] || fail "Xvfb gave no display within 10 s"
export DISPLAY=":$(head -n 1 "$scratch/display")"

cp "$root"/samples/* "$scratch/images/"
expected=$(find "$scratch/images" -type f | wc -l)
(cd "$scratch/images" && sha256sum -- * >"$scratch/sources.sha256")
"$make_presets" "$XDG_CONFIG_HOME/Quillmere/Presets" "$scratch/output" ||
  fail "could not write the Presets file"

"$program" "$scratch/images" >"$scratch/program.log" 2>&1 &
pid=$!

# The main window: the first visible window of the process.
main_window=""
for _ in $(seq 1 150); do
  kill -0 "$pid" 2>/dev/null || fail "the program ended before its window appeared"
  main_window="$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1 || true)"
  [ -n "$main_window" ] && break
  sleep 0.1
done
[ -n "$main_window" ] || fail "no window appeared within 15 s"

visible() {
  local shown
  shown="$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null || true)"
  grep -qx "$1" <<<"$shown"
}

# F5 is refused while the list is still being filled, so it is pressed again until the run has
# started: the run hides the main window (or, for a very quick run, the program has ended).
pressed=0
while kill -0 "$pid" 2>/dev/null && visible "$main_window"; do
  [ "$pressed" -lt 20 ] || fail "F5 did not start the run (pressed $pressed times)"
  xdotool windowfocus --sync "$main_window" 2>/dev/null || true
  xdotool key --clearmodifiers F5
  pressed=$((pressed + 1))
  for _ in $(seq 1 10); do
    kill -0 "$pid" 2>/dev/null && visible "$main_window" || break
    sleep 0.1
  done
done

# With "exit after the run" the program ends by itself once the run is over.
for _ in $(seq 1 400); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then fail "the program did not end within 40 s of the run start"; fi
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "the program ended with status $status"

# One decodable JPEG per source, fitted into 320 x 240; the sources are untouched.
outputs=$(find "$scratch/output" -type f | wc -l)
[ "$outputs" -eq "$expected" ] || fail "$outputs outputs for $expected images: $(ls -A "$scratch/output")"
for source in "$scratch"/images/*; do
  name="$(basename "${source%.*}").jpg"
  out="$scratch/output/$name"
  [ -f "$out" ] || fail "no output $name"
  read -r format width height < <(identify -format '%m %w %h\n' "$out" 2>/dev/null | head -n 1) ||
    fail "$name cannot be decoded"
  [ "$format" = "JPEG" ] || fail "$name is $format, not JPEG"
  { [ "$width" -le 320 ] && [ "$height" -le 240 ] && { [ "$width" -eq 320 ] || [ "$height" -eq 240 ]; }; } ||
    fail "$name is $width x $height, not fitted into 320 x 240"
done
(cd "$scratch/images" && sha256sum --quiet -c "$scratch/sources.sha256") || fail "a source changed"

echo "window_run.sh: passed: $expected images through the window run (F5 pressed $pressed times) in $((SECONDS - started)) s"
