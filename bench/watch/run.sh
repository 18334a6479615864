#!/usr/bin/env bash
# Whole-process benchmark of `tolvek-photos-library watch`, measured as the
# user sees it: through the helper's answers.
#   1. Latency from a file's close (a JPEG written into a watched source) to
#      `tolvek-photos list` naming it: median and worst over 100 files, one
#      at a time. Targets: median within 1 s, worst within 2 s.
#   2. A burst of 1,000 JPEGs copied into a new folder of the source at once:
#      the time from the copy's start until the helper lists all of them,
#      and how many syncs (batches) the watch made of it; and how long
#      another writer (`album create`) started meanwhile takes, since the
#      watch lets go of the writer lock after about a second of work.
#   3. CPU (user + system, from /proc/PID/stat) the idle watch uses over
#      IDLE seconds (default 60). Target: none; a tick of 1/CLK_TCK s is the
#      accounting's resolution (a tick may still be charged for the burst's
#      last moments), so at most one.
# BASE=N puts N files into the source first (N a multiple of 10,000: small
# text files, 100 in each of N / 100 folders, which the catalog records as
# files that are no media, as bench/sync does; made by bench/sync/make_tree.py
# in one process), so the latency is that of a large library: BASE=1000000
# is the source of 1,000,000 files in 10,000 folders. A notification names
# a folder, and only the folders named are synced.
# The helper is polled in a loop; each poll takes a few milliseconds, so
# latencies are that much coarse.
#
#   bench/watch/run.sh [BUILD_DIR]      default: build
# Everything happens in a scratch folder under ${TMPDIR:-/tmp} ($HOME and the
# XDG folders point into it), removed at the end (KEEP=1 keeps it).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build="${1:-build}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
for tool in ffmpeg jq; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target tolvek-photos tolvek-photos-library tolvek_media >/dev/null
tool="$build/bin/tolvek-photos-library"
helper="$build/bin/tolvek-photos"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvek-bench-watch.XXXXXX")
watch_pid=
cleanup() {
  [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null && wait "$watch_pid" 2>/dev/null || true
  [ "${KEEP:-0}" = 1 ] || rm -rf "$scratch"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$scratch/frames" "$scratch/source"
idle="${IDLE:-60}"

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
listed() { "$helper" list - 100 | jq -r '.items[].name'; }  # the newest first
# The album of the burst's folder: how many of its files the helper counts.
burst_count() { "$helper" albums | jq '[.albums[] | select(.name == "burst") | .count] | add // 0'; }

echo "== set-up"
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -frames:v 1101 "$scratch/frames/f-%04d.jpg"
"$tool" access grant >/dev/null
base="${BASE:-0}"
if [ "$base" -gt 0 ]; then
  [ $((base % 10000)) = 0 ] || { echo "BASE: a multiple of 10000" >&2; exit 1; }
  t0=$SECONDS
  python3 "$root/bench/sync/make_tree.py" "$scratch/source/base" $((base / 10000)) -
  cp "$scratch/frames/f-1101.jpg" "$scratch/source/base/group-0/folder-00/seed.jpg"  # not empty, so not offline
  echo "  $base files in the source already, made in $((SECONDS - t0)) s"
fi
t0=$SECONDS
"$tool" add "$scratch/source" >/dev/null 2>&1 || true
echo "  first sync: $((SECONDS - t0)) s"
"$tool" watch > "$scratch/watch.out" 2> "$scratch/watch.err" &
watch_pid=$!
# Its first sync is done once it said what it synced.
for _ in $(seq 1200); do grep -q "synced:" "$scratch/watch.err" && break; sleep 0.1; done

echo "== latency over 100 files, one at a time"
latencies=()
for i in $(seq -w 1 100); do
  name="latency-$i.jpg"
  cp "$scratch/frames/f-0$i.jpg" "$scratch/source/$name"  # closed when cp returns
  t0=$(now_ms)
  until listed | grep -qx "$name"; do
    [ $(( $(now_ms) - t0 )) -gt 30000 ] && { echo "not listed after 30 s: $name" >&2; exit 1; }
  done
  latencies+=($(( $(now_ms) - t0 )))
done
sorted=$(printf '%s\n' "${latencies[@]}" | sort -n)
median=$(echo "$sorted" | sed -n 50p)
worst=$(echo "$sorted" | tail -1)
echo "  median $median ms, worst $worst ms"

echo "== a burst of 1,000 files"
syncs_before=$(grep -c "synced:" "$scratch/watch.err")
mkdir "$scratch/burst"
for i in $(seq 101 1100); do cp "$scratch/frames/f-$(printf %04d "$i").jpg" "$scratch/burst/burst-$i.jpg"; done
t0=$(now_ms)
mv "$scratch/burst" "$scratch/source/burst"  # 1,000 files arrive at once
# Another writer while the burst is synced: how long it waits for the lock.
sleep 0.6
w0=$(now_ms)
"$tool" album create "during the burst" >/dev/null
writer=$(( $(now_ms) - w0 ))
until [ "$(burst_count)" -ge 1000 ]; do
  [ $(( $(now_ms) - t0 )) -gt 600000 ] && { echo "the burst was not listed after 10 minutes" >&2; exit 1; }
  sleep 0.05
done
burst=$(( $(now_ms) - t0 ))
sleep 1  # the last batch's summary line
batches=$(( $(grep -c "synced:" "$scratch/watch.err") - syncs_before ))
echo "  all 1,000 listed after $burst ms, in $batches syncs (each commits every 200 files)"
echo "  a writer started 0.6 s into the burst was done after $writer ms"

echo "== CPU over $idle idle seconds"
sleep 2
ticks() { awk '{ print $14 + $15 }' "/proc/$watch_pid/stat"; }
before=$(ticks)
sleep "$idle"
after=$(ticks)
hz=$(getconf CLK_TCK)
cpu_ms=$(( (after - before) * 1000 / hz ))
echo "  $cpu_ms ms of CPU ($((after - before)) ticks of 1/$hz s)"

kill -TERM "$watch_pid"
t0=$(now_ms)
status=0
wait "$watch_pid" || status=$?
watch_pid=
echo "  SIGTERM: exit status $status after $(( $(now_ms) - t0 )) ms"

echo
{
  printf 'figure (source of %s files)\tours\tanchor\tratio\ttarget\tresult\n' "$base"
  printf 'latency, median of 100\t%s ms\tnone\t-\t<= 1000 ms\t%s\n' "$median" "$([ "$median" -le 1000 ] && echo met || echo missed)"
  printf 'latency, worst of 100\t%s ms\tnone\t-\t<= 2000 ms\t%s\n' "$worst" "$([ "$worst" -le 2000 ] && echo met || echo missed)"
  printf 'burst of 1,000 files\t%s ms in %s syncs\tnone\t-\tbatched\t%s\n' "$burst" "$batches" "$([ "$batches" -lt 100 ] && echo met || echo missed)"
  printf 'a writer during the burst\t%s ms\tnone\t-\t<= 1500 ms\t%s\n' "$writer" "$([ "$writer" -le 1500 ] && echo met || echo missed)"
  printf 'CPU over %s idle s\t%s ms\tnone\t-\t<= 1 tick\t%s\n' "$idle" "$cpu_ms" "$([ $((after - before)) -le 1 ] && echo met || echo missed)"
} | column -t -s $'\t'
