#!/usr/bin/env bash
# Builds (if needed) and runs every test of the project.
#   scripts/test.sh                 the normal build in build/
#   scripts/test.sh --sanitize      the same tests under AddressSanitizer and UBSan, in build-sanitize/,
#                                   built with clang, whose -Wthread-safety checks the GUARDED_BY fields
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVEK_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  flags=(-DCMAKE_BUILD_TYPE=Debug -DTOLVEK_WERROR=ON -DTOLVEK_SANITIZE=ON -DTOLVEK_BENCH=OFF
         -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
