#!/usr/bin/env bash
# Whole-process benchmarks of the helper and the library tool, each against
# the tool a user would otherwise run, measured with hyperfine (peak memory
# with /usr/bin/time -v):
#   startup  the usage path (no arguments) and the denied path (albums with
#            access denied) against /bin/true
#   catalog  albums, list - 500 and list <album> 500 on 100,000 assets, 1,000
#            albums and 10,000 albums of folders (a folder source holding
#            every asset), against the sqlite3 shell running the same queries
#   million  list - 500 and list <album> 500 on 1,000,000 assets (the
#            catalog takes a few minutes to make; SKIP_MILLION=1 skips it)
#   thumbs   thumbs 64, 240 and 1024 over 60 real photos (half HEIC), against
#            vipsthumbnail over the same originals in one process
#   heic     export of 20 phone HEIC photos against heif-convert on each;
#            peak memory for 1, 5 and 20 of them
#   video    export of 100 small videos against cp of the same files
#   sync     the first sync of the 60 photos against vipsthumbnail -s 512,
#            and the size of the derivatives it makes against the originals
#   bigvideo export of a 1 GB video against cp (not part of all)
#
#   bench/helper/run.sh [BUILD_DIR] [startup|catalog|million|thumbs|heic|video|export|sync|bigvideo|all]
#   default: build-e all (export = heic + video)
# The output ends with one table: each figure, its anchor, the measured ratio
# in the direction its target is stated, the target and met/missed. A missed
# target does not change the exit status.
# Everything happens in a scratch folder under ${TMPDIR:-/tmp} ($HOME,
# $XDG_CONFIG_HOME and $XDG_DATA_HOME point into it), removed at the end
# (KEEP=1 keeps it). RUNS sets hyperfine's run count for every comparison;
# without it each part has its own.
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
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config"
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
started=$SECONDS

# compare RUNS LABEL OURS THEIRS [PREPARE] [IGNORE]: hyperfine over both
# commands; prints the mean and deviation of each in ms and their ratio, and
# sets mean_ms to the two means in ms. PREPARE (may be empty) runs before
# every run of both; IGNORE (non-empty) accepts a non-zero exit status.
compare() {
  local runs="$1" label="$2" ours="$3" theirs="$4" prepare="${5:-}" ignore="${6:-}"
  local json="$scratch/hyperfine.json"
  local warmup=2
  [ "$runs" -le 5 ] && warmup=1
  [ "$runs" -ge 100 ] && warmup=20
  local args=(-N --warmup "$warmup" --runs "$runs" --style none --export-json "$json")
  [ -n "$prepare" ] && args+=(--prepare "$prepare")
  [ -n "$ignore" ] && args+=(-i)
  # -N runs the command without a shell; commands that need one say bash -c.
  hyperfine "${args[@]}" "$ours" "$theirs" >/dev/null
  jq -r --arg name "$label" '
    .results as $r
    | "\($name)\n  ours:   \($r[0].mean * 1000 | . * 100 | round / 100) ms ± \($r[0].stddev * 1000 | . * 100 | round / 100)  (\($r[0].command | .[0:140]))\n  theirs: \($r[1].mean * 1000 | . * 100 | round / 100) ms ± \($r[1].stddev * 1000 | . * 100 | round / 100)  (\($r[1].command | .[0:140]))\n  ratio:  \($r[0].mean / $r[1].mean | . * 100 | round / 100)x (theirs / ours: \($r[1].mean / $r[0].mean | . * 100 | round / 100)x); medians \($r[0].median * 1000 | . * 100 | round / 100) / \($r[1].median * 1000 | . * 100 | round / 100) ms; CPU (user + system) \(($r[0].user + $r[0].system) * 1000 | . * 100 | round / 100) / \(($r[1].user + $r[1].system) * 1000 | . * 100 | round / 100) ms"' "$json"
  mapfile -t mean_ms < <(jq -r '.results[] | .mean * 1000' "$json")
}

peak_kb() {  # command... -> peak resident set size in kB
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}

