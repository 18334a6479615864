#!/usr/bin/env bash
# Whole-process benchmark of a photo manager's database as a source:
#   A sync with nothing changed of a Shotwell database of 100,000 photos
#   (an event per folder, 20 tags of five folders each), against the sqlite3 shell reading the same rows
#   (PhotoTable, VideoTable, EventTable, TagTable) from the same database,
#   both on a warm cache. Target: at most 3.0. Also against `find -printf`
#   of each file's size, modification time and inode: what checking that
#   the files are unchanged costs at the least, which the shell does not pay.
#   The database's lock is held by the reader one backup step at a time; the
#   longest step is measured by the reader's own benchmark (run.sh here).
# The database is the real Shotwell sample's schema (its tables copied from
# ../shared/samples/managers/shotwell-photo.db) filled with generated rows.
# To keep the set-up short its files are 99,700 small text files (recorded as
# files that are no media, so they are not opened again) and 300 small
# generated JPEGs, in 100 folders.
# A table of the figure with its anchor, ratio and target ends the output; a
# missed target says "missed" there and the script still exits 0.
#
#   bench/managers/sync.sh [BUILD_DIR]      default: build
# Everything happens in a scratch folder under ${TMPDIR:-/tmp} ($HOME,
# $XDG_CONFIG_HOME and $XDG_DATA_HOME point into it), removed at the end
# (KEEP=1 keeps it). RUNS sets hyperfine's run count (default 10); ROWS the
# number of photos (default 100000, at least 1000).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
sample="$root/../shared/samples/managers/shotwell-photo.db"

for tool in hyperfine sqlite3 ffmpeg jq; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -f "$sample" ] || { echo "no Shotwell sample at $sample" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tolvek-photos-library tolvek_media >/dev/null
tool="$build/bin/tolvek-photos-library"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvek-bench-managers.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
unset DISPLAY WAYLAND_DISPLAY
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
runs="${RUNS:-10}"
rows="${ROWS:-100000}"
folders=100
per=$((rows / folders))

echo "== a Shotwell database of $rows photos"
t0=$SECONDS
tree="$scratch/tree"
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -frames:v 300 "$scratch/picture-%03d.jpg"
picture=1
for f in $(seq -w 0 $((folders - 1))); do
  folder="$tree/folder-$f"
  mkdir -p "$folder"
  for n in 0 1 2; do
    mv "$scratch/picture-$(printf %03d "$picture").jpg" "$folder/$(printf %06d "$n").jpg"
    picture=$((picture + 1))
  done
done
# The text files in one process: a shell loop would take minutes.
awk -v tree="$tree" -v folders="$folders" -v per="$per" 'BEGIN {
  for (f = 0; f < folders; ++f) for (n = 3; n < per; ++n) {
    name = sprintf("%s/folder-%02d/%06d.jpg", tree, f, n)
    printf "note %d of folder %d\n", n, f > name
    close(name)
  }
}'
db="$scratch/photo.db"
sqlite3 "$sample" .schema > "$scratch/schema.sql"
sqlite3 "$db" < "$scratch/schema.sql"
sqlite3 "$db" <<SQL
INSERT INTO VersionTable (id, schema_version, app_version) VALUES (1, 20, '0.30.17');
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < $rows)
INSERT INTO PhotoTable (id, filename, filesize, timestamp, exposure_time, event_id, flags, file_format)
  SELECT i + 1, printf('$tree/folder-%02d/%06d.jpg', i / $per, i % $per), 100, 1600000000,
         1500000000 + i * 60, i / $per + 1, 0, 0 FROM n;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < 100)
INSERT INTO EventTable (id, name, time_created) SELECT i + 1, CASE WHEN i % 2 = 0 THEN 'Event ' || i END, 0 FROM n;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < 20)
INSERT INTO TagTable (id, name, photo_id_list, time_created)
  SELECT i + 1, '/Tags/Tag ' || i,
         (SELECT group_concat(printf('thumb%016x', p.id), ',') FROM PhotoTable p WHERE ((p.id - 1) / $per) % 20 = i), 0 FROM n;
SQL
echo "  $(find "$tree" -type f | wc -l) files, database $(du -h "$db" | cut -f1), made in $((SECONDS - t0)) s"

t0=$SECONDS
"$tool" add --shotwell "$db" > "$scratch/add.tsv" 2> "$scratch/add.err" || { cat "$scratch/add.err" >&2; exit 1; }
echo "  first add: $((SECONDS - t0)) s, $(wc -l < "$scratch/add.tsv") assets; $(tail -1 "$scratch/add.err")"
"$tool" sync 2> "$scratch/nochange.err" || { cat "$scratch/nochange.err" >&2; exit 1; }
echo "  $(tail -1 "$scratch/nochange.err")"
echo "  albums: $("$tool" album list | awk -F'\t' '$4 == "shotwell"' | wc -l) from Shotwell"

query="SELECT id, filename, exposure_time, flags, event_id FROM PhotoTable;
SELECT id, filename, exposure_time, flags, event_id FROM VideoTable;
SELECT id, name FROM EventTable; SELECT id, name, photo_id_list FROM TagTable;"
json="$scratch/hyperfine.json"
hyperfine -N --warmup 2 --runs "$runs" --style none --export-json "$json" \
  "$tool sync" "sqlite3 -readonly $db '$(echo $query)'" "find $tree -type f -printf '%s %T@ %i\n'" >/dev/null
echo "sync (nothing changed) vs sqlite3 reading the same rows, and find -printf over its files (warm cache)"
jq -r '.results[] | "  \(.mean * 1000 | . * 100 | round / 100) ms ± \(.stddev * 1000 | . * 100 | round / 100), median \(.median * 1000 | . * 100 | round / 100) ms  (\(.command | .[0:100]))"' "$json"
mapfile -t mean_ms < <(jq -r '.results[] | .mean * 1000' "$json")
ratio=$(awk -v a="${mean_ms[0]}" -v b="${mean_ms[1]}" 'BEGIN { printf "%.2f", a / b }')
find_ratio=$(awk -v a="${mean_ms[0]}" -v b="${mean_ms[2]}" 'BEGIN { printf "%.2f", a / b }')
result=$(awk -v r="$ratio" 'BEGIN { print (r <= 3 ? "met" : "missed") }')

echo
echo "means of $runs hyperfine runs each, after 2 warm-up runs; ratio = ours / anchor"
{
  printf 'figure\tours\tanchor\tratio\ttarget\tresult\n'
  printf 'sync, nothing changed, %s Shotwell rows\t%.1f ms\t%.1f ms sqlite3 shell\t%s\t<= 3.00\t%s\n' \
    "$rows" "${mean_ms[0]}" "${mean_ms[1]}" "$ratio" "$result"
  printf 'the same sync against find over its files\t%.1f ms\t%.1f ms find -printf\t%s\t-\treported\n' \
    "${mean_ms[0]}" "${mean_ms[2]}" "$find_ratio"
} | column -t -s $'\t'
