#!/usr/bin/env bash
# Builds the project and runs every test through CTest.
# Usage: scripts/test.sh [preset]   (release by default; debug, sanitize and tsan also work;
# tsan builds with clang and runs every test under ThreadSanitizer; windows cross-builds for
# Windows x64 and runs the tests under Wine; libcxx builds with clang and LLVM's libc++; arm64
# cross-builds for Linux on arm64 and runs the tests under qemu)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}
bash scripts/install-deps.sh "$preset"
# The Windows build links a libsndfile cross-built from Debian's source package.
[ "$preset" != windows ] || bash scripts/windows-libsndfile.sh build/windows
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
if [ "$preset" = windows ]; then
  # The tests' own Wine prefix (as in the toolchain file), made before they
  # start, and one Wine server kept for the whole run: a test that starts just
  # as an idle server shuts down fails to connect.
  export WINEPREFIX=$PWD/build/windows/wine-prefix WINEDEBUG=-all WINEARCH=win64 DISPLAY=
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -w
  wineserver -p
  trap 'wineserver -k || true' EXIT
  wineboot -i >/dev/null 2>&1
  # Now and then Wine fails to start a program at all, with no output; the
  # windows test preset runs a failed test up to three times, so only a test
  # that fails every time fails the stage.
fi
ctest --preset "$preset" -j "$(nproc)"
