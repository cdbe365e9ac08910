# Turns the block pages docs/blocks/NAME.md into a C++ source for
# `blocksim help`: one entry per page with the block's name, its group (the
# folder of blocks/GROUP/NAME.cpp) and the page's text.
#
#   cmake -DPAGES_DIR=docs/blocks -DBLOCKS_DIR=blocks -DOUT=help_pages.cpp -P embed_pages.cmake
file(GLOB pages ${PAGES_DIR}/*.md)
set(entries "")
set(count 0)
foreach(page ${pages})
  get_filename_component(name ${page} NAME_WE)
  if(name STREQUAL "README")
    continue()
  endif()
  file(GLOB source ${BLOCKS_DIR}/*/${name}.cpp)
  set(group "other")
  if(source)
    list(GET source 0 source)
    get_filename_component(dir ${source} DIRECTORY)
    get_filename_component(group ${dir} NAME)
  endif()
  file(READ ${page} text)
  if(text MATCHES "\\)kivrelpage\"")
    message(FATAL_ERROR "${page} contains the text that ends the embedded page")
  endif()
  string(APPEND entries "    {\"${name}\", \"${group}\", R\"kivrelpage(${text})kivrelpage\"},\n")
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no block pages in ${PAGES_DIR}")
endif()
set(source_text "// Generated from docs/blocks/*.md by cmake/embed_pages.cmake; do not edit.
#include \"help.h\"

namespace blocksim {

const HelpPage kHelpPages[] = {
${entries}};
const size_t kHelpPageCount = ${count};

}  // namespace blocksim
")
file(WRITE ${OUT} "${source_text}")