# The final table: one row per figure, in the order they were measured.
rows=()
row() {  # FIGURE ANCHOR RATIO TARGET RESULT
  local IFS=$'\t'
  rows+=("$*")
}
ms() { awk -v v="$1" 'BEGIN { printf (v < 10 ? "%.2f ms" : "%.0f ms"), v }'; }
# row_at_most FIGURE ANCHOR LIMIT: ours / anchor from mean_ms, at most LIMIT.
row_at_most() {
  local r
  r=$(awk -v a="${mean_ms[0]}" -v b="${mean_ms[1]}" 'BEGIN { printf "%.2f", a / b }')
  row "$1 ($(ms "${mean_ms[0]}"))" "$2 ($(ms "${mean_ms[1]}"))" "${r}x" "at most ${3}x" \
    "$(awk -v r="$r" -v t="$3" 'BEGIN { print (r <= t ? "met" : "missed") }')"
}
# row_faster FIGURE ANCHOR LIMIT: anchor / ours from mean_ms, at least LIMIT.
row_faster() {
  local r
  r=$(awk -v a="${mean_ms[0]}" -v b="${mean_ms[1]}" 'BEGIN { printf (b / a < 10 ? "%.2f" : "%.1f"), b / a }')
  row "$1 ($(ms "${mean_ms[0]}"))" "$2 ($(ms "${mean_ms[1]}"))" "${r}x faster" "at least ${3}x faster" \
    "$(awk -v r="$r" -v t="$3" 'BEGIN { print (r >= t ? "met" : "missed") }')"
}
# row_peak FIGURE KB LIMIT_MB: a peak resident set size (kB, as time -v
# reports it, of 1024 bytes) against a limit in MB of 10^6 bytes.
row_peak() {
  local mb
  mb=$(awk -v k="$2" 'BEGIN { printf "%.1f", k * 1024 / 1e6 }')
  row "$1" "-" "$mb MB" "at most $3 MB" "$(awk -v m="$mb" -v t="$3" 'BEGIN { print (m <= t ? "met" : "missed") }')"
}
row_skipped() {  # FIGURE ANCHOR TARGET WHY
  row "$1" "$2" "-" "$3" "skipped ($4)"
}

bench_startup() {
  echo "== start-up: the usage path and the denied path against /bin/true"
  export XDG_DATA_HOME="$scratch/denied"
  "$tool" access deny
  local denied status=0
  denied=$("$helper" albums) || status=$?
  echo "  albums with access denied: exit status $status, $denied"
  local runs="${RUNS:-500}"
  # -i: both paths end with a non-zero status by design.
  # What is still mapped at start: the helper's libraries (its C++ runtime
  # is linked in), and the loader's own count of the denied path.
  echo "  libraries: $(ldd "$helper" | awk '{ print $1 }' | sed 's|.*/||' | tr '\n' ' ')"
  { LD_DEBUG=statistics "$helper" albums 2>&1 >/dev/null || true; } | awk '
    /total startup time/ { cycles = $(NF-1) } /number of relocations:/ { relocs = $NF }
    END { printf "  loader (denied path): %d symbol relocations, %.2f ms at 2.6 GHz\n", relocs, cycles / 2.6e6 }'
  compare "$runs" "usage path (no arguments) vs /bin/true" "$helper" /bin/true "" ignore
  row_at_most "usage path: tolvek-photos" "/bin/true" 1.3
  compare "$runs" "denied path (albums, access denied) vs /bin/true" "$helper albums" /bin/true "" ignore
  row_at_most "denied path: tolvek-photos albums" "/bin/true" 1.3
  unset XDG_DATA_HOME
}

