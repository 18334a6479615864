#!/usr/bin/env bash
# Whole-process benchmarks of the helper, each against the tool a user would
# otherwise run, measured with hyperfine (peak memory with /usr/bin/time -v):
#   catalog  albums, list - 500 and list <album> 500 on 100,000 assets and
#            1,000 albums, against the sqlite3 shell running the same queries
#   thumbs   thumbs 240 over 60 real photos (half HEIC), against vipsthumbnail
#            over the same originals in one process; thumbs 1024 too
#   export   20 phone HEIC photos against heif-convert; a 1 GB video against cp
#
#   bench/helper/run.sh [BUILD_DIR] [catalog|thumbs|heic|video|export|all]   default: build-e all
# (export = heic + video)
# Everything happens in a scratch folder under ${TMPDIR:-/tmp}, removed at the
# end (KEEP=1 keeps it). RUNS sets hyperfine's run count.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${1:-build-e}"
what="${2:-all}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
samples="$root/../shared/samples"
source "$root/bench/photo_set.sh"

for tool in hyperfine sqlite3 vips vipsthumbnail heif-convert ffmpeg jq /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tolvek-photos tolvek-photos-library tolvek_media catalog_bench >/dev/null
helper="$build/bin/tolvek-photos"
tool="$build/bin/tolvek-photos-library"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvek-bench-helper.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
unset DISPLAY WAYLAND_DISPLAY

# hyperfine NAME... COMMAND... -> mean and deviation of each, in ms, and the
# ratio of the first to the second.
compare() {
  local runs="$1" label="$2" ours="$3" theirs="$4" prepare="${5:-}" ignore="${6:-}"
  local json="$scratch/hyperfine.json"
  local warmup=2
  [ "$runs" -le 5 ] && warmup=1
  local args=(-N --warmup "$warmup" --runs "$runs" --style none --export-json "$json")
  [ -n "$prepare" ] && args+=(--prepare "$prepare")
  [ -n "$ignore" ] && args+=(-i)
  # -N runs the command without a shell; commands that need one say bash -c.
  hyperfine "${args[@]}" "$ours" "$theirs" >/dev/null
  jq -r --arg name "$label" '
    .results as $r
    | "\($name)\n  ours:   \($r[0].mean * 1000 | . * 100 | round / 100) ms ± \($r[0].stddev * 1000 | . * 100 | round / 100)  (\($r[0].command | .[0:140]))\n  theirs: \($r[1].mean * 1000 | . * 100 | round / 100) ms ± \($r[1].stddev * 1000 | . * 100 | round / 100)  (\($r[1].command | .[0:140]))\n  ratio:  \($r[0].mean / $r[1].mean | . * 100 | round / 100)x (theirs / ours: \($r[1].mean / $r[0].mean | . * 100 | round / 100)x); medians \($r[0].median * 1000 | . * 100 | round / 100) / \($r[1].median * 1000 | . * 100 | round / 100) ms; CPU (user + system) \(($r[0].user + $r[0].system) * 1000 | . * 100 | round / 100) / \(($r[1].user + $r[1].system) * 1000 | . * 100 | round / 100) ms"' "$json"
}

peak_kb() {  # command... -> peak resident set size in kB
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}

