#!/usr/bin/env bash
# Builds libsndfile for Windows x64 from Debian's source package, with the
# MinGW-w64 cross compiler of the windows preset, as a static library without
# its optional codecs (FLAC, Ogg, Vorbis, Opus, MPEG), and installs it into
# BUILD_DIR/deps, where that preset's pkg-config looks. clap-render.exe links
# it; nothing is taken from the Linux system's copy.
# Usage: scripts/windows-libsndfile.sh [BUILD_DIR]   (build/windows by default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath -m "${1:-build/windows}")
deps=$build/deps
if [ -f "$deps/lib/pkgconfig/sndfile.pc" ]; then
  exit 0
fi
work=$build/deps-build
rm -rf "$work"
mkdir -p "$work"
cd "$work"
apt-get source -qq --download-only libsndfile 2>&1 | { grep -v "unsandboxed" || true; }
dsc=$(ls libsndfile_*.dsc)
# apt checked the files against the signed package lists; the .dsc's own
# signature needs a keyring this machine has no use for.
dpkg-source --no-check -x "$dsc" source >/dev/null
nice cmake -S source -B build -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
  -DBUILD_SHARED_LIBS=OFF -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF \
  -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_REGTEST=OFF \
  -DENABLE_CPACK=OFF -DENABLE_PACKAGE_CONFIG=OFF -DINSTALL_MANPAGES=OFF >log 2>&1 ||
  { cat log; exit 1; }
nice cmake --build build -j2 >log 2>&1 || { cat log; exit 1; }
cmake --install build >log 2>&1 || { cat log; exit 1; }
rm -rf "$work"
echo "libsndfile for Windows in $deps"
