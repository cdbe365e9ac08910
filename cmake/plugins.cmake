# kivrel_plugin(NAME [LEVEL2] [SOURCE FILE] [TEST]): the plug-in NAME.plgglx
# built from FILE (default NAME.cpp of the calling folder) and the framework
# of its level (1 unless LEVEL2).
# Exports only plgFunction and plgVersion (version PLG); imports from libax
# and libplg bind to v7.0. A deliverable goes to KIVREL_PLUGIN_DIR and joins
# the list KIVREL_ALL_PLUGINS (the ABI check, the fuzz targets); a TEST
# plug-in goes to KIVREL_TEST_PLUGIN_DIR.

set(KIVREL_TEST_PLUGIN_DIR ${CMAKE_BINARY_DIR}/test-plugins)
# The framework sources compiled into every plug-in, besides level1.cpp or
# level2.cpp.
set(KIVREL_FRAMEWORK_SOURCES ${PROJECT_SOURCE_DIR}/framework/kivrel.cpp ${PROJECT_SOURCE_DIR}/framework/xcg.cpp)

function(kivrel_plugin name)
  cmake_parse_arguments(ARG "LEVEL2;TEST" "SOURCE" "" ${ARGN})
  set(level 1)
  if(ARG_LEVEL2)
    set(level 2)
  endif()
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  if(ARG_SOURCE)
    set(source ${ARG_SOURCE})
  endif()
  set(output_dir ${KIVREL_PLUGIN_DIR})
  if(ARG_TEST)
    set(output_dir ${KIVREL_TEST_PLUGIN_DIR})
  endif()
  # The block and its level's dispatch in one translation unit, so that the
  # entry point calls the block's callbacks directly (or inlines them)
  # instead of through its table.
  set(unit ${CMAKE_CURRENT_BINARY_DIR}/${name}_plugin.cpp)
  file(GENERATE OUTPUT ${unit}
       CONTENT "#include \"${source}\"\n#include \"${PROJECT_SOURCE_DIR}/framework/level${level}.cpp\"\n")
  add_library(${name} MODULE ${unit} ${KIVREL_FRAMEWORK_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/framework ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE KIVREL_BLOCK_NAME="${name}")
  # -fno-plt: a call into libax (every parameter read) goes through the GOT
  # entry bound at load time rather than through a PLT stub.
  target_compile_options(${name} PRIVATE ${KIVREL_WARNINGS} -fvisibility=hidden -fvisibility-inlines-hidden -fno-plt)
  target_link_libraries(${name} PRIVATE ax plg)
  target_link_options(${name} PRIVATE
    -Wl,--version-script=${PROJECT_SOURCE_DIR}/framework/plugin.map
    -Wl,-soname,${name}.plgglx)
  # Coverage instrumentation of the fuzz build leaves references to the
  # fuzzer's runtime, which only the fuzz program defines.
  if(NOT KIVREL_FUZZ)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".plgglx"
    LIBRARY_OUTPUT_DIRECTORY ${output_dir}
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/framework/plugin.map
    BUILD_RPATH "$ORIGIN/../lib")
  if(NOT ARG_TEST)
    set_property(GLOBAL APPEND PROPERTY KIVREL_ALL_PLUGINS ${name})
  endif()
endfunction()