bench_catalog() {
  echo "== catalog: 100,000 assets, 1,000 albums"
  export XDG_DATA_HOME="$scratch/catalog"
  local t0=$SECONDS
  # The catalog benchmark's bulk rows: "Album 0" (row 3, after the two smart
  # albums) holds every fifth asset, 999 more albums share the rest.
  "$build/bin/catalog_bench" --fill "$XDG_DATA_HOME" --assets 100000 --albums 1000
  local catalog
  catalog="$("$tool" path)/catalog.sqlite"
  "$tool" access grant
  echo "  built in $((SECONDS - t0)) s: $(sqlite3 "$catalog" "SELECT (SELECT COUNT(*) FROM asset) || ' assets, ' || (SELECT COUNT(*) FROM collection WHERE type = 1) || ' albums, ' || (SELECT COUNT(*) FROM collection WHERE type = 3) || ' moments'")"

  local big small
  big=$(sqlite3 "$catalog" "SELECT identifier FROM collection WHERE id = 3")
  small=$(sqlite3 "$catalog" "SELECT identifier FROM collection WHERE id = 500")
  # The same documents' data through the shell, as JSON too.
  local item="identifier, original_filename, strftime('%Y-%m-%dT%H:%M:%SZ', creation_date, 'unixepoch'), media_type = 2"
  {
    echo "SELECT id, identifier, title FROM collection WHERE type = 1 ORDER BY id;"
    sqlite3 "$catalog" "SELECT 'SELECT COUNT(*) FROM membership WHERE collection_id = ' || id || ' AND media_type IN (1, 2);' FROM collection WHERE type = 1 ORDER BY id"
  } > "$scratch/albums.sql"
  cat > "$scratch/list.sql" <<SQL
SELECT a.identifier, r.original_filename, strftime('%Y-%m-%dT%H:%M:%SZ', a.creation_date, 'unixepoch'), a.media_type = 2
FROM asset a JOIN resource r ON r.asset_id = a.id AND r.position = 0
WHERE a.media_type IN (1, 2) ORDER BY a.creation_date DESC, a.id DESC LIMIT 500;
SQL
  for album in big small; do
    cat > "$scratch/list-$album.sql" <<SQL
SELECT id FROM collection WHERE identifier = '${!album}';
SELECT m.identifier, r.original_filename, strftime('%Y-%m-%dT%H:%M:%SZ', m.creation_date, 'unixepoch'), m.media_type = 2
FROM membership m JOIN resource r ON r.asset_id = m.asset_id AND r.position = 0
WHERE m.collection_id = (SELECT id FROM collection WHERE identifier = '${!album}') AND m.media_type IN (1, 2)
ORDER BY m.creation_date DESC, m.asset_id DESC LIMIT 500;
SQL
  done
  echo "  $(grep -c '^SELECT' "$scratch/albums.sql") queries for albums; $("$helper" albums | jq '.albums | length') albums listed, $("$helper" list - 500 | jq '.items | length') and $("$helper" list "$big" 500 | jq '.items | length') items listed"
  local runs="${RUNS:-30}"
  compare "$runs" "albums vs sqlite3 (1,001 queries)" "$helper albums" "sqlite3 -json $catalog '.read $scratch/albums.sql'"
  compare "$runs" "list - 500 vs sqlite3" "$helper list - 500" "sqlite3 -json $catalog '.read $scratch/list.sql'"
  compare "$runs" "list <album of 20,000> 500 vs sqlite3" "$helper list $big 500" "sqlite3 -json $catalog '.read $scratch/list-big.sql'"
  compare "$runs" "list <album of ~80> 500 vs sqlite3" "$helper list $small 500" "sqlite3 -json $catalog '.read $scratch/list-small.sql'"
  echo "  peak memory: albums $(peak_kb "$helper" albums) kB, list $(peak_kb "$helper" list - 500) kB"
  # Where a run's fixed cost goes: starting the process and its libraries.
  compare "$runs" "start-up floor: tolvek-photos (usage path, no library) vs sqlite3 :memory: (no query)" \
    "$helper" "sqlite3 :memory: ''" "" ignore
  loader() {  # command... -> libraries, relocations and loader time
    LD_DEBUG=statistics "$@" 2>&1 >/dev/null | awk -v libs="$(ldd "$1" | wc -l)" '
      /total startup time/ { cycles = $(NF-1) } /number of relocations:/ { relocs = $NF }
      END { printf "%d libraries, %d symbol relocations, %.2f ms in the loader at 2.6 GHz", libs, relocs, cycles / 2.6e6 }'
  }
  echo "  loader: tolvek-photos list - 500: $(loader "$helper" list - 500)"
  echo "  loader: sqlite3:                  $(loader "$(command -v sqlite3)" -json "$catalog" ".read $scratch/list.sql")"
  if ldd "$helper" | grep -q 'libcurl\.so'; then
    # The same runs with libcurl's dependency tree taken away (a stand-in
    # libcurl that nothing here calls): what loading it on demand would save.
    mkdir -p "$scratch/nocurl"
    echo 'CURL_OPENSSL_4 { global: *; };' > "$scratch/nocurl/version.map"
    cc -O2 -shared -fPIC -Wl,--version-script="$scratch/nocurl/version.map" -Wl,-soname,libcurl.so.4 \
      -o "$scratch/nocurl/libcurl.so.4" "$root/bench/helper/libcurl_stub.c"
    local stub="env LD_LIBRARY_PATH=$scratch/nocurl"
    echo "  without libcurl's tree: $(LD_LIBRARY_PATH="$scratch/nocurl" ldd "$helper" | wc -l) libraries"
    compare "$runs" "albums without libcurl's tree vs sqlite3 (1,001 queries)" "$stub $helper albums" "sqlite3 -json $catalog '.read $scratch/albums.sql'"
    compare "$runs" "list - 500 without libcurl's tree vs sqlite3" "$stub $helper list - 500" "sqlite3 -json $catalog '.read $scratch/list.sql'"
    compare "$runs" "list <album of 20,000> 500 without libcurl's tree vs sqlite3" "$stub $helper list $big 500" "sqlite3 -json $catalog '.read $scratch/list-big.sql'"
    compare "$runs" "usage path without libcurl's tree vs sqlite3 :memory:" "$stub $helper" "sqlite3 :memory: ''" "" ignore
  fi
  unset XDG_DATA_HOME
}

