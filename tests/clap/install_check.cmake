# Installs the varnel_delay_clap component with every folder it may install
# into pointing inside ROOT_DIR (HOME on Linux, %LOCALAPPDATA% and
# %COMMONPROGRAMFILES% on Windows) and checks that FILE_NAME arrived in
# ROOT_DIR/EXPECTED and nowhere else.
file(REMOVE_RECURSE "${ROOT_DIR}")
set(ENV{HOME} "${ROOT_DIR}/home")
set(ENV{LOCALAPPDATA} "${ROOT_DIR}/local")
set(ENV{COMMONPROGRAMFILES} "${ROOT_DIR}/common")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component varnel_delay_clap
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
file(GLOB_RECURSE installed RELATIVE "${ROOT_DIR}" "${ROOT_DIR}/*")
if(NOT installed STREQUAL "${EXPECTED}/${FILE_NAME}")
  message(FATAL_ERROR "installed [${installed}], not ${EXPECTED}/${FILE_NAME} alone")
endif()
