#!/usr/bin/env bash
# Camera RAW files, measured with hyperfine against the tools a user would
# otherwise run, in one run:
#   sync    the first sync (add) of 60 Nikon-like RAW files (a 3000x2000
#           sensor, a 1800-pixel JPEG preview each) against LibRaw's
#           dcraw_emu -h (a half-size development) over them
#   thumbs  thumbs 240 of those 60 after the sync against vipsthumbnail
#           -s 240x240 over their extracted previews (one process)
#
#   bench/raw/run.sh [BUILD_DIR]     default: build
# The fixtures come from the test build's raw_fixture tool. The output ends
# with one table: each figure, its anchor, the measured ratio, the target and
# met/missed (a missed target does not change the exit status). Everything
# happens in a scratch folder under ${TMPDIR:-/tmp}, removed at the end
# (KEEP=1 keeps it); RUNS sets hyperfine's run count.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac

for tool in hyperfine vipsthumbnail dcraw_emu simple_dcraw jq; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tolvek-photos tolvek-photos-library tolvek_media raw_fixture >/dev/null
helper="$build/bin/tolvek-photos"
tool="$build/bin/tolvek-photos-library"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvek-bench-raw.XXXXXX")
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$scratch"' EXIT
unset DISPLAY WAYLAND_DISPLAY
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
started=$SECONDS
runs="${RUNS:-5}"

# compare LABEL OURS THEIRS [PREPARE]: hyperfine over both; prints both means
# and sets mean_ms to them (ms).
compare() {
  local label="$1" ours="$2" theirs="$3" prepare="${4:-}"
  local json="$scratch/hyperfine.json"
  local args=(-N --warmup 1 --runs "$runs" --style none --export-json "$json")
  [ -n "$prepare" ] && args+=(--prepare "$prepare")
  hyperfine "${args[@]}" "$ours" "$theirs" >/dev/null
  jq -r --arg name "$label" '.results as $r | "\($name)\n  ours:   \($r[0].mean * 1000 | round) ms ± \(($r[0].stddev // 0) * 1000 | round)\n  theirs: \($r[1].mean * 1000 | round) ms ± \(($r[1].stddev // 0) * 1000 | round)"' "$json"
  mapfile -t mean_ms < <(jq -r '.results[] | .mean * 1000' "$json")
}
rows=()
row_faster() {  # FIGURE ANCHOR TARGET: from mean_ms
  local r
  r=$(awk -v a="${mean_ms[0]}" -v b="${mean_ms[1]}" 'BEGIN { printf "%.1f", b / a }')
  rows+=("$1 ($(printf '%.0f' "${mean_ms[0]}") ms)"$'\t'"$2 ($(printf '%.0f' "${mean_ms[1]}") ms)"$'\t'"${r}x faster"$'\t'"at least ${3}x faster"$'\t'"$(awk -v r="$r" -v t="$3" 'BEGIN { print (r >= t ? "met" : "missed") }')")
}

raws="$scratch/raws"
mkdir -p "$raws" "$scratch/previews" "$scratch/developed" "$scratch/vt"
"$build/bin/raw_fixture" "$raws" 60 1800 nikon
echo "== 60 RAW files, $(du -sh "$raws" | cut -f1)"

# The anchor of the sync: a half-size development of each, written as TIFF.
develop_all="bash -c 'for f in $raws/*.nef; do dcraw_emu -h -T -Z $scratch/developed/\$(basename \$f).tiff \$f; done'"
compare "first sync (add) of 60 RAW files vs dcraw_emu -h over them" \
  "$tool add $raws" "$develop_all" "rm -rf $XDG_DATA_HOME"
row_faster "first sync (add), 60 RAW files" "dcraw_emu -h over them" 10

rm -rf "$XDG_DATA_HOME"
"$tool" add "$raws" > "$scratch/add.tsv" 2> "$scratch/add.err"
"$tool" access grant
ids=$("$helper" list - 500 | jq -r '[.items[].id] | join(",")')
echo "  $(tr ',' '\n' <<< "$ids" | wc -l) assets listed, $("$helper" thumbs 240 "$ids" | jq '.thumbs | length') thumbnails"
# The anchor's input: each file's embedded preview, extracted by LibRaw's
# simple_dcraw -e (it writes NAME.thumb.jpg beside a copy of the file).
cp "$raws"/*.nef "$scratch/previews/"
(cd "$scratch/previews" && simple_dcraw -e ./*.nef >/dev/null && rm -f ./*.nef)
previews=("$scratch"/previews/*.thumb.jpg)
[ "${#previews[@]}" -eq 60 ] || { echo "expected 60 previews, got ${#previews[@]}" >&2; exit 1; }
compare "thumbs 240 <60 RAW files> vs vipsthumbnail -s 240x240 over their previews" \
  "$helper thumbs 240 $ids" "vipsthumbnail -s 240x240 -o $scratch/vt/%s.jpg ${previews[*]}"
row_faster "thumbs 240, 60 RAW files" "vipsthumbnail -s 240x240 over the previews" 100

echo
echo "== results ($((SECONDS - started)) s; means of $runs hyperfine runs)"
{
  printf 'figure\tanchor\tmeasured ratio\ttarget\tresult\n'
  printf '%s\n' "${rows[@]}"
} | column -t -s $'\t'