# fill_catalog ASSETS [FOLDERS]: a catalog of ASSETS assets, 1,000 albums and
# FOLDERS (default none) albums of folders in a library of its own, with
# access granted; sets catalog, big (the album holding every fifth asset),
# small (one of ~ASSETS/1,250) and the SQL files the sqlite3 shell runs for
# the same answers.
fill_catalog() {
  local assets="$1" folders="${2:-0}"
  export XDG_DATA_HOME="$scratch/catalog-$assets"
  local t0=$SECONDS
  # The catalog benchmark's bulk rows: "Album 0" (row 3, after the two smart
  # albums) holds every fifth asset, 999 more albums share the rest; a
  # folder source spreads every asset over FOLDERS folders, one album each.
  "$build/bin/catalog_bench" --fill "$XDG_DATA_HOME" --assets "$assets" --albums 1000 --folders "$folders"
  catalog="$("$tool" path)/catalog.sqlite"
  "$tool" access grant
  echo "  built in $((SECONDS - t0)) s: $(sqlite3 "$catalog" "SELECT (SELECT COUNT(*) FROM asset) || ' assets, ' || (SELECT COUNT(*) FROM collection WHERE type = 1) || ' albums (' || (SELECT COUNT(*) FROM collection WHERE type = 1 AND subtype = 5) || ' of folders), ' || (SELECT COUNT(*) FROM collection WHERE type = 3) || ' moments'")"
  big=$(sqlite3 "$catalog" "SELECT identifier FROM collection WHERE id = 3")
  small=$(sqlite3 "$catalog" "SELECT identifier FROM collection WHERE id = 500")
  big_count=$(sqlite3 "$catalog" "SELECT COUNT(*) FROM membership WHERE collection_id = 3")
  sql="$scratch/sql-$assets"
  mkdir -p "$sql"
  # The albums' data as the helper reports them: identifier, title and the
  # number of photos and videos in each. As one statement, and as one query
  # per album.
  cat > "$sql/albums-one.sql" <<'SQL'
SELECT c.identifier, c.title, COUNT(m.asset_id)
FROM collection c LEFT JOIN membership m ON m.collection_id = c.id AND m.media_type IN (1, 2)
WHERE c.type = 1 GROUP BY c.id ORDER BY c.id;
SQL
  {
    echo "SELECT id, identifier, title FROM collection WHERE type = 1 ORDER BY id;"
    sqlite3 "$catalog" "SELECT 'SELECT COUNT(*) FROM membership WHERE collection_id = ' || id || ' AND media_type IN (1, 2);' FROM collection WHERE type = 1 ORDER BY id"
  } > "$sql/albums.sql"
  cat > "$sql/list.sql" <<SQL
SELECT a.identifier, r.original_filename, strftime('%Y-%m-%dT%H:%M:%SZ', a.creation_date, 'unixepoch'), a.media_type = 2
FROM asset a JOIN resource r ON r.asset_id = a.id AND r.position = 0
WHERE a.media_type IN (1, 2) ORDER BY a.creation_date DESC, a.id DESC LIMIT 500;
SQL
  for album in big small; do
    cat > "$sql/list-$album.sql" <<SQL
SELECT id FROM collection WHERE identifier = '${!album}';
SELECT m.identifier, r.original_filename, strftime('%Y-%m-%dT%H:%M:%SZ', m.creation_date, 'unixepoch'), m.media_type = 2
FROM membership m JOIN resource r ON r.asset_id = m.asset_id AND r.position = 0
WHERE m.collection_id = (SELECT id FROM collection WHERE identifier = '${!album}') AND m.media_type IN (1, 2)
ORDER BY m.creation_date DESC, m.asset_id DESC LIMIT 500;
SQL
  done
  echo "  $("$helper" albums | jq '.albums | length') albums listed (sqlite3: $(sqlite3 "$catalog" ".read $sql/albums-one.sql" | wc -l)), $("$helper" list - 500 | jq '.items | length') and $("$helper" list "$big" 500 | jq '.items | length') items listed"
}

bench_catalog() {
  echo "== catalog: 100,000 assets, 1,000 albums, 10,000 albums of folders"
  fill_catalog 100000 10000
  local runs="${RUNS:-30}"
  compare "$runs" "albums vs sqlite3 (one statement)" "$helper albums" "sqlite3 -json $catalog '.read $sql/albums-one.sql'"
  row_at_most "albums, 11,000 albums (10,000 of folders)" "sqlite3, one statement" 1.0
  compare "$runs" "albums vs sqlite3 (11,001 queries)" "$helper albums" "sqlite3 -json $catalog '.read $sql/albums.sql'"
  compare "$runs" "list - 500 vs sqlite3" "$helper list - 500" "sqlite3 -json $catalog '.read $sql/list.sql'"
  row_at_most "list - 500, 100,000 assets" "sqlite3, same query" 1.0
  compare "$runs" "list <album of $big_count> 500 vs sqlite3" "$helper list $big 500" "sqlite3 -json $catalog '.read $sql/list-big.sql'"
  row_at_most "list ALBUM 500, 100,000 assets" "sqlite3, same query" 1.0
  compare "$runs" "list <album of ~80> 500 vs sqlite3" "$helper list $small 500" "sqlite3 -json $catalog '.read $sql/list-small.sql'"
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
  echo "  loader: sqlite3:                  $(loader "$(command -v sqlite3)" -json "$catalog" ".read $sql/list.sql")"
  if ldd "$helper" | grep -q 'libcurl\.so'; then
    # The same runs with libcurl's dependency tree taken away (a stand-in
    # libcurl that nothing here calls): what loading it on demand would save.
    mkdir -p "$scratch/nocurl"
    echo 'CURL_OPENSSL_4 { global: *; };' > "$scratch/nocurl/version.map"
    cc -O2 -shared -fPIC -Wl,--version-script="$scratch/nocurl/version.map" -Wl,-soname,libcurl.so.4 \
      -o "$scratch/nocurl/libcurl.so.4" "$root/bench/helper/libcurl_stub.c"
    local stub="env LD_LIBRARY_PATH=$scratch/nocurl"
    echo "  without libcurl's tree: $(LD_LIBRARY_PATH="$scratch/nocurl" ldd "$helper" | wc -l) libraries"
    compare "$runs" "albums without libcurl's tree vs sqlite3 (one statement)" "$stub $helper albums" "sqlite3 -json $catalog '.read $sql/albums-one.sql'"
    compare "$runs" "list - 500 without libcurl's tree vs sqlite3" "$stub $helper list - 500" "sqlite3 -json $catalog '.read $sql/list.sql'"
    compare "$runs" "list <album of $big_count> 500 without libcurl's tree vs sqlite3" "$stub $helper list $big 500" "sqlite3 -json $catalog '.read $sql/list-big.sql'"
    compare "$runs" "usage path without libcurl's tree vs sqlite3 :memory:" "$stub $helper" "sqlite3 :memory: ''" "" ignore
  fi
  unset XDG_DATA_HOME
}