# The 60 photos of bench/photo_set.sh (30 JPEG, 30 HEIC made from the same
# JPEGs with vips) and two generated videos, imported.
make_photo_library() {
  export XDG_DATA_HOME="$scratch/photos"
  local src="$scratch/photo-src"
  make_photo_set "$samples" "$src"
  ffmpeg -v error -y -f lavfi -i testsrc=size=1280x720:rate=30 -t 3 -pix_fmt yuv420p "$src/video-1.mp4"
  ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 -t 3 -pix_fmt yuv420p "$src/video-2.mov"
  "$tool" import "$src" > "$scratch/photos.tsv"
  "$tool" access grant
  photo_ids=$(grep -v '/video-' "$scratch/photos.tsv" | cut -f1 | paste -sd, -)
  video_ids=$(grep '/video-' "$scratch/photos.tsv" | cut -f1 | paste -sd, -)
  photo_files=$(grep -v '/video-' "$scratch/photos.tsv" | cut -f2 | tr '\n' ' ')
}

bench_thumbs() {
  [ -d "$samples" ] || { echo "== thumbs: no samples at $samples, skipped"; return; }
  echo "== thumbs: 60 real photos (30 JPEG, 30 HEIC) and 2 videos"
  make_photo_library
  echo "  $(tr ',' '\n' <<< "$photo_ids" | wc -l) photo ids; $("$helper" thumbs 240 "$photo_ids,$video_ids" | jq '.thumbs | length') thumbnails with the videos"
  mkdir -p "$scratch/vt"
  local runs="${RUNS:-10}"
  # vipsthumbnail writes next to -o's folder; one process for all 60.
  compare "$runs" "thumbs 240 <60 photos> vs vipsthumbnail -s 240x240 (60 files, one process)" \
    "$helper thumbs 240 $photo_ids" "vipsthumbnail -s 240x240 -o $scratch/vt/%s.jpg $photo_files"
  compare "$runs" "thumbs 1024 <60 photos> vs vipsthumbnail -s 1024x1024" \
    "$helper thumbs 1024 $photo_ids" "vipsthumbnail -s 1024x1024 -o $scratch/vt/%s.jpg $photo_files"
  compare "$runs" "thumbs 240 <60 photos + 2 videos> vs thumbs 240 <60 photos>" \
    "$helper thumbs 240 $photo_ids,$video_ids" "$helper thumbs 240 $photo_ids"
  # The fixed cost of a run that renders: one thumbnail against one file.
  local one_id one_file
  one_id=${photo_ids%%,*}
  one_file=${photo_files%% *}
  compare "$runs" "fixed cost: thumbs 240 <1 photo> vs vipsthumbnail -s 240x240 (1 file)" \
    "$helper thumbs 240 $one_id" "vipsthumbnail -s 240x240 -o $scratch/vt/%s.jpg $one_file"
  echo "  shared objects opened by thumbs 240 <1 photo>: $(strace -f -e trace=openat "$helper" thumbs 240 "$one_id" 2>&1 >/dev/null | grep -v ENOENT | grep -c '\.so'), of them libvips's own modules: $(strace -f -e trace=openat "$helper" thumbs 240 "$one_id" 2>&1 >/dev/null | grep -v ENOENT | grep -c 'vips-modules.*\.so')"
  echo "  peak memory: thumbs 240 $(peak_kb "$helper" thumbs 240 "$photo_ids") kB, thumbs 1024 $(peak_kb "$helper" thumbs 1024 "$photo_ids") kB, vipsthumbnail 240 $(peak_kb vipsthumbnail -s 240x240 -o "$scratch/vt/%s.jpg" $photo_files) kB"
  unset XDG_DATA_HOME
}

