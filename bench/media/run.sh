#!/usr/bin/env bash
# Media benchmarks against the tools the work would otherwise be done with.
#   bench/media/run.sh [BUILD_DIR]      (default build-c; needs media_bench built)
# 1. 60 photos (the samples repeated under distinct names, half converted to
#    HEIC): 240-pixel image requests + JPEG at 0.8 served from derivatives,
#    against `vipsthumbnail -s 240x240` over the originals in one process.
# 2. Import: probe + derivatives per photo against the same vipsthumbnail run.
# 3. A resource write of a 1 GB file against cp.
# 4. Peak memory of a 240-pixel thumbnail of a 100-megapixel JPEG.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build-c}"
bench="$build/bin/media_bench"
samples="../shared/samples"
[ -x "$bench" ] || { echo "build media_bench first: cmake --build $build --target media_bench" >&2; exit 1; }
[ -d "$samples" ] || { echo "no samples at $samples" >&2; exit 1; }
work=$(mktemp -d /tmp/tolvek-media-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
photos="$work/photos"; mkdir -p "$photos" "$work/derivatives" "$work/vips"

# 30 JPEG and 30 HEIC photos from the real samples.
mapfile -t jpegs < <(ls "$samples"/jpeg/*.jpg "$samples"/orientation/*.jpg | sort)
i=0
while [ "$i" -lt 30 ]; do
  src="${jpegs[$((i % ${#jpegs[@]}))]}"
  cp "$src" "$photos/$(printf 'j%02d' "$i")-$(basename "$src")"
  i=$((i + 1))
done
cp "$samples/heif/iphone_13_pro_max.HEIC" "$photos/h00-iphone.HEIC"
cp "$samples/heif/samplefilehub.heif" "$photos/h01-samplefilehub.heif"
i=2
while [ "$i" -lt 30 ]; do
  src="${jpegs[$((i % ${#jpegs[@]}))]}"
  vips heifsave "$src" "$photos/$(printf 'h%02d' "$i")-$(basename "$src" .jpg).heic" --Q 80 2>/dev/null
  i=$((i + 1))
done
echo "photos: $(ls "$photos" | wc -l) ($(du -sh "$photos" | cut -f1))"

time_of() { local s e; s=$(date +%s.%N); "$@" >/dev/null; e=$(date +%s.%N); echo "$e - $s" | bc; }

echo "== vipsthumbnail -s 240x240 over the originals, one process"
vt=$(time_of vipsthumbnail -s 240x240 -o "$work/vips/%s.jpg[Q=80]" "$photos"/*)
vt2=$(time_of vipsthumbnail -s 240x240 -o "$work/vips/%s.jpg[Q=80]" "$photos"/*)
echo "vipsthumbnail: $vt s, again $vt2 s"

echo "== import: probe + derivatives (the phone HEIC alone first: its embedded thumbnail is too small for"
echo "   the 512-pixel derivative, so it is decoded in full, where vipsthumbnail at 240 uses the thumbnail)"
mkdir -p "$work/one" "$work/one-derivatives"
cp "$photos/h00-iphone.HEIC" "$work/one/"
"$bench" import "$work/one" "$work/one-derivatives"
echo "vipsthumbnail, that file: $(time_of vipsthumbnail -s 240x240 -o "$work/vips/%s.jpg[Q=80]" "$work/one/h00-iphone.HEIC") s"
"$bench" import "$photos" "$work/derivatives"
rm -rf "$work/derivatives"; mkdir -p "$work/derivatives"
"$bench" import "$photos" "$work/derivatives"

echo "== thumbs: 240-pixel requests + JPEG 0.8 from derivatives"
"$bench" thumbs "$photos" "$work/derivatives"
"$bench" thumbs "$photos" "$work/derivatives"

echo "== thumbs against vipsthumbnail, 5 runs each (hyperfine; whole processes, module load included)"
hyperfine -N -w 1 -r 5 --export-markdown "$work/thumbs.md" -n vipsthumbnail -n media_bench-thumbs \
  "vipsthumbnail -s 240x240 -o $work/vips/%s.jpg[Q=80] $(echo "$photos"/* | tr '\n' ' ')" \
  "$bench thumbs $photos $work/derivatives" >/dev/null 2>&1 || true
[ -f "$work/thumbs.md" ] && cat "$work/thumbs.md"

echo "== resource write of 1 GB against cp"
head -c 1073741824 /dev/urandom > "$work/big.mov"
sync
# Alternating order, after a sync, so neither side inherits the other's writeback.
for round in 1 2 3; do
  rm -f "$work/cp.mov" "$work/ours.mov"; sync
  if [ $((round % 2)) -eq 1 ]; then
    echo "cp: $(time_of cp "$work/big.mov" "$work/cp.mov") s"; sync
    "$bench" write "$work/big.mov" "$work/ours.mov"
  else
    "$bench" write "$work/big.mov" "$work/ours.mov"; sync
    echo "cp: $(time_of cp "$work/big.mov" "$work/cp.mov") s"
  fi
done
cmp "$work/big.mov" "$work/ours.mov" && echo "copy identical"
rm -f "$work/big.mov" "$work/cp.mov" "$work/ours.mov"

echo "== peak memory: 240-pixel thumbnail of a 100-megapixel JPEG"
vips black "$work/huge.jpg" 12000 8400 --bands 3
"$bench" peak "$work/huge.jpg"
