# Installs the varnel_delay_clap component with HOME pointing at HOME_DIR and
# checks that FILE_NAME arrived in HOME_DIR/.clap.
file(REMOVE_RECURSE "${HOME_DIR}")
set(ENV{HOME} "${HOME_DIR}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component varnel_delay_clap
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
if(NOT EXISTS "${HOME_DIR}/.clap/${FILE_NAME}")
  message(FATAL_ERROR "${FILE_NAME} is not in ${HOME_DIR}/.clap")
endif()
