# Installs the varnel_delay_clap component of a Windows build with
# %LOCALAPPDATA% and %COMMONPROGRAMFILES% pointing into ROOT_DIR, and checks
# that FILE_NAME arrived in the one CLAP folder ALL_USERS chooses, and only there.
file(REMOVE_RECURSE "${ROOT_DIR}")
set(ENV{LOCALAPPDATA} "${ROOT_DIR}/local")
set(ENV{COMMONPROGRAMFILES} "${ROOT_DIR}/common")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component varnel_delay_clap
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(user "${ROOT_DIR}/local/Programs/Common/CLAP/${FILE_NAME}")
set(everyone "${ROOT_DIR}/common/CLAP/${FILE_NAME}")
if(ALL_USERS)
  set(expected "${everyone}")
  set(unexpected "${user}")
else()
  set(expected "${user}")
  set(unexpected "${everyone}")
endif()
if(NOT EXISTS "${expected}" OR EXISTS "${unexpected}")
  message(FATAL_ERROR "${FILE_NAME} is not in ${expected} alone")
endif()