bench_million() {
  if [ "${SKIP_MILLION:-0}" = 1 ]; then
    echo "== catalog: 1,000,000 assets skipped (SKIP_MILLION=1)"
    row_skipped "list - 500, 1,000,000 assets" "sqlite3, same query" "at most 1.0x" "SKIP_MILLION=1"
    row_skipped "list ALBUM 500, 1,000,000 assets" "sqlite3, same query" "at most 1.0x" "SKIP_MILLION=1"
    return
  fi
  echo "== catalog: 1,000,000 assets, 1,000 albums (SKIP_MILLION=1 skips this)"
  fill_catalog 1000000
  local runs="${RUNS:-30}"
  compare "$runs" "list - 500 vs sqlite3" "$helper list - 500" "sqlite3 -json $catalog '.read $sql/list.sql'"
  row_at_most "list - 500, 1,000,000 assets" "sqlite3, same query" 1.0
  compare "$runs" "list <album of $big_count> 500 vs sqlite3" "$helper list $big 500" "sqlite3 -json $catalog '.read $sql/list-big.sql'"
  row_at_most "list ALBUM 500, 1,000,000 assets" "sqlite3, same query" 1.0
  echo "  peak memory: list - 500 $(peak_kb "$helper" list - 500) kB, list <album> 500 $(peak_kb "$helper" list "$big" 500) kB"
  # The catalog is over a GB; the rest of the run needs neither it nor its space.
  rm -rf "$XDG_DATA_HOME"
  unset XDG_DATA_HOME
}

# The 60 photos of bench/photo_set.sh (30 JPEG, 30 HEIC made from the same
# JPEGs with vips; 46 distinct contents, so 46 assets) and two generated
# videos, imported.
make_photo_library() {
  export XDG_DATA_HOME="$scratch/photos"
  local src="$scratch/photo-src" videos="$scratch/video-src"
  make_photo_set "$samples" "$src"
  mkdir -p "$videos"
  ffmpeg -v error -y -f lavfi -i testsrc=size=1280x720:rate=30 -t 3 -pix_fmt yuv420p "$videos/video-1.mp4"
  ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 -t 3 -pix_fmt yuv420p "$videos/video-2.mov"
  # Standard error names each of the 14 repeated contents; the summary will do.
  "$tool" import "$src" > "$scratch/photos.tsv" 2> "$scratch/photos.err" || { cat "$scratch/photos.err" >&2; exit 1; }
  echo "  photos: $(tail -1 "$scratch/photos.err")"
  "$tool" import "$videos" > "$scratch/videos.tsv"
  "$tool" access grant
  photo_ids=$(cut -f1 "$scratch/photos.tsv" | paste -sd, -)
  video_ids=$(cut -f1 "$scratch/videos.tsv" | paste -sd, -)
  photo_files=$(cut -f2 "$scratch/photos.tsv" | tr '\n' ' ')
}

