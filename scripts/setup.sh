#!/usr/bin/env bash
# Installs every Debian package the project needs, then configures and builds it.
# Safe to run again: apt-get skips what is installed, CMake rebuilds only what changed.
#   scripts/setup.sh            install packages and build into build/
#   scripts/setup.sh --deps     install packages only
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # toolchain and tests
  build-essential cmake pkg-config git clang libclang-rt-dev
  libgtest-dev googletest
  # JSON, catalog, main loop, downloads
  nlohmann-json3-dev libsqlite3-dev sqlite3 libglib2.0-dev libcurl4-openssl-dev
  # content hashes (SHA-256)
  nettle-dev
  # the mount table and volumes by UUID or label
  libmount-dev libblkid-dev
  # pictures (HEIC/HEIF/AVIF through libheif) and video frames
  libvips-dev libheif-dev libjpeg62-turbo-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  # photo metadata (dates, orientation, ratings) and camera RAW files
  libexiv2-dev libraw-dev
  # fixture generation in tests, benchmarks and objcopy checks
  ffmpeg libvips-tools libheif-examples hyperfine binutils jq
  # RAW fixtures are checked against LibRaw's own tools; ExifTool writes test metadata
  libraw-bin libimage-exiftool-perl
  # the Debian package (scripts/package.sh: dpkg-shlibdeps, dpkg-buildflags) and its
  # checks (scripts/check_package.sh: lintian, systemd-analyze, man)
  dpkg-dev fakeroot lintian systemd man-db
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[ "${1:-}" = "--deps" ] && exit 0

# The same configuration as scripts/test.sh, so the tests do not rebuild everything.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVEK_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
