# Flags for the project's own targets only; dependencies keep their own.
# -ffp-contract=off keeps every f32/f64 result identical across compilers and CPUs.
function(orba_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -ffp-contract=off
                                           -fno-fast-math)
  if(ORBA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