bench_thumbs() {
  if [ ! -d "$samples" ]; then
    echo "== thumbs: no samples at $samples, skipped"
    local size
    for size in 240 64 1024; do
      row_skipped "thumbs $size, 60 photos" "vipsthumbnail -s ${size}x$size" "-" "no samples"
    done
    return
  fi
  echo "== thumbs: 60 real photos (30 JPEG, 30 HEIC) and 2 videos"
  make_photo_library
  echo "  $(tr ',' '\n' <<< "$photo_ids" | wc -l) photo ids ($(tr ',' '\n' <<< "$photo_ids" | sort -u | wc -l) distinct); $("$helper" thumbs 240 "$photo_ids,$video_ids" | jq '.thumbs | length') thumbnails with the videos"
  mkdir -p "$scratch/vt"
  local runs="${RUNS:-10}"
  # vipsthumbnail writes next to -o's folder; one process for all 60.
  compare "$runs" "thumbs 240 <60 photos> vs vipsthumbnail -s 240x240 (60 files, one process)" \
    "$helper thumbs 240 $photo_ids" "vipsthumbnail -s 240x240 -o $scratch/vt/%s.jpg $photo_files"
  row_faster "thumbs 240, 60 photos" "vipsthumbnail -s 240x240" 100
  compare "$runs" "thumbs 64 <60 photos> vs vipsthumbnail -s 64x64" \
    "$helper thumbs 64 $photo_ids" "vipsthumbnail -s 64x64 -o $scratch/vt/%s.jpg $photo_files"
  row_faster "thumbs 64, 60 photos" "vipsthumbnail -s 64x64" 50
  compare "$runs" "thumbs 1024 <60 photos> vs vipsthumbnail -s 1024x1024" \
    "$helper thumbs 1024 $photo_ids" "vipsthumbnail -s 1024x1024 -o $scratch/vt/%s.jpg $photo_files"
  row_faster "thumbs 1024, 60 photos" "vipsthumbnail -s 1024x1024" 1.0
  local peak240
  peak240=$(peak_kb "$helper" thumbs 240 "$photo_ids")
  row_peak "thumbs 240, 60 photos: peak memory" "$peak240" 60
  compare "$runs" "thumbs 240 <60 photos + 2 videos> vs thumbs 240 <60 photos>" \
    "$helper thumbs 240 $photo_ids,$video_ids" "$helper thumbs 240 $photo_ids"
  # The fixed cost of a run that renders: one thumbnail against one file.
  local one_id one_file
  one_id=${photo_ids%%,*}
  one_file=${photo_files%% *}
  compare "$runs" "fixed cost: thumbs 240 <1 photo> vs vipsthumbnail -s 240x240 (1 file)" \
    "$helper thumbs 240 $one_id" "vipsthumbnail -s 240x240 -o $scratch/vt/%s.jpg $one_file"
  if command -v strace >/dev/null; then
    echo "  shared objects opened by thumbs 240 <1 photo>: $(strace -f -e trace=openat "$helper" thumbs 240 "$one_id" 2>&1 >/dev/null | grep -v ENOENT | grep -c '\.so'), of them libvips's own modules: $(strace -f -e trace=openat "$helper" thumbs 240 "$one_id" 2>&1 >/dev/null | grep -v ENOENT | grep -c 'vips-modules.*\.so' || true)"
  fi
  echo "  peak memory: thumbs 240 $peak240 kB, thumbs 1024 $(peak_kb "$helper" thumbs 1024 "$photo_ids") kB, vipsthumbnail 240 $(peak_kb vipsthumbnail -s 240x240 -o "$scratch/vt/%s.jpg" $photo_files) kB"
  unset XDG_DATA_HOME
}

