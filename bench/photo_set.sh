# Sourced by the benchmarks that work on real photos (bench/helper/run.sh,
# bench/sync/run.sh).
#
# make_photo_set SAMPLES DEST: 60 photos from the samples under distinct names
# in DEST: photo-0.jpg ... photo-29.jpg copied from SAMPLES/jpeg/ and
# SAMPLES/orientation/, taken in turn, and photo-N.heic made from the same
# JPEG with vips. There are 23 sample JPEGs, so photo-23 ... photo-29 repeat
# the content of photo-0 ... photo-6 (the HEICs too: vips encodes the same
# pixels to the same bytes).
make_photo_set() {
  local samples="$1" dest="$2"
  mkdir -p "$dest"
  local jpegs=("$samples"/jpeg/*.jpg "$samples"/orientation/*.jpg)
  local i j
  for i in $(seq 0 29); do
    j="${jpegs[$((i % ${#jpegs[@]}))]}"
    cp "$j" "$dest/photo-$i.jpg"
    vips copy "$j" "$dest/photo-$i.heic" 2>/dev/null
  done
}
