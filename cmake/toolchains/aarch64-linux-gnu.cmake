# Linux on 64-bit Arm, built with Debian's cross compiler (g++-aarch64-linux-gnu)
# and run under qemu-user. Libraries the compiler does not bring (libsndfile for
# the tools) come from Debian's arm64 packages, installed beside this machine's
# own (multiarch: libsndfile1-dev:arm64) in /usr/lib/aarch64-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Programs run on the multiarch arm64 loader and C library (libc6:arm64,
# libstdc++6:arm64) in their usual places, so qemu needs no -L: with
# -L /usr/aarch64-linux-gnu the cross compiler's own loader would find the
# multiarch libc.so.6 through this machine's ld.so.cache, and that mixed pair
# hangs in pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
# GCC notes that it passes pairs of floats differently since GCC 10.1: it
# concerns only objects built with an older GCC, and nothing here links any.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# pkg-config reads only the arm64 descriptions, never this machine's own.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
