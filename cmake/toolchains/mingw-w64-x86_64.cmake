# Windows x64 from Linux, with Debian's MinGW-w64 cross compiler (the posix
# thread model, which std::thread and std::mutex need). Every program and
# library is linked with -static, so libgcc, libstdc++ and winpthread are built
# in and the files need nothing beyond Windows' own DLLs. The tests run under
# Wine, in a prefix of the build's own, without a display and without the
# downloads a new prefix otherwise offers (Mono, Gecko), and in a UTF-8 locale,
# from which Wine reads the arguments it hands the programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORBA_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ORBA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBA_MINGW_PREFIX}-windres)

# Libraries built for this target by the project's scripts (libsndfile) live
# in the build tree, under deps/; nothing is taken from the Linux system.
set(ORBA_DEPS_PREFIX ${CMAKE_BINARY_DIR}/deps)
set(CMAKE_FIND_ROOT_PATH /usr/${ORBA_MINGW_PREFIX} ${ORBA_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# A try_compile reads this file again in the same process, from a scratch
# folder of its own; the environment is the whole configure run's.
get_property(orba_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT orba_in_try_compile)
  set(ENV{PKG_CONFIG_LIBDIR} ${ORBA_DEPS_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

find_program(ORBA_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(ORBA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEARCH=win64 WINEDEBUG=-all
      "WINEDLLOVERRIDES=mscoree,mshtml=" DISPLAY= LC_ALL=C.UTF-8 ${ORBA_WINE})
endif()
