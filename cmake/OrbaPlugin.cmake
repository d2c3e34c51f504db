# orba_plugin(<target>
#             CLASS <C++ type> HEADER <include path of its header>
#             ID <reverse-DNS id> NAME <product name> VENDOR <vendor> VERSION <a.b.c>
#             DESCRIPTION <one sentence> FEATURES <CLAP features...>
#             AU_TYPE <4 chars> AU_SUBTYPE <4 chars> AU_MANUFACTURER <4 chars>
#             [AU_FACTORY <C symbol>] [AU_BUNDLE_ID <reverse DNS>]
#             SOURCES <files...>)
# One plug-in, called from its folder's CMakeLists.txt, and the only place its
# identity is written. Makes three targets:
#   <target>       a static library of SOURCES; headers are included as
#                  "<folder>/<file>.h" from plugins/
#   <target>_clap  "<NAME>.clap"
#   <target>_au    "<NAME>.component", in builds with ORBA_AU (not on Windows)
# The entry points of both packages are generated, so a plug-in's own sources
# hold only its parameter table, its graph and its Plugin class. The identity
# is also published as <TARGET>_ID, _NAME, _VENDOR, _VERSION, _AU_TYPE,
# _AU_SUBTYPE, _AU_MANUFACTURER and _AU_FACTORY (the target name upper-cased),
# for tests that check what a host is told, and _CLASS, _HEADER and _FOLDER
# (its folder's name) for orba-graph, which compiles every plug-in in; the
# global property ORBA_PLUGINS lists the targets.
# AU_FACTORY defaults to the name without anything but letters and digits,
# followed by "Factory"; AU_BUNDLE_ID to "com.<ID>.component".
set(ORBA_PLUGIN_TEMPLATES ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")

function(orba_plugin target)
  cmake_parse_arguments(ARG ""
    "CLASS;HEADER;ID;NAME;VENDOR;VERSION;DESCRIPTION;AU_TYPE;AU_SUBTYPE;AU_MANUFACTURER;AU_FACTORY;AU_BUNDLE_ID"
    "FEATURES;SOURCES" ${ARGN})
  foreach(key CLASS HEADER ID NAME VENDOR VERSION FEATURES AU_TYPE AU_SUBTYPE AU_MANUFACTURER
              SOURCES)
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
  get_filename_component(folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
  set(${prefix}_FOLDER "${folder}" CACHE INTERNAL "")
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
