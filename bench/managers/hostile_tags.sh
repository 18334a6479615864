#!/usr/bin/env bash
# Whole-process cost of adding a digiKam database with a hostile tag tree:
# a chain of 12,000 tags each one below the last, a loop of 20,000 tags, and
# a tag named with 10 MB; every tag tags a picture. For each, `add --digikam`
# runs under /usr/bin/time -v in a fresh scratch home; reported: wall time,
# peak memory, the catalog's size (with its WAL), the size of the helper's
# `albums` document and its longest album title. Targets: each add within
# 3 s and 200 MB.
#   bench/managers/hostile_tags.sh [BUILD_DIR]      default: build
# The database is a copy of ../shared/samples/managers/digikam4.db with its
# photos unpacked beside it. Everything happens in a scratch folder under
# ${TMPDIR:-/tmp}, removed at the end (KEEP=1 keeps it).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
samples="$root/../shared/samples/managers"
for file in digikam4.db photos.tar; do
  [ -f "$samples/$file" ] || { echo "no $file in $samples" >&2; exit 1; }
done
command -v sqlite3 >/dev/null || { echo "missing: sqlite3" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "missing: /usr/bin/time (GNU time)" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tolvek-photos-library tolvek-photos hostile_tags >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvek-bench-hostile.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
unset DISPLAY WAYLAND_DISPLAY
tar -xf "$samples/photos.tar" -C "$scratch"

printf 'case\twall s\tpeak MB\tcatalog MB\talbums doc KB\tlongest title B\tresult\n' > "$scratch/table"
run() {
  local name=$1; shift
  local db="$scratch/$name.db" home="$scratch/home-$name"
  cp "$samples/digikam4.db" "$db"
  chmod 644 "$db"
  sqlite3 "$db" "UPDATE AlbumRoots SET identifier = replace(identifier, '/fixture/photos', '$scratch/photos')"
  "$build/bin/hostile_tags" "$db" "$@"
  mkdir -p "$home/home" "$home/data" "$home/config"
  (
    export HOME="$home/home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
    /usr/bin/time -v "$build/bin/tolvek-photos-library" add --digikam "$db" >/dev/null 2>"$home/time"
    "$build/bin/tolvek-photos-library" access grant >/dev/null
    "$build/bin/tolvek-photos" albums >"$home/albums.json"
  )
  local wall rss catalog doc longest
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + t[i]; print s }' "$home/time")
  rss=$(awk -F': ' '/Maximum resident/ { printf "%.0f", $2 / 1024 }' "$home/time")
  catalog=$(du -cb "$home/data/tolvek-photos/Library/catalog.sqlite"* | awk 'END { printf "%.1f", $1 / 1048576 }')
  doc=$(stat -c %s "$home/albums.json" | awk '{ printf "%.0f", $1 / 1024 }')
  longest=$(jq '[.albums[].name // "" | utf8bytelength] | max // 0' "$home/albums.json")
  result=$(awk -v w="$wall" -v m="$rss" 'BEGIN { print (w <= 3 && m <= 200 ? "met" : "missed") }')
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$wall" "$rss" "$catalog" "$doc" "$longest" "$result" >> "$scratch/table"
}
run chain --chain 12000 --loop 0 --long-name 0
run loop --chain 0 --loop 20000 --long-name 0
run long-name --chain 0 --loop 0 --long-name 10485760
run all --chain 12000 --loop 20000 --long-name 10485760
echo "add --digikam of a database with a hostile tag tree (targets: 3 s, 200 MB)"
column -t -s $'\t' "$scratch/table"
