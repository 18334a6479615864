#!/usr/bin/env bash
# Builds the photo-manager benchmark in release mode and runs it: reading a
# generated Shotwell database of 100,000 photos with readManagerCatalog
# against the sqlite3 shell selecting the same rows into /dev/null, and the
# longest time the reader holds the database's lock at once.
#   bench/managers/run.sh [BUILD_DIR] [-- manager_bench arguments: --photos N --runs N]
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build-bench}
[ $# -gt 0 ] && shift
[ "${1:-}" = "--" ] && shift
command -v sqlite3 >/dev/null || { echo "missing: sqlite3 (scripts/setup.sh installs it)" >&2; exit 1; }
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTOLVEK_TESTS=OFF >/dev/null
cmake --build "$dir" -j2 --target manager_bench >/dev/null
"$dir/bin/manager_bench" "$@"
