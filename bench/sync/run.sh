#!/usr/bin/env bash
# Whole-process benchmarks of tolvek-photos-library's sources, each against
# the tool that does the least a user could otherwise run, measured with
# hyperfine:
#   1. The first sync of 60 real photos (bench/photo_set.sh: 30 JPEG, 30 HEIC;
#      46 distinct contents, as 7 of each kind repeat another's bytes):
#      `add DIR` into a fresh library, which probes and hashes every file and
#      makes the 240 and 512 JPEG derivatives once per content, against
#      `vipsthumbnail -s 512` over the same 60 files in one process.
#      Target: at most 1.0. Also the share of that run the 30 HEICs take,
#      bounded by runs over each half alone.
#   2. A sync with nothing changed over SIZE files (default 100,000, in
#      1,000 folders: 10 groups of 100; SIZE=1000000: 10,000 folders, 100
#      groups), against `find -printf` of each file's size, modification
#      time and inode, both on a warm cache, and its peak memory (maximum
#      resident set size, /usr/bin/time -v). To keep the set-up short
#      (bench/sync/make_tree.py, one process), all but 3 files in every
#      tenth folder are small text files (the catalog records them too, as
#      files that are no media, so they are not opened again); those 3 are
#      small generated JPEGs. Targets: at most 3.0 at 100,000 files; at most
#      1.25 and 150 MB at 1,000,000. Also the peak memory of the first sync
#      of those files: at 1,000,000 at most 300 MB and at most 2 times the
#      peak of the same first sync of 100,000 files (hard links to the first
#      10 groups), measured in the same run.
#   3. The library's own size after (1) against the originals' bytes: it must
#      hold derivatives and its catalog only, no copy of a referenced file.
# A table of every figure with its anchor, ratio and target ends the output;
# a missed target says "missed" there and the script still exits 0.
#
#   bench/sync/run.sh [BUILD_DIR]      default: build
# SIZE=1000000 measures (2) alone, at that size (parts 1 and 3 do not
# depend on it).
# Everything happens in a scratch folder under ${TMPDIR:-/tmp} ($HOME,
# $XDG_CONFIG_HOME and $XDG_DATA_HOME point into it), removed at the end
# (KEEP=1 keeps it). RUNS sets hyperfine's run count (default 10).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
samples="$root/../shared/samples"
source "$root/bench/photo_set.sh"

for tool in hyperfine vips vipsthumbnail ffmpeg jq sha256sum; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -d "$samples" ] || { echo "no samples at $samples" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tolvek-photos-library tolvek_media >/dev/null
tool="$build/bin/tolvek-photos-library"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvek-bench-sync.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
unset DISPLAY WAYLAND_DISPLAY
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config"
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
runs="${RUNS:-10}"
size="${SIZE:-100000}"
case "$size" in 100000) groups=10 ;; 1000000) groups=100 ;; *) echo "SIZE: 100000 or 1000000" >&2; exit 1 ;; esac

# measure LABEL PREPARE COMMAND... -> prints each command's mean, deviation,
# median and CPU time; sets mean_ms to their means in ms. PREPARE (may be
# empty) runs before every run of every command.
measure() {
  local label="$1" prepare="$2"
  shift 2
  local json="$scratch/hyperfine.json"
  local args=(-N --warmup 2 --runs "$runs" --style none --export-json "$json")
  [ -n "$prepare" ] && args+=(--prepare "$prepare")
  # -N runs the commands without a shell.
  hyperfine "${args[@]}" "$@" >/dev/null
  echo "$label"
  jq -r '.results[] | "  \(.mean * 1000 | . * 100 | round / 100) ms ± \(.stddev * 1000 | . * 100 | round / 100), median \(.median * 1000 | . * 100 | round / 100) ms, CPU (user + system) \((.user + .system) * 1000 | . * 100 | round / 100) ms  (\(.command | .[0:140]))"' "$json"
  mapfile -t mean_ms < <(jq -r '.results[] | .mean * 1000' "$json")
}

rows=()
# row FIGURE OURS ANCHOR RATIO TARGET RESULT: one line of the final table.
row() {
  local IFS=$'\t'
  rows+=("$*")
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t ? "met" : "missed") }'; }
ms() { awk -v v="$1" 'BEGIN { printf "%.1f ms", v }'; }

