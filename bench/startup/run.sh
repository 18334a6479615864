#!/usr/bin/env bash
# Whole-process time of the helper's usage path (no arguments) against
# /bin/true, measured with hyperfine; prints both means and their ratio.
# The target is at most 2.5: the usage path must not load the image stack
# or open the library.
#   bench/startup/run.sh [BUILD_DIR]     default: build
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build}"
helper="$build/bin/tolvek-photos"
[ -x "$helper" ] || { echo "no helper at $helper; build it first" >&2; exit 1; }

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
# -N: no intermediate shell; -i: the usage path exits with status 2 by design.
hyperfine -N -i --warmup 50 --runs "${RUNS:-1000}" --style basic --export-csv "$csv" \
  "$helper" /bin/true >/dev/null 2>&1

# CSV columns: command,mean,stddev,median,user,system,min,max (seconds).
awk -F, 'NR == 2 { helper = $2; helperMedian = $4 }
         NR == 3 { truth = $2; trueMedian = $4 }
         END {
           printf "tolvek-photos (usage): mean %.3f ms, median %.3f ms\n", helper * 1000, helperMedian * 1000
           printf "/bin/true:             mean %.3f ms, median %.3f ms\n", truth * 1000, trueMedian * 1000
           printf "ratio (mean):   %.2fx   target <= 2.50x\n", helper / truth
           printf "ratio (median): %.2fx\n", helperMedian / trueMedian
         }' "$csv"
