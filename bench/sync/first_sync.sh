#!/usr/bin/env bash
# The first sync of a large set of camera-sized photos, measured with
# hyperfine against `vipsthumbnail -s 512` over the same files (one process):
#   `add DIR` into a fresh library of N (default 2,000) distinct 12-megapixel
#   JPEGs, which probes and hashes every file and makes its 240 and 512
#   derivatives. Target: at least 2 times faster than the anchor, and a peak
#   memory (maximum resident set, /usr/bin/time -v) of at most 300 MB.
# The photos: 40 base pictures of 4000x3000 pixels (colour gradients with
# sensor-like noise and edges, ~4.5 MB each at camera-like quality, encoded by
# ffmpeg's JPEG encoder) carrying a camera's EXIF (maker, model, date; every
# fourth turned by its orientation tag 6, every tenth by 3); each of the N
# files is one of them with a comment segment of its own after the start
# marker, so that every file has distinct bytes (its own content hash, its own
# derivatives) and costs what a photo of that size costs to decode.
# The table at the end gives each figure, its anchor, the ratio, the target
# and met/missed (a missed target does not change the exit status).
#
#   bench/sync/first_sync.sh [BUILD_DIR]      default: build
# N sets the number of photos, RUNS hyperfine's run count (default 1; 1..3).
# The photos are made once under ${TMPDIR:-/tmp}/tolvek-first-sync-photos-N
# and kept there for the next run with REUSE=1 (the default; REUSE=0 makes
# them again; MAKE_ONLY=1 stops once they are made, so that they can be made
# outside the build lock). The scratch folder of the run ($HOME, $XDG_CONFIG_HOME and
# $XDG_DATA_HOME point into it) is removed at the end unless KEEP=1.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

for tool in hyperfine vipsthumbnail ffmpeg exiftool jq /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tolvek-photos-library tolvek_media >/dev/null
tool="$build/bin/tolvek-photos-library"

count="${N:-2000}"
runs="${RUNS:-1}"
bases=40
photos="${TMPDIR:-/tmp}/tolvek-first-sync-photos-$count"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvek-bench-first-sync.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
unset DISPLAY WAYLAND_DISPLAY
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$scratch/vt"
started=$SECONDS

# make_photos DEST: the N photos described above.
make_photos() {
  local dest="$1" base="$1.bases"
  rm -rf "$dest" "$base"
  mkdir -p "$dest" "$base"
  ffmpeg -v error -f lavfi \
    -i "gradients=s=4000x3000:n=5:speed=0.05:seed=29,noise=alls=2:allf=t,drawgrid=w=397:h=311:t=9:c=white@0.5,format=yuvj420p" \
    -frames:v "$bases" -q:v 9 "$base/base-%02d.jpg"
  exiftool -q -overwrite_original -Make=Tolvek -Model="Bench 12MP" "-DateTimeOriginal=2024:05:17 10:20:30" \
    -Orientation#=1 "$base"
  local b i
  for b in $(seq 1 4 "$bases"); do exiftool -q -overwrite_original -Orientation#=6 "$base/base-$(printf %02d "$b").jpg"; done
  for b in $(seq 5 10 "$bases"); do exiftool -q -overwrite_original -Orientation#=3 "$base/base-$(printf %02d "$b").jpg"; done
  # A comment segment (FF FE, length 12 with its own two bytes) right after
  # the start marker: ten characters of the file's number.
  for i in $(seq 0 $((count - 1))); do
    b="$base/base-$(printf %02d $((i % bases + 1))).jpg"
    { head -c 2 "$b"; printf '\xff\xfe\x00\x0c%-10s' "$i"; tail -c +3 "$b"; } > "$dest/photo-$(printf %05d "$i").jpg"
  done
  rm -rf "$base"
}

if [ "${REUSE:-1}" = 1 ] && [ "$(find "$photos" -name '*.jpg' 2>/dev/null | wc -l)" = "$count" ]; then
  echo "== reusing $count photos in $photos"
else
  echo "== making $count photos in $photos"
  t0=$SECONDS
  make_photos "$photos"
  echo "  made in $((SECONDS - t0)) s"
fi
[ "${MAKE_ONLY:-0}" = 1 ] && exit 0
bytes=$(find "$photos" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%d", s }')
echo "  $count files, $((bytes / 1000000)) MB, $(vipsheader "$photos/photo-00000.jpg")"
# Both read the files from the page cache.
cat "$photos"/*.jpg > /dev/null

json="$scratch/hyperfine.json"
hyperfine -N --runs "$runs" --style none --export-json "$json" --prepare "rm -rf $XDG_DATA_HOME" \
  "$tool add $photos" "vipsthumbnail -s 512 -o $scratch/vt/%s.jpg $(echo "$photos"/*.jpg)" >/dev/null
jq -r '.results[] | "  \(.mean * 1000 | round) ms ± \((.stddev // 0) * 1000 | round), CPU (user + system) \((.user + .system) * 1000 | round) ms  (\(.command | .[0:80]))"' "$json"
mapfile -t mean_ms < <(jq -r '.results[] | .mean * 1000' "$json")

# The peak memory of one more first sync.
rm -rf "$XDG_DATA_HOME"
/usr/bin/time -v "$tool" add "$photos" > "$scratch/add.tsv" 2> "$scratch/add.err"
peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$scratch/add.err")
assets=$(cut -f2 "$scratch/add.tsv" | sort -u | wc -l)
derivatives=$(find "$("$tool" path)/derivatives" -type f | wc -l)
echo "  the last sync: $assets assets, $derivatives derivatives, $(grep -v '^\s' "$scratch/add.err" | tail -1)"

faster=$(awk -v a="${mean_ms[0]}" -v b="${mean_ms[1]}" 'BEGIN { printf "%.2f", b / a }')
peak_mb=$(awk -v k="$peak_kb" 'BEGIN { printf "%.1f", k / 1024 }')
echo
echo "== results ($((SECONDS - started)) s; means of $runs hyperfine runs; $count files of $((bytes / count / 1000)) kB)"
{
  printf 'figure\tanchor\tratio\ttarget\tresult\n'
  printf 'first sync (add), %s photos (%.0f ms, %.1f files/s)\tvipsthumbnail -s 512 (%.0f ms)\t%sx faster\tat least 2x faster\t%s\n' \
    "$count" "${mean_ms[0]}" "$(awk -v n="$count" -v t="${mean_ms[0]}" 'BEGIN { print n / t * 1000 }')" "${mean_ms[1]}" "$faster" \
    "$(awk -v r="$faster" 'BEGIN { print (r >= 2 ? "met" : "missed") }')"
  printf 'peak memory of that sync\t300 MB\t%s MB\tat most 300 MB\t%s\n' "$peak_mb" \
    "$(awk -v m="$peak_mb" 'BEGIN { print (m <= 300 ? "met" : "missed") }')"
} | column -t -s $'\t'
