#!/usr/bin/env bash
# Seeds the picture decoding fuzzer with the small real samples, when present.
# Usage: media_decode_fuzz.seeds.sh CORPUS_DIR
set -euo pipefail
corpus="$1"
samples="$(cd "$(dirname "$0")/../.." && pwd)/../shared/samples"
[ -d "$samples" ] || exit 0
find "$samples" -type f -size -200k \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.heif' -o -iname '*.heic' \
  -o -iname '*.png' \) -print0 | while IFS= read -r -d '' f; do
  cp "$f" "$corpus/$(basename "$f")"
done
