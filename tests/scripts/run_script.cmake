# Runs one blocksim step script and compares its standard output with
# SCRIPT.expected beside it. A line "# status: N" in the script gives the
# expected exit status (default 0).
get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(base ${SCRIPT} NAME_WE)
file(READ ${dir}/${base}.expected expected)
file(STRINGS ${SCRIPT} status_lines REGEX "^# status: [0-9]+")
set(expected_status 0)
if(status_lines)
  string(REGEX REPLACE "^# status: ([0-9]+).*" "\\1" expected_status "${status_lines}")
endif()
execute_process(COMMAND ${BLOCKSIM} step ${SCRIPT}
  WORKING_DIRECTORY ${dir}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "output of ${base}.step differs.\n--- expected\n${expected}--- got\n${out}--- stderr\n${err}")
endif()
if(NOT status EQUAL expected_status)
  message(FATAL_ERROR "${base}.step exited with ${status}, expected ${expected_status}\n${err}")
endif()
