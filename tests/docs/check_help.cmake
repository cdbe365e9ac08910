# `blocksim help NAME` prints the page of NAME (here run from the root folder,
# so nothing is read from the source tree), beginning with the page's title;
# an unknown name exits with status 2 and lists the names.
#
#   cmake -DBLOCKSIM="[EMULATOR;]blocksim" -DPAGE=docs/blocks/NAME.md -P check_help.cmake
get_filename_component(name ${PAGE} NAME_WE)
file(STRINGS ${PAGE} title LIMIT_COUNT 1)
string(REGEX REPLACE "^# " "" title "${title}")

execute_process(COMMAND ${BLOCKSIM} help ${name} WORKING_DIRECTORY /
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
string(FIND "${out}" "\n" eol)
string(SUBSTRING "${out}" 0 ${eol} first)
if(NOT status EQUAL 0 OR NOT first STREQUAL title)
  message(FATAL_ERROR "blocksim help ${name} exited with ${status} and began with\n${first}\n"
                      "instead of\n${title}\n${err}")
endif()

execute_process(COMMAND ${BLOCKSIM} help nosuchblock WORKING_DIRECTORY /
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 2 OR NOT err MATCHES "'nosuchblock'.*${name}")
  message(FATAL_ERROR "blocksim help nosuchblock exited with ${status}:\n${err}")
endif()
