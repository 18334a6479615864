#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVEK_FUZZ=ON \
  -DTOLVEK_TESTS=OFF -DTOLVEK_BENCH=OFF >/dev/null
shopt -s nullglob
for src in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  cmake --build build-fuzz -j"$(nproc)" --target "$name"
  corpus=$(mktemp -d)
  seeds="tests/fuzz/seeds/$name"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
  [ -f "tests/fuzz/$name.seeds.sh" ] && bash "tests/fuzz/$name.seeds.sh" "$corpus"
  echo "fuzzing $name for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 build-fuzz/bin/"$name" -max_total_time="$seconds" -rss_limit_mb=1024 \
    -print_final_stats=1 "$corpus" 2>&1 | tail -n 15
  rm -rf "$corpus"
done
