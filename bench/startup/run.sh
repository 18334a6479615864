#!/usr/bin/env bash
# Whole-process time of the helper's usage path (no arguments) against
# /bin/true, measured with hyperfine; prints both means and their ratio.
# The target is at most 1.3 (as in bench/helper/run.sh startup): the usage
# path loads no image stack, opens no library and maps no C++ runtime.
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
           printf "ratio (mean):   %.2fx   target <= 1.30x (%s)\n", helper / truth, helper / truth <= 1.3 ? "met" : "missed"
           printf "ratio (median): %.2fx\n", helperMedian / trueMedian
         }' "$csv"
