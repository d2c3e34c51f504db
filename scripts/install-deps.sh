#!/usr/bin/env bash
# Installs the Debian packages the build, tests, tools and benchmarks need,
# asking apt only when something is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libfast-float-dev libfmt-dev binutils locales)
preset=${1:-}
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# A preset named as the argument brings what its build needs as well.
#   libcxx:  clang with LLVM's C++ library;
#   tsan:    clang, whose ThreadSanitizer runs the whole suite;
#   arm64:   the aarch64 cross compiler, qemu to run what it builds, and
#            libsndfile for arm64 through Debian's multiarch;
#   windows: the MinGW-w64 cross compiler, Wine to test in, and what
#            scripts/windows-libsndfile.sh needs to build libsndfile from
#            Debian's source package.
case "$preset" in
  libcxx) packages+=(clang libc++-dev libc++abi-dev googletest) ;;
  tsan) packages+=(clang) ;;
  arm64) packages+=(g++-aarch64-linux-gnu qemu-user googletest libc6:arm64 libstdc++6:arm64
                    libsndfile1-dev:arm64) ;;
  windows) packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 googletest
                      dpkg-dev) ;;
esac
if [ "$preset" = arm64 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  echo "adding the arm64 architecture"
  "${sudo_cmd[@]}" dpkg --add-architecture arm64
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

# The parameter display tests run under a locale whose decimal mark is a comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "generating locale de_DE.UTF-8"
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

# apt-get source needs the source package lists, which a Debian image leaves out.
if [ "$preset" = windows ] && ! apt-get source --print-uris libsndfile >/dev/null 2>&1; then
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "adding Debian's source package lists for $codename"
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$codename" "$codename" | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/orba-deb-src.sources >/dev/null
  "${sudo_cmd[@]}" apt-get update -qq
fi
