#!/usr/bin/env bash
# The fault sweep: for a move, a replace, a convert, a numbered rename that carries metadata and a
# PDF batch (make_sweep_presets.cpp), with 1 and 4 threads, runs the program once without a fault
# to count its file-system calls, then once for every call of every kind with that call failing
# (fault_inject.c) with one of EIO, ENOSPC, EACCES, EROFS, EDQUOT and EINTR in turn. After each
# run it checks the promises:
#   no loss:          every picture is still there, as its unchanged source or a complete output;
#   nothing partial:  no output name holds an incomplete file, and no temporary file is left;
#   no false success: a run that exits 0 wrote every output completely and settled every source
#                     as its preset says;
#   no silence:       a run that fails an image says so on the console and names the image in
#                     the error log; any other refusal is said on the console.
# Prints one line per broken promise and a summary; exits 1 when any promise was broken.
#   tests/fault_inject/sweep.sh BUILD_DIR [IMAGES]     (IMAGES: how many sources, default 4)
# QUILL_SWEEP_PRESETS (default "0 1 2 3 4") and QUILL_SWEEP_STEP (sweep every Nth call of each
# kind, default 1) make a shorter sweep.
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

# A complete output: a JPEG that ends with its end marker, a PNG whose last chunk is IEND, a PDF
# that ends with its end-of-file line.
complete() {
  case "$1" in
    *.jpg) [ "$(tail -c 2 "$1" | od -An -tx1 | tr -d ' \n')" = "ffd9" ] ;;
    *.png) [ "$(tail -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "49454e44ae426082" ] ;;
    *.pdf) tail -c 8 "$1" | grep -q '%%EOF' ;;
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
    bin/quillmere -Console -IgnoreWarning "-Preset=$1" "$work/t/in" >"$work/t/console" 2>&1)
  status=$?
  set -e
}

# The output of source $2 under preset $1.
output_of() {
  case $1 in
    0) echo "$work/t/out/img$2.jpg" ;;
    1) echo "$work/t/in/img$2.png" ;;
    2) echo "$work/t/out/img$2.png" ;;
    # Numbers go to the outputs written, so a source's number depends on those before it.
    3) local named=("$work/t/out/"\(???\)" img$2.jpg")
       if [ -e "${named[0]}" ]; then echo "${named[0]}"; else echo "$work/t/out/(000) img$2.jpg"; fi ;;
    4) echo "$work/t/out/img$2.pdf" ;;
  esac
}

# Checks the promises after run_once; prints a line per broken one.
check() {
  local preset=$1 label=$2 i source output lost=0 undone=0 partial=0 f
  local expected=()
  for i in $(seq 1 "$count"); do
    source="$work/t/in/img$i.jpg"
    output="$(output_of "$preset" "$i")"
    expected+=("$source" "$output")
    local kept=0 written=0
    cmp -s "$source" "$sample" && kept=1
    if [ -f "$output" ]; then
      if complete "$output"; then written=1; else partial=1; fi
    fi
    [ $kept = 0 ] && [ $written = 0 ] && lost=1
    [ $written = 0 ] && undone=1
    # The move, replace and PDF batches settle a source by removing it.
    case $preset in 0 | 1 | 4) [ -e "$source" ] && undone=1 ;; esac
  done
  # Anything else in the two folders is a leftover: a temporary file or a stray output.
  local leftovers=()
  while IFS= read -r -d '' f; do
    local known=0 e
    for e in "${expected[@]}"; do [ "$f" = "$e" ] && known=1; done
    [ $known = 1 ] || leftovers+=("${f#"$work"/t/}")
  done < <(find "$work/t/in" "$work/t/out" -type f -print0)
  if [ $lost = 1 ]; then echo "LOSS: $label"; losses=$((losses + 1)); fi
  if [ $partial = 1 ]; then echo "PARTIAL OUTPUT: $label"; partials=$((partials + 1)); fi
  if [ ${#leftovers[@]} -gt 0 ]; then
    echo "LEFT OVER: $label: ${leftovers[*]}"; leftover_runs=$((leftover_runs + 1))
  fi
  if [ "$status" = 0 ] && [ $undone = 1 ]; then
    echo "FALSE SUCCESS: $label"; false_successes=$((false_successes + 1))
  fi
  # A failed image is said on the console and named in the error log (beside the program: the
  # presets make it a portable run); another refusal is said on the console. Status 4 is the
  # instance lock, which leaves without a word.
  case $status in
    0 | 4) ;;
    1) if ! grep -q 'Error(s)' "$work/t/console" ||
         ! grep -q 'Image: ' "$work/t/bin/Quillmere_Errorlog.txt" 2>/dev/null; then
         echo "SILENT FAILURE: $label"; silent=$((silent + 1))
       fi ;;
    *) if [ ! -s "$work/t/console" ]; then echo "SILENT FAILURE: $label"; silent=$((silent + 1)); fi ;;
  esac
}

errnos=(5 28 13 30 122 4) # EIO ENOSPC EACCES EROFS EDQUOT EINTR
step="${QUILL_SWEEP_STEP:-1}"
runs=0 losses=0 partials=0 leftover_runs=0 false_successes=0 silent=0 injected=0 points=0
for preset in ${QUILL_SWEEP_PRESETS:-0 1 2 3 4}; do
  for threads in 1 4; do
    run_once "$preset" "$threads" none:0
    [ "$status" = 0 ] || { echo "the clean run of preset $preset failed ($status)"; exit 1; }
    check "$preset" "preset $preset, $threads threads, no fault"
    cp "$work/t/calls" "$work/clean"
    echo "preset $preset, $threads threads: $(awk '{s += $2} END {print s}' "$work/clean") call points" >&2
    while read -r kind calls; do
      points=$((points + calls))
      for n in $(seq 1 "$step" "$calls"); do
        code=${errnos[$((runs % ${#errnos[@]}))]}
        run_once "$preset" "$threads" "$kind:$n:$code"
        runs=$((runs + 1))
        grep -q '^injected' "$work/t/calls" 2>/dev/null && injected=$((injected + 1))
        check "$preset" "preset $preset, $threads threads, $kind call $n fails with errno $code (status $status)"
      done
    done < "$work/clean"
  done
done
echo "fault sweep: $points call points, $runs runs ($injected with the fault injected):" \
  "$losses losses, $partials partial outputs, $leftover_runs runs leaving files behind," \
  "$false_successes failures reported as success, $silent silent failures"
[ $losses = 0 ] && [ $partials = 0 ] && [ $leftover_runs = 0 ] && [ $false_successes = 0 ] &&
  [ $silent = 0 ]
