# orba_number_libraries: the headers of fast_float (text to number) and {fmt}
# (number to text), used header-only so the plug-ins need nothing more at run
# time. Only the two libraries' own folders reach the include path, copied into
# the build tree: a cross build (MinGW, aarch64, libc++) that finds them in
# /usr/include must not be handed the rest of /usr/include, this machine's C
# library headers among it.
#
# Each is taken from the first of: a folder given as ORBA_FAST_FLOAT_INCLUDE_DIR
# or ORBA_FMT_INCLUDE_DIR; the CMake package it installs (Homebrew, vcpkg,
# Debian's fast_float); its headers in the usual places (Debian's {fmt}, or any
# cross build, whose find root hides this machine's packages); its sources at a
# pinned release, fetched.

set(ORBA_FAST_FLOAT_TAG v3.9.0)
set(ORBA_FMT_TAG 9.1.0)

# Sets ${variable} (a cache entry) to the folder holding ${header}.
function(orba_find_header_folder variable package target header repository tag)
  if(NOT ${variable})
    set(hints "")
    find_package(${package} CONFIG QUIET)
    if(TARGET ${target})
      get_target_property(hints ${target} INTERFACE_INCLUDE_DIRECTORIES)
    endif()
    find_path(${variable} ${header}
      HINTS ${hints}
      PATHS /usr/include /usr/local/include /opt/homebrew/include /opt/local/include
      NO_CMAKE_FIND_ROOT_PATH)
  endif()
  if(NOT ${variable})
    message(STATUS "${header} not installed: fetching ${repository} at ${tag}")
    include(FetchContent)
    string(TOLOWER "orba_${package}" name)
    # A SOURCE_SUBDIR without a CMakeLists.txt: the sources are only unpacked,
    # not built.
    FetchContent_Declare(${name} GIT_REPOSITORY ${repository} GIT_TAG ${tag} GIT_SHALLOW TRUE
                         SOURCE_SUBDIR include)
    FetchContent_MakeAvailable(${name})
    set(${variable} ${${name}_SOURCE_DIR}/include CACHE PATH "" FORCE)
  endif()
  message(STATUS "${header}: ${${variable}}")
endfunction()

orba_find_header_folder(ORBA_FAST_FLOAT_INCLUDE_DIR FastFloat FastFloat::fast_float
                        fast_float/fast_float.h https://github.com/fastfloat/fast_float.git
                        ${ORBA_FAST_FLOAT_TAG})
orba_find_header_folder(ORBA_FMT_INCLUDE_DIR fmt fmt::fmt-header-only fmt/format.h
                        https://github.com/fmtlib/fmt.git ${ORBA_FMT_TAG})

set(ORBA_NUMBER_HEADERS ${PROJECT_BINARY_DIR}/number-libraries/include)
file(REMOVE_RECURSE ${ORBA_NUMBER_HEADERS})
file(COPY ${ORBA_FAST_FLOAT_INCLUDE_DIR}/fast_float ${ORBA_FMT_INCLUDE_DIR}/fmt
     DESTINATION ${ORBA_NUMBER_HEADERS})

add_library(orba_number_libraries INTERFACE)
target_include_directories(orba_number_libraries SYSTEM INTERFACE ${ORBA_NUMBER_HEADERS})
target_compile_definitions(orba_number_libraries INTERFACE FMT_HEADER_ONLY=1)
