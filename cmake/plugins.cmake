# kivrel_plugin(NAME [LEVEL2]): the plug-in NAME.plgglx built from NAME.cpp of
# the calling block group folder and the framework. Exports only plgFunction and
# plgVersion (version PLG); imports from libax and libplg bind to v7.0.

function(kivrel_plugin name)
  cmake_parse_arguments(ARG "LEVEL2" "" "" ${ARGN})
  set(level 1)
  if(ARG_LEVEL2)
    set(level 2)
  endif()
  add_library(${name} MODULE
    ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp
    ${PROJECT_SOURCE_DIR}/framework/kivrel.cpp
    ${KIVREL_FRAMEWORK_EXTRA_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/framework ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE KIVREL_BLOCK_NAME="${name}" KIVREL_LEVEL=${level})
  target_compile_options(${name} PRIVATE ${KIVREL_WARNINGS} -fvisibility=hidden -fvisibility-inlines-hidden)
  target_link_libraries(${name} PRIVATE ax plg)
  target_link_options(${name} PRIVATE
    -Wl,--version-script=${PROJECT_SOURCE_DIR}/framework/plugin.map
    -Wl,-soname,${name}.plgglx
    -Wl,--no-undefined)
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".plgglx"
    LIBRARY_OUTPUT_DIRECTORY ${KIVREL_PLUGIN_DIR}
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/framework/plugin.map
    BUILD_RPATH "$ORIGIN/../lib")
  set_property(GLOBAL APPEND PROPERTY KIVREL_ALL_PLUGINS ${name})
endfunction()
