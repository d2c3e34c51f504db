# Flags for the project's own targets only; dependencies keep their own.
# -ffp-contract=off keeps every f32/f64 result identical across compilers and CPUs.
function(orba_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -ffp-contract=off
                                           -fno-fast-math)
  if(ORBA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Whether this build runs under a sanitizer. A sanitized plug-in library then
# shares the sanitizer runtime's C++ library with its host instead of carrying
# its own.
if(ORBA_SANITIZE OR CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  set(ORBA_SANITIZED TRUE)
else()
  set(ORBA_SANITIZED FALSE)
endif()

# Shared libraries are linked with every symbol resolved, except under a
# sanitizer built by clang: its runtime lives only in the executable that
# loads them, so their calls into it are left for the loader.
if(ORBA_SANITIZED AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(ORBA_NO_UNDEFINED "")
else()
  set(ORBA_NO_UNDEFINED "LINKER:--no-undefined")
endif()

# Tools, tests, fuzzers and benchmarks run on the machine that builds them and
# use std::filesystem, which Apple's C++ library has only from macOS 10.15 on;
# only the plug-ins must load on older systems. Called at the top of their
# folders, it raises the folder's deployment target and nothing else's.
macro(orba_runs_where_built)
  if(APPLE AND CMAKE_OSX_DEPLOYMENT_TARGET VERSION_LESS 10.15)
    set(CMAKE_OSX_DEPLOYMENT_TARGET 10.15)
  endif()
endmacro()
