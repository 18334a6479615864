#!/usr/bin/env bash
# Builds a small photo library in a scratch folder with the library tool and
# shows the helper's four commands on it. Needs a finished build (setup.sh).
#   scripts/demo.sh [SCRATCH_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$PWD/build/bin"
helper="$bin/tolvek-photos"
tool="$bin/tolvek-photos-library"
scratch="${1:-$(mktemp -d "${TMPDIR:-/tmp}/tolvek-demo.XXXXXX")}"
mkdir -p "$scratch"
scratch="$(cd "$scratch" && pwd)"

# Everything lives in the scratch folder: a home with a Pictures folder, the
# library, its access store, the exports.
export HOME="$scratch/home"
export XDG_DATA_HOME="$scratch/data"
export XDG_CONFIG_HOME="$scratch/config"
# No graphical session: access is granted with the tool instead of a prompt.
unset DISPLAY WAYLAND_DISPLAY

media="$HOME/Pictures"
mkdir -p "$media/trip" "$media/home" "$scratch/camera"
samples="../shared/samples"
if [ -d "$samples" ]; then
  cp -p "$samples"/jpeg/Canon_40D.jpg "$samples"/jpeg/Nikon_D70.jpg "$samples"/jpeg/iPhone_hdr.jpg "$media/trip/"
  cp -p "$samples"/orientation/*.jpg "$media/home/" 2>/dev/null || true
  cp -p "$samples"/heif/iphone_13_pro_max.HEIC "$samples"/heif/samplefilehub.heif "$media/trip/"
else
  echo "(no ../shared/samples here: using generated pictures)"
fi
# Generated pictures (their dates come from the files' modification times),
# a HEIC, and a short video.
vips xyz "$media/home/gradient.png" 640 480
vips black "$media/home/dark.jpg" 400 300 --bands 3
touch -d "2024-05-01 10:00:00" "$media/home/gradient.png"
touch -d "2023-12-24 18:30:00" "$media/home/dark.jpg"
vips colourspace "$media/home/gradient.png" "$media/trip/generated.heic" srgb
ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 2 -pix_fmt yuv420p \
  -metadata creation_time=2025-07-14T12:00:00Z "$media/trip/clip.mp4"
# A picture from a camera card, which the library keeps a copy of.
vips gaussnoise "$scratch/camera/card.jpg" 480 320
touch -d "2022-08-15 09:00:00" "$scratch/camera/card.jpg"

# The first sync adds the Pictures folder as a source and references its
# files where they are: each folder holding pictures becomes an album.
echo "\$ tolvek-photos-library sync"
"$tool" sync | tee "$scratch/sync.tsv" | cut -f1,3
echo "\$ tolvek-photos-library import $scratch/camera/card.jpg"
"$tool" import "$scratch/camera/card.jpg" > "$scratch/card.tsv"
cat "$scratch/card.tsv"
favourites=$("$tool" album create "Favourites")
"$tool" album add "$favourites" $(cut -f1 "$scratch/card.tsv") $(grep -m1 /trip/ "$scratch/sync.tsv" | cut -f2) >/dev/null
"$tool" sources
"$tool" access grant
echo "library: $("$tool" path) ($(du -sh "$("$tool" path)" | cut -f1), pictures referenced in place)"

show() {
  echo
  echo "\$ tolvek-photos $*"
  status=0
  "$helper" "$@" > "$scratch/out.json" || status=$?
  head -c 600 "$scratch/out.json"; [ "$(wc -c < "$scratch/out.json")" -gt 600 ] && echo " ..."
  echo "(exit status $status)"
}
show albums
show list - 5
show list "$favourites"
ids=$( (cut -f2 "$scratch/sync.tsv"; cut -f1 "$scratch/card.tsv") | sort -u | paste -sd, -)
"$helper" list - 500 > "$scratch/list.json"
"$helper" thumbs 240 "$ids" > "$scratch/thumbs.json"
echo
echo "\$ tolvek-photos thumbs 240 <all ids>"
jq -c '.thumbs | to_entries | map({id: .key, bytes: (.value | length)})' "$scratch/thumbs.json"
show export "$scratch/export" "$ids"

# A contact sheet: every thumbnail with its name and date from `list`.
sheet="$scratch/contact-sheet.html"
jq -r --slurpfile thumbs "$scratch/thumbs.json" '
  def esc: gsub("&";"&amp;") | gsub("<";"&lt;") | gsub(">";"&gt;") | gsub("\"";"&quot;");
  "<!doctype html><meta charset=utf-8><title>tolvek-photos contact sheet</title>",
  "<style>body{font:14px sans-serif;display:flex;flex-wrap:wrap;gap:12px}figure{margin:0;width:260px}img{max-width:240px;max-height:240px}</style>",
  (.items[] | "<figure><img src=\"\(($thumbs[0].thumbs[.id] // "") | esc)\" alt=\"\(.name | esc)\"><figcaption>\(.name | esc)<br>\(.date // "no date")\(if .isVideo then " (video)" else "" end)</figcaption></figure>")
' "$scratch/list.json" > "$sheet"
echo
echo "contact sheet: $sheet"
