#!/usr/bin/env bash
# Makes the Debian package (CPack's DEB generator, cmake/package.cmake) from a
# build of its own in build-package/, so build/ stays as it is: optimised
# as the tested build is (RelWithDebInfo, stripped in the package), warnings
# as errors.
# Debian's hardening flags come from dpkg-buildflags; the package's
# dependencies from dpkg-shlibdeps. Prints the package's path last.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build-package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Flags reach CMake only when a build folder is first configured.
rm -f "$dir/CMakeCache.txt"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVEK_WERROR=ON -DTOLVEK_TESTS=OFF -DTOLVEK_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/tolvek-photos_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$PWD/$dir"/tolvek-photos_*.deb
