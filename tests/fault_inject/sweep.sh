#!/usr/bin/env bash
# The fault sweep: for a move, a replace and a convert batch, with 1 and 4 threads, runs the
# program once without a fault to count its file-system calls, then once for every call of every
# kind with that call failing (fault_inject.c). After each run it checks the two promises:
#   no loss:          every picture is still there, as its unchanged source or a complete output;
#   no false success: a run that exits 0 wrote every output completely and settled every source
#                     as its preset says.
# Prints one line per broken promise and a summary; exits 1 when any promise was broken.
#   tests/fault_inject/sweep.sh BUILD_DIR [IMAGES]     (IMAGES: how many sources, default 4)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
count="${2:-4}"
program="$build/src/app/quillmere"
library="$build/tests/fault_inject/quill_fault_inject.so"
make_presets="$build/tests/fault_inject/make_sweep_presets"
sample="$root/tests/data/thirdparty/exif/Canon_40D.jpg"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# One copy for the whole sweep, so that a rebuild meanwhile does not change the program under test.
cp "$program" "$work/quillmere"
program="$work/quillmere"
export TZ=UTC ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=0:abort_on_error=1"

# A complete output: a JPEG that ends with its end marker, a PNG whose last chunk is IEND.
complete() {
  case "$1" in
    *.jpg) [ "$(tail -c 2 "$1" | od -An -tx1 | tr -d ' \n')" = "ffd9" ] ;;
    *.png) [ "$(tail -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "49454e44ae426082" ] ;;
  esac
}

# Lays out a fresh scratch folder and runs preset $1 with $2 threads and fault $3.
run_once() {
  rm -rf "$work/t"
  mkdir -p "$work/t/bin" "$work/t/in" "$work/t/out" "$work/t/home" "$work/t/run"
  cp "$program" "$work/t/bin/quillmere"
  "$make_presets" "$work/t/bin/Quillmere_Presets" "$work/t/out"
  for i in $(seq 1 "$count"); do cp "$sample" "$work/t/in/img$i.jpg"; done
  set +e
  (cd "$work/t" && timeout 300 env LD_PRELOAD="$library" QUILL_FAULT="$3" \
    QUILL_FAULT_COUNT="$work/t/calls" QUILL_THREADS="$2" HOME="$work/t/home" \
    XDG_CONFIG_HOME="$work/t/home/.config" XDG_RUNTIME_DIR="$work/t/run" TMPDIR="$work/t/run" \
    bin/quillmere -Console -IgnoreWarning "-Preset=$1" "$work/t/in" >/dev/null 2>&1)
  status=$?
  set -e
}

# Checks the promises after run_once; prints a line per broken one.
check() {
  local preset=$1 label=$2 i source output lost=0 undone=0
  for i in $(seq 1 "$count"); do
    source="$work/t/in/img$i.jpg"
    case $preset in
      0) output="$work/t/out/img$i.jpg" ;;
      1) output="$work/t/in/img$i.png" ;;
      2) output="$work/t/out/img$i.png" ;;
    esac
    local kept=0 written=0
    cmp -s "$source" "$sample" && kept=1
    [ -f "$output" ] && complete "$output" && written=1
    [ $kept = 0 ] && [ $written = 0 ] && lost=1
    [ $written = 0 ] && undone=1
    [ "$preset" != 2 ] && [ -e "$source" ] && undone=1
  done
  if [ $lost = 1 ]; then echo "LOSS: $label"; losses=$((losses + 1)); fi
  if [ "$status" = 0 ] && [ $undone = 1 ]; then
    echo "FALSE SUCCESS: $label"; false_successes=$((false_successes + 1))
  fi
}

runs=0 losses=0 false_successes=0 injected=0
for preset in 0 1 2; do
  for threads in 1 4; do
    run_once "$preset" "$threads" none:0
    [ "$status" = 0 ] || { echo "the clean run of preset $preset failed ($status)"; exit 1; }
    cp "$work/t/calls" "$work/clean"
    while read -r kind calls; do
      for n in $(seq 1 "$calls"); do
        run_once "$preset" "$threads" "$kind:$n"
        runs=$((runs + 1))
        grep -q '^injected' "$work/t/calls" 2>/dev/null && injected=$((injected + 1))
        check "$preset" "preset $preset, $threads threads, $kind call $n fails (status $status)"
      done
    done < "$work/clean"
  done
done
echo "fault sweep: $runs runs ($injected with the fault injected), $losses losses, $false_successes failures reported as success"
[ $losses = 0 ] && [ $false_successes = 0 ]