bench_heic() {
  if [ ! -d "$samples" ]; then
    echo "== export: no samples at $samples, HEIC part skipped"
    row_skipped "export, 20 phone HEICs" "heif-convert -q 92 on each" "at most 0.7x" "no samples"
    return
  fi
  echo "== export: 20 phone HEIC photos (3024x4032) against heif-convert"
  export XDG_DATA_HOME="$scratch/export"
  local src="$scratch/export-src/heic"
  mkdir -p "$src"
  # 20 distinct files from the one phone photo: each ends with a free box of
  # its own (ISO/IEC 14496-12 lets readers skip it), so the library holds 20
  # assets rather than one.
  local i
  for i in $(seq -w 1 20); do
    cp "$samples/heif/iphone_13_pro_max.HEIC" "$src/IMG_00$i.HEIC"
    printf '\0\0\0\x10free%08d' "$((10#$i))" >> "$src/IMG_00$i.HEIC"
  done
  "$tool" import "$src" > "$scratch/heic.tsv"
  "$tool" access grant
  local heic_ids heic5 heic1 originals
  heic_ids=$(cut -f1 "$scratch/heic.tsv" | paste -sd, -)
  heic5=$(cut -f1 "$scratch/heic.tsv" | head -5 | paste -sd, -)
  heic1=$(cut -f1 "$scratch/heic.tsv" | head -1)
  originals=$(find "$("$tool" path)/originals" -type f | sort | tr '\n' ' ')
  echo "  $(cut -f1 "$scratch/heic.tsv" | sort -u | wc -l) distinct assets, $(wc -w <<< "$originals") originals; $("$helper" export "$scratch/out-heic" "$heic_ids" | jq -c '[(.files | length), .errors]') exported"
  local runs="${RUNS:-5}"
  # Both write into folders that are new for every run.
  compare "$runs" "export <20 HEIC> vs heif-convert -q 92 on each" \
    "$helper export $scratch/out-heic $heic_ids" \
    "bash -c 'for f in $originals; do heif-convert -q 92 \$f $scratch/out-hc/\$(basename \$f).jpg >/dev/null; done'" \
    "bash -c 'rm -rf $scratch/out-heic $scratch/out-hc && mkdir -p $scratch/out-hc'"
  row_at_most "export, 20 phone HEICs" "heif-convert -q 92 on each" 0.7
  local peak1 peak5 peak20
  rm -rf "$scratch/out-heic"; peak1=$(peak_kb "$helper" export "$scratch/out-heic" "$heic1")
  rm -rf "$scratch/out-heic"; peak5=$(peak_kb "$helper" export "$scratch/out-heic" "$heic5")
  rm -rf "$scratch/out-heic"; peak20=$(peak_kb "$helper" export "$scratch/out-heic" "$heic_ids")
  echo "  peak memory: export of 1 $peak1 kB, of 5 $peak5 kB, of 20 $peak20 kB; heif-convert of 1 $(peak_kb heif-convert -q 92 "${originals%% *}" "$scratch/one.jpg") kB"
  row_peak "export, 20 phone HEICs: peak memory" "$peak20" 150
  # Flat: 20 files cost at most a tenth more than 5.
  local flat
  flat=$(awk -v a="$peak20" -v b="$peak5" 'BEGIN { printf "%.2f", a / b }')
  row "export peak memory, 20 against 5 HEICs" "$(awk -v k="$peak5" 'BEGIN { printf "5 files: %.1f MB", k * 1024 / 1e6 }')" \
    "${flat}x" "flat: at most 1.10x" "$(awk -v r="$flat" 'BEGIN { print (r <= 1.10 ? "met" : "missed") }')"
  unset XDG_DATA_HOME
}

bench_video() {
  echo "== export: 100 small videos against cp"
  export XDG_DATA_HOME="$scratch/export-videos"
  local src="$scratch/export-src/videos"
  mkdir -p "$src"
  # One 4-second H.264 clip, then 100 copies of its streams that differ in a
  # metadata tag: distinct files, so 100 assets.
  ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=30 -t 4 -c:v libx264 -preset veryfast -b:v 600k \
    -pix_fmt yuv420p "$scratch/clip.mp4"
  local i
  for i in $(seq -w 1 100); do
    ffmpeg -v error -y -i "$scratch/clip.mp4" -c copy -metadata comment="clip $i" "$src/clip-$i.mp4"
  done
  "$tool" import "$src" > "$scratch/videos-100.tsv"
  "$tool" access grant
  local ids originals
  ids=$(cut -f1 "$scratch/videos-100.tsv" | paste -sd, -)
  originals=$(find "$("$tool" path)/originals" -type f | sort | tr '\n' ' ')
  echo "  $(cut -f1 "$scratch/videos-100.tsv" | sort -u | wc -l) distinct assets, $(wc -w <<< "$originals") originals of $(du -cb $originals | tail -1 | cut -f1) bytes; export wrote $("$helper" export "$scratch/out-video" "$ids" | jq -c '[(.files | length), .errors]')"
  local runs="${RUNS:-10}"
  compare "$runs" "export <100 videos> vs cp of the same files" \
    "$helper export $scratch/out-video $ids" "cp $originals $scratch/out-cp/" \
    "bash -c 'rm -rf $scratch/out-video $scratch/out-cp && mkdir -p $scratch/out-cp && sync'"
  row_at_most "export, 100 small videos" "cp of the same files" 1.2
  echo "  peak memory: export $(rm -rf "$scratch/out-video"; peak_kb "$helper" export "$scratch/out-video" "$ids") kB"
  unset XDG_DATA_HOME
}

