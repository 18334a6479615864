#!/usr/bin/env bash
# Builds the catalog benchmark in release mode and runs it.
#   bench/catalog/run.sh [BUILD_DIR] [-- catalog_bench arguments]
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build-bench}
[ $# -gt 0 ] && shift
[ "${1:-}" = "--" ] && shift
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTOLVEK_TESTS=OFF >/dev/null
cmake --build "$dir" -j2 --target catalog_bench tolvek-photos-library tolvek_media >/dev/null
"$dir/bin/catalog_bench" "$@"
