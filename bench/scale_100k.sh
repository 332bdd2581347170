#!/usr/bin/env bash
# 100,000 files: small generated PNGs in 1,000 folders, every folder with a link back to the
# top (a loop), each file with its own date. One console run lists them, prepares them sorted
# by image date and converts them into mirrored folders. Prints the time until the list was
# loaded, the whole run's time, the peak resident memory, and how many outputs were written
# (each source exactly once: no more outputs than sources, no numbered duplicates).
# With LIST=1 the paths come from a list file (-List=) and the run is a dry run (-DryRun): the
# time to load the list, and the naming of every image without writing.
#   [BUILD=build/dir] [WORK=dir] [LIST=1] bench/scale_100k.sh [FOLDERS] [FILES_PER_FOLDER]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build/bench}"
work="${WORK:-$root/build/bench-scale}"
folders="${1:-1000}"
per_folder="${2:-100}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILL_BUILD_TESTS=OFF \
  -DQUILL_BUILD_BENCH=ON -DQUILL_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target quillmere make_batch_presets >/dev/null

rm -rf "$work"
mkdir -p "$work/bin" "$work/home" "$work/out" "$work/in"
python3 - "$work/in" "$folders" "$per_folder" <<'PY'
import os, struct, sys, zlib
top, folders, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def png(shade):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes([shade, 255 - shade, shade // 2]) * 8 for _ in range(8))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 8, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
images = [png(s) for s in range(256)]
n = 0
for f in range(folders):
    folder = os.path.join(top, "d%04d" % f)
    os.makedirs(folder)
    os.symlink("..", os.path.join(folder, "loop"))  # back to the top: a loop
    for i in range(per):
        path = os.path.join(folder, "p%03d.png" % i)
        with open(path, "wb") as out:
            out.write(images[n % 256])
        t = 1_600_000_000 + (n * 7919) % 100_000_000  # dates in no order of the names
        os.utime(path, (t, t))
        n += 1
PY
cp "$build/src/app/quillmere" "$work/bin/quillmere"
"$build/bench/make_batch_presets" "$work/bin/Quillmere_Presets" "$work/out/"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work" TMPDIR="$work"

sources=("$work/in")
data=/dev/stdout
if [ -n "${LIST:-}" ]; then
  # The dry run's lines go to a file as tab-separated values; people's lines to the clock.
  find "$work/in" -name '*.png' | sort >"$work/list.txt"
  sources=(-DryRun -Output=tsv "-List=$work/list.txt")
  data="$work/dry-run.tsv"
fi
start=$(date +%s.%N)
# Each console line with the time it arrived: the list is loaded when "Loaded images" comes.
/usr/bin/time -v -o "$work/time.txt" "$work/bin/quillmere" -Console -IgnoreWarning -Preset=4 \
  "${sources[@]}" 2>&1 >"$data" | while IFS= read -r line; do
  printf '%s %s\n' "$(date +%s.%N)" "$line"; done >"$work/console.txt" || true
end=$(date +%s.%N)
loaded_at=$(awk '/Loaded images/ {print $1; exit}' "$work/console.txt")
outputs=$(find "$work/out" -type f | wc -l)
numbered=$(find "$work/out" -type f -name '*(*' | wc -l)
printf 'files %d, loaded in %.1f s, whole run %.1f s, peak %d MiB, outputs %d, duplicates %d\n' \
  "$((folders * per_folder))" "$(echo "$loaded_at - $start" | bc)" "$(echo "$end - $start" | bc)" \
  "$(($(awk '/Maximum resident/ {print $6}' "$work/time.txt") / 1024))" "$outputs" "$numbered"
grep -a -E 'Loaded images|Result' "$work/console.txt" | cut -d' ' -f2-
