# orba_plugin(<target>
#             TABLE <header> GRAPH <file.json>  |  CLASS <C++ type> HEADER <include path>
#             ID <reverse-DNS id> NAME <product name> VENDOR <vendor> VERSION <a.b.c>
#             DESCRIPTION <one sentence> FEATURES <CLAP features...>
#             AU_TYPE <4 chars> AU_SUBTYPE <4 chars> AU_MANUFACTURER <4 chars>
#             [AU_FACTORY <C symbol>] [AU_BUNDLE_ID <reverse DNS>]
#             [SOURCES <files...>] [TESTS <folder>])
# One plug-in, called from its folder's CMakeLists.txt, and the only place its
# identity is written. A plug-in is either
#   a table and a graph: TABLE names a header of the folder that defines the
#     parameter table as `PARAMS` in the namespace named like <target>, and
#     GRAPH the graph file beside it, embedded at build time; the plug-in is
#     orba::GraphPlugin<<target>::INFO> and has no class of its own; or
#   a class of its own: CLASS, declared in HEADER (included as
#     "<folder>/<file>.h"), which gives orba-graph its table as a static
#     `PARAMS` and its graph text as a static `graph_text()`.
# Makes three targets:
#   <target>       a static library of SOURCES (and the generated record);
#                  headers are included as "<folder>/<file>.h" from plugins/
#   <target>_clap  "<NAME>.clap"
#   <target>_au    "<NAME>.component", in builds with ORBA_AU (not on Windows)
# The entry points of both packages are generated. The identity is also
# published as <TARGET>_ID, _NAME, _VENDOR, _VERSION, _AU_TYPE, _AU_SUBTYPE,
# _AU_MANUFACTURER and _AU_FACTORY (the target name upper-cased), for tests
# that check what a host is told, and _CLASS, _HEADER, _INFO, _PARAMS and
# _FOLDER (its folder's name) for orba-graph, which compiles every plug-in in;
# the global property ORBA_PLUGINS lists the targets.
# TESTS names a folder (from the plug-in's own) whose *_test.cpp files become
# the plug-in's tests, built against GoogleTest and the test kit
# (tests/support/plugin_render.h); see orba_plugin_tests().
# AU_FACTORY defaults to the name without anything but letters and digits,
# followed by "Factory"; AU_BUNDLE_ID to "com.<ID>.component".
set(ORBA_PLUGIN_TEMPLATES ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")

function(orba_plugin target)
  cmake_parse_arguments(ARG ""
    "CLASS;HEADER;TABLE;GRAPH;TESTS;ID;NAME;VENDOR;VERSION;DESCRIPTION;AU_TYPE;AU_SUBTYPE;AU_MANUFACTURER;AU_FACTORY;AU_BUNDLE_ID"
    "FEATURES;SOURCES" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "orba_plugin(${target}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(ARG_TABLE OR ARG_GRAPH)
    set(form TABLE GRAPH)
    if(ARG_CLASS OR ARG_HEADER)
      message(FATAL_ERROR "orba_plugin(${target}): give either TABLE and GRAPH or CLASS and HEADER")
    endif()
    if(NOT target MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      message(FATAL_ERROR "orba_plugin(${target}): the target name is the namespace of the "
                          "table's PARAMS, so it takes only letters, digits and underscores")
    endif()
  else()
    set(form CLASS HEADER SOURCES)
  endif()
  foreach(key ${form} ID NAME VENDOR VERSION FEATURES AU_TYPE AU_SUBTYPE AU_MANUFACTURER)
    if(NOT ARG_${key})
      message(FATAL_ERROR "orba_plugin(${target}): ${key} is missing")
    endif()
  endforeach()
  foreach(key ID NAME VENDOR VERSION DESCRIPTION)
    if(ARG_${key} MATCHES "[\"\\\\]")
      message(FATAL_ERROR "orba_plugin(${target}): ${key} cannot hold a quote or a backslash")
    endif()
  endforeach()
  if(NOT ARG_AU_FACTORY)
    string(REGEX REPLACE "[^A-Za-z0-9]" "" ARG_AU_FACTORY "${ARG_NAME}")
    set(ARG_AU_FACTORY "${ARG_AU_FACTORY}Factory")
  endif()
  if(NOT ARG_AU_BUNDLE_ID)
    set(ARG_AU_BUNDLE_ID "com.${ARG_ID}.component")
  endif()

  get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  set(PLUGIN_DECLARATIONS "")
  set(info "")
  set(params "${ARG_CLASS}::PARAMS")
  if(ARG_TABLE)
    get_filename_component(graph "${ARG_GRAPH}" ABSOLUTE)
    if(NOT EXISTS "${graph}")
      message(FATAL_ERROR "orba_plugin(${target}): there is no graph file ${graph}")
    endif()
    set(record "${CMAKE_CURRENT_BINARY_DIR}/${target}_info.cpp")
    add_custom_command(OUTPUT "${record}"
      COMMAND ${CMAKE_COMMAND} "-DGRAPH=${graph}" "-DOUTPUT=${record}" "-DNAMESPACE=${target}"
              "-DNAME=${ARG_NAME}" "-DTABLE=${folder}/${ARG_TABLE}"
              -P ${ORBA_PLUGIN_TEMPLATES}/OrbaGraphInfo.cmake
      DEPENDS "${graph}" ${ORBA_PLUGIN_TEMPLATES}/OrbaGraphInfo.cmake
      COMMENT "Embedding ${folder}/${ARG_GRAPH}"
      VERBATIM)
    list(APPEND ARG_SOURCES "${record}")
    set(info "${target}::INFO")
    set(params "${target}::PARAMS")
    set(ARG_CLASS "orba::GraphPlugin<${info}>")
    set(ARG_HEADER "orba/blocks/graph_plugin.h")
    set(PLUGIN_DECLARATIONS "namespace ${target} {\nextern const orba::GraphPluginInfo INFO;\n}\n")
    set(ARG_HEADER_TABLE "${folder}/${ARG_TABLE}")
  else()
    set(ARG_HEADER_TABLE "${ARG_HEADER}")
  endif()

  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/plugins)
  target_link_libraries(${target} PUBLIC orba_blocks)
  orba_target(${target})

  set(PLUGIN_CLASS "${ARG_CLASS}")
  set(PLUGIN_HEADER "${ARG_HEADER}")
  set(PLUGIN_ID "${ARG_ID}")
  set(PLUGIN_NAME "${ARG_NAME}")
  set(PLUGIN_VENDOR "${ARG_VENDOR}")
  set(PLUGIN_VERSION "${ARG_VERSION}")
  set(PLUGIN_DESCRIPTION "${ARG_DESCRIPTION}")
  set(PLUGIN_NAMESPACE "${target}_clap")
  set(PLUGIN_FACTORY "${ARG_AU_FACTORY}")
  set(PLUGIN_FEATURES "")
  foreach(feature ${ARG_FEATURES})
    if(PLUGIN_FEATURES)
      string(APPEND PLUGIN_FEATURES ", ")
    endif()
    string(APPEND PLUGIN_FEATURES "\"${feature}\"")
  endforeach()
  set(clap_entry "${CMAKE_CURRENT_BINARY_DIR}/${target}_clap.cpp")
  set(au_entry "${CMAKE_CURRENT_BINARY_DIR}/${target}_au.cpp")
  configure_file(${ORBA_PLUGIN_TEMPLATES}/plugin_clap.cpp.in "${clap_entry}" @ONLY)
  configure_file(${ORBA_PLUGIN_TEMPLATES}/plugin_au.cpp.in "${au_entry}" @ONLY)

  orba_clap_library(${target}_clap OUTPUT_NAME "${ARG_NAME}" INSTALL
                    SOURCES "${clap_entry}" LIBRARIES ${target})
  if(ORBA_AU)
    orba_au_component(${target}_au INSTALL
                      OUTPUT_NAME "${ARG_NAME}"
                      FACTORY ${ARG_AU_FACTORY}
                      NAME "${ARG_VENDOR}: ${ARG_NAME}"
                      TYPE ${ARG_AU_TYPE}
                      SUBTYPE ${ARG_AU_SUBTYPE}
                      MANUFACTURER ${ARG_AU_MANUFACTURER}
                      VERSION ${ARG_VERSION}
                      BUNDLE_ID "${ARG_AU_BUNDLE_ID}"
                      SOURCES "${au_entry}"
                      LIBRARIES ${target})
  endif()

  string(TOUPPER "${target}" prefix)
  set(${prefix}_ID "${ARG_ID}" CACHE INTERNAL "")
  set(${prefix}_NAME "${ARG_NAME}" CACHE INTERNAL "")
  set(${prefix}_VENDOR "${ARG_VENDOR}" CACHE INTERNAL "")
  set(${prefix}_VERSION "${ARG_VERSION}" CACHE INTERNAL "")
  set(${prefix}_AU_TYPE "${ARG_AU_TYPE}" CACHE INTERNAL "")
  set(${prefix}_AU_SUBTYPE "${ARG_AU_SUBTYPE}" CACHE INTERNAL "")
  set(${prefix}_AU_MANUFACTURER "${ARG_AU_MANUFACTURER}" CACHE INTERNAL "")
  set(${prefix}_AU_FACTORY "${ARG_AU_FACTORY}" CACHE INTERNAL "")
  set(${prefix}_CLASS "${ARG_CLASS}" CACHE INTERNAL "")
  set(${prefix}_HEADER "${ARG_HEADER}" CACHE INTERNAL "")
  set(${prefix}_INFO "${info}" CACHE INTERNAL "")
  set(${prefix}_PARAMS "${params}" CACHE INTERNAL "")
  set(${prefix}_PARAMS_HEADER "${ARG_HEADER_TABLE}" CACHE INTERNAL "")
  set(${prefix}_FOLDER "${folder}" CACHE INTERNAL "")
  set(tests "")
  if(ARG_TESTS)
    get_filename_component(tests "${ARG_TESTS}" ABSOLUTE)
  endif()
  set(${prefix}_TESTS "${tests}" CACHE INTERNAL "")
  set_property(GLOBAL APPEND PROPERTY ORBA_PLUGINS ${target})
endfunction()

# Every folder of plugins/ that has a CMakeLists.txt is a plug-in: adding one
# is all it takes to build another.
function(orba_add_plugins)
  file(GLOB entries LIST_DIRECTORIES true CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/plugins/*)
  list(SORT entries)
  foreach(entry ${entries})
    if(IS_DIRECTORY "${entry}" AND EXISTS "${entry}/CMakeLists.txt")
      add_subdirectory("${entry}")
    endif()
  endforeach()
endfunction()

# Called from tests/ once GoogleTest is found: every *_test.cpp in a plug-in's
# TESTS folder becomes the binary <target>_<file>, run by CTest, beside a test
# that runs `orba-graph check --plugin <folder> --strict` where orba-graph is
# built. Each test
# knows its plug-in through definitions the test kit
# (tests/support/plugin_render.h) reads: ORBA_PLUGIN_CLAP (the built .clap),
# ORBA_PLUGIN_ID, ORBA_PLUGIN_NAME, and ORBA_PLUGIN_PARAMS with the header
# ORBA_PLUGIN_PARAMS_HEADER that declares it (the table, so tests set
# parameters by the ids the graph uses). Files whose name starts with "au"
# are the Audio Unit's tests: built only with ORBA_AU, against the test host
# of tests/au, with ORBA_PLUGIN_AU and the component's codes as
# ORBA_PLUGIN_AU_TYPE, _SUBTYPE, _MANUFACTURER and _FACTORY.
function(orba_plugin_tests)
  get_property(plugins GLOBAL PROPERTY ORBA_PLUGINS)
  foreach(plugin ${plugins})
    string(TOUPPER "${plugin}" prefix)
    if(NOT ${prefix}_TESTS)
      continue()
    endif()
    # The graph as orba-graph sees it: an id the table lacks, an argument that
    # can leave its range, anything it warns about fails the plug-in's tests.
    if(TARGET orba-graph)
      add_test(NAME ${plugin}.GraphChecksCleanWithOrbaGraphStrict
               COMMAND orba-graph check --plugin ${${prefix}_FOLDER} --strict)
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${${prefix}_TESTS}/*_test.cpp)
    if(NOT sources)
      message(FATAL_ERROR "orba_plugin(${plugin}): TESTS ${${prefix}_TESTS} holds no *_test.cpp")
    endif()
    foreach(source ${sources})
      get_filename_component(stem ${source} NAME_WE)
      set(name ${plugin}_${stem})
      set(au FALSE)
      if(stem MATCHES "^au")
        set(au TRUE)
        if(NOT TARGET ${plugin}_au)
          continue()
        endif()
      endif()
      add_executable(${name} ${source})
      target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
      target_link_libraries(${name} PRIVATE ${plugin} orba_clap GTest::gtest GTest::gtest_main
                            ${CMAKE_DL_LIBS})
      target_compile_definitions(${name} PRIVATE
        "ORBA_PLUGIN_CLAP=\"$<TARGET_FILE:${plugin}_clap>\""
        "ORBA_PLUGIN_ID=\"${${prefix}_ID}\""
        "ORBA_PLUGIN_NAME=\"${${prefix}_NAME}\""
        "ORBA_PLUGIN_PARAMS=${${prefix}_PARAMS}"
        "ORBA_PLUGIN_PARAMS_HEADER=\"${${prefix}_PARAMS_HEADER}\"")
      add_dependencies(${name} ${plugin}_clap)
      if(au)
        target_link_libraries(${name} PRIVATE orba_au orba_au_platform)
        target_compile_definitions(${name} PRIVATE
          "ORBA_PLUGIN_AU=\"$<TARGET_FILE:${plugin}_au>\""
          "ORBA_PLUGIN_AU_TYPE=\"${${prefix}_AU_TYPE}\""
          "ORBA_PLUGIN_AU_SUBTYPE=\"${${prefix}_AU_SUBTYPE}\""
          "ORBA_PLUGIN_AU_MANUFACTURER=\"${${prefix}_AU_MANUFACTURER}\""
          "ORBA_PLUGIN_AU_FACTORY=\"${${prefix}_AU_FACTORY}\"")
        add_dependencies(${name} ${plugin}_au)
      endif()
      orba_target(${name})
      gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    endforeach()
  endforeach()
endfunction()