bench_heic() {
  export XDG_DATA_HOME="$scratch/export"
  local src="$scratch/export-src"
  mkdir -p "$src/heic"
  if [ -d "$samples" ]; then
    echo "== export: 20 phone HEIC photos (3024x4032) against heif-convert"
    for i in $(seq -w 1 20); do cp "$samples/heif/iphone_13_pro_max.HEIC" "$src/heic/IMG_00$i.HEIC"; done
    local heic_ids
    heic_ids=$("$tool" import "$src/heic" | cut -f1 | paste -sd, -)
    "$tool" access grant
    local originals
    originals=$(find "$("$tool" path)/originals" -name '*.heic' | sort | tr '\n' ' ')
    local runs="${RUNS:-5}"
    echo "  $("$helper" export "$scratch/out-heic" "$heic_ids" | jq '.files | length') files converted"
    compare "$runs" "export <20 HEIC> vs heif-convert -q 92 on each" \
      "$helper export $scratch/out-heic $heic_ids" \
      "bash -c 'for f in $originals; do heif-convert -q 92 \$f $scratch/out-hc/\$(basename \$f .heic).jpg >/dev/null; done'" \
      "mkdir -p $scratch/out-hc"
    echo "  peak memory: export $(peak_kb "$helper" export "$scratch/out-heic" "$heic_ids") kB"
  else
    echo "== export: no samples at $samples, HEIC part skipped"
  fi
  unset XDG_DATA_HOME
}

bench_video() {
  export XDG_DATA_HOME="$scratch/export-video"
  local src="$scratch/export-src"
  mkdir -p "$src/video"
  "$tool" access grant
  echo "== export: a 1 GB video against cp"
  # Uncompressed frames: quick to make, and the bytes are what they are.
  ffmpeg -v error -y -f lavfi -i testsrc=size=1920x1080:rate=30 -frames:v 330 -c:v rawvideo -pix_fmt yuv420p \
    "$src/video/big.mkv"
  local video_id
  video_id=$("$tool" import "$src/video/big.mkv" | cut -f1)
  local original
  original=$(find "$("$tool" path)/originals" -name '*.mkv')
  echo "  $(stat -c %s "$original") bytes; export wrote $("$helper" export "$scratch/out-video" "$video_id" | jq -c '[(.files | length), .errors]')"
  local runs="${RUNS:-5}"
  compare "$runs" "export <1 GB video> vs cp" \
    "$helper export $scratch/out-video $video_id" "cp $original $scratch/out-cp/big.mkv" \
    "bash -c 'rm -rf $scratch/out-video $scratch/out-cp && mkdir -p $scratch/out-cp && sync'"
  echo "  peak memory: export $(rm -rf "$scratch/out-video"; peak_kb "$helper" export "$scratch/out-video" "$video_id") kB"
  unset XDG_DATA_HOME
}

case "$what" in
  catalog) bench_catalog ;;
  thumbs) bench_thumbs ;;
  heic) bench_heic ;;
  video) bench_video ;;
  export) bench_heic; bench_video ;;
  all) bench_catalog; bench_thumbs; bench_heic; bench_video ;;
  *) echo "unknown benchmark: $what" >&2; exit 2 ;;
esac
