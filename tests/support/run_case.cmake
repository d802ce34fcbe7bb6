# Runs one golden end-to-end case: reads CASE/args (one argument per line, @DATA@ and
# @WORK@ replaced), runs EXE in the test data folder with no standard input, and compares
# stdout, stderr and the exit status with CASE/expected.* (per-build files
# expected.<build>.* win). The build date and time are normalised to <date> and <time>, the
# program's own path (in usage messages) to @EXE@.
# With -DUPDATE_GOLDEN=ON the expected files are rewritten instead. A case with a file
# "validate" writes an XML document on stdout, which must also pass XMLLINT against the schema
# that file names (a path below DATA). A case with a file "output" sends standard output where
# that file says instead of capturing it: a path (such as /dev/full, a device that is always
# full) or "closed" (the program starts with standard output closed); its expected.stdout
# is then empty.
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(arguments "")
if(EXISTS ${CASE}/args)
  file(STRINGS ${CASE}/args lines)
  foreach(line ${lines})
    string(REPLACE "@DATA@" "${DATA}" line "${line}")
    string(REPLACE "@WORK@" "${WORK}" line "${line}")
    list(APPEND arguments "${line}")
  endforeach()
endif()
set(envargs "")
if(EXISTS ${CASE}/env)
  file(STRINGS ${CASE}/env envlines)
  foreach(line ${envlines})
    string(REPLACE "@DATA@" "${DATA}" line "${line}")
    list(APPEND envargs "${line}")
  endforeach()
endif()
if(EXISTS ${CASE}/setup.cmake)
  include(${CASE}/setup.cmake)
endif()
set(outputfile ${WORK}/stdout)
set(command ${EXE} ${arguments})
if(EXISTS ${CASE}/output)
  file(STRINGS ${CASE}/output output LIMIT_COUNT 1)
  file(WRITE ${WORK}/stdout "")
  if(output STREQUAL "closed")
    set(command sh -c "exec \"$0\" \"$@\" >&-" ${EXE} ${arguments})
  else()
    set(outputfile ${output})
  endif()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${envargs} ${command}
  WORKING_DIRECTORY ${DATA}
  INPUT_FILE /dev/null
  OUTPUT_FILE ${outputfile}
  ERROR_FILE ${WORK}/stderr
  RESULT_VARIABLE status)
file(WRITE ${WORK}/status "${status}\n")

set(failed FALSE)
if(EXISTS ${CASE}/validate)
  file(STRINGS ${CASE}/validate schema LIMIT_COUNT 1)
  if(NOT XMLLINT)
    message(FATAL_ERROR "case ${CASE} needs xmllint (libxml2-utils; make deps)")
  endif()
  execute_process(COMMAND ${XMLLINT} --noout --schema ${DATA}/${schema} ${WORK}/stdout
    RESULT_VARIABLE invalid ERROR_VARIABLE xmlerrors)
  if(invalid)
    message(SEND_ERROR "stdout is no valid document:\n${xmlerrors}")
    set(failed TRUE)
  endif()
endif()

foreach(stream stdout stderr)
  file(READ ${WORK}/${stream} text)
  string(REGEX REPLACE "[A-Z][a-z][a-z] [ 0-9][0-9] [0-9][0-9][0-9][0-9]" "<date>" text "${text}")
  string(REGEX REPLACE "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]" "<time>" text "${text}")
  string(REPLACE "${DATA}" "@DATA@" text "${text}")
  string(REPLACE "${WORK}" "@WORK@" text "${text}")
  string(REPLACE "${EXE}" "@EXE@" text "${text}")
  if(EXISTS ${CASE}/sort.${stream})
    # Output of several threads arrives in completion order: compare it sorted.
    string(REGEX REPLACE "\n$" "" text "${text}")
    string(REPLACE "\n" ";" sortlines "${text}")
    list(SORT sortlines)
    string(REPLACE ";" "\n" text "${sortlines}")
    if(NOT text STREQUAL "")
      string(APPEND text "\n")
    endif()
  endif()
  file(WRITE ${WORK}/${stream} "${text}")
endforeach()

foreach(stream stdout stderr status)
  set(expected ${CASE}/expected.${stream})
  if(EXISTS ${CASE}/expected.${BUILD}.${stream})
    set(expected ${CASE}/expected.${BUILD}.${stream})
  endif()
  if(UPDATE_GOLDEN)
    if(NOT EXISTS ${expected})
      set(expected ${CASE}/expected.${stream})
    endif()
    file(COPY_FILE ${WORK}/${stream} ${expected})
    continue()
  endif()
  if(NOT EXISTS ${expected})
    message(SEND_ERROR "missing ${expected}")
    set(failed TRUE)
    continue()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${expected} ${WORK}/${stream}
    RESULT_VARIABLE differ)
  if(differ)
    execute_process(COMMAND git diff --no-index --text ${expected} ${WORK}/${stream})
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "case ${CASE} (${BUILD}) differs from its expected output")
endif()
