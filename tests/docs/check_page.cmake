# Runs the examples of one documentation page and compares what they print
# with what the page says they print.
#
#   cmake -DBLOCKSIM="[EMULATOR;]blocksim" -DPLUGIN_DIR=DIR -DPAGE=PAGE.md -DWORK=DIR
#         [-DREQUIRE_EXAMPLE=ON] -P check_page.cmake
#
# An example is a fence `step` (a step script) followed by a fence `output`
# (what `blocksim step` prints), or a fence `toml model` followed by a fence
# `csv` (what `blocksim run` prints); `output exit=N` / `csv exit=N` give the
# exit status (default 0). Fences `file NAME` before the example are written
# into its folder; fences `written NAME` after it hold what the example wrote
# into NAME. Each example runs in a fresh empty folder WORK/exN, its current
# folder. Other fences are left alone.

foreach(var BLOCKSIM PLUGIN_DIR PAGE WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_page.cmake needs -D${var}=...")
  endif()
endforeach()

file(READ ${PAGE} text)
file(RELATIVE_PATH page_name ${CMAKE_CURRENT_LIST_DIR}/../.. ${PAGE})

# Split into lines without CMake's list rules: semicolons and square brackets
# (which group list elements) stand in as control characters meanwhile.
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "[" "${open_bracket}" text "${text}")
string(REPLACE "]" "${close_bracket}" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(failures "")
set(examples 0)
set(pending "")        # step | model: an example waiting for its output fence
set(file_count 0)      # `file NAME` fences waiting for the next example
set(last_dir "")       # folder of the example that ran last

# Records a failure of the example (or fence) that starts at LINE. (Functions,
# not macros: a macro would read backslashes in the page's text as escapes.)
function(fail line what)
  set(failures "${failures}${page_name}:${line}: ${what}\n" PARENT_SCOPE)
endfunction()

# Runs the pending example; EXPECTED is the fence that follows it.
function(run_example expected expected_status)
  math(EXPR n "${examples} + 1")
  set(examples ${n} PARENT_SCOPE)
  set(dir ${WORK}/ex${n})
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir})
  set(i 0)
  while(i LESS file_count)
    math(EXPR i "${i} + 1")
    file(WRITE ${dir}/${file_name_${i}} "${file_body_${i}}")
  endwhile()
  if(pending STREQUAL "step")
    file(WRITE ${dir}/example.step "${pending_body}")
    set(args step --plugin-dir ${PLUGIN_DIR} example.step)
  else()
    file(WRITE ${dir}/model.toml "${pending_body}")
    set(args run --plugin-dir ${PLUGIN_DIR} model.toml)
  endif()
  execute_process(COMMAND ${BLOCKSIM} ${args} WORKING_DIRECTORY ${dir}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT out STREQUAL expected OR NOT status STREQUAL expected_status)
    set(f "${failures}${page_name}:${pending_line}: the example starting `${pending_first}` differs:\n")
    string(APPEND f "--- expected (exit ${expected_status})\n${expected}--- actual (exit ${status})\n${out}")
    if(NOT err STREQUAL "")
      string(APPEND f "--- standard error\n${err}")
    endif()
    set(failures "${f}" PARENT_SCOPE)
  endif()
  set(last_dir ${dir} PARENT_SCOPE)
endfunction()

set(line_no 0)
set(fence "")
foreach(line IN LISTS lines)
  math(EXPR line_no "${line_no} + 1")
  string(REPLACE "${semicolon}" ";" line "${line}")
  string(REPLACE "${open_bracket}" "[" line "${line}")
  string(REPLACE "${close_bracket}" "]" line "${line}")
  if(fence STREQUAL "")
    if(line MATCHES "^(```+|~~~+)[ ]*([^`]*)$")
      set(fence ${CMAKE_MATCH_1})
      string(STRIP "${CMAKE_MATCH_2}" fence_info)
      set(fence_body "")
      set(fence_line ${line_no})
    endif()
  elseif(line MATCHES "^(```+|~~~+)[ ]*$" AND CMAKE_MATCH_1 MATCHES "^${fence}")
    set(fence "")
    if(fence_info STREQUAL "step" OR fence_info STREQUAL "toml model")
      # A step script or a model: it runs when its output fence comes.
      if(pending)
        fail(${pending_line} "example without its output fence")
      endif()
      set(pending model)
      if(fence_info STREQUAL "step")
        set(pending step)
      endif()
      set(pending_body "${fence_body}")
      set(pending_line ${fence_line})
      string(FIND "${fence_body}" "\n" eol)
      string(SUBSTRING "${fence_body}" 0 ${eol} pending_first)
    elseif(fence_info MATCHES "^(output|csv)( exit=([0-9]+))?$")
      set(kind ${CMAKE_MATCH_1})
      set(status 0)
      if(CMAKE_MATCH_3)
        set(status ${CMAKE_MATCH_3})
      endif()
      if((kind STREQUAL "output" AND pending STREQUAL "step") OR (kind STREQUAL "csv" AND pending STREQUAL "model"))
        run_example("${fence_body}" ${status})
      else()
        fail(${fence_line} "fence '${fence_info}' without the example it belongs to")
      endif()
      set(pending "")
      set(file_count 0)
    elseif(fence_info MATCHES "^file ([^ /]+)$")
      math(EXPR file_count "${file_count} + 1")
      set(file_name_${file_count} ${CMAKE_MATCH_1})
      set(file_body_${file_count} "${fence_body}")
    elseif(fence_info MATCHES "^written ([^ /]+)$")
      set(written ${CMAKE_MATCH_1})
      if(last_dir STREQUAL "" OR pending)
        fail(${fence_line} "fence 'written ${written}' without a preceding example")
      elseif(NOT EXISTS ${last_dir}/${written})
        fail(${fence_line} "the example did not write ${written}")
      else()
        file(READ ${last_dir}/${written} got)
        if(NOT got STREQUAL fence_body)
          fail(${fence_line} "${written} differs:\n--- expected\n${fence_body}--- actual\n${got}")
        endif()
      endif()
    endif()
  else()
    string(APPEND fence_body "${line}\n")
  endif()
endforeach()
if(NOT fence STREQUAL "")
  fail(${fence_line} "fence not closed")
endif()
if(pending)
  fail(${pending_line} "example without its output fence")
endif()
if(REQUIRE_EXAMPLE AND examples EQUAL 0)
  fail(1 "the page has no runnable example")
endif()

if(NOT failures STREQUAL "")
  # Printed as it is (a fatal error's text would be reflowed).
  message("${failures}")
  message(FATAL_ERROR "${page_name}: the page and what its examples print differ")
endif()
message(STATUS "${page_name}: ${examples} example(s) print what the page shows")
