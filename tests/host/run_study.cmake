# Runs one example study with -j 2 and its plot, and compares the table with
# the one committed beside the study (STUDY without .toml, then .csv).
get_filename_component(dir ${STUDY} DIRECTORY)
get_filename_component(base ${STUDY} NAME_WE)
execute_process(COMMAND ${BLOCKSIM} sweep ${STUDY} -j 2 --results ${RESULTS} --plot ${RESULTS}/${base}.png
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "blocksim sweep ${base}.toml exited with ${status}\n${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${RESULTS}/table.csv ${dir}/${base}.csv RESULT_VARIABLE differ)
if(differ)
  file(READ ${RESULTS}/table.csv got)
  message(FATAL_ERROR "the table of ${base}.toml differs from ${base}.csv:\n${got}")
endif()