if [ "$size" = 100000 ]; then
# 1. First sync of 60 real photos.
echo "== first sync: 60 real photos (30 JPEG, 30 HEIC)"
photos="$scratch/photos"
make_photo_set "$samples" "$photos"
heics="$scratch/photos-heic" jpegs="$scratch/photos-jpeg"
mkdir -p "$heics" "$jpegs" "$scratch/vt"
cp "$photos"/*.heic "$heics/"
cp "$photos"/*.jpg "$jpegs/"
echo "  $(ls "$photos" | wc -l) files, $(sha256sum "$photos"/* | cut -d' ' -f1 | sort -u | wc -l) distinct contents, $(du -sh "$photos" | cut -f1)"
export XDG_DATA_HOME="$scratch/data"
# Every run of `add` starts from no library at all.
measure "add <60 photos> vs vipsthumbnail -s 512 (one process); the same for each half alone" \
  "rm -rf $XDG_DATA_HOME" \
  "$tool add $photos" "vipsthumbnail -s 512 -o $scratch/vt/%s.jpg $(echo "$photos"/*)" \
  "$tool add $heics" "vipsthumbnail -s 512 -o $scratch/vt/%s.jpg $(echo "$heics"/*)" \
  "$tool add $jpegs" "vipsthumbnail -s 512 -o $scratch/vt/%s.jpg $(echo "$jpegs"/*)"
first=$(ratio "${mean_ms[0]}" "${mean_ms[1]}")
row "first sync, 60 photos (30 HEIC)" "$(ms "${mean_ms[0]}")" "$(ms "${mean_ms[1]}") vipsthumbnail -s 512" \
  "$first" "<= 1.00" "$(verdict "$first" 1.00)"
row "first sync, the 30 HEICs alone" "$(ms "${mean_ms[2]}")" "$(ms "${mean_ms[3]}") vipsthumbnail -s 512" \
  "$(ratio "${mean_ms[2]}" "${mean_ms[3]}")" "-" "-"
row "first sync, the 30 JPEGs alone" "$(ms "${mean_ms[4]}")" "$(ms "${mean_ms[5]}") vipsthumbnail -s 512" \
  "$(ratio "${mean_ms[4]}" "${mean_ms[5]}")" "-" "-"
# The share of the run over all 60 that the HEICs take: for the anchor that
# is decoding them and writing a thumbnail; for ours also hashing them and
# making two derivatives. Each half's run pays a whole process start, so the
# HEIC half alone over all 60 overstates the share and one minus the JPEG
# half alone over all 60 understates it: the share lies between the two.
share() { awk -v all="$1" -v heic="$2" -v jpeg="$3" 'BEGIN { printf "%.0f-%.0f%%", (1 - jpeg / all) * 100, heic / all * 100 }'; }
row "HEIC share of the run over all 60" "$(share "${mean_ms[0]}" "${mean_ms[2]}" "${mean_ms[4]}")" \
  "$(share "${mean_ms[1]}" "${mean_ms[3]}" "${mean_ms[5]}") vipsthumbnail" "-" "reported" "-"

# 3. The library's own size, from one more first sync (hyperfine's last
# prepare removed the library).
echo "== the library's size after the first sync of the 60 photos"
rm -rf "$XDG_DATA_HOME"
"$tool" add "$photos" > "$scratch/photos.tsv" 2> "$scratch/photos.err" || { cat "$scratch/photos.err" >&2; exit 1; }
library=$("$tool" path)
library_bytes=$(du -sb "$library" | cut -f1)
originals_bytes=$(find "$photos" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
derivative_files=$(find "$library/derivatives" -type f | wc -l)
owned_files=$(find "$library/originals" -type f 2>/dev/null | wc -l)
# No file of the library has the bytes of a referenced original.
copies=$(comm -12 <(sha256sum "$photos"/* | cut -d' ' -f1 | sort -u) \
                  <(find "$library" -type f -exec sha256sum {} + | cut -d' ' -f1 | sort -u) | wc -l)
echo "  $(cut -f2 "$scratch/photos.tsv" | sort -u | wc -l) assets; library $library_bytes bytes: derivatives $(du -sb "$library/derivatives" | cut -f1) bytes in $derivative_files files, the rest: $(find "$library" -maxdepth 1 -type f -printf '%f %s bytes, ' | sed 's/, $//')"
echo "  originals $originals_bytes bytes; files in originals/: $owned_files; library files with an original's bytes: $copies"
size_share=$(awk -v a="$library_bytes" -v b="$originals_bytes" 'BEGIN { printf "%.1f%%", a / b * 100 }')
size_result=missed
[ "$owned_files" = 0 ] && [ "$copies" = 0 ] && [ "$derivative_files" -gt 0 ] && size_result=met

fi

# 2. A sync with nothing changed over SIZE files.
# peak_kb COMMAND...: runs it once, with its output dropped; sets peak_kb to
# its maximum resident set size.
peak_kb() {
  /usr/bin/time -v -o "$scratch/time.txt" "$@" > /dev/null 2> "$scratch/peak.err" || { cat "$scratch/peak.err" >&2; exit 1; }
  peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$scratch/time.txt")
}
mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }
echo "== sync with nothing changed: $size files in $((groups * 100)) folders"
tree="$scratch/tree"
t0=$SECONDS
mkdir -p "$scratch/pictures"
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -frames:v $((groups * 30)) "$scratch/pictures/picture-%03d.jpg"
python3 "$root/bench/sync/make_tree.py" "$tree" "$groups" "$scratch/pictures"
echo "  $(find "$tree" -type f | wc -l) files ($(find "$tree" -name '*.jpg' | wc -l) pictures) in $(find "$tree" -mindepth 2 -type d | wc -l) folders, made in $((SECONDS - t0)) s"
export XDG_DATA_HOME="$scratch/data-tree"
t0=$SECONDS
peak_kb "$tool" add "$tree"
first_kb=$peak_kb
echo "  first add: $((SECONDS - t0)) s, peak memory $(mb "$first_kb"), $(tail -1 "$scratch/peak.err")"
if [ "$size" != 100000 ]; then
  # The anchor of the first sync's memory: the same first sync of the
  # first 10 groups (100,000 files), as hard links, into a library of its own.
  mkdir -p "$scratch/tree-100000"
  for g in $(seq 0 9); do cp -al "$tree/group-$g" "$scratch/tree-100000/"; done
  t0=$SECONDS
  XDG_DATA_HOME="$scratch/data-100000" peak_kb "$tool" add "$scratch/tree-100000"
  small_kb=$peak_kb
  echo "  first add of 100,000 of them: $((SECONDS - t0)) s, peak memory $(mb "$small_kb")"
  rm -rf "$scratch/tree-100000" "$scratch/data-100000"
fi
"$tool" sync 2> "$scratch/nochange.err"
echo "  $(tail -1 "$scratch/nochange.err")"
peak_kb "$tool" sync
nochange_kb=$peak_kb
echo "  peak memory of a sync with nothing changed: $(mb "$nochange_kb")"
if command -v strace >/dev/null; then
  # What a sync with nothing changed opens in the tree: its folders only.
  # -y names the folder each openat is relative to.
  opened=$(strace -f -y -e trace=open,openat "$tool" sync 2>&1 >/dev/null | grep -F "\"$tree" | grep -vc O_DIRECTORY || true)
  echo "  files of the tree opened by that sync (folders aside): $opened"
fi
measure "sync (nothing changed) vs find -printf size, mtime, inode (warm cache)" "" \
  "$tool sync" "find $tree -type f -printf '%s %T@ %i\n'"
nochange=$(ratio "${mean_ms[0]}" "${mean_ms[1]}")
if [ "$size" = 100000 ]; then
  row "sync, nothing changed, 100,000 files" "$(ms "${mean_ms[0]}")" "$(ms "${mean_ms[1]}") find -printf" \
    "$nochange" "<= 3.00" "$(verdict "$nochange" 3.00)"
  row "  its peak memory" "$(mb "$nochange_kb")" "-" "-" "reported" "-"
  row "first sync, 100,000 files: peak memory" "$(mb "$first_kb")" "-" "-" "reported" "-"
  row "library size after the first sync" "$library_bytes bytes" "$originals_bytes bytes of originals" \
    "$size_share" "derivatives only" "$size_result"
else
  row "sync, nothing changed, 1,000,000 files" "$(ms "${mean_ms[0]}")" "$(ms "${mean_ms[1]}") find -printf" \
    "$nochange" "<= 1.25" "$(verdict "$nochange" 1.25)"
  row "  its peak memory" "$(mb "$nochange_kb")" "150 MB" "$(ratio "$nochange_kb" 153600)" "<= 1.00" \
    "$(verdict "$nochange_kb" 153600)"
  first_ratio=$(ratio "$first_kb" "$small_kb")
  row "first sync, 1,000,000 files: peak memory" "$(mb "$first_kb")" "300 MB" "$(ratio "$first_kb" 307200)" \
    "<= 1.00" "$(verdict "$first_kb" 307200)"
  row "  against its first sync of 100,000" "$(mb "$first_kb")" "$(mb "$small_kb") at 100,000" "$first_ratio" \
    "<= 2.00" "$(verdict "$first_ratio" 2.00)"
fi

echo
echo "means of $runs hyperfine runs each, after 2 warm-up runs; ratio = ours / anchor"
{
  printf 'figure\tours\tanchor\tratio\ttarget\tresult\n'
  printf '%s\n' "${rows[@]}"
} | column -t -s $'\t'