bench_big_video() {
  export XDG_DATA_HOME="$scratch/export-video"
  local src="$scratch/export-src/video"
  mkdir -p "$src"
  "$tool" access grant
  echo "== export: a 1 GB video against cp"
  # Uncompressed frames: quick to make, and the bytes are what they are.
  ffmpeg -v error -y -f lavfi -i testsrc=size=1920x1080:rate=30 -frames:v 330 -c:v rawvideo -pix_fmt yuv420p \
    "$src/big.mkv"
  local video_id
  video_id=$("$tool" import "$src/big.mkv" | cut -f1)
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

bench_sync() {
  if [ ! -d "$samples" ]; then
    echo "== first sync: no samples at $samples, skipped"
    row_skipped "first sync, 60 photos" "vipsthumbnail -s 512" "at least 1.5x faster" "no samples"
    row_skipped "derivatives after the first sync" "the originals' bytes" "at most 15%" "no samples"
    return
  fi
  echo "== first sync: 60 real photos (30 JPEG, 30 HEIC) into a fresh library"
  local photos="$scratch/sync-photos"
  make_photo_set "$samples" "$photos"
  mkdir -p "$scratch/vt512"
  export XDG_DATA_HOME="$scratch/sync"
  local runs="${RUNS:-10}"
  # Every run of `add` starts from no library at all.
  compare "$runs" "add <60 photos> vs vipsthumbnail -s 512 (60 files, one process)" \
    "$tool add $photos" "vipsthumbnail -s 512 -o $scratch/vt512/%s.jpg $(echo "$photos"/*)" \
    "rm -rf $XDG_DATA_HOME"
  row_faster "first sync (add), 60 photos" "vipsthumbnail -s 512" 1.5
  # One more first sync for the size of what it makes.
  rm -rf "$XDG_DATA_HOME"
  "$tool" add "$photos" > "$scratch/sync.tsv" 2> "$scratch/sync.err" || { cat "$scratch/sync.err" >&2; exit 1; }
  echo "  $(tail -1 "$scratch/sync.err")"
  local library derivatives originals
  library=$("$tool" path)
  derivatives=$(find "$library/derivatives" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  originals=$(find "$photos" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  echo "  derivatives: $derivatives bytes in $(find "$library/derivatives" -type f | wc -l) files; originals: $originals bytes in $(find "$photos" -type f | wc -l) files; the whole library: $(du -sb "$library" | cut -f1) bytes"
  local share
  share=$(awk -v a="$derivatives" -v b="$originals" 'BEGIN { printf "%.1f", a / b * 100 }')
  row "derivatives after the first sync ($derivatives bytes)" "the originals' bytes ($originals)" "$share%" "at most 15%" \
    "$(awk -v s="$share" 'BEGIN { print (s <= 15 ? "met" : "missed") }')"
  echo "  peak memory: add $(rm -rf "$XDG_DATA_HOME"; peak_kb "$tool" add "$photos") kB"
  unset XDG_DATA_HOME
}

case "$what" in
  startup) bench_startup ;;
  catalog) bench_catalog ;;
  million) bench_million ;;
  thumbs) bench_thumbs ;;
  heic) bench_heic ;;
  video) bench_video ;;
  export) bench_heic; bench_video ;;
  sync) bench_sync ;;
  bigvideo) bench_big_video ;;
  all) bench_startup; bench_catalog; bench_million; bench_thumbs; bench_heic; bench_video; bench_sync ;;
  *) echo "unknown benchmark: $what" >&2; exit 2 ;;
esac

echo
echo "== results ($((SECONDS - started)) s; means of hyperfine runs; RUNS=${RUNS:-per part})"
if [ "${#rows[@]}" -gt 0 ]; then
  {
    printf 'figure\tanchor\tmeasured ratio\ttarget\tresult\n'
    printf '%s\n' "${rows[@]}"
  } | column -t -s $'\t'
fi
